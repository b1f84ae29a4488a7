# The typical course: QuenraService in C:\SVC starts the example worker,
# reports running, and at a stop signals the worker through the shutdown
# event, waits for it and reports stopped.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host QuenraService SVC
install_worker SVC
write_ini SVC "-t60"

watch_begin QuenraService 40 "$WORK/watch.txt"
svcctl start QuenraService
check "start accepted" [ $? -eq 0 ]
svcctl wait QuenraService RUNNING 20
check "reaches running" [ $? -eq 0 ]

svcctl query QuenraService >"$WORK/query.txt"
check "running status: own process, stop and shutdown accepted, wait hint 120000" \
    grep -q 'RUNNING state=4 type=0x10 controls=0x5 exit=0 specific=0 checkpoint=0 wait=120000' "$WORK/query.txt"

# Let the worker settle on its event before the stop.
sleep 1
svcctl control QuenraService 1 >"$WORK/stop.txt"
check "stop answered with stop pending" grep -q 'STOP_PENDING state=3' "$WORK/stop.txt"
watch_end
cat "$WORK/watch.txt"

expect_eq "status sequence" "STOPPED START_PENDING RUNNING STOP_PENDING STOPPED" \
    "$(watch_states "$WORK/watch.txt")"
start_at=$(watch_time "$WORK/watch.txt" START_PENDING)
running_at=$(watch_time "$WORK/watch.txt" RUNNING)
pending_at=$(watch_time "$WORK/watch.txt" STOP_PENDING)
stopped_at=$(watch_last_time "$WORK/watch.txt" STOPPED)
# The worker's handle is taken after at least one 100 ms pause; the worker is
# seen gone at a one-second check after the event.
expect_between "start pending lasted (s)" 0.1 10 "$(elapsed "$start_at" "$running_at")"
expect_between "stop pending lasted (s)" 0.5 8 "$(elapsed "$pending_at" "$stopped_at")"
echo "timing: start pending ${start_at}s -> running ${running_at}s; stop pending ${pending_at}s -> stopped ${stopped_at}s"

expect_log SVC \
    "Starting service QuenraService" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "Service stop request received" \
    "Service stopped"

expect_record SVC "command line: HOLV32IP.EXE HOLV32.INI -c"
expect_record SVC "HOLVService: QuenraService"
expect_record SVC 'directory: C:\SVC'
expect_eq "event name of C:\\SVC, computed here" "HOLVSVCE_SHUTDOWN:1398569237" "$(event_name_for 'C:\SVC')"
expect_record SVC "event: HOLVSVCE_SHUTDOWN:1398569237 (opened)"
expect_record SVC "ended: shutdown event, exit code 0"
check "the worker wrote nothing into HOLV32.LOG" sh -c "! grep -q 'command line' '$(cdir SVC)/HOLV32.LOG'"

finish
