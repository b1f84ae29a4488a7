# A service directory whose name holds a space: the host still finds its
# directory, the worker runs there and finds the shutdown event by the same
# name as the host.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host KORVIService "My Service"
install_worker "My Service"
write_ini "My Service" "-t60"

start_running KORVIService
sleep 1
stop_stopped KORVIService

event=$(event_name_for 'C:\My Service')
expect_record "My Service" 'directory: C:\My Service'
expect_record "My Service" "event: $event (opened)"
expect_record "My Service" "command line: HOLV32IP.EXE HOLV32.INI -c"
expect_record "My Service" "ended: shutdown event, exit code 0"
expect_log "My Service" \
    "Starting service KORVIService" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "Service stop request received" \
    "Service stopped"

finish
