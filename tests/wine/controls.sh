# Controls while running: a user-defined code (128) is logged and answered
# with the unchanged status; interrogate (4) is answered and not logged.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host KORVIClient CTL
install_worker CTL
write_ini CTL "-t60"

svcctl start KORVIClient
svcctl wait KORVIClient RUNNING 20
check "reaches running" [ $? -eq 0 ]

svcctl control KORVIClient 128 >"$WORK/c128.txt"
check "control 128 accepted" [ $? -eq 0 ]
check "control 128 answered: running, stop and shutdown accepted" \
    grep -q 'RUNNING state=4 type=0x10 controls=0x5 exit=0 specific=0 checkpoint=0 wait=120000' "$WORK/c128.txt"
svcctl control KORVIClient 4 >"$WORK/c4.txt"
check "interrogate accepted" [ $? -eq 0 ]
check "interrogate answered: running" grep -q 'RUNNING state=4 type=0x10 controls=0x5' "$WORK/c4.txt"
svcctl control KORVIClient 200 >"$WORK/c200.txt"
check "control 200 accepted" [ $? -eq 0 ]

# Nothing but a log line: the worker keeps running, the service too.
sleep 1.5
svcctl query KORVIClient >"$WORK/q.txt"
check "still running after the controls" grep -q 'RUNNING state=4' "$WORK/q.txt"
check "the worker was not told to end" sh -c "! grep -q '^ended' '$(cdir CTL)/HOLV32IP.TXT'"

svcctl control KORVIClient 1
svcctl wait KORVIClient STOPPED 20
check "stops" [ $? -eq 0 ]

expect_log CTL \
    "Starting service KORVIClient" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "Service request 128 received" \
    "Service request 200 received" \
    "Service stop request received" \
    "Service stopped"
expect_record CTL "HOLVService: KORVIClient"
expect_record CTL "ended: shutdown event, exit code 0"

# Wine delivers a stop while the service is start pending (Windows refuses it
# with 1061): the state then goes on to stopped and never back to running,
# and the worker still hears the stop.
install_host KORVIService RACE
install_worker RACE
write_ini RACE "-t60"
for i in 1 2 3 4 5; do
    watch_begin KORVIService 30 "$WORK/race$i.txt"
    svcctl start KORVIService >/dev/null
    svcctl control KORVIService 1 >/dev/null
    svcctl wait KORVIService STOPPED 20 >/dev/null
    watch_end
    states=$(watch_states "$WORK/race$i.txt")
    echo "stop at once, run $i: $states"
    check "run $i: no running after stop pending" sh -c "! echo '$states' | grep -q 'STOP_PENDING.*RUNNING'"
done
expect_eq "every run's worker heard the stop" 5 "$(grep -c '^ended: shutdown event' "$(cdir RACE)/HOLV32IP.TXT")"

finish
