# The package locks the folder it installs into, under Wine's msiexec, where
# a folder's DACL is its Unix permission bits. A folder made writable by
# others before the installation, with an administrator's INI file in it, is
# no longer so afterwards; the log says it had another DACL; the INI file
# keeps its bytes; HOLVCHK.EXE from the package finds nothing there and ends
# with 0. A folder that does not exist yet is created locked.
. "$(dirname "$0")/lib.sh"
begin_scenario

MSI=$(ls "$BIN_DIR"/holvsvc-*-x64.msi 2>/dev/null | head -n 1)
[ -f "$MSI" ] || { fail "package built (holvsvc-<version>-x64.msi)"; finish; }
cp "$MSI" "$(cdir TOOLS)/HOLV.MSI"

# msiexec LOG ARGS...: with a verbose log C:\TOOLS\LOG, CR removed into
# $WORK/LOG.
msiexec()
{
    local log=$1 code
    shift
    "$WINE64" msiexec "$@" /l*v "C:\\TOOLS\\$log" >>"$WORK/wine.out" 2>&1
    code=$?
    tr -d '\r' <"$(cdir TOOLS)/$log" >"$WORK/$log"
    return $code
}

other_write()
{
    [ $(( 0$(stat -c %a "$1") & 2 )) -ne 0 ] && echo writable || echo "not writable"
}

# dir | made before, writable by others | what the log says
rows="LOCKED|yes|HolvLockFolder: C:\\LOCKED already existed with another owner or DACL, O:
NEW\\SVC|no|HolvLockFolder: created C:\\NEW\\SVC with SYSTEM and Administrators full control"
while IFS='|' read -r dir before says; do
    folder=$(cdir "$dir")
    if [ "$before" = yes ]; then
        mkdir -p "$folder"
        chmod 777 "$folder"
        write_ini "$dir" "-t600"
        chmod 644 "$folder/HOLV32.INI"
        expect_eq "C:\\$dir before" writable "$(other_write "$folder")"
    fi
    ini_sum=$(sha256sum "$folder/HOLV32.INI" 2>/dev/null | cut -c1-16)
    msiexec install.log /i 'C:\TOOLS\HOLV.MSI' /qn SERVICENAME=QuenraService ADDLOCAL=ALL "INSTALLDIR=C:\\$dir\\"
    expect_eq "C:\\$dir: install exit code" 0 $?
    expect_eq "C:\\$dir after the installation, by others" "not writable" "$(other_write "$folder")"
    check "C:\\$dir: the log says: $says" grep -qF -- "$says" "$WORK/install.log"
    grep -F 'HolvLockFolder:' "$WORK/install.log" | sed 's/^/     /'
    [ "$before" = yes ] &&
        expect_eq "C:\\$dir: the administrator's HOLV32.INI" "$ini_sum" "$(sha256sum "$folder/HOLV32.INI" | cut -c1-16)"

    wine_out "$WORK/check.out" "C:\\$dir\\HOLVCHK.EXE" QuenraService
    status=$?
    tr -d '\r' <"$WORK/check.out" >"$WORK/check.txt"
    expect_eq "C:\\$dir: HOLVCHK's access findings" "" "$(grep '^access: ' "$WORK/check.txt")"
    expect_eq "C:\\$dir: HOLVCHK's exit code" 0 "$status"
    [ "$FAILS" -eq 0 ] || sed 's/^/      | /' "$WORK/check.txt"

    msiexec remove.log /x 'C:\TOOLS\HOLV.MSI' /qn
    expect_eq "C:\\$dir: uninstall exit code" 0 $?
done <<<"$rows"

# Folders the package refuses before any change (Wine 8 has no junctions):
# one on the way that others may rename and build again, and one that
# belongs to another Unix user (to Wine, not an administrator).
# dir | set-up | what the log says
refusals="PUB\\TOOLS\\SVC|mkdir -p $(cdir PUB)/TOOLS && chmod 777 $(cdir PUB) && chmod 755 $(cdir PUB)/TOOLS|C:\\PUB\\TOOLS can be renamed or deleted by users who are not administrators, who may also make a folder in C:\\PUB
OTHER|mkdir -p $(cdir OTHER) && chown nobody $(cdir OTHER)|C:\\OTHER belongs to someone who is not an administrator"
while IFS='|' read -r dir setup says; do
    eval "$setup"
    msiexec install.log /i 'C:\TOOLS\HOLV.MSI' /qn SERVICENAME=QuenraService ADDLOCAL=ALL "INSTALLDIR=C:\\$dir\\"
    expect_eq "C:\\$dir: refused (1603)" 67 $?
    check "C:\\$dir: the log says: $says" grep -qF -- "HolvInspect: refused, nothing changed: $says" "$WORK/install.log"
    expect_eq "C:\\$dir: no HOLVSVC.EXE" "" "$(ls "$(cdir "${dir//\\//}")/HOLVSVC.EXE" 2>/dev/null)"
    grep -F 'HolvInspect: refused' "$WORK/install.log" | sed 's/^/     /'
done <<<"$refusals"

finish
