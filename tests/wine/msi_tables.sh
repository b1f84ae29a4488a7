# Checks the Windows Installer package's tables with msiinfo: the services it
# installs and controls, the properties and upgrade code, the refusals and
# where the package's own actions run. What wixl and the fixups wrote
# together, in one comparison.
# Usage: bash msi_tables.sh MSI VERSION ARCH   (ARCH: x86 or x64)
set -u
msi=$1 version=$2 arch=$3
[ -f "$msi" ] || { echo "FAIL - $msi missing (wixl installed? scripts/install-deps.sh)"; exit 1; }
command -v msiinfo >/dev/null || { echo "FAIL - msiinfo not found"; exit 1; }

case "$arch" in
    x86) upgrade_code='{7176B1FC-3154-4155-B5B1-62A19E81213F}' bits=0 ;;
    x64) upgrade_code='{81E70F5C-D6C7-4653-8FDE-EF765943BA45}' bits=256 ;;
    *) echo "unknown architecture $arch"; exit 2 ;;
esac

# table NAME [AWK-PROGRAM]: the table's rows, headers dropped, sorted; the
# program picks and orders columns (tab-separated).
table()
{
    msiinfo export "$msi" "$1" | tail -n +4 | tr -d '\r' |
        awk -F '\t' -v OFS='\t' "${2:-{print\}}" | LC_ALL=C sort
}

actual=$(
    echo "[ServiceInstall: id name type start errorcontrol account arguments component]"
    table ServiceInstall '{print $1, $2, $4, $5, $6, $9, $11, $12}'
    echo "[ServiceControl: id name event wait component]"
    table ServiceControl '{print $1, $2, $3, $5, $6}'
    echo "[Component: id registered attributes condition keypath]"
    table Component '$1 ~ /^(Host.*|Worker|WorkerRecord|Settings)$/ {print $1, ($2 == "" ? "-" : "yes"), $4, $5, ($6 ~ /^reg/ ? "registry" : $6)}'
    echo "[File: id name]"
    table File '$1 ~ /^(Host.*|Worker|CheckTool|WorkerHeader|MinimalWorker)$/ {print $1, $3}'
    echo "[Registry: the remembered values]"
    table Registry '$3 ~ /Holv/ {print $4, ($4 == "WorkerSha256" ? "(its hash)" : $5), $6}'
    echo "[Property]"
    table Property '$1 ~ /^(ProductVersion|UpgradeCode|SecureCustomProperties|ALLUSERS)$/'
    echo "[Upgrade: code min max attributes property]"
    table Upgrade '{print $1, $2, $3, $5, $7}'
    echo "[LaunchCondition]"
    table LaunchCondition '{print $1}'
    echo "[RemoveFile]"
    table RemoveFile
    echo "[InstallExecuteSequence: the package's actions and their neighbours]"
    msiinfo export "$msi" InstallExecuteSequence | tail -n +4 | tr -d '\r' | sort -t "$(printf '\t')" -k3n |
        awk -F '\t' '{n++; name[n] = $1} $1 ~ /^(Restore|Default|Inspect|KeepWorker|Remember|Reinstall|AwaitStop|Configure|Restart|RemoveService|RemoveExisting|LockFolder)/ {mark[n] = 1}
            END {for (i = 1; i <= n; i++) if (mark[i]) print name[i - 1] " < " name[i] " < " name[i + 1]}'
    echo "[The package's own actions after Inspect: type target condition, both sequences]"
    for sequence in InstallExecuteSequence InstallUISequence; do
        table "$sequence" '$1 ~ /^(KeepWorker|Remember|Reinstall|Configure|Restart|RemoveService|LockFolder)/ {print $1, $2}'
    done | LC_ALL=C sort -u | while IFS="$(printf '\t')" read -r action condition; do
        printf '%s\t%s\n' "$(table CustomAction "\$1 == \"$action\" {print \$1, \$2, \$4}")" "$condition"
    done
)

tab=$(printf '\t')
expected=$(sed "s/@VERSION@/$version/g; s/@UPGRADE_CODE@/$upgrade_code/g; s/@BITS@/$bits/g; s/@REG@/$((bits + 4))/g; s/|/$tab/g; s/@BAR@/|/g" <<'EOF'
[ServiceInstall: id name type start errorcontrol account arguments component]
[ServiceControl: id name event wait component]
Stop|[SERVICENAME]|34|1|Settings
[Component: id registered attributes condition keypath]
HostProgram|yes|@BITS@||HostProgram
Settings|yes|@REG@||registry
Worker|-|@BITS@|HOLV_WORKER_FREE|Worker
WorkerRecord|yes|@REG@|HOLV_WORKER_FREE OR Installed|registry
[File: id name]
CheckTool|HOLVCHK.EXE
HostProgram|HOLVSVC.EXE
MinimalWorker|minimal_worker.c
Worker|HOLV32IP.EXE
WorkerHeader|holvsvc_shutdown_event.h
[Registry: the remembered values]
InstallDir|[INSTALLDIR]|Settings
Interactive|[INTERACTIVE]|Settings
ProductCode|[ProductCode]|Settings
RestartDelay|[HOLV_RESTARTDELAY]|Settings
ServiceName|[SERVICENAME]|Settings
StartType|[STARTTYPE]|Settings
WorkerSha256|(its hash)|WorkerRecord
[Property]
ALLUSERS|1
ProductVersion|@VERSION@
SecureCustomProperties|HOLV_NEWER_FOUND;HOLV_OLDER_FOUND;INSTALLDIR;INTERACTIVE;RESTARTDELAY;SERVICENAME;STARTTYPE
UpgradeCode|@UPGRADE_CODE@
[Upgrade: code min max attributes property]
@UPGRADE_CODE@|0.0.0|@VERSION@|257|HOLV_OLDER_FOUND
@UPGRADE_CODE@|@VERSION@||2|HOLV_NEWER_FOUND
[LaunchCondition]
Installed OR NOT HOLV_FOREIGN_SERVICE
NOT HOLV_BAD_RESTARTDELAY
NOT HOLV_DIR_MOVED
NOT HOLV_DIR_NOT_ANSI
NOT HOLV_DIR_TOO_LONG
NOT HOLV_DIR_UNTRUSTED
NOT HOLV_INTERACTIVE_ACCOUNT
NOT HOLV_NEWER_FOUND
NOT HOLV_RENAMED
Privileged
REMOVE~="ALL" OR INTERACTIVE="0" OR INTERACTIVE="1"
REMOVE~="ALL" OR SERVICENAME="QuenraClient" OR SERVICENAME="QuenraService" OR SERVICENAME="KORVIService" OR SERVICENAME="KORVIClient" OR SERVICENAME="PlunwickService" OR SERVICENAME="PlunwickClient"
REMOVE~="ALL" OR STARTTYPE="auto" OR STARTTYPE="demand" OR STARTTYPE="disabled"
[RemoveFile]
Worker|WorkerRecord|HOLV32IP.EXE|HOLV_WORKER_DIR|2
[InstallExecuteSequence: the package's actions and their neighbours]
AppSearch < RestoreServiceName < RestoreInteractive
RestoreServiceName < RestoreInteractive < RestoreStartType
RestoreInteractive < RestoreStartType < RestoreInstallDir
RestoreStartType < RestoreInstallDir < DefaultInteractive
RestoreInstallDir < DefaultInteractive < DefaultStartType
DefaultInteractive < DefaultStartType < DefaultInstallDir
DefaultStartType < DefaultInstallDir < Inspect
DefaultInstallDir < Inspect < KeepWorker
Inspect < KeepWorker < RememberRestartDelay
KeepWorker < RememberRestartDelay < ReinstallHost
RememberRestartDelay < ReinstallHost < LaunchConditions
InstallInitialize < RemoveExistingProducts < ProcessComponents
StopServices < AwaitStopData < AwaitStop
AwaitStopData < AwaitStop < DeleteServices
RemoveFiles < LockFolderRollbackData < LockFolderRollback
LockFolderRollbackData < LockFolderRollback < LockFolderData
LockFolderRollback < LockFolderData < LockFolder
LockFolderData < LockFolder < InstallFiles
WriteRegistryValues < ConfigureServiceRollbackData < ConfigureServiceRollback
ConfigureServiceRollbackData < ConfigureServiceRollback < ConfigureServiceData
ConfigureServiceRollback < ConfigureServiceData < ConfigureService
ConfigureServiceData < ConfigureService < StartServices
StartServices < RestartData < Restart
RestartData < Restart < RegisterUser
PublishProduct < RemoveServiceData < RemoveService
RemoveServiceData < RemoveService < InstallFinalize
[The package's own actions after Inspect: type target condition, both sequences]
ConfigureService|3073|HolvConfigureService|$Settings=3
ConfigureServiceData|51|[SERVICENAME]@BAR@[INTERACTIVE]@BAR@[STARTTYPE]@BAR@[RESTARTDELAY]@BAR@[INSTALLDIR]@BAR@[HOLV_SERVICE_BEFORE]|$Settings=3
ConfigureServiceRollback|3393|HolvConfigureServiceRollback|$Settings=3
ConfigureServiceRollbackData|51|[HOLV_SERVICE_BEFORE]|$Settings=3
KeepWorker|51|ALL|NOT Installed AND HOLV_OLDER_FOUND AND HOLV_SAVED_WORKER_SHA256 AND NOT (Preselected OR ADDLOCAL OR REMOVE OR ADDSOURCE OR ADDDEFAULT OR REINSTALL OR ADVERTISE OR COMPADDLOCAL OR COMPADDSOURCE OR COMPADDDEFAULT OR FILEADDLOCAL OR FILEADDSOURCE OR FILEADDDEFAULT)
LockFolder|3073|HolvLockFolder|$Settings=3
LockFolderData|51|[INSTALLDIR]|$Settings=3
LockFolderRollback|3393|HolvLockFolderRollback|$Settings=3
LockFolderRollbackData|51|[HOLV_LOCK_BEFORE]|$Settings=3
ReinstallHost|51|Host|Installed AND NOT REINSTALL AND NOT REMOVE~="ALL"
RememberRestartDelay|51|[RESTARTDELAY]|RESTARTDELAY
RemoveService|3073|HolvRemoveService|$Settings=2
RemoveServiceData|51|[SERVICENAME]@BAR@[UPGRADINGPRODUCTCODE]|$Settings=2
Restart|3137|HolvRestart|HOLV_WAS_RUNNING AND $Settings=3
RestartData|51|[SERVICENAME]|HOLV_WAS_RUNNING AND $Settings=3
EOF
)

if [ "$actual" = "$expected" ]; then
    echo "PASSED $(basename "$msi"): $(echo "$expected" | grep -vc '^\[') table rows as expected"
    exit 0
fi
echo "FAIL - $(basename "$msi"): tables differ from what is expected (- expected, + found)"
diff <(echo "$expected") <(echo "$actual") | sed 's/^/    /'
exit 1
