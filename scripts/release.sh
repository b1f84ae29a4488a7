#!/usr/bin/env bash
# Builds the release of the checked-out commit: the 32-bit and the 64-bit ZIP
# and Windows Installer package, and SHA256SUMS, in build/release/. One commit
# gives the same bytes in any folder at any time (every date is
# SOURCE_DATE_EPOCH, by default the commit's time). Signed on request:
#   HOLV_SIGN_PFX [HOLV_SIGN_PASSWORD]                          a PKCS#12 file
#   HOLV_SIGN_PKCS11_MODULE HOLV_SIGN_PKCS11_KEY HOLV_SIGN_CERT  a token's key
#   HOLV_SIGN_TIMESTAMP_URL                                     optional
# Each program and the DLL are signed before they are packed, each package
# after it is built.
# Usage: bash scripts/release.sh [OUTPUT_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$root/build/release}" && cd "${1:-$root/build/release}" && pwd)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
# Dates in the ZIP and the cabinet are local times; names sort one way.
export TZ=UTC LC_ALL=C
umask 022
for tool in cmake cpack osslsigncode zip unzip sha256sum python3; do
    command -v "$tool" >/dev/null || { echo "release: $tool not found (scripts/install-deps.sh)" >&2; exit 1; }
done

sign=()
secret=""
trap 'rm -f "$secret"' EXIT
if [ -n "${HOLV_SIGN_PFX:-}" ]; then
    sign=(-pkcs12 "$HOLV_SIGN_PFX")
    if [ -n "${HOLV_SIGN_PASSWORD:-}" ]; then
        # From a file, not the command line, which every user can list.
        secret=$(mktemp)
        printf '%s' "$HOLV_SIGN_PASSWORD" >"$secret"
        sign+=(-readpass "$secret")
    fi
elif [ -n "${HOLV_SIGN_PKCS11_MODULE:-}" ] && [ -n "${HOLV_SIGN_PKCS11_KEY:-}" ] && [ -n "${HOLV_SIGN_CERT:-}" ]; then
    sign=(-pkcs11module "$HOLV_SIGN_PKCS11_MODULE" -key "$HOLV_SIGN_PKCS11_KEY" -certs "$HOLV_SIGN_CERT")
else
    echo "unsigned release: no HOLV_SIGN_PFX or PKCS#11 key given"
fi
if [ ${#sign[@]} -gt 0 ]; then
    echo "signed release: ${HOLV_SIGN_PFX:-PKCS#11 key $HOLV_SIGN_PKCS11_KEY}"
    if [ -n "${HOLV_SIGN_TIMESTAMP_URL:-}" ]; then
        sign+=(-ts "$HOLV_SIGN_TIMESTAMP_URL")
    else
        echo "warning: no HOLV_SIGN_TIMESTAMP_URL: the signatures end with the certificate"
    fi
fi
echo "release: commit $(git -C "$root" rev-parse HEAD)$(git -C "$root" diff --quiet HEAD 2>/dev/null || echo ' (with changes not committed: not reproducible)')"

# sign IN OUT: an Authenticode SHA-256 signature; IN and OUT may be one file.
sign_file() {
    local signed="$2.signing"
    rm -f "$signed"
    osslsigncode sign "${sign[@]}" -h sha256 -n "HOLV Service Host" -in "$1" -out "$signed" >"$signed.log" 2>&1 || {
        echo "release: signing $1 failed" >&2; cat "$signed.log" >&2; exit 1; }
    rm -f "$signed.log"
    mv -f "$signed" "$2"
}

# zip_again ZIP: the same files, in name order, each dated SOURCE_DATE_EPOCH,
# with fixed permissions and no owner or extra time fields.
zip_again() {
    local zipfile=$1 tmp
    tmp=$(mktemp -d)
    unzip -q "$zipfile" -d "$tmp"
    find "$tmp" -mindepth 1 -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
    find "$tmp" -mindepth 1 -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    rm -f "$zipfile"
    (cd "$tmp" && find . -mindepth 1 | sed 's|^\./||' | sort | zip -X -q -@ "$zipfile")
    rm -rf "$tmp"
}

rm -f "$out"/*.zip "$out"/*.msi "$out/SHA256SUMS"
for preset in windows-x86 windows-x64; do
    case $preset in
        windows-x86) toolchain=mingw-i686.cmake ;;
        windows-x64) toolchain=mingw-x86_64.cmake ;;
    esac
    dir=$root/build/release-$preset
    # A folder built before keeps its objects, but every program is linked
    # again (it may have been signed) and every package made again.
    mkdir -p "$dir"
    find "$dir" -maxdepth 3 \( -name '*.EXE' -o -name '*.DLL' -o -name '*.msi' -o -name '*.zip' \) -delete
    echo "release: $preset in $dir (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" -DCMAKE_BUILD_TYPE=MinSizeRel \
        -DHOLV_SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >"$dir.log" 2>&1 || { cat "$dir.log" >&2; exit 1; }
    programs=(holvsvc holvworker holvchk svcctl holvmsi)
    cmake --build "$dir" --parallel 2 --target "${programs[@]}" >>"$dir.log" 2>&1 || { tail -50 "$dir.log" >&2; exit 1; }
    files=("$dir/HOLVSVC.EXE" "$dir/HOLV32IP.EXE" "$dir/HOLVCHK.EXE" "$dir/SVCCTL.EXE" "$dir/msi/HOLVMSI.DLL")
    python3 "$root/cmake/pe_stamp.py" check "$SOURCE_DATE_EPOCH" "${files[@]}"
    if [ ${#sign[@]} -gt 0 ]; then
        for f in "${files[@]}"; do
            sign_file "$f" "$f"
        done
        # The checksum again, for the signed bytes; the signature leaves it out.
        python3 "$root/cmake/pe_stamp.py" "$SOURCE_DATE_EPOCH" "${files[@]}"
        # Newer than their objects, so the build below packs them as they are.
    fi
    # The packages from the signed programs (and only what they need: CPack
    # builds nothing more, as the install waits for no other target).
    cmake --build "$dir" --parallel 2 --target msi >>"$dir.log" 2>&1 || { tail -50 "$dir.log" >&2; exit 1; }
    (cd "$dir" && cpack -G ZIP >>"$dir.log" 2>&1) || { tail -50 "$dir.log" >&2; exit 1; }
    for zipfile in "$dir"/holvsvc-*.zip; do
        zip_again "$zipfile"
        cp "$zipfile" "$out/"
    done
    for msi in "$dir"/holvsvc-*.msi; do
        if [ ${#sign[@]} -gt 0 ]; then
            sign_file "$msi" "$out/$(basename "$msi")"
        else
            cp "$msi" "$out/"
        fi
    done
done
(cd "$out" && sha256sum -- *.zip *.msi >SHA256SUMS)
touch -d "@$SOURCE_DATE_EPOCH" "$out"/*
echo "release: $out"
cat "$out/SHA256SUMS"
