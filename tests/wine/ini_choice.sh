# Which INI file the worker is given: none present (HOLV32.INI, logged as not
# found), one named after the computer, then one named after the service,
# which wins over the computer's.
. "$(dirname "$0")/lib.sh"
begin_scenario

# Wine's computer name: the host name, upper case, up to the first dot, at
# most 15 characters.
computer=$(hostname | cut -d. -f1 | tr '[:lower:]' '[:upper:]' | cut -c1-15)

install_host KORVIService CHO
install_worker CHO

run_once()
{
    start_running KORVIService "start $1"
    sleep 1
    stop_stopped KORVIService "start $1"
    sleep 1
}

run_once "without INI"
printf -- '-t60\r\n' >"$(cdir CHO)/$computer.ini"
run_once "with $computer.ini"
printf -- '-t60\r\n' >"$(cdir CHO)/KORVIService.ini"
run_once "with KORVIService.ini too"

expect_record CHO "command line: HOLV32IP.EXE HOLV32.INI -c"
expect_record CHO "command line: HOLV32IP.EXE $computer.ini -c"
expect_record CHO "command line: HOLV32IP.EXE KORVIService.ini -c"
expect_log CHO \
    "Starting service KORVIService" \
    "Failed to open ini file HOLV32.INI" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "Service stop request received" \
    "Service stopped" \
    "Starting service KORVIService" \
    "Service starting HOLV32IP.EXE using inifile $computer.ini" \
    "Service stop request received" \
    "Service stopped" \
    "Starting service KORVIService" \
    "Service starting HOLV32IP.EXE using inifile KORVIService.ini" \
    "Service stop request received" \
    "Service stopped"

finish
