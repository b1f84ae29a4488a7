# HOLVCHK's audit of who may change what the service runs, under Wine, where
# a file's DACL comes from its Unix permission bits: "other" write gives
# Everyone modify. The service's folder, then its INI file, then the -e
# target's folder are made writable by others in turn: HOLVCHK must name
# Everyone and that object and end with exit code 3 (for the folder above
# the target's: that the target's folder can be renamed and built again), and the host must start
# the same worker the same way as with every bit at 755, where HOLVCHK finds
# nothing and ends with 0. HOLVCHK itself changes no byte and no bit.
. "$(dirname "$0")/lib.sh"
begin_scenario
cp "$BIN_DIR/HOLVCHK.EXE" "$(cdir TOOLS)/"

install_host QuenraService ACC
install_worker ACC
write_ini ACC '-eC:\RUNX\IN\W.EXE -t60'
mkdir -p "$(cdir RUNX)/IN"
# The target as old as the local copy: no refresh, the same start each time.
cp -p "$(cdir ACC)/HOLV32IP.EXE" "$(cdir RUNX)/IN/W.EXE"
chmod 755 "$(cdir ACC)" "$(cdir RUNX)" "$(cdir RUNX)/IN"
chmod 644 "$(cdir ACC)/HOLV32.INI"

# Modes, sizes and contents of everything the layout holds, as one sum.
snapshot()
{
    (cd "$WINEPREFIX/drive_c" && find ACC RUNX ! -name HOLV32.LOG ! -name HOLV32IP.TXT -exec stat -c '%n %a %s %Y' {} + |
        sort && find ACC RUNX -type f ! -name HOLV32.LOG ! -name HOLV32IP.TXT -exec sha1sum {} + | sort) | md5sum
}

# One start and stop; the log's messages of it, in one line.
host_run()
{
    rm -f "$(cdir ACC)/HOLV32.LOG" "$(cdir ACC)/HOLV32IP.TXT"
    svcctl start QuenraService >/dev/null
    svcctl wait QuenraService RUNNING 20 >/dev/null
    svcctl control QuenraService 1 >/dev/null
    svcctl wait QuenraService STOPPED 20 >/dev/null
    echo "$(log_messages ACC | paste -sd '|') worker:$(record_of ACC | grep -cx started)"
}

baseline=$(host_run)
expect_eq "the host at 755" \
    "Starting service QuenraService|Service starting C:\\RUNX\\IN\\W.EXE using inifile HOLV32.INI|Service stop request received|Service stopped worker:1" \
    "$baseline"

# what | made writable by others (under C:\) | the object HOLVCHK must name
rows="at 755||
the service's folder|ACC|the service's folder C:\\ACC
the INI file|ACC/HOLV32.INI|the INI file C:\\ACC\\HOLV32.INI
the -e target's folder|RUNX/IN|the program's folder C:\\RUNX\\IN
the folder above it|RUNX|the folder on the way C:\\RUNX
at 755 again||"
while IFS='|' read -r what writable object; do
    [ -n "$writable" ] && chmod o+w "$WINEPREFIX/drive_c/$writable"
    before=$(snapshot)
    wine_out "$WORK/check.out" 'C:\TOOLS\HOLVCHK.EXE' QuenraService
    status=$?
    tr -d '\r' <"$WORK/check.out" >"$WORK/check.txt"
    expect_eq "$what: HOLVCHK changes nothing" "$before" "$(snapshot)"
    findings=$(grep '^access: ' "$WORK/check.txt")
    if [ -z "$writable" ]; then
        expect_eq "$what: exit code" 0 "$status"
        expect_eq "$what: access findings" "" "$findings"
    else
        expect_eq "$what: exit code" 3 "$status"
        expect_eq "$what: access findings" 1 "$(echo "$findings" | wc -l)"
        check "$what: HOLVCHK names Everyone on $object" grep -qF "access: $object: Everyone (S-1-1-0) may " \
            "$WORK/check.txt"
        check "$what: the verdict says so" grep -q 'but a non-administrator can choose what it runs (1 access finding, ' \
            "$WORK/check.txt"
    fi
    expect_eq "$what: the host does as at 755" "$baseline" "$(host_run)"
    [ -n "$findings" ] && echo "     $findings"
    [ "$FAILS" -eq 0 ] || sed 's/^/      | /' "$WORK/check.txt"
    [ -n "$writable" ] && chmod o-w "$WINEPREFIX/drive_c/$writable"
done <<<"$rows"

finish
