# The Windows Installer package under Wine's msiexec: each property reaches
# the service's registry values and is remembered; the service runs with the
# example worker; a package one version up keeps the service's settings and
# its running state and replaces the programs; uninstall waits for the
# service to stop and removes it and the programs; bad property values are
# refused with nothing changed. The administrator's files stay byte-identical
# throughout, an administrator's own HOLV32IP.EXE included.
. "$(dirname "$0")/lib.sh"
begin_scenario

MSI=$(ls "$BIN_DIR"/holvsvc-*-x64.msi 2>/dev/null | head -n 1)
NEXT=$BIN_DIR/msi/holvsvc-next-x64.msi
if [ ! -f "$MSI" ] || [ ! -f "$NEXT" ]; then
    fail "packages built (holvsvc-<version>-x64.msi, msi/holvsvc-next-x64.msi)"
    finish
fi
cp "$MSI" "$(cdir TOOLS)/HOLV.MSI"
cp "$NEXT" "$(cdir TOOLS)/NEXT.MSI"
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

# reg_value KEY NAME: the value's data as reg.exe prints it, empty if absent.
reg_value()
{
    wine_out "$WORK/reg.txt" reg query "$1" /v "$2" || return 1
    tr -d '\r' <"$WORK/reg.txt" | sed -n "s/^ *$2  *REG_[A-Z_]*  *//p"
}

reg_exists()
{
    wine_out "$WORK/reg.txt" reg query "$1"
}

# The service's settings in one line: type, start type, error control, path.
service_settings()
{
    local key="HKLM\\SYSTEM\\CurrentControlSet\\Services\\$1"
    echo "Type=$(reg_value "$key" Type) Start=$(reg_value "$key" Start)" \
        "ErrorControl=$(reg_value "$key" ErrorControl) ImagePath=$(reg_value "$key" ImagePath)"
}

# expect_image_path NAME DIR: ImagePath is DIR\HOLVSVC.EXE, quoted or not.
# Windows Installer writes it quoted; Wine's msiexec bare, spaces or not.
expect_image_path()
{
    local path
    path=$(reg_value "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$1" ImagePath)
    expect_eq "$1 ImagePath, quotes aside" "C:\\$2\\HOLVSVC.EXE" "$(echo "$path" | tr -d '"')"
    case "$path" in
    \"*) echo "     (quoted)" ;;
    *" "*) echo "     (not quoted although it holds a space: Wine's msiexec)" ;;
    esac
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
# name | INTERACTIVE | STARTTYPE | INSTALLDIR | ADDLOCAL | Type | Start
LONG='L246\'$(printf '%238s' '' | tr ' ' 'w')
expect_eq "246-character folder" 246 $((${#LONG} + 3))
rows=(
    "QuenraService|||||0x10|0x2"
    "KORVIClient|1|disabled|Dienste\\HOLV|ALL|0x110|0x4"
    "PlunwickService|0|demand|My Service||0x10|0x3"
    "QuenraClient||auto|$LONG||0x10|0x2"
)
for row in "${rows[@]}"; do
    IFS='|' read -r name interactive start dir features type starttype <<<"$row"
    args=(/i 'C:\TOOLS\HOLV.MSI' /qn "SERVICENAME=$name")
    [ -n "$interactive" ] && args+=("INTERACTIVE=$interactive")
    [ -n "$start" ] && args+=("STARTTYPE=$start")
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
    expect_eq "$name: service settings" "Type=$type Start=$starttype ErrorControl=0x1" \
        "$(service_settings "$name" | sed 's/ ImagePath=.*//')"
    expect_image_path "$name" "$dir"
    expect_eq "$name: remembered" \
        "$name ${interactive:-0} ${start:-auto} C:\\$dir\\" \
        "$(reg_value "$SETTINGS" ServiceName) $(reg_value "$SETTINGS" Interactive) $(reg_value "$SETTINGS" StartType) $(reg_value "$SETTINGS" InstallDir)"
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

step "2. install with the example worker, start it, repair it"
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
settings=$(service_settings QuenraService)
echo "     $settings"
# A repair acts on the remembered service, whatever the command line says.
# (Wine's msiexec /f fails at once; REINSTALL=ALL is the same repair.) The
# product code as the administrator finds it.
product=$(reg_value "$SETTINGS" ProductCode)
msiexec repair.log /i "$product" /qn REINSTALL=ALL REINSTALLMODE=vomus SERVICENAME=KORVIService STARTTYPE=auto
expect_eq "repair exit code" 0 $?
echo "     repair took $MSI_SECONDS s"
svcctl query QuenraService >"$WORK/q.txt"
check "running again after the repair" grep -q '^QuenraService: RUNNING' "$WORK/q.txt"
expect_eq "service settings after the repair" "$settings" "$(service_settings QuenraService)"
reg_exists 'HKLM\SYSTEM\CurrentControlSet\Services\KORVIService'
check "no service of the name given to the repair" [ $? -ne 0 ]
cp "$(cdir "$PF")/HOLV32.LOG" "$WORK/log.before"
cp "$(cdir "$PF")/HOLV32IP.TXT" "$WORK/record.before"
# Links to the installed programs: a replaced program is another file.
ln "$(cdir "$PF")/HOLVSVC.EXE" "$WORK/HOLVSVC.before"
ln "$(cdir "$PF")/HOLV32IP.EXE" "$WORK/HOLV32IP.before"

step "3. upgrade to the next version while it runs, as documented: no properties"
# The package keeps the example worker itself; Wine's msiexec has no
# MigrateFeatureStates.
msiexec upgrade.log /i 'C:\TOOLS\NEXT.MSI' /qn
expect_eq "upgrade exit code" 0 $?
echo "     upgrade took $MSI_SECONDS s"
svcctl query QuenraService >"$WORK/q.txt"
check "running again after the upgrade" grep -q '^QuenraService: RUNNING' "$WORK/q.txt"
expect_eq "service settings kept" "$settings" "$(service_settings QuenraService)"
expect_eq "remembered values kept, the example worker's hash too" \
    "QuenraService 0 demand $(sha256sum "$BIN_DIR/HOLV32IP.EXE" | cut -c1-64)" \
    "$(reg_value "$SETTINGS" ServiceName) $(reg_value "$SETTINGS" Interactive) $(reg_value "$SETTINGS" StartType) $(reg_value "$SETTINGS" WorkerSha256)"
wine_out "$WORK/products.txt" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /v DisplayVersion
next_version=$(msiinfo export "$NEXT" Property | tr -d '\r' | sed -n 's/^ProductVersion\t//p')
expect_eq "installed versions" "$next_version" \
    "$(tr -d '\r' <"$WORK/products.txt" | sed -n 's/^ *DisplayVersion  *REG_SZ  *//p' | sort | tr '\n' ' ' | sed 's/ $//')"
check "HOLVSVC.EXE replaced" [ ! "$WORK/HOLVSVC.before" -ef "$(cdir "$PF")/HOLVSVC.EXE" ]
check "HOLV32IP.EXE replaced" [ ! "$WORK/HOLV32IP.before" -ef "$(cdir "$PF")/HOLV32IP.EXE" ]
check "HOLV32IP.EXE still the example worker" cmp -s "$BIN_DIR/HOLV32IP.EXE" "$(cdir "$PF")/HOLV32IP.EXE"
expect_eq "administrator's files after the upgrade" "$admin_sums" "$(sums "$PF" "${ADMIN_FILES[@]}")"
expect_prefix "HOLV32.LOG after the upgrade" "$WORK/log.before" "$(cdir "$PF")/HOLV32.LOG"
expect_prefix "the worker's record after the upgrade" "$WORK/record.before" "$(cdir "$PF")/HOLV32IP.TXT"
expect_eq "log of the upgrade: stopped, then started again" \
    "Service stop request received|Service stopped|Starting service QuenraService|Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "$(log_messages "$PF" | tail -n 4 | paste -sd '|')"

step "4. uninstall while it runs, after the administrator replaced HOLV32IP.EXE"
admin_worker "$WORK/HOLV32IP.EXE"
mv "$WORK/HOLV32IP.EXE" "$(cdir "$PF")/HOLV32IP.EXE"
ADMIN_FILES+=(HOLV32IP.EXE)
admin_sums=$(sums "$PF" "${ADMIN_FILES[@]}")
cp "$(cdir "$PF")/HOLV32.LOG" "$WORK/log.before"
cp "$(cdir "$PF")/HOLV32IP.TXT" "$WORK/record.before"
msiexec remove.log /x 'C:\TOOLS\NEXT.MSI' /qn
expect_eq "uninstall exit code" 0 $?
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
    expect_eq "[$args] nothing changed" "$before" "$(state)"
done
expect_eq "the service installed by hand unchanged" "$foreign" "$(service_settings PlunwickClient)"

finish
