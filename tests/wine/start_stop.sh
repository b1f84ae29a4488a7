# The typical course: QuenraService in C:\SVC starts the example worker,
# reports running, and at a stop signals the worker through the shutdown
# event, waits for it and reports stopped. Then the same as the package's
# README and the administrator's document tell it, under Wine: the sample INI
# file, a keep-alive watch, sc's commands, a change of type by delete and
# create.
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

# --- As the documents tell it.
mkdir -p "$(cdir Holv)"
cp "$BIN_DIR/HOLVSVC.EXE" "$BIN_DIR/HOLV32IP.EXE" "$BIN_DIR/package/HOLV32.INI" "$(cdir Holv)/"
"$WINE64" 'C:\TOOLS\SVCCTL.EXE' watch KORVIService 150 -k >"$WORK/keep.txt" 2>>"$WORK/wine.out" &
keep_pid=$!
wine_run sc create KORVIService binPath= 'C:\Holv\HOLVSVC.EXE' type= own
check "sc create KORVIService" [ $? -eq 0 ]
wine_out "$WORK/sc.txt" sc start KORVIService
check "sc start prints the start" grep -q 'START_PENDING' "$WORK/sc.txt"
svcctl wait KORVIService RUNNING 20
check "the sample INI file: reaches running" [ $? -eq 0 ]
# Wine's sc has none of these: each fails with return code 1 and prints nothing.
for command in "config KORVIService start= demand" "qc KORVIService" "control KORVIService 128"; do
    wine_out "$WORK/sc.txt" sc $command
    expect_eq "under Wine, sc $command: return code, bytes printed" "1 0" "$? $(wc -c <"$WORK/sc.txt")"
done
wine_out "$WORK/net.txt" net stop KORVIService
check "net stop" [ $? -eq 0 ]
svcctl wait KORVIService STOPPED 20
check "stops after net stop" [ $? -eq 0 ]
wine_run sc delete KORVIService
check "sc delete" [ $? -eq 0 ]
# The keep-alive watch must not hold the deleted service.
wine_run sc create KORVIService binPath= 'C:\Holv\HOLVSVC.EXE' type= own type= interact
check "created again, interactive, while the keep-alive watches" [ $? -eq 0 ]
wine_out "$WORK/net.txt" net start KORVIService
check "net start" [ $? -eq 0 ]
svcctl wait KORVIService RUNNING 20
svcctl query KORVIService >"$WORK/query.txt"
check "running again, now interactive" grep -q 'RUNNING state=4 type=0x110' "$WORK/query.txt"
wine_out "$WORK/sc.txt" sc query KORVIService
check "sc query shows it running" grep -q 'STATE *: 4 *RUNNING' "$WORK/sc.txt"
sleep 1
wine_out "$WORK/sc.txt" sc stop KORVIService
check "sc stop prints the stop" grep -q 'STOP_PENDING' "$WORK/sc.txt"
svcctl wait KORVIService STOPPED 20
check "stops after sc stop" [ $? -eq 0 ]
wine_run sc delete KORVIService
svcctl query KORVIService >"$WORK/query.txt"
check "deleted: query finds no service" grep -q 'open failed error=1060' "$WORK/query.txt"
for i in $(seq 20); do
    tail -n 1 "$WORK/keep.txt" | grep -q NONE && break
    sleep 0.1
done
cat "$WORK/keep.txt"
check "keep-alive watch still runs after two stops" kill -0 "$keep_pid"
expect_eq "keep-alive watch saw both runs" 2 "$(grep -c ' RUNNING ' "$WORK/keep.txt")"
check "keep-alive watch shows the deleted service" sh -c "tail -n 1 '$WORK/keep.txt' | grep -q 'NONE error=1060'"
wine_out "$WORK/dir.txt" cmd /c 'dir /T:C C:\Holv'
check "dir /T:C lists the worker" grep -q 'HOLV32IP.EXE' "$WORK/dir.txt"
svcctl hold 'C:\Holv\HELD.TXT' 0
check "hold creates a missing file" [ -f "$(cdir Holv)/HELD.TXT" ]

# -eHOLV32IP.EXE names the worker beside the host: nothing to copy.
expect_log Holv \
    "Starting service KORVIService" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "Service stop request received" \
    "Service stopped" \
    "Starting service KORVIService" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "Service stop request received" \
    "Service stopped"
expect_record Holv "ini: HOLV32.INI (read)"
expect_record Holv "options: t=0 x=0 i=0"
expect_record Holv "command line: HOLV32IP.EXE HOLV32.INI -c"
expect_record Holv "command line: HOLV32IP.EXE HOLV32.INI"

finish
