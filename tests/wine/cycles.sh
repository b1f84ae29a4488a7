# Fifty start and stop cycles in a row, driven from one SVCCTL process: each
# reaches running and then stopped, no host or worker process outlives its
# cycle, and the log holds the four records of each run, in order.
. "$(dirname "$0")/lib.sh"
begin_scenario

CYCLES=50
install_host QuenraService CYC
install_worker CYC
write_ini CYC "-t300"

svcctl cycle QuenraService $CYCLES 20 >"$WORK/cycles.txt"
check "$CYCLES cycles ran without a failure" [ $? -eq 0 ]
tr -d '\r' <"$WORK/cycles.txt" | tail -n 3
expect_eq "cycles that reached running and then stopped" "$CYCLES" \
    "$(tr -d '\r' <"$WORK/cycles.txt" | grep -c '^cycle [0-9]*: running after')"
svcctl query QuenraService >"$WORK/q.txt"
check "stopped at the end" grep -q 'STOPPED state=1' "$WORK/q.txt"

expect_no_service_processes

expect_eq "worker runs in its record" "$CYCLES" "$(record_of CYC | grep -c '^ended: shutdown event, exit code 0$')"
expected=()
for i in $(seq $CYCLES); do
    expected+=("Starting service QuenraService"
        "Service starting HOLV32IP.EXE using inifile HOLV32.INI"
        "Service stop request received"
        "Service stopped")
done
expect_log CYC "${expected[@]}"

finish
