# A service installed as interactive (type 0x110) starts its worker without
# " -c" on the command line.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host QuenraClient INT interactive
install_worker INT
write_ini INT "-t60"

svcctl start QuenraClient
svcctl wait QuenraClient RUNNING 20
check "reaches running" [ $? -eq 0 ]
svcctl query QuenraClient >"$WORK/q.txt"
check "reported type keeps the interactive bit: 0x110" grep -q 'RUNNING state=4 type=0x110 controls=0x5' "$WORK/q.txt"
sleep 1
svcctl control QuenraClient 1
svcctl wait QuenraClient STOPPED 20
check "stops" [ $? -eq 0 ]

expect_record INT "command line: HOLV32IP.EXE HOLV32.INI"
expect_record INT "HOLVService: QuenraClient"
expect_record INT "ended: shutdown event, exit code 0"
expect_log INT \
    "Starting service QuenraClient" \
    "Service starting HOLV32IP.EXE using inifile HOLV32.INI" \
    "Service stop request received" \
    "Service stopped"

finish
