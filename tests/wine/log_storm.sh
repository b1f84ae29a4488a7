# Four services from one folder, each sent user controls at the same moment
# from its own process: every "Service request" record reaches the shared
# HOLV32.LOG whole. ROUNDS and BURSTS (of 125 controls per service) scale it;
# the defaults keep CI short.
. "$(dirname "$0")/lib.sh"
begin_scenario

rounds=${ROUNDS:-1}
bursts=${BURSTS:-1}
names="QuenraService QuenraClient KORVIService KORVIClient"
for name in $names; do
    install_host "$name" STORM
    printf -- '-t600 -r%s.TXT\r\n' "$name" >"$(cdir STORM)/$name.ini"
done
install_worker STORM
for name in $names; do
    svcctl start "$name" >/dev/null
    svcctl wait "$name" RUNNING 30 >/dev/null
    check "$name running" [ $? -eq 0 ]
done

log="$(cdir STORM)/HOLV32.LOG"
total=0
for round in $(seq 1 "$rounds"); do
    before=$(grep -c 'Service request' "$log")
    pids=()
    for name in $names; do
        (for b in $(seq 1 "$bursts"); do
             wine_out "$WORK/burst.$name.txt" 'C:\TOOLS\SVCCTL.EXE' burst "$name" 0 128 125 || exit 1
         done) &
        pids+=($!)
    done
    failed=0
    for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
    check "round $round: every control answered" [ $failed -eq 0 ]
    kept=$(( $(grep -c 'Service request' "$log") - before ))
    sent=$((4 * bursts * 125))
    total=$((total + kept))
    echo "round $round: $kept of $sent records kept"
    check "round $round: $sent of $sent records kept" [ "$kept" -eq "$sent" ]
done
echo "total: $total of $((rounds * 4 * bursts * 125)) records kept"
log_messages STORM | grep -q 'BAD RECORD'
check "no torn record" [ $? -ne 0 ]

for name in $names; do
    svcctl control "$name" 1 >/dev/null
done
for name in $names; do
    svcctl wait "$name" STOPPED 30 >/dev/null
    check "$name stopped" [ $? -eq 0 ]
done
finish
