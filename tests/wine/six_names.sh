# All six service names installed over one HOLVSVC.EXE in C:\SVC, as an
# installation would have them; each starts the worker under its own name and
# stops again.
. "$(dirname "$0")/lib.sh"
begin_scenario

names="QuenraClient QuenraService KORVIService KORVIClient PlunwickService PlunwickClient"
for name in $names; do
    install_host "$name" SVC
    # An INI file per name, so each worker keeps a record of its own.
    printf -- '-t60 -r%s.TXT\r\n' "$name" >"$(cdir SVC)/$name.ini"
done
install_worker SVC

expected=()
for name in $names; do
    svcctl start "$name" >/dev/null
    svcctl wait "$name" RUNNING 20 >/dev/null
    check "$name reaches running" [ $? -eq 0 ]
    sleep 0.5
    svcctl control "$name" 1 >/dev/null
    svcctl wait "$name" STOPPED 20 >/dev/null
    check "$name stops" [ $? -eq 0 ]
    expect_record SVC "HOLVService: $name" "$name.TXT"
    expect_record SVC "command line: HOLV32IP.EXE $name.ini -c" "$name.TXT"
    expect_record SVC "ended: shutdown event, exit code 0" "$name.TXT"
    expected+=("Starting service $name" "Service starting HOLV32IP.EXE using inifile $name.ini"
        "Service stop request received" "Service stopped")
done
expect_log SVC "${expected[@]}"

finish
