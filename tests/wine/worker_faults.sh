# Workers that end badly, side by side in two directories: one that crashes
# with an access violation while running, one that ends at once (-t0), before
# the host may have opened it. Each service logs "Service exited" and reports
# its worker's failure at STOPPED (1066 and the worker's exit code), and
# neither leaves a process behind.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host QuenraService CRASH
install_worker CRASH
write_ini CRASH "-k3"
install_host KORVIService QUICK
install_worker QUICK
write_ini QUICK "-t0 -x3"

watch_begin QuenraService 40 "$WORK/watch_crash.txt"
crash_watch=$WATCH_PID
watch_begin KORVIService 40 "$WORK/watch_quick.txt"
quick_watch=$WATCH_PID
svcctl start QuenraService
svcctl wait QuenraService RUNNING 20
check "crashing worker's service reaches running" [ $? -eq 0 ]
# The process check at the end must see what is there to see.
expect_eq "host and worker seen while running" 2 "$(service_processes | wc -l)"
svcctl start KORVIService
WATCH_PID=$crash_watch watch_end
WATCH_PID=$quick_watch watch_end
echo "crash:"; cat "$WORK/watch_crash.txt"
echo "quick:"; cat "$WORK/watch_quick.txt"

expect_eq "crash: status sequence" "STOPPED START_PENDING RUNNING STOPPED" "$(watch_states "$WORK/watch_crash.txt")"
expect_eq "crash: stopped with the access violation" "STOPPED exit=1066 specific=3221225477" \
    "$(tail -n 1 "$WORK/watch_crash.txt" | tr -d '\r' | awk '{print $2, $3, $4}')"
running_at=$(watch_time "$WORK/watch_crash.txt" RUNNING)
stopped_at=$(watch_last_time "$WORK/watch_crash.txt" STOPPED)
expect_between "crash: running lasted (s)" 2 12 "$(elapsed "$running_at" "$stopped_at")"
expect_record CRASH "crashing: access violation"
check "crash: the worker recorded no end of its own" sh -c "! grep -q '^ended' '$(cdir CRASH)/HOLV32IP.TXT'"
expect_eq "crash: worker started once" 1 "$(record_of CRASH | grep -c '^started$')"
expect_log CRASH \
    "Starting service QuenraService" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "Service exited" \
    "Service stopped"

# The host holds the worker's process from its start, so the process can be
# opened even when it has already ended: running shows, then stopped.
expect_eq "quick: status sequence" "STOPPED START_PENDING RUNNING STOPPED" "$(watch_states "$WORK/watch_quick.txt")"
expect_eq "quick: stopped with the worker's exit code" "STOPPED exit=1066 specific=3" \
    "$(tail -n 1 "$WORK/watch_quick.txt" | tr -d '\r' | awk '{print $2, $3, $4}')"
expect_record QUICK "ended: time limit, exit code 3"
expect_eq "quick: worker started once" 1 "$(record_of QUICK | grep -c '^started$')"
expect_log QUICK \
    "Starting service KORVIService" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "Service exited" \
    "Service stopped"

expect_no_service_processes
finish
