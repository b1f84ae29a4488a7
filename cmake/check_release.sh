# Checks the release as someone who receives it would: two clones of HEAD in
# two folders, built one after the other, give the same SHA256SUMS; a release
# signed with a throwaway CA's code-signing certificate verifies in every
# program and DLL inside both ZIPs and both packages and in each package; one
# changed byte in a signed program fails the check.
# Usage: bash check_release.sh SOURCE_TREE SCRATCH
set -u
src=$1 scratch=$2
fail() { echo "FAIL - $*"; exit 1; }
rm -rf "$scratch" && mkdir -p "$scratch" || fail "cannot make $scratch"
commit=$(git -C "$src" rev-parse HEAD) || fail "$src is not a git checkout"

for clone in a b; do
    git clone -q --no-checkout "$src" "$scratch/$clone-clone" &&
        git -C "$scratch/$clone-clone" checkout -q "$commit" || fail "cannot clone $commit"
done
# Built one after the other: a second or more apart, in folders of other names.
for clone in a b; do
    bash "$scratch/$clone-clone/scripts/release.sh" "$scratch/$clone" >"$scratch/$clone.log" 2>&1 ||
        { tail -30 "$scratch/$clone.log"; fail "the unsigned release in clone $clone failed"; }
done
grep -qx "unsigned release: no HOLV_SIGN_PFX or PKCS#11 key given" "$scratch/a.log" ||
    fail "an unsigned release does not say so"
[ "$(ls "$scratch/a" | grep -cE '\.(zip|msi)$')" = 4 ] || fail "not two ZIPs and two packages: $(ls "$scratch/a")"
cmp -s "$scratch/a/SHA256SUMS" "$scratch/b/SHA256SUMS" ||
    { diff "$scratch/a/SHA256SUMS" "$scratch/b/SHA256SUMS"; fail "two builds of $commit differ"; }
(cd "$scratch/b" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match its files"
echo "same bytes from two clones of $commit:"
sed 's/^/    /' "$scratch/a/SHA256SUMS"

# A throwaway CA and a code-signing certificate it issued.
pki=$scratch/pki
mkdir -p "$pki"
{
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 2 \
        -subj "/CN=HOLV release check CA" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign,cRLSign &&
    openssl req -newkey rsa:2048 -nodes -keyout "$pki/sign.key" -out "$pki/sign.csr" \
        -subj "/CN=HOLV release check signer" &&
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$pki/ext" &&
    openssl x509 -req -in "$pki/sign.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial \
        -days 2 -extfile "$pki/ext" -out "$pki/sign.pem" &&
    openssl pkcs12 -export -inkey "$pki/sign.key" -in "$pki/sign.pem" -certfile "$pki/ca.pem" \
        -passout pass:check-only -out "$pki/sign.pfx"
} >"$pki/log" 2>&1 || { cat "$pki/log"; fail "openssl could not make the certificates"; }

# Signed, from clone b's build folders (their objects are reused).
HOLV_SIGN_PFX=$pki/sign.pfx HOLV_SIGN_PASSWORD=check-only \
    bash "$scratch/b-clone/scripts/release.sh" "$scratch/signed" >"$scratch/signed.log" 2>&1 ||
    { tail -30 "$scratch/signed.log"; fail "the signed release failed"; }
grep -q "unsigned release" "$scratch/signed.log" && fail "a signed release says it is unsigned"

verify() {
    osslsigncode verify -CAfile "$pki/ca.pem" -in "$1" >"$1.verify" 2>&1 &&
        grep -q "^Signature verification: ok" "$1.verify"
}
files=()
for zipfile in "$scratch"/signed/*.zip; do
    mkdir -p "$scratch/x/$(basename "$zipfile")" &&
        unzip -q "$zipfile" -d "$scratch/x/$(basename "$zipfile")" || fail "cannot unzip $zipfile"
done
for msi in "$scratch"/signed/*.msi; do
    mkdir -p "$scratch/x/$(basename "$msi")"
    msiextract -C "$scratch/x/$(basename "$msi")" "$msi" >/dev/null || fail "cannot extract $msi"
    # The package's actions travel in its Binary table, not as a file.
    msiinfo extract "$msi" Binary.HolvMsi >"$scratch/x/$(basename "$msi")/HOLVMSI.DLL" ||
        fail "no HOLVMSI.DLL in $msi"
    files+=("$msi")
done
pes=()
while IFS= read -r -d '' pe; do
    pes+=("$pe")
done < <(find "$scratch/x" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | sort -z)
files+=("${pes[@]}")
# Each ZIP holds 4 programs, each package 3 and the DLL.
[ ${#files[@]} = 18 ] || fail "${#files[@]} signed files found, not 16 programs and DLLs and 2 packages"
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct "$commit")}
for f in "${files[@]}"; do
    verify "$f" || { cat "$f.verify"; fail "${f#$scratch/} does not verify"; }
    echo "verified: ${f#$scratch/}"
done
python3 "$src/cmake/pe_stamp.py" check "$epoch" "${pes[@]}" ||
    fail "a signed program's time stamp or checksum is wrong"

# The signed programs are the unsigned ones with a signature added.
for pe in $(find "$scratch/x" -path '*.zip/*' -type f -name '*.EXE'); do
    osslsigncode remove-signature -in "$pe" -out "$pe.plain" >/dev/null 2>&1 ||
        fail "cannot take the signature off ${pe#$scratch/}"
    unzip -p "$scratch/a/$(basename "$(dirname "$(dirname "$pe")")")" \
        "${pe#$(dirname "$(dirname "$pe")")/}" >"$pe.unsigned" || fail "${pe#$scratch/} not in the unsigned ZIP"
    cmp -s "$pe.plain" "$pe.unsigned" || fail "${pe#$scratch/} without its signature is not the unsigned program"
done

# One byte changed in a signed program's code.
tampered=$scratch/tampered.exe
cp "$(find "$scratch/x" -name HOLVSVC.EXE | head -1)" "$tampered"
byte=$(od -An -tu1 -j1024 -N1 "$tampered" | tr -d ' ')
printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" | dd of="$tampered" bs=1 seek=1024 conv=notrunc status=none
verify "$tampered" && fail "a program with one byte changed still verifies"
echo "one byte changed at 1024: $(grep -m1 -iE 'mismatch|failed' "$tampered.verify")"
echo "PASSED: identical unsigned releases; ${#files[@]} signed files verify; a changed byte does not"
