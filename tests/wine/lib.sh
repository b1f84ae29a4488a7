# Shared helpers for the Wine scenarios: finding Wine, a prefix of each
# scenario's own, installing HOLVSVC.EXE as a service, reading HOLV32.LOG and
# the worker's record, and the checks.
#
# A scenario script is run as: bash SCRIPT.sh BIN_DIR WORK_ROOT
#   BIN_DIR    holds HOLVSVC.EXE, HOLV32IP.EXE and SVCCTL.EXE (64-bit build)
#   WORK_ROOT  scratch folder inside the build tree; WORK_ROOT/template is the
#              booted prefix that scenarios copy (booted here if missing)
# Exit code 0 passed, 1 failed, 77 skipped (no Wine).

set -u

SKIP_CODE=77
WINE64=${HOLV_WINE64:-/usr/lib/wine/wine64}
WINESERVER_BIN=${HOLV_WINESERVER:-/usr/lib/wine/wineserver}

BIN_DIR=$(cd "${1:?usage: $0 BIN_DIR WORK_ROOT}" && pwd)
WORK_ROOT=${2:?usage: $0 BIN_DIR WORK_ROOT}
mkdir -p "$WORK_ROOT"
WORK_ROOT=$(cd "$WORK_ROOT" && pwd)
SCENARIO=$(basename "$0" .sh)
WORK=$WORK_ROOT/$SCENARIO
TEMPLATE=$WORK_ROOT/template
FAILS=0
CHECKS=0
SCRIPT_START=$(date +%s)

# --- Wine -------------------------------------------------------------------

require_wine()
{
    if [ ! -x "$WINE64" ] || [ ! -x "$WINESERVER_BIN" ]; then
        echo "################################################################"
        echo "SKIPPED $SCENARIO: 64-bit Wine not found ($WINE64)."
        echo "Install it (bash scripts/install-deps.sh) to run the Wine scenarios."
        echo "################################################################"
        exit "$SKIP_CODE"
    fi
}

# Wine for the prefix at $1. The wine64 loader is named directly: the `wine`
# wrapper tries 32-bit Wine first, which this kind of machine cannot run.
use_prefix()
{
    export WINEPREFIX=$1
    export WINELOADER=$WINE64
    export WINESERVER=$WINESERVER_BIN
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
}

# Output always goes to files: wineserver and the services it starts inherit
# the descriptors and would hold a pipe open for ever.
wine_run()
{
    "$WINE64" "$@" >>"$WORK/wine.out" 2>&1
}

# wine_out FILE PROGRAM ARGS...: the program's output into FILE; returns its code.
wine_out()
{
    local out=$1
    shift
    "$WINE64" "$@" >"$out" 2>>"$WORK/wine.out"
}

boot_prefix()
{
    local prefix=$1
    rm -rf "$prefix"
    use_prefix "$prefix"
    "$WINE64" wineboot -i >"$prefix.boot.out" 2>&1
    "$WINESERVER_BIN" -w
    [ -d "$prefix/drive_c/windows/system32" ] || return 1
    touch "$prefix/.booted"
}

# A fresh copy of the booted template; copying costs about a second, a boot
# several.
begin_scenario()
{
    require_wine
    rm -rf "$WORK"
    mkdir -p "$WORK"
    if [ ! -f "$TEMPLATE/.booted" ]; then
        echo "booting template prefix"
        boot_prefix "$TEMPLATE" || { echo "FAIL - prefix boot"; exit 1; }
    fi
    cp -a "$TEMPLATE" "$WORK/pfx"
    use_prefix "$WORK/pfx"
    trap end_wine EXIT
    mkdir -p "$WORK/pfx/drive_c/TOOLS"
    cp "$BIN_DIR/SVCCTL.EXE" "$BIN_DIR/HOLV32IP.EXE" "$WORK/pfx/drive_c/TOOLS/"
    # Wine ends the session, services and all, about a second after its last
    # ordinary process has gone; service processes do not count. An idle
    # worker keeps the session up between the tool runs.
    printf -- '-t900 -rC:\\TOOLS\\KEEPER.TXT\r\n' >"$WORK/pfx/drive_c/TOOLS/KEEPER.INI"
    "$WINE64" 'C:\TOOLS\HOLV32IP.EXE' 'C:\TOOLS\KEEPER.INI' >>"$WORK/wine.out" 2>&1 &
    # Until it runs, a program that waits in Wine's service dispatcher can be
    # told the session is over: its dispatcher then returns success at once.
    local waited=0
    until grep -q '^started' "$WORK/pfx/drive_c/TOOLS/KEEPER.TXT" 2>/dev/null; do
        # A copied prefix's first process was once seen not to come up at
        # all: start it again once, then give up.
        if [ $waited -eq 150 ]; then
            echo "keeper not up after 15 s; starting it again"
            "$WINE64" 'C:\TOOLS\HOLV32IP.EXE' 'C:\TOOLS\KEEPER.INI' >>"$WORK/wine.out" 2>&1 &
        fi
        [ $waited -ge 750 ] && { echo "FAIL - the keeper process did not start in 75 s"; exit 1; }
        sleep 0.1
        waited=$((waited + 1))
    done
    echo "== $SCENARIO (prefix $WORK/pfx; keeper up after $((waited / 10)) s)"
}

end_wine()
{
    local code=$?
    "$WINESERVER_BIN" -k >/dev/null 2>&1
    wait 2>/dev/null
    # A passed scenario's prefix copy (about 700 MB) goes; a failed one stays
    # for a look, with the scenario's outputs beside it.
    [ "$code" -eq 0 ] && rm -rf "$WORK/pfx"
    echo "wine time: $(( $(date +%s) - SCRIPT_START )) s"
    exit "$code"
}

# Unix path of a C: directory given by its name under C:\ ("SVC", "My Service",
# "Dienste\Überwachung").
cdir()
{
    echo "$WINEPREFIX/drive_c/${1//\\//}"
}

# long_dir LENGTH: a directory under C:\ whose text, C:\ included, has LENGTH
# characters, in components of at most 40.
long_dir()
{
    local rel="L$1" need
    while [ $((${#rel} + 3)) -lt "$1" ]; do
        need=$(($1 - 4 - ${#rel}))
        [ "$need" -gt 40 ] && need=40
        rel="$rel\\$(printf '%*s' "$need" '' | tr ' ' 'w')"
    done
    echo "$rel"
}

svcctl()
{
    wine_out "$WORK/svcctl.out" 'C:\TOOLS\SVCCTL.EXE' "$@"
    local code=$?
    cat "$WORK/svcctl.out"
    return $code
}

# The HOLVSVC.EXE and HOLV32IP.EXE processes of this prefix alone, "PID
# COMMAND LINE" a line (other scenarios run at the same time in prefixes of
# their own); the keeper worker in C:\TOOLS does not count.
service_processes()
{
    local p cmd
    for p in /proc/[0-9]*; do
        cmd=$({ tr '\0' ' ' <"$p/cmdline"; } 2>/dev/null) || continue
        case "$cmd" in
        *HOLVSVC.EXE* | *HOLV32IP.EXE*) ;;
        *) continue ;;
        esac
        case "$cmd" in *KEEPER.INI*) continue ;; esac
        { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
            echo "${p#/proc/} $cmd"
    done
}

# expect_no_service_processes: none left, allowing a moment for a host that
# has just reported stopped to end.
expect_no_service_processes()
{
    local left="" i
    for i in $(seq 30); do
        left=$(service_processes)
        [ -z "$left" ] && break
        sleep 0.1
    done
    expect_eq "host or worker processes left behind" "" "$left"
}

# start_running NAME [WHAT]: starts the service and checks it reaches running.
start_running()
{
    svcctl start "$1"
    svcctl wait "$1" RUNNING 20
    check "${2:+$2 }reaches running" [ $? -eq 0 ]
}

# stop_stopped NAME [WHAT]: sends stop and checks the service reaches stopped.
stop_stopped()
{
    svcctl control "$1" 1
    svcctl wait "$1" STOPPED 20
    check "${2:+$2 }stops" [ $? -eq 0 ]
}

# --- Service setup ----------------------------------------------------------

# install_host NAME DIR [interactive]: HOLVSVC.EXE into C:\DIR, created as NAME.
install_host()
{
    local name=$1 dir=$2 mode=${3:-own}
    mkdir -p "$(cdir "$dir")"
    cp "$BIN_DIR/HOLVSVC.EXE" "$(cdir "$dir")/"
    local path="C:\\$dir\\HOLVSVC.EXE"
    case "$dir" in *" "*) path="\"$path\"" ;; esac
    if [ "$mode" = interactive ]; then
        # In this order: Wine's sc sets the type at "own" and adds the bit at
        # "interact", so the other order would lose the bit.
        wine_run sc create "$name" binPath= "$path" type= own type= interact
    else
        wine_run sc create "$name" binPath= "$path" type= own
    fi
    check "sc create $name in C:\\$dir" [ $? -eq 0 ]
}

install_worker()
{
    cp "$BIN_DIR/HOLV32IP.EXE" "$(cdir "$1")/"
}

# write_ini DIR TEXT: HOLV32.INI with the worker's options, CR LF line ends.
write_ini()
{
    printf '%s\r\n' "$2" >"$(cdir "$1")/HOLV32.INI"
}

# watch_begin NAME SECONDS FILE: svcctl watch in the background; returns once
# it has printed the state it began with, so nothing after is missed.
watch_begin()
{
    "$WINE64" 'C:\TOOLS\SVCCTL.EXE' watch "$1" "$2" >"$3" 2>>"$WORK/wine.out" &
    WATCH_PID=$!
    local i
    for i in $(seq 200); do
        [ -s "$3" ] && return 0
        sleep 0.1
    done
    fail "watch of $1 printed nothing"
}

# watch_last_time FILE STATE: when STATE showed last.
watch_last_time()
{
    tr -d '\r' <"$1" | awk -v s="$2" '$2 == s {t = $1} END {print t}'
}

watch_end()
{
    wait "$WATCH_PID"
}

# The states a watch printed, in one line.
watch_states()
{
    tr -d '\r' <"$1" | awk '$2 ~ /^[A-Z_]+$/ {printf "%s%s", sep, $2; sep=" "} END {print ""}'
}

# watch_time FILE STATE: seconds since the watch began when STATE first showed.
watch_time()
{
    tr -d '\r' <"$1" | awk -v s="$2" '$2 == s {print $1; exit}'
}

# --- Log and record ---------------------------------------------------------

# The messages of C:\DIR\HOLV32.LOG, one a line, stamps removed. Each record is
# CR LF, "dd/mm HH:MM:SS ", the text; the file has no final line end. A record
# that breaks that form comes out as "BAD RECORD: ...".
log_messages()
{
    local file
    file="$(cdir "$1")/HOLV32.LOG"
    [ -f "$file" ] || { echo "NO LOG FILE"; return; }
    [ "$(head -c 2 "$file" | od -An -tx1 | tr -d ' \n')" = "0d0a" ] || echo "BAD RECORD: file does not begin with CR LF"
    [ "$(tail -c 1 "$file" | od -An -tx1 | tr -d ' \n')" != "0a" ] || echo "BAD RECORD: file ends with a line end"
    tail -c +3 "$file" | awk 'BEGIN {RS = "\r\n"}
        {
            if ($0 ~ /^[0-3][0-9]\/[01][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9] /)
                print substr($0, 16)
            else
                print "BAD RECORD: " $0
        }'
}

# The day/month stamps in the log, one a line.
log_dates()
{
    tail -c +3 "$(cdir "$1")/HOLV32.LOG" | awk 'BEGIN {RS = "\r\n"} {print substr($0, 1, 5)}' | sort -u
}

# expect_log DIR MESSAGE...: the log holds exactly these messages, in order,
# each stamped with today's date.
expect_log()
{
    local dir=$1
    shift
    local expected actual
    expected=$(printf '%s\n' "$@")
    actual=$(log_messages "$dir")
    if [ "$expected" = "$actual" ]; then
        pass "log of C:\\$dir: $# messages in order"
    else
        fail "log of C:\\$dir"
        diff <(echo "$expected") <(echo "$actual") | sed 's/^/      /'
    fi
    local dates today
    dates=$(log_dates "$dir")
    today=$(date +%d/%m)
    # A scenario that crosses midnight may also carry the day before.
    if [ "$dates" = "$today" ] || echo "$dates" | grep -qx "$today"; then
        pass "log stamps carry today's date $today"
    else
        fail "log stamps carry today's date $today (found: $(echo $dates))"
    fi
}

# The worker's record file in C:\DIR, CR stripped.
record_of()
{
    local file
    file="$(cdir "$1")/${2:-HOLV32IP.TXT}"
    [ -f "$file" ] && tr -d '\r' <"$file"
}

# expect_record DIR LINE [FILE]: the record holds this exact line.
expect_record()
{
    if record_of "$1" "${3:-}" | grep -qxF -- "$2"; then
        pass "worker record${3:+ $3}: $2"
    else
        fail "worker record${3:+ $3}: $2"
        record_of "$1" "${3:-}" | sed 's/^/      | /'
    fi
}

# The shutdown event's name for a directory text, computed here on its own:
# XOR of the little-endian 32-bit words of the zero-padded text.
event_name_for()
{
    local text=$1 hash=0 i word
    local n=${#text}
    local padded=$n
    while [ $((padded % 4)) -ne 0 ]; do padded=$((padded + 1)); done
    for ((i = 0; i < padded; i += 4)); do
        word=0
        local k c
        for k in 0 1 2 3; do
            c=0
            if [ $((i + k)) -lt "$n" ]; then
                c=$(printf '%d' "'${text:$((i + k)):1}")
            fi
            word=$((word | (c << (8 * k))))
        done
        hash=$((hash ^ word))
    done
    echo "HOLVSVCE_SHUTDOWN:$hash"
}

# --- Checks -----------------------------------------------------------------

pass()
{
    CHECKS=$((CHECKS + 1))
    echo "ok   - $*"
}

fail()
{
    CHECKS=$((CHECKS + 1))
    FAILS=$((FAILS + 1))
    echo "FAIL - $*"
}

# check DESCRIPTION COMMAND...: passes when the command succeeds.
check()
{
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

expect_eq()
{
    if [ "$2" = "$3" ]; then
        pass "$1: $3"
    else
        fail "$1: expected '$2', got '$3'"
    fi
}

# elapsed FROM TO: seconds from one watch time to another (decimals).
elapsed()
{
    awk -v a="$1" -v b="$2" 'BEGIN {print b - a}'
}

# expect_between DESCRIPTION LOW HIGH VALUE (decimals allowed)
expect_between()
{
    if awk -v l="$2" -v h="$3" -v v="$4" 'BEGIN {exit !(v != "" && v >= l && v <= h)}'; then
        pass "$1: $4 (within $2..$3)"
    else
        fail "$1: '$4' not within $2..$3"
    fi
}

finish()
{
    if [ "$FAILS" -eq 0 ]; then
        echo "PASSED $SCENARIO: $CHECKS checks"
        exit 0
    fi
    echo "FAILED $SCENARIO: $FAILS of $CHECKS checks"
    echo "--- wine output (tail)"
    tail -n 20 "$WORK/wine.out" 2>/dev/null
    exit 1
}
