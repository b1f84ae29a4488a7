# A worker that ends by itself: "Service exited", then stopped, with exit
# codes 0 whatever the worker's own; the worker is not started again.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host PlunwickService EXIT
install_worker EXIT
write_ini EXIT "-t2 -x7"

watch_begin PlunwickService 30 "$WORK/watch.txt"
svcctl start PlunwickService
watch_end
cat "$WORK/watch.txt"
expect_eq "status sequence" "STOPPED START_PENDING RUNNING STOPPED" "$(watch_states "$WORK/watch.txt")"
running_at=$(watch_time "$WORK/watch.txt" RUNNING)
stopped_at=$(watch_last_time "$WORK/watch.txt" STOPPED)
# Two seconds of worker, then up to one more until the next check; the
# upper bound leaves room for a loaded machine.
expect_between "running lasted (s)" 1.5 8 "$(elapsed "$running_at" "$stopped_at")"

expect_eq "stopped reported with exit code 0 (the worker's 7 is not passed on)" "STOPPED exit=0" \
    "$(tail -n 1 "$WORK/watch.txt" | tr -d '\r' | awk '{print $2, $3}')"

sleep 2
expect_eq "worker runs counted in its record" 1 "$(record_of EXIT | grep -c '^started$')"
expect_record EXIT "ended: time limit, exit code 7"
expect_record EXIT "HOLVService: PlunwickService"
expect_log EXIT \
    "Starting service PlunwickService" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "Service exited" \
    "Service stopped"

finish
