# HOLVCHK against the host under Wine's service manager, layout by layout:
# the check runs first and must leave every folder byte-identical; then the
# host starts on the same layout. Both must name the same INI file, the same
# program and the same copy with its error, and the check's exit status must
# be 0 exactly when the host started the worker, with the host's error when
# it did not. HOLVCHK predicts Windows: where Wine's start fails with another
# error than Windows' (wine_error below), the host must show Wine's and the
# check Windows'; README's Wine notes list these.
# Left out, because Wine's process start differs from Windows' there: a bare
# name without an extension (Wine also runs a file "nd"; Windows looks only
# for nd.exe), a folder named as the program (Wine 2, Windows 5), a drive
# letter that does not exist. A name with a path is taken exactly first by
# both (C:\RUN\W, then C:\RUN\W.exe), and so is an unquoted binary path's
# first prefix.
# Wine takes file names from the unix side in UTF-8; the texts compared here
# are the programs' own bytes, read with LC_ALL=C.
export LC_ALL=C.UTF-8
. "$(dirname "$0")/lib.sh"
begin_scenario
# An immutable log is made so again only through its layout; the script's
# own exit status is kept for end_wine.
trap 'status=$?; chattr -i "$(cdir CHK)/HOLV32.LOG" 2>/dev/null; (exit $status); end_wine' EXIT
cp "$BIN_DIR/HOLVCHK.EXE" "$WINEPREFIX/drive_c/TOOLS/"

LONG=$(long_dir 247)
COMPUTER=$(hostname | tr '[:lower:]' '[:upper:]')
install_host QuenraService CHK
install_host KORVIClient CHKI interactive
install_host PlunwickClient "$LONG"
C=$WINEPREFIX/drive_c
# D:, whose root is a service's folder.
DDRIVE=$WORK/ddrive
mkdir -p "$DDRIVE"
ln -s "$DDRIVE" "$WINEPREFIX/dosdevices/d:"
cp "$BIN_DIR/HOLVSVC.EXE" "$DDRIVE/"
wine_run sc create KORVIService binPath= 'D:\HOLVSVC.EXE' type= own
check "sc create KORVIService in D:\\" [ $? -eq 0 ]
OLD=2020-01-01 NEW=2030-01-01

# The unix folder of a table's folder: a name under C:\, or D: for D:\.
udir() { if [ "$1" = D: ]; then echo "$DDRIVE"; else cdir "$1"; fi; }

# ini DIR FILE TEXT: an INI file (printf escapes allowed) in the folder.
ini() { printf -- "$3" >"$(udir "$1")/$2"; }

# The host's log messages, stamps removed, a line end inside one as <0A>
# (as HOLVCHK shows it).
host_log()
{
    local file
    file="$(udir "$1")/HOLV32.LOG"
    [ -f "$file" ] || return
    tail -c +3 "$file" | awk 'BEGIN {RS = "\r\n"} {gsub(/\n/, "<0A>"); print substr($0, 16)}'
}

# Another program running C:\RUN\W.EXE, as another service's worker would,
# until the next layout: no copy can write over it.
BUSY=
run_busy()
{
    printf -- '-t900 -rC:\\RUN\\BUSY.TXT\r\n' >"$C/RUN/BUSY.INI"
    "$WINE64" 'C:\RUN\W.EXE' 'C:\RUN\BUSY.INI' >>"$WORK/wine.out" 2>&1 &
    BUSY=$!
    local i
    for i in $(seq 150); do
        grep -qs '^started' "$C/RUN/BUSY.TXT" && return
        sleep 0.1
    done
    echo "C:\RUN\W.EXE did not start"
}
stop_busy() { [ -z "$BUSY" ] || { kill "$BUSY"; wait "$BUSY"; } 2>/dev/null; BUSY=; }

# Comment lines of about 30 bytes, N of them.
comments() { local i; for i in $(seq "$1"); do printf '; a comment of the sample file\r\n'; done; }

# Each layout starts from a folder with HOLVSVC.EXE and the worker only.
layout()
{
    local d=$1 D
    D=$(udir "$d")
    stop_busy
    chattr -i "$D/HOLV32.LOG" 2>/dev/null
    find "$D" -mindepth 1 -maxdepth 1 ! -name HOLVSVC.EXE -exec rm -rf {} +
    rm -rf "$C/RUN" "$C/RUN DIR" "$C/NOPE"
    cp "$BIN_DIR/HOLV32IP.EXE" "$D/"
    case $2 in
    plain) ini "$d" HOLV32.INI '-t60\r\n' ;;
    no_ini) ;;
    service_ini) ini "$d" QuenraService.ini '-t60\r\n'; ini "$d" HOLV32.INI '-eX.EXE\r\n' ;;
    computer_ini) ini "$d" "$COMPUTER.ini" '-t60\r\n' ;;
    service_ini_folder) mkdir "$D/QuenraService.ini"; ini "$d" "$COMPUTER.ini" '-t60\r\n' ;;
    copy_to_run) mkdir "$C/RUN"; ini "$d" HOLV32.INI '-eC:\\RUN\\W.EXE -t60\r\n' ;;
    ntfs_stream) mkdir "$C/RUN"; ini "$d" HOLV32.INI '-eC:\\RUN\\W:1.EXE -t60\r\n' ;;
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
    bare_target) mkdir "$C/RUN"; ini "$d" HOLV32.INI '-eC:\\RUN\\W -t60\r\n' ;;
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
    invalid_star) mkdir "$C/RUN"; ini "$d" HOLV32.INI '-eC:\\RUN\\W*.EXE -t60\r\n' ;;
    invalid_bar) mkdir "$C/RUN"; ini "$d" HOLV32.INI '-eC:\\RUN\\W|.EXE -t60\r\n' ;;
    quote_over_line) mkdir "$C/RUN DIR"; ini "$d" HOLV32.INI '-e"C:\\RUN DIR\\W.EXE\r\n-a"x -t60\r\n' ;;
    quote_line_end) ini "$d" HOLV32.INI '-t60 -e"\r\n"\r\n' ;;
    not_a_program)
        mkdir "$C/RUN"; { printf 'MZ'; head -c 2000 /dev/zero | tr '\0' 'j'; } >"$C/RUN/W.EXE"
        touch -d $NEW "$C/RUN/W.EXE"; ini "$d" HOLV32.INI '-eC:\\RUN\\W.EXE -t60\r\n' ;;
    cut_short)
        mkdir "$C/RUN"; head -c 4096 "$BIN_DIR/HOLV32IP.EXE" >"$C/RUN/W.EXE"; touch -d $NEW "$C/RUN/W.EXE"
        ini "$d" HOLV32.INI '-eC:\\RUN\\W.EXE -t60\r\n' ;;
    local_folder_old_target)
        rm "$D/HOLV32IP.EXE"; mkdir "$D/HOLV32IP.EXE"
        mkdir "$C/RUN"; cp "$BIN_DIR/HOLV32IP.EXE" "$C/RUN/W.EXE"; touch -d $OLD "$C/RUN/W.EXE"
        ini "$d" HOLV32.INI '-eC:\\RUN\\W.EXE -t60\r\n' ;;
    local_folder_no_target)
        rm "$D/HOLV32IP.EXE"; mkdir "$D/HOLV32IP.EXE" "$C/RUN"; ini "$d" HOLV32.INI '-eC:\\RUN\\W.EXE -t60\r\n' ;;
    root_copy) ini "$d" HOLV32.INI '-eW.EXE -t60\r\n' ;;
    root_plain) ini "$d" HOLV32.INI '-t60\r\n' ;;
    option_past_510) mkdir "$C/RUN"; ini "$d" HOLV32.INI "-t60\r\n$(comments 25)-eC:\\\\RUN\\\\W.EXE\r\n" ;;
    target_in_use)
        mkdir "$C/RUN"; cp "$BIN_DIR/HOLV32IP.EXE" "$C/RUN/W.EXE"; touch -d $OLD "$C/RUN/W.EXE"; run_busy
        ini "$d" HOLV32.INI '-eC:\\RUN\\W.EXE -t60\r\n' ;;
    own_program_newer)
        mkdir "$C/RUN"; { cat "$BIN_DIR/HOLV32IP.EXE"; printf 'mine'; } >"$C/RUN/W.EXE"; touch -d $NEW "$C/RUN/W.EXE"
        ini "$d" HOLV32.INI '-eC:\\RUN\\W.EXE -t60\r\n' ;;
    *) echo "unknown layout $2"; exit 1 ;;
    esac
}

# Every folder a layout touches, with sizes, times and contents.
snapshot()
{
    (cd "$C" && find CHK CHKI L247 RUN "RUN DIR" NOPE -exec stat -c '%n %s %Y %F' {} + 2>/dev/null | sort
        find CHK CHKI L247 RUN "RUN DIR" NOPE -type f -exec sha1sum {} + 2>/dev/null | sort)
    (cd "$DDRIVE" && find . -exec stat -c '%n %s %Y %F' {} + | sort; find . -type f -exec sha1sum {} + | sort)
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
    [ntfs_stream]="warning: the -e path C:\\RUN\\W:1.EXE names the NTFS stream 1.EXE of the file C:\\RUN\\W"
    [own_program_older]="warning: the start overwrites C:\\RUN\\W.EXE, whose bytes differ"
    [target_without_local]="warning: -e names C:\\RUN\\W.EXE, but there is no HOLV32IP.EXE"
    [word_minus]="warning: the option -edit.exe comes from inside the word pre-edit.exe"
    [unclosed_quote]="warning: an unclosed quote at character 6"
    [log_immutable]="warning: HOLV32.LOG cannot be opened for writing"
    [unquoted_space]="warning: the -e path ends at the blank after C:\\RUN: the host takes C:\\RUN as the program and never reads DIR\\W.EXE"
    [invalid_star]="error: the copy to C:\\RUN\\W*.EXE will fail: no file name may hold"
    [invalid_bar]="error: the copy to C:\\RUN\\W|.EXE will fail: no file name may hold"
    [quote_over_line]="Command line: \"C:\\RUN DIR\\W.EXE<0A>-a\" HOLV32.INI -c"
    [quote_line_end]="error: the copy to <0A> will fail"
    [not_a_program]="error: C:\\RUN\\W.EXE is not a program Windows loads (it begins with MZ but has no valid PE header)"
    [cut_short]="error: C:\\RUN\\W.EXE is not a program Windows loads (it is cut short"
    [local_folder_old_target]="warning: the copy to C:\\RUN\\W.EXE will fail: HOLV32IP.EXE in the folder is a folder"
    [local_folder_no_target]="error: the copy to C:\\RUN\\W.EXE will fail: HOLV32IP.EXE in the folder is a folder"
    [root_copy]="note: the start finds the program as D:\\W.EXE"
    [bare_target]="note: the start finds the program as C:\\RUN\\W"
    [unquoted_space]="note: the start finds the program as C:\\RUN"
    [option_past_510]="bytes past byte 255 are never read; options there: -eC:\\RUN\\W.EXE"
    [own_program_newer]="warning: C:\\RUN\\W.EXE is not HOLV32IP.EXE (its bytes differ) and is kept for now"
    [target_in_use]="warning: the copy to C:\\RUN\\W.EXE will fail: it is in use"
)
# Where Wine's start ends otherwise than Windows': Wine's error (or
# "started"), then the one HOLVCHK predicts for Windows.
declare -A wine_error=(
    [invalid_star]="2 123"
    [invalid_bar]="2 123"
    [quote_over_line]="2 123"
    [not_a_program]="126 193"
    [copy_to_missing_folder]="2 3"
)
table="QuenraService CHK plain
QuenraService CHK no_ini
QuenraService CHK service_ini
QuenraService CHK computer_ini
QuenraService CHK service_ini_folder
QuenraService CHK copy_to_run
QuenraService CHK ntfs_stream
QuenraService CHK copy_to_missing_folder
QuenraService CHK own_program_older
QuenraService CHK target_newer
QuenraService CHK target_newer_no_program
QuenraService CHK target_without_local
QuenraService CHK bare_target
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
QuenraService CHK invalid_star
QuenraService CHK invalid_bar
QuenraService CHK quote_over_line
QuenraService CHK quote_line_end
QuenraService CHK not_a_program
QuenraService CHK cut_short
QuenraService CHK local_folder_old_target
QuenraService CHK local_folder_no_target
QuenraService CHK option_past_510
QuenraService CHK own_program_newer
QuenraService CHK target_in_use
QuenraService CHK plain c:\\chk
KORVIClient CHKI plain
KORVIService D: root_copy
KORVIService D: root_plain
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
    host_log "$dir" >"$WORK/log.txt"
    started=$(LC_ALL=C sed -n 's/^Service starting \(.*\) using inifile \(.*\)$/\1\x1f\2/p' "$WORK/log.txt")
    host_error=$(LC_ALL=C sed -n 's/.* not started! error=\([0-9]*\)$/\1/p' "$WORK/log.txt")
    if [ -n "$started" ]; then
        expect_eq "$what: INI file" "${started#*$'\x1f'}" "$check_ini"
        expect_eq "$what: program" "${started%%$'\x1f'*}" "$check_program"
    else
        expect_eq "$what: no log to compare with" log_immutable "$what"
    fi
    # The copy: made, failed with an error, or not tried.
    host_copy=$(LC_ALL=C sed -n 's/^New EXE detected, copied .*/0/p; s/^New EXE detected, copy from .* failed, reason=\([0-9]*\)$/\1/p' \
        "$WORK/log.txt")
    check_copy=$(grep -q 'refresh: before the start the host copies' "$WORK/check.txt" &&
        { LC_ALL=C sed -n 's/.*the copy to .* will fail: .*(error \([0-9]*\))$/\1/p' "$WORK/check.txt" | grep . || echo 0; })
    [ "$what" = log_immutable ] || expect_eq "$what: the copy (0: made)" "${host_copy:--}" "${check_copy:--}"
    record=$(tr -d '\r' <"$(udir "$dir")/HOLV32IP.TXT" 2>/dev/null)
    known=${wine_error[$what]:-}
    if [ -z "$host_error" ] && grep -qx started <<<"$record" && [ "${known% *}" = started ]; then
        started_rows=$((started_rows + 1))
        expect_eq "$what: Wine started what Windows does not; the check says Windows' error" "1 ${known#* }" \
            "$status ${check_error:-?}"
    elif [ -z "$host_error" ] && grep -qx started <<<"$record"; then
        started_rows=$((started_rows + 1))
        expect_eq "$what: the host started the worker; the check says so" 0 "$status"
        expect_eq "$what: the worker's command line" "$(LC_ALL=C sed -n 's/^command line: //p' <<<"$record")" \
            "$(LC_ALL=C sed -n 's/^Command line: //p' "$WORK/check.txt")"
    else
        windows_error=${host_error:-?}
        if [ -n "$known" ]; then
            expect_eq "$what: Wine's own start error" "${known% *}" "$host_error"
            windows_error=${known#* }
        fi
        expect_eq "$what: the host did not start the worker; the check says so" "1 $windows_error" \
            "$status ${check_error:-?}"
    fi
    [ "$FAILS" -eq "$fails_before" ] || { sed 's/^/      | /' "$WORK/check.txt"; sed 's/^/      log: /' "$WORK/log.txt"; }
done <<<"$table"
stop_busy

# Where no folder is checked: a file named as the folder (2); a binary path
# that names no file, as a shell leaves C:\SVC\HOLVSVC.EXE without quotes (1),
# with the error the service manager's start fails with.
wine_run sc create PlunwickService binPath= 'C:SVCHOLVSVC.EXE' type= own
check "sc create PlunwickService with C:SVCHOLVSVC.EXE" [ $? -eq 0 ]
svcctl start PlunwickService >/dev/null
expect_eq "Wine's start of PlunwickService" "start failed error=2" "$(tr -d '\r' <"$WORK/svcctl.out")"
# Unquoted with a blank: C:\No is tried first, and its error counts.
wine_run sc create QuenraClient binPath= 'C:\No Such\HOLVSVC.EXE' type= own
check "sc create QuenraClient with C:\No Such\HOLVSVC.EXE" [ $? -eq 0 ]
svcctl start QuenraClient >/dev/null
expect_eq "Wine's start of QuenraClient" "start failed error=2" "$(tr -d '\r' <"$WORK/svcctl.out")"
while IFS='|' read -r name arg expected shows; do
    wine_out "$WORK/check.out" 'C:\TOOLS\HOLVCHK.EXE' "$name" ${arg:+"$arg"}
    status=$?
    expect_eq "$name $arg: exit status" "$expected" "$status"
    check "$name $arg: the check shows: $shows" grep -qF -- "$shows" "$WORK/check.out"
done <<EOF
QuenraService|C:\\TOOLS\\KEEPER.INI|2|HOLVCHK: C:\\TOOLS\\KEEPER.INI is not a folder (error 267)
PlunwickService||1|looks for C:\\windows\\system32\\SVCHOLVSVC.EXE, but no such file; the start of PlunwickService fails with error 2
PlunwickService||1|Command line: none
PlunwickService||1|HOLVCHK: PlunwickService: the service manager would not start the host, error 2 (1 error, 0 warnings)
QuenraClient||1|looks for C:\\No.exe, but no such file; the start of QuenraClient fails with error 2
EOF

echo "layouts: $rows, the host started the worker in $started_rows"
check "at least 40 layouts, both outcomes among them" \
    [ "$rows" -ge 40 ] && [ "$started_rows" -gt 0 ] && [ "$started_rows" -lt "$rows" ]
finish
