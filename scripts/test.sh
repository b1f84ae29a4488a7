#!/usr/bin/env bash
# The whole check: dependencies, the three builds, then their tests (the
# simulated platform natively, PE headers of the 32-bit product, and the
# scenarios under Wine with the 64-bit build). Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

results=()
failed=0
step()
{
    local name=$1
    shift
    local begin=$SECONDS
    echo
    echo "=== $name"
    if "$@"; then
        results+=("ok      $name ($((SECONDS - begin)) s)")
    else
        results+=("FAILED  $name ($((SECONDS - begin)) s)")
        failed=1
    fi
}

step "install dependencies" bash scripts/install-deps.sh
for preset in native asan tsan windows-x86 windows-x64; do
    step "configure $preset" cmake --preset "$preset"
    step "build $preset" cmake --build --preset "$preset" --parallel
done
# ctest's output is kept beside each build, to count the tests at the end.
run_ctest()
{
    ctest --preset "$1" 2>&1 | tee "build/$1.ctest.out"
}
for preset in native asan tsan windows-x86 windows-x64; do
    step "test $preset" run_ctest "$preset"
done

echo
echo "=== summary"
printf '%s\n' "${results[@]}"
# Wine was installed above, so scenarios that skipped themselves for want of
# it mean a broken set-up, not a pass.
if [ -f build/windows-x64/Testing/Temporary/LastTest.log ] &&
    grep -q '^SKIPPED' build/windows-x64/Testing/Temporary/LastTest.log; then
    echo "FAILED  Wine scenarios skipped: Wine not found after installing it"
    failed=1
fi
# ctest's "N% tests passed, F tests failed out of T", summed over the presets.
totals=$(cat build/*.ctest.out 2>/dev/null |
    sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' |
    awk '{f += $1; t += $2} END {printf "%d %d", t - f, f}')
read -r passed failures <<<"${totals:-0 0}"
if [ "$failed" -ne 0 ]; then
    echo "RESULT: FAILED"
    echo "$passed passed, $failures failed"
    exit 1
fi
echo "RESULT: all passed"
echo "$passed passed, $failures failed"
