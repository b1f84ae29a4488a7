#!/usr/bin/env bash
# Benchmark figures, printed, not checked: start and stop times under Wine
# next to the floors the host's fixed pauses set, the i686 exe's size and
# imports, and the allocator references in the host's own code.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
RUNS=${HOLV_BENCH_RUNS:-20}

echo "--- building windows-x64 (runs under Wine) and windows-x86 (the product)"
for preset in windows-x64 windows-x86; do
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" --parallel >/dev/null || {
        echo "build $preset failed"; exit 1; }
done

echo
echo "=== the i686 HOLVSVC.EXE"
exe=build/windows-x86/HOLVSVC.EXE
echo "size: $(stat -c %s "$exe") bytes"
i686-w64-mingw32-objdump -p "$exe" | awk '
    /DLL Name:/ {dll = $3; order[++n] = dll; count[dll] = 0; names[dll] = ""; next}
    dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {count[dll]++; names[dll] = names[dll] " " $NF; next}
    dll != "" && /^$/ && count[dll] > 0 {dll = ""}
    END {for (i = 1; i <= n; i++) printf "imports %s: %d functions:%s\n", order[i], count[order[i]], names[order[i]]}' | fold -s -w 100

echo
echo "=== allocator references in the host's own code (goal: none)"
heap_count()
{
    local out
    out=$(bash tests/no_heap.sh "$1" "$2")
    echo "$out" | sed 's/^/  /'
    echo "  count: $(echo "$out" | grep -vc -e '^ok:' -e '^FAIL:')"
}
heap_count i686-w64-mingw32-nm build/windows-x86/libholvhost.a
# The exe as a whole also holds the C runtime's start-up code, which may.
echo "  allocators the i686 exe imports (C runtime included):" \
    "$(i686-w64-mingw32-objdump -p "$exe" | awk '{print $NF}' | grep -xE '(malloc|calloc|realloc|free|_strdup|strdup)' | sort -u | tr '\n' ' ')"
if [ -f build/native/libholvhost.a ]; then
    heap_count nm build/native/libholvhost.a
else
    echo "  (no native build; cmake --preset native && cmake --build --preset native)"
fi

echo
echo "=== start and stop under Wine, $RUNS runs (64-bit build)"
# The scenarios' helpers give a prefix copied from a booted template, the
# keeper process and the clean-up at the end.
set -- "$root/build/windows-x64" "$root/build/bench"
. tests/wine/lib.sh
begin_scenario >/dev/null
install_host QuenraService BENCH >/dev/null
install_worker BENCH
write_ini BENCH "-t300"
# The stops are spread over one second after running, so that they meet the
# host's one-second check at every phase.
svcctl cycle QuenraService "$RUNS" 30 1000 >"$WORK/cycles.txt"
tr -d '\r' <"$WORK/cycles.txt" | grep -v '^cycle '
echo "floors: start to running >= 0.100 s (one 100 ms pause before the first handle attempt);"
echo "        stop to stopped >= 1 s and <= 2 s while the worker ends within a second of the event"
echo "        (up to 1 s until the host sees the stop, then 1 s steps until it sees the worker gone)"
