# Two services installed in one directory share one shutdown event: stopping
# one signals both workers, so the other service sees its worker end by itself.
. "$(dirname "$0")/lib.sh"
begin_scenario

install_host QuenraService SHR
install_host QuenraClient SHR
install_worker SHR
# Each worker keeps a record of its own.
printf -- '-t60 -rSERVICE.TXT\r\n' >"$(cdir SHR)/QuenraService.ini"
printf -- '-t60 -rCLIENT.TXT\r\n' >"$(cdir SHR)/QuenraClient.ini"

svcctl start QuenraService
svcctl wait QuenraService RUNNING 20
check "QuenraService running" [ $? -eq 0 ]
svcctl start QuenraClient
svcctl wait QuenraClient RUNNING 20
check "QuenraClient running" [ $? -eq 0 ]
sleep 1

svcctl control QuenraService 1
svcctl wait QuenraService STOPPED 20
check "QuenraService stopped" [ $? -eq 0 ]
svcctl wait QuenraClient STOPPED 20
check "QuenraClient stopped as well, without a stop request" [ $? -eq 0 ]

event=$(event_name_for 'C:\SHR')
expect_record SHR "event: $event (opened)" SERVICE.TXT
expect_record SHR "ended: shutdown event, exit code 0" SERVICE.TXT
expect_record SHR "event: $event (opened)" CLIENT.TXT
expect_record SHR "ended: shutdown event, exit code 0" CLIENT.TXT
check "no record under the default name" [ ! -e "$(cdir SHR)/HOLV32IP.TXT" ]
log=$(log_messages SHR)
echo "$log" | sed 's/^/      /'
expect_eq "stop requests logged" 1 "$(echo "$log" | grep -c '^Service stop request received$')"
expect_eq "worker seen ending by itself" 1 "$(echo "$log" | grep -c '^Service exited$')"
expect_eq "services stopped" 2 "$(echo "$log" | grep -c '^Service stopped$')"

finish
