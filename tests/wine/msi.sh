# The Windows Installer package under Wine's msiexec: each property reaches
# the service's registry values and is remembered; the service runs with the
# example worker; a repair and a package one version up keep the service's
# settings, the administrator's description and logon account among them,
# and its running state, and replace the programs; a value given on the
# command line wins over the remembered one; uninstall waits for the
# service to stop and removes it and the programs; bad property values are
# refused with nothing changed. The administrator's files stay byte-identical
# throughout, an administrator's own HOLV32IP.EXE included.
. "$(dirname "$0")/lib.sh"
# The unix side names files and arguments in UTF-8; Wine must read them so.
export LC_ALL=C.UTF-8
begin_scenario

MSI=$(ls "$BIN_DIR"/holvsvc-*-x64.msi 2>/dev/null | head -n 1)
NEXT=$(ls "$BIN_DIR"/msi/holvsvc-*-x64.msi 2>/dev/null | head -n 1)
if [ ! -f "$MSI" ] || [ ! -f "$NEXT" ]; then
    fail "packages built (holvsvc-<version>-x64.msi, msi/holvsvc-<version + 1>-x64.msi)"
    finish
fi
cp "$MSI" "$(cdir TOOLS)/HOLV.MSI"
cp "$NEXT" "$(cdir TOOLS)/NEXT.MSI"
cp "$BIN_DIR/SETACCT.EXE" "$(cdir TOOLS)/"
PF='Program Files\Holv'
SETTINGS='HKLM\Software\Holv\HOLVSVC'

# msiexec LOG ARGS...: msiexec with a verbose log C:\TOOLS\LOG; returns its
# exit code (Wine passes on only the low 8 bits: 1603 arrives as 67) and
# leaves the seconds it took in MSI_SECONDS.
msiexec()
{
    local log=$1 begin end code
    shift
    begin=$(date +%s.%N)
    "$WINE64" msiexec "$@" /l*v "C:\\TOOLS\\$log" >>"$WORK/wine.out" 2>&1
    code=$?
    end=$(date +%s.%N)
    MSI_SECONDS=$(awk -v a="$begin" -v b="$end" 'BEGIN {printf "%.1f", b - a}')
    return $code
}

reg_key()
{
    wine_out "$WORK/reg.txt" reg query "$1" && grep -q '^HKEY_' "$WORK/reg.txt"
}

# reg_value KEY NAME: the value's data as reg.exe prints it, empty if absent.
# The whole key is read: reg.exe was seen to print nothing now and then right
# after msiexec, so a key that seems missing is read once more.
reg_value()
{
    if ! reg_key "$1"; then
        sleep 0.5
        reg_key "$1" || return 1
    fi
    reg_read "$2"
}

# reg_read NAME: the value NAME of the key reg_value read last.
reg_read()
{
    tr -d '\r' <"$WORK/reg.txt" | sed -n "s/^    $1    REG_[A-Z_]*    //p"
}

reg_exists()
{
    wine_out "$WORK/reg.txt" reg query "$1"
}

# The service's settings in one line: type, start type, error control,
# logon account, description, path.
service_settings()
{
    local type
    type=$(reg_value "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$1" Type)
    echo "Type=$type Start=$(reg_read Start) ErrorControl=$(reg_read ErrorControl)" \
        "ObjectName=$(reg_read ObjectName) Description=$(reg_read Description) ImagePath=$(reg_read ImagePath)"
}

# The remembered values in one line.
remembered()
{
    echo "$(reg_value "$SETTINGS" ServiceName) $(reg_read Interactive) $(reg_read StartType)" \
        "$(reg_read RestartDelay) $(reg_read InstallDir)"
}

# expect_image_path NAME DIR: ImagePath is "DIR\HOLVSVC.EXE", in quotes, so
# that a space in it cannot make Windows start another program.
expect_image_path()
{
    expect_eq "$1 ImagePath" "\"C:\\$2\\HOLVSVC.EXE\"" \
        "$(reg_value "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$1" ImagePath)"
}

# expect_logged LOG LINE: the msiexec log C:\TOOLS\LOG holds this line.
expect_logged()
{
    if tr -d '\r' <"$(cdir TOOLS)/$1" | grep -qxF -- "$2"; then
        pass "$1: $2"
    else
        fail "$1 has no line: $2"
        tr -d '\r' <"$(cdir TOOLS)/$1" | grep -a '^Holv' | sed 's/^/      | /'
    fi
}

# The worker's last command line in C:\DIR.
last_command_line()
{
    record_of "$1" | sed -n 's/^command line: //p' | tail -n 1
}

# sums DIR FILE...: the files' SHA-256 sums in one line, to compare before
# and after.
sums()
{
    local dir
    dir=$(cdir "$1")
    shift
    (cd "$dir" && sha256sum "$@" 2>&1) | awk '{printf "%s%s=%s", sep, $2, substr($1, 1, 16); sep = " "}'
}

# expect_prefix WHAT BEFORE AFTER: the file AFTER begins with all of BEFORE;
# the log and the worker's record grow while the service stops and starts.
expect_prefix()
{
    local size
    size=$(stat -c %s "$2")
    if [ -f "$3" ] && cmp -s -n "$size" "$2" "$3"; then
        pass "$1: the earlier $size bytes unchanged"
    else
        fail "$1: the earlier $size bytes changed or the file is gone"
    fi
}

expect_gone()
{
    [ ! -e "$(cdir "$2")" ]
    check "$1" [ $? -eq 0 ]
}

# step TEXT: a heading, with the seconds the scenario has run so far.
step()
{
    echo "--- $1 (at $(($(date +%s) - SCRIPT_START)) s)"
}

# An administrator's own HOLV32IP.EXE: the example worker with bytes of its
# own after the image, so it still runs but differs from the package's.
admin_worker()
{
    { cat "$BIN_DIR/HOLV32IP.EXE"; echo "administrator's build"; } >"$1"
}

step "1. each property, in the registry; then uninstall"
# name | INTERACTIVE | STARTTYPE | RESTARTDELAY | INSTALLDIR | ADDLOCAL | Type | Start
LONG='L246\'$(printf '%238s' '' | tr ' ' 'w')
expect_eq "246-character folder" 246 $((${#LONG} + 3))
DESCRIPTION='HOLV service host: runs the worker program its INI file names'
rows=(
    "QuenraService||||||0x10|0x2"
    "KORVIClient|1|disabled|60000|Dienste\\HOLV|ALL|0x110|0x4"
    "PlunwickService|0|demand||My Service||0x10|0x3"
    "QuenraClient||auto|0|$LONG||0x10|0x2"
)
for row in "${rows[@]}"; do
    IFS='|' read -r name interactive start delay dir features type starttype <<<"$row"
    args=(/i 'C:\TOOLS\HOLV.MSI' /qn "SERVICENAME=$name")
    [ -n "$interactive" ] && args+=("INTERACTIVE=$interactive")
    [ -n "$start" ] && args+=("STARTTYPE=$start")
    [ -n "$delay" ] && args+=("RESTARTDELAY=$delay")
    [ -n "$dir" ] && args+=("INSTALLDIR=C:\\$dir")
    [ -n "$features" ] && args+=("ADDLOCAL=$features")
    [ -z "$dir" ] && dir=$PF
    if [ -n "$features" ]; then
        # HOLV32IP.EXE delivered by the administrator before the package.
        mkdir -p "$(cdir "$dir")"
        admin_worker "$(cdir "$dir")/HOLV32IP.EXE"
        before=$(sums "$dir" HOLV32IP.EXE)
    fi
    msiexec install.log "${args[@]}"
    expect_eq "$name: install exit code" 0 $?
    echo "     install took $MSI_SECONDS s"
    expect_eq "$name: service settings" \
        "Type=$type Start=$starttype ErrorControl=0x1 ObjectName=LocalSystem Description=$DESCRIPTION" \
        "$(service_settings "$name" | sed 's/ ImagePath=.*//')"
    expect_image_path "$name" "$dir"
    expect_eq "$name: remembered" "$name ${interactive:-0} ${start:-auto} $delay C:\\$dir\\" "$(remembered)"
    [ -n "$features" ] && expect_eq "$name: the administrator's HOLV32IP.EXE after install" "$before" "$(sums "$dir" HOLV32IP.EXE)"

    msiexec remove.log /x 'C:\TOOLS\HOLV.MSI' /qn
    expect_eq "$name: uninstall exit code" 0 $?
    reg_exists "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$name"
    check "$name: service removed" [ $? -ne 0 ]
    expect_gone "$name: HOLVSVC.EXE removed" "$dir\\HOLVSVC.EXE"
    reg_exists "$SETTINGS"
    check "$name: remembered values removed" [ $? -ne 0 ]
    [ -n "$features" ] && expect_eq "$name: the administrator's HOLV32IP.EXE after uninstall" "$before" "$(sums "$dir" HOLV32IP.EXE)"
done

step "2. install with the example worker, start it, give it a description and an account, repair it"
# The administrator's files, there before the package.
mkdir -p "$(cdir "$PF")"
write_ini "$PF" "-t600"
printf -- '-t600 -rPLUNWICK.TXT\r\n' >"$(cdir "$PF")/PlunwickService.ini"
printf 'state of the worker\r\n' >"$(cdir "$PF")/HOLV32IP.DAT"
ADMIN_FILES=(HOLV32.INI PlunwickService.ini HOLV32IP.DAT)
admin_sums=$(sums "$PF" "${ADMIN_FILES[@]}")

msiexec install.log /i 'C:\TOOLS\HOLV.MSI' /qn SERVICENAME=QuenraService STARTTYPE=demand ADDLOCAL=ALL
expect_eq "install exit code" 0 $?
check "the example worker installed" cmp -s "$BIN_DIR/HOLV32IP.EXE" "$(cdir "$PF")/HOLV32IP.EXE"
start_running QuenraService
sleep 1
expect_record "$PF" "command line: HOLV32IP.EXE HOLV32.INI -c"
expect_record "$PF" "directory: C:\\Program Files\\Holv"
# What an administrator sets after the installation (sc description, and
# sc config obj=, which Wine's sc cannot do).
ACCOUNT='NT AUTHORITY\LocalService'
# Long enough that the settings read before an installation fill several
# kilobytes in the package's data.
DESCRIPTION2="Quenra's worker, plant floor 2 |$(printf ' line %d of the maintenance notes;' $(seq 40))"
wine_run sc description QuenraService "$DESCRIPTION2"
check "sc description" [ $? -eq 0 ]
wine_out "$WORK/setacct.txt" 'C:\TOOLS\SETACCT.EXE' QuenraService "$ACCOUNT"
check "the account set to $ACCOUNT" [ $? -eq 0 ]
settings=$(service_settings QuenraService)
echo "     ${settings:0:120}..."
expect_eq "the administrator's settings" \
    "ObjectName=$ACCOUNT Description=$DESCRIPTION2" \
    "$(echo "$settings" | sed 's/.* ObjectName=/ObjectName=/; s/ ImagePath=.*//')"
# A repair with a new start type: that one changes, nothing else. (Wine's
# msiexec /f fails at once; REINSTALL=ALL is the same repair.) The product
# code as the administrator finds it.
product=$(reg_value "$SETTINGS" ProductCode)
msiexec repair.log /i "$product" /qn REINSTALL=ALL REINSTALLMODE=vomus STARTTYPE=auto
expect_eq "repair exit code" 0 $?
echo "     repair took $MSI_SECONDS s"
svcctl query QuenraService >"$WORK/q.txt"
check "running again after the repair" grep -q '^QuenraService: RUNNING' "$WORK/q.txt"
expect_eq "service settings after the repair: the start type given" \
    "$(echo "$settings" | sed 's/Start=0x3/Start=0x2/')" "$(service_settings QuenraService)"
expect_eq "remembered after the repair" "QuenraService 0 auto  C:\\$PF\\" "$(remembered)"
expect_logged repair.log "HolvConfigureService: QuenraService changed in place (type, start type, binary path)."
settings=$(service_settings QuenraService)
# Requests the installed service cannot take: refused, nothing changed.
msiexec refused.log /i "$product" /qn SERVICENAME=KORVIService
expect_eq "another SERVICENAME to a repair: refused (1603)" 67 $?
expect_logged refused.log "HolvInspect: refused, nothing changed: the package is installed for QuenraService; uninstall it first to install it for KORVIService."
msiexec refused.log /i "$product" /qn INTERACTIVE=1
expect_eq "INTERACTIVE=1 with account $ACCOUNT: refused (1603)" 67 $?
expect_logged refused.log "HolvInspect: refused, nothing changed: INTERACTIVE=1 needs a service that runs as LocalSystem; QuenraService runs as $ACCOUNT."
reg_exists 'HKLM\SYSTEM\CurrentControlSet\Services\KORVIService'
check "no service of the name given to the repair" [ $? -ne 0 ]
expect_eq "service settings after the refusals" "$settings" "$(service_settings QuenraService)"
expect_eq "remembered after the refusals" "QuenraService 0 auto  C:\\$PF\\" "$(remembered)"
svcctl query QuenraService >"$WORK/q.txt"
check "still running after the refusals" grep -q '^QuenraService: RUNNING' "$WORK/q.txt"
cp "$(cdir "$PF")/HOLV32.LOG" "$WORK/log.before"
cp "$(cdir "$PF")/HOLV32IP.TXT" "$WORK/record.before"
# Links to the installed programs: a replaced program is another file.
ln "$(cdir "$PF")/HOLVSVC.EXE" "$WORK/HOLVSVC.before"
ln "$(cdir "$PF")/HOLV32IP.EXE" "$WORK/HOLV32IP.before"

step "3. upgrade to the next version while it runs, as documented: no properties"
# The package keeps the example worker itself; Wine's msiexec has no
# MigrateFeatureStates. Wine's removal of the older version is not told it
# is part of an upgrade and deletes the service; the newer version creates
# it again with the settings it read before.
msiexec upgrade.log /i 'C:\TOOLS\NEXT.MSI' /qn
expect_eq "upgrade exit code" 0 $?
echo "     upgrade took $MSI_SECONDS s"
svcctl query QuenraService >"$WORK/q.txt"
check "running again after the upgrade" grep -q '^QuenraService: RUNNING' "$WORK/q.txt"
expect_eq "service settings kept, description and account included" "$settings" "$(service_settings QuenraService)"
tr -d '\r' <"$(cdir TOOLS)/upgrade.log" | grep -a '^HolvConfigureService' | sed 's/^/     /'
expect_eq "remembered values kept, the example worker's hash too" \
    "QuenraService 0 auto  C:\\$PF\\ $(sha256sum "$BIN_DIR/HOLV32IP.EXE" | cut -c1-64)" \
    "$(remembered) $(reg_value "$SETTINGS" WorkerSha256)"
wine_out "$WORK/products.txt" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /v DisplayVersion
next_version=$(msiinfo export "$NEXT" Property | tr -d '\r' | sed -n 's/^ProductVersion\t//p')
expect_eq "installed versions" "$next_version" \
    "$(tr -d '\r' <"$WORK/products.txt" | sed -n 's/^ *DisplayVersion  *REG_SZ  *//p' | sort | tr '\n' ' ' | sed 's/ $//')"
expect_eq "the next package's version" "$(basename "$NEXT" | sed 's/^holvsvc-//; s/-x64.msi$//')" "$next_version"
check "HOLVSVC.EXE replaced" [ ! "$WORK/HOLVSVC.before" -ef "$(cdir "$PF")/HOLVSVC.EXE" ]
check "HOLVSVC.EXE carries the next version" python3 "$(dirname "$0")/../../cmake/check_version_resource.py" \
    "$(cdir "$PF")/HOLVSVC.EXE" "$next_version" HOLVSVC.EXE
check "HOLV32IP.EXE replaced" [ ! "$WORK/HOLV32IP.before" -ef "$(cdir "$PF")/HOLV32IP.EXE" ]
check "HOLV32IP.EXE still the example worker" cmp -s "$BIN_DIR/HOLV32IP.EXE" "$(cdir "$PF")/HOLV32IP.EXE"
expect_eq "administrator's files after the upgrade" "$admin_sums" "$(sums "$PF" "${ADMIN_FILES[@]}")"
expect_prefix "HOLV32.LOG after the upgrade" "$WORK/log.before" "$(cdir "$PF")/HOLV32.LOG"
expect_prefix "the worker's record after the upgrade" "$WORK/record.before" "$(cdir "$PF")/HOLV32IP.TXT"
expect_eq "log of the upgrade: stopped, then started again" \
    "Service stop request received|Service stopped|Starting service QuenraService|Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "$(log_messages "$PF" | tail -n 4 | paste -sd '|')"
# A change (the installed package again, with a property): RESTARTDELAY is
# taken and remembered; Wine's service manager keeps no recovery actions.
msiexec change.log /i 'C:\TOOLS\NEXT.MSI' /qn RESTARTDELAY=60000
expect_eq "RESTARTDELAY=60000 to a change: exit code" 0 $?
echo "     change took $MSI_SECONDS s"
expect_eq "remembered after the change" "QuenraService 0 auto 60000 C:\\$PF\\" "$(remembered)"
expect_eq "service settings after the change" "$settings" "$(service_settings QuenraService)"
expect_logged change.log "HolvConfigureService: QuenraService changed in place (type, start type, binary path, recovery)."
svcctl query QuenraService >"$WORK/q.txt"
check "running again after the change" grep -q '^QuenraService: RUNNING' "$WORK/q.txt"

step "4. uninstall while it runs, after the administrator replaced HOLV32IP.EXE"
admin_worker "$WORK/HOLV32IP.EXE"
mv "$WORK/HOLV32IP.EXE" "$(cdir "$PF")/HOLV32IP.EXE"
ADMIN_FILES+=(HOLV32IP.EXE)
admin_sums=$(sums "$PF" "${ADMIN_FILES[@]}")
cp "$(cdir "$PF")/HOLV32.LOG" "$WORK/log.before"
cp "$(cdir "$PF")/HOLV32IP.TXT" "$WORK/record.before"
# HolvInspect's findings are its own: one given on the command line (here a
# folder whose HOLV32IP.EXE the uninstall would remove) is not taken.
mkdir -p "$(cdir Elsewhere)"
install_worker Elsewhere
msiexec remove.log /x 'C:\TOOLS\NEXT.MSI' /qn 'HOLV_WORKER_DIR=C:\Elsewhere\'
expect_eq "uninstall exit code" 0 $?
check "HOLV_WORKER_DIR from the command line not taken" [ -f "$(cdir Elsewhere)/HOLV32IP.EXE" ]
echo "     uninstall took $MSI_SECONDS s"
# Waited for the stop: it is all done when msiexec returns.
expect_eq "last log message when msiexec returned" "Service stopped" "$(log_messages "$PF" | tail -n 1)"
expect_no_service_processes
reg_exists 'HKLM\SYSTEM\CurrentControlSet\Services\QuenraService'
check "service removed" [ $? -ne 0 ]
for file in HOLVSVC.EXE HOLV32.INI.sample docs; do
    expect_gone "$file removed" "$PF\\$file"
done
reg_exists "$SETTINGS"
check "remembered values removed" [ $? -ne 0 ]
expect_eq "administrator's files after uninstall" "$admin_sums" "$(sums "$PF" "${ADMIN_FILES[@]}")"
expect_prefix "HOLV32.LOG after uninstall" "$WORK/log.before" "$(cdir "$PF")/HOLV32.LOG"
expect_prefix "the worker's record after uninstall" "$WORK/record.before" "$(cdir "$PF")/HOLV32IP.TXT"

step "5. bad values, refused with nothing changed"
install_host PlunwickClient Other
foreign=$(service_settings PlunwickClient)
state()
{
    find "$WINEPREFIX/drive_c" -path "$WINEPREFIX/drive_c/windows" -prune -o \
        -path "$WINEPREFIX/drive_c/TOOLS" -prune -o -path "$WINEPREFIX/drive_c/users" -prune -o -print |
        sort | md5sum
    reg_exists "$SETTINGS" && echo "remembered values present"
    reg_exists 'HKLM\SYSTEM\CurrentControlSet\Services\QuenraService' && echo "QuenraService present"
}
before=$(state)
# arguments | the property that names the reason, as the log lists it (or,
# after !, one it must not list)
bad=(
    "SERVICENAME=Bogus|SERVICENAME = Bogus"
    "|!SERVICENAME ="
    "SERVICENAME=quenraservice|SERVICENAME = quenraservice"
    "SERVICENAME=QuenraService STARTTYPE=boot|STARTTYPE = boot"
    "SERVICENAME=QuenraService INTERACTIVE=yes|INTERACTIVE = yes"
    "SERVICENAME=QuenraService INSTALLDIR=C:\\${LONG}w|HOLV_DIR_TOO_LONG = 247"
    "SERVICENAME=QuenraService INSTALLDIR=C:\\Υπηρεσία|HOLV_DIR_NOT_ANSI = 1"
    "SERVICENAME=QuenraService RESTARTDELAY=1m|HOLV_BAD_RESTARTDELAY = 1"
    "SERVICENAME=QuenraService RESTARTDELAY=86400001|HOLV_BAD_RESTARTDELAY = 1"
    "SERVICENAME=PlunwickClient|HOLV_FOREIGN_SERVICE = C:\\\\Other\\\\HOLVSVC.EXE"
)
for row in "${bad[@]}"; do
    IFS='|' read -r args reason <<<"$row"
    # shellcheck disable=SC2086 # the arguments split at spaces on purpose
    msiexec bad.log /i 'C:\TOOLS\HOLV.MSI' /qn $args
    expect_eq "[$args] refused (1603)" 67 $?
    listed=no expected=yes
    tr -d '\r' <"$(cdir TOOLS)/bad.log" | grep -q "^Property(S): ${reason#!}" && listed=yes
    [ "${reason:0:1}" = "!" ] && expected=no
    expect_eq "[$args] the log lists ${reason#!}" $expected $listed
    case "$reason" in
    HOLV_NEWER*) ;;
    HOLV_*) check "[$args] HolvInspect's line in the log" grep -aq '^HolvInspect: refused, nothing changed: ' "$(cdir TOOLS)/bad.log" ;;
    esac
    expect_eq "[$args] nothing changed" "$before" "$(state)"
done
expect_eq "the service installed by hand unchanged" "$foreign" "$(service_settings PlunwickClient)"

step "6. INTERACTIVE=1 given to the next version: the type changes, the worker starts without -c"
mkdir -p "$(cdir Inter)"
install_worker Inter
write_ini Inter "-t600"
msiexec install.log /i 'C:\TOOLS\HOLV.MSI' /qn SERVICENAME=KORVIService 'INSTALLDIR=C:\Inter'
expect_eq "install exit code" 0 $?
start_running KORVIService
sleep 1
expect_eq "the worker's command line" "HOLV32IP.EXE HOLV32.INI -c" "$(last_command_line Inter)"
msiexec upgrade.log /i 'C:\TOOLS\NEXT.MSI' /qn INTERACTIVE=1
expect_eq "upgrade with INTERACTIVE=1: exit code" 0 $?
echo "     upgrade took $MSI_SECONDS s"
expect_eq "service type" 0x110 "$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Services\KORVIService' Type)"
expect_eq "remembered" "KORVIService 1 auto  C:\\Inter\\" "$(remembered)"
svcctl query KORVIService >"$WORK/q.txt"
check "running again after the upgrade" grep -q '^KORVIService: RUNNING' "$WORK/q.txt"
sleep 1
expect_eq "the worker's command line after the upgrade" "HOLV32IP.EXE HOLV32.INI" "$(last_command_line Inter)"

finish
