# Workers that end by themselves: "Service exited", then stopped, and the
# worker is not started again. A worker's own failure reaches the service
# manager at STOPPED as 1066 with its exit code; exit code 0 as 0 and 0.
. "$(dirname "$0")/lib.sh"
begin_scenario

# service  directory  worker options  stopped as
cases="PlunwickService EXIT3 -x3 exit=1066 specific=3
KORVIClient EXIT0 -x0 exit=0 specific=0"

while read -r name dir code expected; do
    install_host "$name" "$dir"
    install_worker "$dir"
    write_ini "$dir" "-t2 $code"
    watch_begin "$name" 30 "$WORK/watch_$dir.txt"
    eval "watch_$dir=\$WATCH_PID"
    # Recovery actions as the administrator's guide sets them. Wine's sc
    # accepts this but stores nothing, and its service manager restarts
    # nothing: the record below counts one worker run.
    wine_run sc failure "$name" reset= 86400 actions= restart/1000/restart/1000/restart/1000
    svcctl start "$name"
done <<<"$cases"

while read -r name dir code expected; do
    eval "WATCH_PID=\$watch_$dir"
    watch_end
    echo "$dir:"; cat "$WORK/watch_$dir.txt"
    expect_eq "$dir: status sequence" "STOPPED START_PENDING RUNNING STOPPED" "$(watch_states "$WORK/watch_$dir.txt")"
    running_at=$(watch_time "$WORK/watch_$dir.txt" RUNNING)
    stopped_at=$(watch_last_time "$WORK/watch_$dir.txt" STOPPED)
    # Two seconds of worker, then up to one more until the next check; the
    # upper bound leaves room for a loaded machine.
    expect_between "$dir: running lasted (s)" 1.5 8 "$(elapsed "$running_at" "$stopped_at")"
    expect_eq "$dir: stopped with the worker's outcome" "STOPPED $expected" \
        "$(tail -n 1 "$WORK/watch_$dir.txt" | tr -d '\r' | awk '{print $2, $3, $4}')"
done <<<"$cases"

sleep 2
while read -r name dir code expected; do
    expect_eq "$dir: worker runs counted in its record" 1 "$(record_of "$dir" | grep -c '^started$')"
    expect_record "$dir" "ended: time limit, exit code ${code#-x}"
    expect_record "$dir" "HOLVService: $name"
    expect_log "$dir" \
        "Starting service $name" \
        "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
        "Service exited" \
        "Service stopped"
done <<<"$cases"

finish
