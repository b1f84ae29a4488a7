# Started from a console rather than by the service manager: the dispatcher
# fails (1063) and that is logged in the executable's directory, or in the
# console's directory when the program was named without one. Wine takes about
# ten seconds to give up, so both runs go side by side.
. "$(dirname "$0")/lib.sh"
begin_scenario

mkdir -p "$(cdir CON)" "$(cdir CON2)" "$(cdir ELSEWHERE)"
cp "$BIN_DIR/HOLVSVC.EXE" "$(cdir CON)/"
cp "$BIN_DIR/HOLVSVC.EXE" "$(cdir CON2)/"

(cd "$(cdir ELSEWHERE)" && "$WINE64" 'C:\CON\HOLVSVC.EXE' >>"$WORK/wine.out" 2>&1) &
by_path=$!
(cd "$(cdir CON2)" && "$WINE64" HOLVSVC.EXE >>"$WORK/wine.out" 2>&1) &
by_name=$!
wait $by_path
check "run by full path ended by itself" true
wait $by_name
check "run by bare name ended by itself" true

expect_log CON "Failed to start Service Control Dispatcher, reason=1063"
check "nothing logged in the console's directory" [ ! -e "$(cdir ELSEWHERE)/HOLV32.LOG" ]
expect_log CON2 "Failed to start Service Control Dispatcher, reason=1063"

finish
