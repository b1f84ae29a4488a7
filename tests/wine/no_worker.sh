# No worker program in the service directory: the start fails with error 2
# (file not found) and the service goes from start pending to stopped without
# ever running.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host PlunwickClient NONE
write_ini NONE "-t60"

watch_begin PlunwickClient 30 "$WORK/watch.txt"
svcctl start PlunwickClient
watch_end
cat "$WORK/watch.txt"
expect_eq "status sequence" "STOPPED START_PENDING STOPPED" "$(watch_states "$WORK/watch.txt")"

expect_log NONE \
    "Starting service PlunwickClient" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "HOLV32IP.EXE not started! error=2" \
    "Service stopped"

finish
