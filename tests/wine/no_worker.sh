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
# The service manager is told why: the start's error, file not found.
expect_eq "stopped reported with the start's error as exit code" "STOPPED exit=2" \
    "$(tail -n 1 "$WORK/watch.txt" | tr -d '\r' | awk '{print $2, $3}')"

expect_log NONE \
    "Starting service PlunwickClient" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "HOLV32IP.EXE not started! error=2" \
    "Service stopped"

finish
