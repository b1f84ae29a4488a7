# A quoted -e path with a space, to a program that does not exist yet: the
# delivered HOLV32IP.EXE is copied there, and the worker runs from it with its
# path quoted on the command line, so the platform cannot split it.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host PlunwickService SVC
install_worker SVC
printf '%s\r\n' '-e"C:\Run Dir\W.EXE" -t60' >"$(cdir SVC)/PlunwickService.ini"
mkdir -p "$(cdir 'Run Dir')"

start_running PlunwickService
sleep 1
stop_stopped PlunwickService

check "the delivered program was copied to the target" cmp -s "$BIN_DIR/HOLV32IP.EXE" "$(cdir 'Run Dir')/W.EXE"
expect_record SVC 'command line: "C:\Run Dir\W.EXE" PlunwickService.ini -c'
expect_record SVC 'directory: C:\SVC'
expect_record SVC "HOLVService: PlunwickService"
expect_record SVC "ended: shutdown event, exit code 0"
expect_log SVC \
    "Starting service PlunwickService" \
    'New EXE detected, copied HOLV32IP.EXE to C:\Run Dir\W.EXE' \
    'Service starting C:\Run Dir\W.EXE using inifile PlunwickService.ini' \
    "Service stop request received" \
    "Service stopped"

finish
