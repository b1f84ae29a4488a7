# The full typical start: QuenraService.ini names the worker as D:\Run\W.EXE,
# and a newer HOLV32IP.EXE delivered into the service directory is copied over
# it before the start. The next start finds nothing newer and copies nothing.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host QuenraService SVC
install_worker SVC
printf '%s\r\n' '-eD:\Run\W.EXE -x' >"$(cdir SVC)/QuenraService.ini"

# D: is a folder of this scenario; W.EXE there is an older build.
mkdir -p "$WORK/d/Run"
ln -s "$WORK/d" "$WINEPREFIX/dosdevices/d:"
cp "$BIN_DIR/HOLV32IP.EXE" "$WORK/d/Run/W.EXE"
printf 'an older worker' >>"$WORK/d/Run/W.EXE"
touch -d '2020-01-02 03:04:05' "$WORK/d/Run/W.EXE"

run_once()
{
    start_running QuenraService "start $1"
    sleep 1
    stop_stopped QuenraService "start $1"
}

run_once 1
check "W.EXE is now the delivered program" cmp -s "$BIN_DIR/HOLV32IP.EXE" "$WORK/d/Run/W.EXE"
expect_record SVC 'command line: D:\Run\W.EXE QuenraService.ini -c'
expect_record SVC 'directory: C:\SVC'
expect_record SVC "HOLVService: QuenraService"
expect_record SVC "event: HOLVSVCE_SHUTDOWN:1398569237 (opened)"
expect_record SVC "ended: shutdown event, exit code 0"

# The copy carries the delivered file's time, so the second start sees no
# newer program.
sleep 1
run_once 2
expect_eq "worker runs recorded" 2 "$(record_of SVC | grep -c '^started$')"
expect_log SVC \
    "Starting service QuenraService" \
    'New EXE detected, copied HOLV32IP.EXE to D:\Run\W.EXE' \
    'Service starting D:\Run\W.EXE using inifile QuenraService.ini' \
    "Service stop request received" \
    "Service stopped" \
    "Starting service QuenraService" \
    'Service starting D:\Run\W.EXE using inifile QuenraService.ini' \
    "Service stop request received" \
    "Service stopped"

finish
