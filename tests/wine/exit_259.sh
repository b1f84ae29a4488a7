# A worker whose exit code is 259 reads as still running: the service keeps
# reporting running after the worker has gone.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host PlunwickService RUN
install_worker RUN
write_ini RUN "-t1 -x259"

svcctl start PlunwickService
svcctl wait PlunwickService RUNNING 20
check "reaches running" [ $? -eq 0 ]
sleep 4
expect_record RUN "ended: time limit, exit code 259"
svcctl query PlunwickService >"$WORK/q.txt"
check "still reported running after the worker ended" grep -q 'RUNNING state=4' "$WORK/q.txt"
expect_log RUN \
    "Starting service PlunwickService" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI"

finish
