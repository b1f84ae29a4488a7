# The worker authors' header and minimal worker as shipped. The minimal
# worker, built from those two files alone with the command its source gives,
# runs as the worker of two services that share a folder with a letter of
# code page 1252 in its name: stopping one stops both, and the other stops
# 0/0, so the worker ended with 0 after the event. Then the header's names,
# built as C and as C++, against the host's own (HOLVCHK.EXE computes them
# with the host's code) and an independent computation, over a table of
# folders.
# Usage: bash worker_sdk.sh BIN_DIR WORK_ROOT SDK_DIR CC CHECK_PROGRAMS_DIR
#   SDK_DIR  the two files as the packages ship them (CR LF line ends)
export LC_ALL=C.UTF-8
. "$(dirname "$0")/lib.sh"
SDK=$3 CC=$4 PROGRAMS=$5
begin_scenario

# The name from the directory's text, given as printf escapes: byte i goes
# into its place in a little-endian 32-bit word.
oracle()
{
    local h=0 i=0 byte
    for byte in $(printf "$1" | od -An -v -tu1); do
        h=$((h ^ (byte << (8 * (i % 4)))))
        i=$((i + 1))
    done
    echo "HOLVSVCE_SHUTDOWN:$h"
}
hex() { printf "$1" | od -An -v -tx1 | tr -d ' \n'; }

mkdir -p "$WORK/sdk"
cp "$SDK/holvsvc_shutdown_event.h" "$SDK/minimal_worker.c" "$WORK/sdk/"
# The -win64 ZIP's command, the one Wine's 64-bit loader runs here.
command=$(tr -d '\r' <"$WORK/sdk/minimal_worker.c" | sed -n 's/^ \*   -win64 ZIP: *//p')
command=${command/x86_64-w64-mingw32-gcc/$CC}
(cd "$WORK/sdk" && eval "$command") >"$WORK/build.out" 2>&1
check "built as documented: $command" [ -f "$WORK/sdk/HOLV32IP.EXE" ]
sed 's/^/      /' "$WORK/build.out"

DIR='Dienste\Überprüfung'
TEXT='C:\\Dienste\\\xdcberpr\xfcfung'
install_host KORVIService "$DIR"
install_host QuenraService "$DIR"
cp "$WORK/sdk/HOLV32IP.EXE" "$(cdir "$DIR")/"
write_ini "$DIR" "; the minimal worker takes no options"
start_running KORVIService
start_running QuenraService
sleep 1
stop_stopped KORVIService
svcctl wait QuenraService STOPPED 20
check "QuenraService stops too, without a stop request" [ $? -eq 0 ]
svcctl query QuenraService >"$WORK/q.txt"
check "... and reports exit code 0, service-specific 0" grep -q 'exit=0 specific=0' "$WORK/q.txt"
expect_no_service_processes
for service in KORVIService QuenraService; do
    actual=$(tr -d '\r' <"$(cdir "$DIR")/$service.log" | cut -d ' ' -f 3-)
    expect_eq "$service's worker log" "started with INI file HOLV32.INI|waiting for $(oracle "$TEXT")|shutdown event signalled, ending with exit code 0" \
        "$(echo "$actual" | paste -sd '|')"
done
log=$(log_messages "$DIR")
expect_eq "HOLV32.LOG: one stop request, one worker seen ending by itself, two stops" "1 1 2" \
    "$(for m in 'Service stop request received' 'Service exited' 'Service stopped'; do echo "$log" | grep -cxF "$m"; done | paste -sd ' ')"

# folder given | its text as the system spells it (printf escapes) | the name, where fixed
LONG=$(long_dir 258)
LONGTEXT=${LONG//\\/\\\\}
mkdir -p "$(cdir SVC)" "$(cdir "$LONG")"
rows=(
    'C:\|C:\\|HOLVSVCE_SHUTDOWN:6044227'
    'C:\SVC|C:\\SVC|HOLVSVCE_SHUTDOWN:1398569237'
    'c:\svc|c:\\svc|HOLVSVCE_SHUTDOWN:1935431957'
    'C:\SVC\|C:\\SVC|HOLVSVCE_SHUTDOWN:1398569237'
    "C:\\$LONG|C:\\\\$LONGTEXT|"
    "C:\\$DIR|$TEXT|"
)
folders=()
for row in "${rows[@]}"; do folders+=("${row%%|*}"); done
wine_out "$WORK/c.txt" "$PROGRAMS/EVNAMES.EXE" "${folders[@]}"
wine_out "$WORK/cxx.txt" "$PROGRAMS/EVNAMESX.EXE" "${folders[@]}"
i=0
for row in "${rows[@]}"; do
    IFS='|' read -r folder text fixed <<<"$row"
    i=$((i + 1))
    name=$(oracle "$text")
    c=$(sed -n "${i}p" "$WORK/c.txt" | tr -d '\r')
    cxx=$(sed -n "${i}p" "$WORK/cxx.txt" | tr -d '\r')
    wine_out "$WORK/chk.txt" "$BIN_DIR/HOLVCHK.EXE" QuenraService "$folder"
    host=$(tr -d '\r' <"$WORK/chk.txt" | sed -n 's/^note: shutdown event: //p')
    expect_eq "[${folder:0:24}] text, C by directory and by text, C++, host" \
        "$(hex "$text") $name $name | $(hex "$text") $name $name | $name" "$c | $cxx | $host"
    [ -z "$fixed" ] || expect_eq "[$folder] the documented name" "$fixed" "$name"
done

finish
