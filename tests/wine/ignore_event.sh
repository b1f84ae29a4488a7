# A worker that ignores the shutdown event keeps the service in stop pending,
# with no time limit; once the worker is killed the service reports stopped.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host QuenraService IGN
install_worker IGN
write_ini IGN "-i"

watch_begin QuenraService 60 "$WORK/watch.txt"
svcctl start QuenraService
svcctl wait QuenraService RUNNING 20
check "reaches running" [ $? -eq 0 ]
sleep 1
svcctl control QuenraService 1
sleep 4
svcctl query QuenraService >"$WORK/q.txt"
check "still stop pending 4 s after the stop" grep -q 'STOP_PENDING state=3' "$WORK/q.txt"
expect_record IGN "shutdown event signalled, ignored"

wine_out "$WORK/taskkill.txt" taskkill /f /im HOLV32IP.EXE
check "worker killed" [ $? -eq 0 ]
svcctl wait QuenraService STOPPED 10
check "stopped once the worker is gone" [ $? -eq 0 ]
watch_end
cat "$WORK/watch.txt"

expect_eq "status sequence" "STOPPED START_PENDING RUNNING STOP_PENDING STOPPED" "$(watch_states "$WORK/watch.txt")"
pending_at=$(watch_time "$WORK/watch.txt" STOP_PENDING)
stopped_at=$(watch_last_time "$WORK/watch.txt" STOPPED)
expect_between "stop pending lasted (s)" 4 30 "$(elapsed "$pending_at" "$stopped_at")"
check "the killed worker recorded no end of its own" sh -c "! grep -q '^ended' '$(cdir IGN)/HOLV32IP.TXT'"
expect_log IGN \
    "Starting service QuenraService" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "Service stop request received" \
    "Service stopped"

finish
