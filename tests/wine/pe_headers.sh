# Checks a built Windows program's PE headers: machine, console subsystem, and
# that it imports only system DLLs, so it runs on a bare Windows install; and,
# when given, that the file is no larger than MAX_BYTES.
# Usage: bash pe_headers.sh OBJDUMP EXE MACHINE [MAX_BYTES]   (MACHINE: i386 or x86-64)
set -u
objdump=$1 exe=$2 machine=$3 max_bytes=${4:-}
fails=0
ok() { echo "ok   - $*"; }
bad() { echo "FAIL - $*"; fails=$((fails + 1)); }

[ -f "$exe" ] || { echo "FAIL - $exe missing"; exit 1; }
headers=$("$objdump" -p "$exe") || { echo "FAIL - $objdump cannot read $exe"; exit 1; }
arch=$("$objdump" -f "$exe" | sed -n 's/^architecture: \([^,]*\),.*/\1/p')

case "$machine" in
    i386) want_format=pei-i386 want_magic=PE32 ;;
    x86-64) want_format=pei-x86-64 want_magic=PE32+ ;;
    *) echo "unknown machine $machine"; exit 2 ;;
esac
if [ "$machine" = i386 ]; then want_arch=i386; else want_arch=i386:x86-64; fi

echo "$headers" | grep -q "file format $want_format\$" && ok "format $want_format" || bad "format is not $want_format"
[ "$arch" = "$want_arch" ] && ok "machine $arch" || bad "machine '$arch', expected $want_arch"
echo "$headers" | grep '^Magic' | grep -qF "($want_magic)" && ok "optional header $want_magic" || bad "optional header is not $want_magic"
echo "$headers" | grep -Eq '^Subsystem[[:space:]]+00000003[[:space:]]+\(Windows CUI\)' && ok "console subsystem" || bad "subsystem is not the console (3)"

dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:lower:]' '[:upper:]' | sort -u)
[ -n "$dlls" ] && ok "imports: $(echo $dlls)" || bad "no import table found"
# HOLVCHK.EXE also reads the members of the local Administrators group.
extra=
[ "$(basename "$exe")" = HOLVCHK.EXE ] && extra=NETAPI32.DLL
for dll in $dlls; do
    case "$dll" in
        KERNEL32.DLL | ADVAPI32.DLL | USER32.DLL | MSVCRT.DLL) ;;
        "$extra") ;;
        *) bad "imports $dll, beyond KERNEL32, ADVAPI32, USER32${extra:+, $extra} and msvcrt" ;;
    esac
done

if [ -n "$max_bytes" ]; then
    size=$(stat -c %s "$exe")
    [ "$size" -le "$max_bytes" ] && ok "size $size B (at most $max_bytes)" || bad "size $size B, over $max_bytes"
fi

if [ "$fails" -eq 0 ]; then echo "PASSED $(basename "$exe") ($machine)"; exit 0; fi
exit 1
