# HOLVCHK against the host under Wine's service manager, layout by layout:
# the check runs first and must leave every folder byte-identical; then the
# host starts on the same layout. Both must name the same INI file and the
# same program, and the check's exit status must be 0 exactly when the host
# started the worker, with the host's error when it did not.
# Left out, because Wine's process start differs from Windows' there: a bare
# name without an extension (Wine also runs a file "nd"; Windows looks only
# for nd.exe).
# Wine takes file names from the unix side in UTF-8; the texts compared here
# are the programs' own bytes, read with LC_ALL=C.
export LC_ALL=C.UTF-8
. "$(dirname "$0")/lib.sh"
begin_scenario
# An immutable log is made so again only through its layout.
# The scenario's own status must reach end_wine past the chattr.
trap 'status=$?; chattr -i "$(cdir CHK)/HOLV32.LOG" 2>/dev/null; (exit $status); end_wine' EXIT
cp "$BIN_DIR/HOLVCHK.EXE" "$WINEPREFIX/drive_c/TOOLS/"

LONG=$(long_dir 247)
COMPUTER=$(hostname | tr '[:lower:]' '[:upper:]')
install_host QuenraService CHK
install_host KORVIClient CHKI interactive
install_host PlunwickClient "$LONG"
C=$WINEPREFIX/drive_c
OLD=2020-01-01 NEW=2030-01-01

# ini DIR FILE TEXT: an INI file (printf escapes allowed) in C:\DIR.
ini() { printf -- "$3" >"$(cdir "$1")/$2"; }

# Each layout starts from a folder with HOLVSVC.EXE and the worker only.
layout()
{
    local d=$1 D
    D=$(cdir "$d")
    chattr -i "$D/HOLV32.LOG" 2>/dev/null
    find "$D" -mindepth 1 -maxdepth 1 ! -name HOLVSVC.EXE -exec rm -rf {} +
    rm -rf "$C/RUN" "$C/RUN DIR" "$C/NOPE"
    install_worker "$d"
    case $2 in
    plain) ini "$d" HOLV32.INI '-t60\r\n' ;;
    no_ini) ;;
    service_ini) ini "$d" QuenraService.ini '-t60\r\n'; ini "$d" HOLV32.INI '-eX.EXE\r\n' ;;
    computer_ini) ini "$d" "$COMPUTER.ini" '-t60\r\n' ;;
    service_ini_folder) mkdir "$D/QuenraService.ini"; ini "$d" "$COMPUTER.ini" '-t60\r\n' ;;
    copy_to_run) mkdir "$C/RUN"; ini "$d" HOLV32.INI '-eC:\\RUN\\W.EXE -t60\r\n' ;;
    copy_to_missing_folder) ini "$d" HOLV32.INI '-eC:\\NOPE\\W.EXE -t60\r\n' ;;
    own_program_older)
        mkdir "$C/RUN"; cp "$BIN_DIR/SVCCTL.EXE" "$C/RUN/W.EXE"; touch -d $OLD "$C/RUN/W.EXE"
        ini "$d" HOLV32.INI '-eC:\\RUN\\W.EXE -t60\r\n' ;;
    target_newer)
        mkdir "$C/RUN"; cp "$BIN_DIR/HOLV32IP.EXE" "$C/RUN/W.EXE"; touch -d $NEW "$C/RUN/W.EXE"
        ini "$d" HOLV32.INI '-eC:\\RUN\\W.EXE -t60\r\n' ;;
    target_newer_no_program)
        mkdir "$C/RUN"; echo text >"$C/RUN/W.EXE"; touch -d $NEW "$C/RUN/W.EXE"
        ini "$d" HOLV32.INI '-eC:\\RUN\\W.EXE -t60\r\n' ;;
    target_without_local)
        rm "$D/HOLV32IP.EXE"; mkdir "$C/RUN"; cp "$BIN_DIR/HOLV32IP.EXE" "$C/RUN/W.EXE"
        ini "$d" HOLV32.INI '-eC:\\RUN\\W.EXE -t60\r\n' ;;
    quoted_space) mkdir "$C/RUN DIR"; ini "$d" HOLV32.INI '-e"C:\\RUN DIR\\W.EXE" -t60\r\n' ;;
    unquoted_space) mkdir "$C/RUN DIR"; ini "$d" HOLV32.INI '-eC:\\RUN DIR\\W.EXE -t60\r\n' ;;
    capital_e) ini "$d" HOLV32.INI '-EC:\\RUN\\W.EXE -t60\r\n' ;;
    two_e) ini "$d" HOLV32.INI '-eA.EXE -eB.EXE -t60\r\n' ;;
    empty_e) ini "$d" HOLV32.INI '-e -t60\r\n' ;;
    e_21st) ini "$d" HOLV32.INI "-t60$(printf ' -x%.0s' $(seq 19)) -eLATE.EXE\r\n" ;;
    e_past_255) ini "$d" HOLV32.INI "-t60 $(printf '%*s' 260 '') -eLATE.EXE\r\n" ;;
    unclosed_quote) ini "$d" HOLV32.INI '-t60 -q"x -eW.EXE\r\n' ;;
    word_minus) ini "$d" HOLV32.INI '-t60 ; pre-edit.exe\r\n' ;;
    line_over_79) ini "$d" HOLV32.INI "-e$(printf 'w%.0s' $(seq 62)).EXE -t60\r\n" ;;
    line_of_79) ini "$d" HOLV32.INI "-e$(printf 'w%.0s' $(seq 61)).EXE -t60\r\n" ;;
    bom) ini "$d" HOLV32.INI '\xef\xbb\xbf-t60\r\n' ;;
    ansi_path) mkdir "$C/RUN"; ini "$d" HOLV32.INI '-eC:\\RUN\\W\xfc.EXE -t60\r\n' ;;
    zero_byte) ini "$d" HOLV32.INI '-t60 \0 -eZ.EXE\r\n' ;;
    no_worker) rm "$D/HOLV32IP.EXE"; ini "$d" HOLV32.INI '-t60\r\n' ;;
    log_immutable) ini "$d" HOLV32.INI '-t60\r\n'; printf '\r\nold' >"$D/HOLV32.LOG"; chattr +i "$D/HOLV32.LOG" ;;
    *) echo "unknown layout $2"; exit 1 ;;
    esac
}

# Every folder a layout touches, with sizes, times and contents.
snapshot()
{
    (cd "$C" && find CHK CHKI L247 RUN "RUN DIR" NOPE -exec stat -c '%n %s %Y %F' {} + 2>/dev/null | sort
        find CHK CHKI L247 RUN "RUN DIR" NOPE -type f -exec sha1sum {} + 2>/dev/null | sort)
}

# Starts NAME and waits for running, or for stopped when the start fails;
# a running service is stopped again.
run_host()
{
    svcctl start "$1" >/dev/null
    local i state=""
    for i in $(seq 100); do
        state=$(wine_out "$WORK/q.out" 'C:\TOOLS\SVCCTL.EXE' query "$1"; tr -d '\r' <"$WORK/q.out" | awk '{print $2}')
        [ "$state" = RUNNING ] || [ "$state" = STOPPED ] && break
        sleep 0.2
    done
    if [ "$state" = RUNNING ]; then
        svcctl control "$1" 1 >/dev/null
        svcctl wait "$1" STOPPED 20 >/dev/null
    fi
}

# name  folder  layout  [directory argument]; a finding a layout must show
declare -A shows=(
    [copy_to_missing_folder]="error: the copy to C:\\NOPE\\W.EXE will fail"
    [own_program_older]="warning: the start overwrites C:\\RUN\\W.EXE, whose bytes differ"
    [target_without_local]="warning: -e names C:\\RUN\\W.EXE, but there is no HOLV32IP.EXE"
    [word_minus]="warning: the option -edit.exe comes from inside the word pre-edit.exe"
    [unclosed_quote]="warning: an unclosed quote at character 6"
    [log_immutable]="warning: HOLV32.LOG cannot be opened for writing"
)
table="QuenraService CHK plain
QuenraService CHK no_ini
QuenraService CHK service_ini
QuenraService CHK computer_ini
QuenraService CHK service_ini_folder
QuenraService CHK copy_to_run
QuenraService CHK copy_to_missing_folder
QuenraService CHK own_program_older
QuenraService CHK target_newer
QuenraService CHK target_newer_no_program
QuenraService CHK target_without_local
QuenraService CHK quoted_space
QuenraService CHK unquoted_space
QuenraService CHK capital_e
QuenraService CHK two_e
QuenraService CHK empty_e
QuenraService CHK e_21st
QuenraService CHK e_past_255
QuenraService CHK unclosed_quote
QuenraService CHK word_minus
QuenraService CHK line_over_79
QuenraService CHK line_of_79
QuenraService CHK bom
QuenraService CHK ansi_path
QuenraService CHK zero_byte
QuenraService CHK no_worker
QuenraService CHK log_immutable
QuenraService CHK plain c:\\chk
KORVIClient CHKI plain
PlunwickClient $LONG plain"

rows=0 started_rows=0
while read -r name dir what arg; do
    rows=$((rows + 1))
    fails_before=$FAILS
    layout "$dir" "$what"
    before=$(snapshot)
    wine_out "$WORK/check.out" 'C:\TOOLS\HOLVCHK.EXE' "$name" ${arg:+"$arg"}
    status=$?
    LC_ALL=C tr -d '\r' <"$WORK/check.out" >"$WORK/check.txt"
    expect_eq "$what: the check changes nothing" "$before" "$(snapshot)"
    check_ini=$(LC_ALL=C sed -n 's/^INI file: //p' "$WORK/check.txt")
    check_program=$(LC_ALL=C sed -n 's/^Program: //p' "$WORK/check.txt")
    check_error=$(LC_ALL=C sed -n 's/.*would not start the worker, error \([0-9]*\).*/\1/p' "$WORK/check.txt")
    if [ -n "${shows[$what]:-}" ]; then
        check "$what: the check shows: ${shows[$what]}" grep -qF -- "${shows[$what]}" "$WORK/check.txt"
    fi

    run_host "$name"
    started=$(LC_ALL=C log_messages "$dir" | LC_ALL=C sed -n 's/^Service starting \(.*\) using inifile \(.*\)$/\1|\2/p')
    host_error=$(LC_ALL=C log_messages "$dir" | LC_ALL=C sed -n 's/.* not started! error=\([0-9]*\)$/\1/p')
    if [ -n "$started" ]; then
        expect_eq "$what: INI file" "${started#*|}" "$check_ini"
        expect_eq "$what: program" "${started%%|*}" "$check_program"
    else
        expect_eq "$what: no log to compare with" log_immutable "$what"
    fi
    if [ -z "$host_error" ] && record_of "$dir" | grep -qx started; then
        started_rows=$((started_rows + 1))
        expect_eq "$what: the host started the worker; the check says so" 0 "$status"
        expect_eq "$what: the worker's command line" "$(record_of "$dir" | LC_ALL=C sed -n 's/^command line: //p')" \
            "$(LC_ALL=C sed -n 's/^Command line: //p' "$WORK/check.txt")"
    else
        expect_eq "$what: the host did not start the worker; the check says so" "1 ${host_error:-?}" \
            "$status ${check_error:-?}"
    fi
    [ "$FAILS" -eq "$fails_before" ] || { sed 's/^/      | /' "$WORK/check.txt"; log_messages "$dir" | sed 's/^/      log: /'; }
done <<<"$table"

echo "layouts: $rows, the host started the worker in $started_rows"
check "at least 25 layouts, both outcomes among them" \
    [ "$rows" -ge 25 ] && [ "$started_rows" -gt 0 ] && [ "$started_rows" -lt "$rows" ]
finish
