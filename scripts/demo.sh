#!/usr/bin/env bash
# Demonstration under Wine: builds HOLVSVC.EXE, the example worker and
# SVCCTL.EXE, installs QuenraService in C:\SVC of a fresh Wine prefix, starts
# it, shows each status change as it happens, stops it, and prints HOLV32.LOG
# and the worker's own record.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh || exit 1
echo "--- building (windows-x64: the build 64-bit Wine runs)"
cmake --preset windows-x64 >/dev/null && cmake --build --preset windows-x64 --parallel >/dev/null || {
    echo "build failed"; exit 1; }
bin=$root/build/windows-x64

wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || { echo "64-bit Wine not found at $wine64"; exit 1; }
demo=$root/build/demo
export WINEPREFIX=$demo/pfx WINELOADER=$wine64 WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
# Wine's output goes to a file: its server would hold a pipe open for ever.
wine() { "$wine64" "$@" >>"$demo/wine.out" 2>&1; }
svcctl() { "$wine64" 'C:\TOOLS\SVCCTL.EXE' "$@" 2>>"$demo/wine.out" >"$demo/svcctl.out"; local c=$?; tr -d '\r' <"$demo/svcctl.out"; return $c; }
trap '"$WINESERVER" -k >/dev/null 2>&1; wait 2>/dev/null' EXIT

rm -rf "$demo" && mkdir -p "$demo"
echo "--- booting a fresh Wine prefix: $WINEPREFIX"
begin=$SECONDS
wine wineboot -i
# Let the first session end: services created while the new prefix is still
# settling can go missing.
"$WINESERVER" -w
echo "booted in $((SECONDS - begin)) s"

svc=$WINEPREFIX/drive_c/SVC
# Writable by its owner alone: under Wine that is a DACL without "Everyone may modify".
mkdir -p -m 755 "$svc" "$WINEPREFIX/drive_c/TOOLS"
cp "$bin/HOLVSVC.EXE" "$bin/HOLV32IP.EXE" "$svc/"
cp "$bin/SVCCTL.EXE" "$WINEPREFIX/drive_c/TOOLS/"
# The worker's own options: end by itself after five minutes at the latest.
printf -- '-t300\r\n' >"$svc/HOLV32.INI"
echo "--- installing: sc create QuenraService binPath= C:\\SVC\\HOLVSVC.EXE type= own"
wine sc create QuenraService binPath= 'C:\SVC\HOLVSVC.EXE' type= own || { echo "sc create failed"; exit 1; }

echo "--- status changes (seconds since the watch began)"
"$wine64" 'C:\TOOLS\SVCCTL.EXE' watch QuenraService 60 >"$demo/watch.txt" 2>>"$demo/wine.out" &
watch=$!
until [ -s "$demo/watch.txt" ]; do sleep 0.1; done
tail -n +1 -f --pid="$watch" "$demo/watch.txt" | sed -u 's/\r$//' &
shown=$!

svcctl start QuenraService >/dev/null || { svcctl start QuenraService; exit 1; }
svcctl wait QuenraService RUNNING 20 >/dev/null
sleep 2
echo "--- query while running"
svcctl query QuenraService
echo "--- stop (ControlService, code 1)"
svcctl control QuenraService 1
wait "$watch"
wait "$shown"

echo "--- C:\\SVC\\HOLV32.LOG"
tr -d '\r' <"$svc/HOLV32.LOG"
echo
echo "--- C:\\SVC\\HOLV32IP.TXT (the worker's record)"
tr -d '\r' <"$svc/HOLV32IP.TXT"
echo "--- done in $SECONDS s"
