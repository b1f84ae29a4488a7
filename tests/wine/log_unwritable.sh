# A log file that cannot be written, side by side in two directories: one
# read-only (immutable, in C:\RO), one held open without sharing by another
# process (C:\LCK). Each service still starts, runs and stops as usual; the
# records it could not write are lost and nothing is written elsewhere
# instead; once the file can be written again, later records land normally.
. "$(dirname "$0")/lib.sh"

# A run killed before its trap left the file immutable; rm -rf would fail.
chattr -i "$WORK/pfx/drive_c/RO/HOLV32.LOG" 2>/dev/null
begin_scenario

RO_LOG=$(cdir RO)/HOLV32.LOG
LCK_LOG=$(cdir LCK)/HOLV32.LOG
HOLD_SECONDS=8
# As root, permission bits do not stop a write; the immutable flag does. It
# must come off again whatever happens, or the build tree cannot be removed.
release_log()
{
    local code=$?
    chattr -i "$RO_LOG" 2>/dev/null
    return $code
}
trap 'release_log; end_wine' EXIT

install_host QuenraService RO
install_worker RO
write_ini RO "-t120"
install_host KORVIService LCK
install_worker LCK
write_ini LCK "-t120"

# Both logs begin with one record of an earlier run.
earlier=$(printf '\r\n%s Earlier record' "$(date '+%d/%m %H:%M:%S')")
printf '%s' "$earlier" >"$RO_LOG"
printf '%s' "$earlier" >"$LCK_LOG"
listing() { (cd "$(cdir "$1")" && find . | sort); }
ro_before=$(listing RO)
lck_before=$(listing LCK)

chattr +i "$RO_LOG"
check "read-only log: immutable flag set" sh -c "lsattr '$RO_LOG' | grep -q '^[^ ]*i'"
check "read-only log: a write from here fails" sh -c "! (printf x >>'$RO_LOG') 2>/dev/null"

"$WINE64" 'C:\TOOLS\SVCCTL.EXE' hold 'C:\LCK\HOLV32.LOG' $HOLD_SECONDS >"$WORK/hold.txt" 2>>"$WORK/wine.out" &
hold_pid=$!
for i in $(seq 100); do
    grep -q holding "$WORK/hold.txt" 2>/dev/null && break
    sleep 0.1
done
check "locked log: held open without sharing" grep -q holding "$WORK/hold.txt"

watch_begin QuenraService 60 "$WORK/watch_ro.txt"
ro_watch=$WATCH_PID
watch_begin KORVIService 60 "$WORK/watch_lck.txt"
lck_watch=$WATCH_PID
svcctl start QuenraService
svcctl start KORVIService
svcctl wait QuenraService RUNNING 20
check "read-only log: reaches running" [ $? -eq 0 ]
svcctl wait KORVIService RUNNING 20
check "locked log: reaches running" [ $? -eq 0 ]
svcctl control QuenraService 128 >/dev/null
check "read-only log: control 128 answered" [ $? -eq 0 ]
svcctl control KORVIService 128 >/dev/null
check "locked log: control 128 answered" [ $? -eq 0 ]
check "locked log: still held after control 128" sh -c "! grep -q released '$WORK/hold.txt'"

sleep 1
svcctl control QuenraService 1 >/dev/null
WATCH_PID=$ro_watch watch_end
cat "$WORK/watch_ro.txt"
expect_eq "read-only log: status sequence" "STOPPED START_PENDING RUNNING STOP_PENDING STOPPED" \
    "$(watch_states "$WORK/watch_ro.txt")"
check "read-only log: file unchanged" [ "$(cat "$RO_LOG")" = "$earlier" ]
expect_record RO "ended: shutdown event, exit code 0"
expect_eq "read-only log: new files in C:\\RO" "./HOLV32IP.TXT" \
    "$(comm -13 <(echo "$ro_before") <(listing RO))"

# Writable again: the next run's records follow the earlier one.
chattr -i "$RO_LOG"
svcctl start QuenraService
svcctl wait QuenraService RUNNING 20
sleep 1
svcctl control QuenraService 1 >/dev/null
svcctl wait QuenraService STOPPED 20
check "read-only log: runs again once writable" [ $? -eq 0 ]
expect_log RO \
    "Earlier record" \
    "Starting service QuenraService" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "Service stop request received" \
    "Service stopped"

wait "$hold_pid"
check "locked log: released" grep -q released "$WORK/hold.txt"
svcctl control KORVIService 129 >/dev/null
check "locked log: control 129 answered" [ $? -eq 0 ]
sleep 1
svcctl control KORVIService 1 >/dev/null
WATCH_PID=$lck_watch watch_end
cat "$WORK/watch_lck.txt"
expect_eq "locked log: status sequence" "STOPPED START_PENDING RUNNING STOP_PENDING STOPPED" \
    "$(watch_states "$WORK/watch_lck.txt")"
expect_record LCK "ended: shutdown event, exit code 0"
expect_eq "locked log: new files in C:\\LCK" "./HOLV32IP.TXT" \
    "$(comm -13 <(echo "$lck_before") <(listing LCK))"
# The start's records and control 128 met the lock; what came after landed.
expect_log LCK \
    "Earlier record" \
    "Service request 129 received" \
    "Service stop request received" \
    "Service stopped"

expect_no_service_processes
finish
