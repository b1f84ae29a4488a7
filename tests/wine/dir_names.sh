# Service directories with unusual names: one 246 characters long, the
# longest whose worker path (directory, separator, HOLV32IP.EXE) still fits
# the platform's 260-character limit; one a character longer, where the
# worker cannot be found and the host says so; and C:\Dienste\Überwachung,
# with a letter of the ANSI code page 1252 (0xDC); and C:\Dienste\Наблюдение,
# whose letters that code page cannot write: argument 0 arrives with '?', and
# the host works in its own file's folder all the same. Where the worker runs,
# the host and worker agree on the shutdown event's name.
# The unix side names files in UTF-8; Wine must read the arguments so too.
export LC_ALL=C.UTF-8
. "$(dirname "$0")/lib.sh"
begin_scenario

LONG=$(long_dir 246)
PAST=$(long_dir 247)
UMLAUT='Dienste\Überwachung'
CYRILLIC='Dienste\Наблюдение'
expect_eq "long directory text" 246 $((${#LONG} + 3))
expect_eq "one past" 247 $((${#PAST} + 3))

for spec in "QuenraService:$LONG" "QuenraClient:$PAST" "KORVIService:$UMLAUT" "PlunwickService:$CYRILLIC"; do
    name=${spec%%:*} dir=${spec#*:}
    install_host "$name" "$dir"
    install_worker "$dir"
    write_ini "$dir" "-t60"
done

svcctl start QuenraService
svcctl start KORVIService
svcctl start PlunwickService
watch_begin QuenraClient 30 "$WORK/watch_past.txt"
svcctl start QuenraClient
check "one past: start accepted" [ $? -eq 0 ]
svcctl wait QuenraService RUNNING 20
check "long: reaches running" [ $? -eq 0 ]
svcctl wait KORVIService RUNNING 20
check "umlaut: reaches running" [ $? -eq 0 ]
sleep 1
svcctl control QuenraService 1 >/dev/null
svcctl control KORVIService 1 >/dev/null
svcctl wait QuenraService STOPPED 20
check "long: stops" [ $? -eq 0 ]
svcctl wait KORVIService STOPPED 20
check "umlaut: stops" [ $? -eq 0 ]
svcctl wait PlunwickService RUNNING 20
check "cyrillic: reaches running" [ $? -eq 0 ]
svcctl control PlunwickService 1 >/dev/null
svcctl wait PlunwickService STOPPED 20
check "cyrillic: stops" [ $? -eq 0 ]
watch_end

normal_run()
{
    expect_log "$1" \
        "Starting service $2" \
        "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
        "Service stop request received" \
        "Service stopped"
}

expect_record "$LONG" "directory: C:\\$LONG"
expect_record "$LONG" "event: $(event_name_for "C:\\$LONG") (opened)"
expect_record "$LONG" "ended: shutdown event, exit code 0"
normal_run "$LONG" QuenraService

# The host's own path (259 characters) still fits; the worker's does not.
cat "$WORK/watch_past.txt"
expect_eq "one past: status sequence" "STOPPED START_PENDING STOPPED" "$(watch_states "$WORK/watch_past.txt")"
expect_eq "one past: stopped with the error as exit code" "STOPPED exit=2" \
    "$(tail -n 1 "$WORK/watch_past.txt" | tr -d '\r' | awk '{print $2, $3}')"
expect_log "$PAST" \
    "Starting service QuenraClient" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "HOLV32IP.EXE not started! error=2" \
    "Service stopped"

# Host and worker see the directory in the ANSI code page: Ü is one byte.
ansi_dir=$(printf 'C:\\Dienste\\\xdcberwachung')
LC_ALL=C expect_record "$UMLAUT" "directory: $ansi_dir"
LC_ALL=C expect_record "$UMLAUT" "event: $(LC_ALL=C event_name_for "$ansi_dir") (opened)"
expect_record "$UMLAUT" "ended: shutdown event, exit code 0"
normal_run "$UMLAUT" KORVIService

# Its own folder, not the system's: the log, the INI file and the worker's
# record are there, and the worker heard the stop.
normal_run "$CYRILLIC" PlunwickService
expect_record "$CYRILLIC" "ended: shutdown event, exit code 0"
check "cyrillic: no log in the system folder" [ ! -e "$(cdir windows/system32)/HOLV32.LOG" ]

# HOLVCHK as its usage tells for such a folder: started in it, naming it ".".
# It finds the worker there, audits the folder, and gives the worker's event.
mkdir -p "$(cdir TOOLS)"
cp "$BIN_DIR/HOLVCHK.EXE" "$(cdir TOOLS)/"
(cd "$(cdir "$CYRILLIC")" && "$WINE64" 'C:\TOOLS\HOLVCHK.EXE' PlunwickService . >"$WORK/holvchk_dot.txt" 2>>"$WORK/wine.out")
status=$?
tr -d '\r' <"$WORK/holvchk_dot.txt" | tail -n 1
worker_event=$(record_of "$CYRILLIC" | sed -n 's/^event: \(.*\) (opened)$/\1/p')
expect_eq "cyrillic: HOLVCHK in the folder, named ., would start the worker" 0 "$status"
check "cyrillic: HOLVCHK gives the worker's event ($worker_event)" \
    grep -qF "shutdown event: $worker_event" "$WORK/holvchk_dot.txt"
chmod o+w "$(cdir "$CYRILLIC")"
(cd "$(cdir "$CYRILLIC")" && "$WINE64" 'C:\TOOLS\HOLVCHK.EXE' PlunwickService . >"$WORK/holvchk_open.txt" 2>>"$WORK/wine.out")
expect_eq "cyrillic: a folder anyone may write is an access finding" 3 "$?"
check "cyrillic: HOLVCHK names Everyone on the folder" grep -qF "access: the service's folder .: Everyone" \
    "$WORK/holvchk_open.txt"
chmod o-w "$(cdir "$CYRILLIC")"

expect_no_service_processes
finish
