# A burst of controls while running, from one SVCCTL process: 200
# interrogates and the user controls 128..227, interleaved. Each is answered
# with the running state, each user control is logged exactly once, in the
# order sent, and a stop afterwards still completes.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host KORVIClient BURST
install_worker BURST
write_ini BURST "-t120"

svcctl start KORVIClient
svcctl wait KORVIClient RUNNING 20
check "reaches running" [ $? -eq 0 ]

svcctl burst KORVIClient 200 128 100 >"$WORK/burst.txt"
check "burst: every control answered with running" [ $? -eq 0 ]
tr -d '\r' <"$WORK/burst.txt"
check "interrogates: 200 of 200 answered" grep -q '^interrogate: 200 of 200 answered, 200 running' "$WORK/burst.txt"
check "user controls: 100 of 100 answered" grep -q '^user 128..227: 100 of 100 answered, 100 running' "$WORK/burst.txt"

svcctl query KORVIClient >"$WORK/q.txt"
check "still running after the burst" grep -q 'RUNNING state=4' "$WORK/q.txt"
check "the worker was not told to end" sh -c "! grep -q '^ended' '$(cdir BURST)/HOLV32IP.TXT'"

svcctl control KORVIClient 1 >/dev/null
check "stop answered" [ $? -eq 0 ]
svcctl wait KORVIClient STOPPED 20
check "stops after the burst" [ $? -eq 0 ]

expected=("Starting service KORVIClient" "Service starting HOLV32IP.EXE using inifile HOLV32.INI")
for code in $(seq 128 227); do
    expected+=("Service request $code received")
done
expected+=("Service stop request received" "Service stopped")
expect_log BURST "${expected[@]}"
expect_record BURST "ended: shutdown event, exit code 0"

finish
