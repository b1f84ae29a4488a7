#!/usr/bin/env bash
# Installs what building and testing need on Debian/Ubuntu: CMake, the host
# compilers and GoogleTest, MinGW-w64 for the Windows programs, 64-bit Wine to
# run them, wixl and msitools for the Windows Installer package, osslsigncode,
# openssl, zip and unzip for the release and its check. Safe to run
# again; does nothing when all is present.
set -euo pipefail

packages=(
    cmake make g++ clang libclang-rt-14-dev
    googletest libgtest-dev
    mingw-w64
    wine wine64
    wixl msitools
    osslsigncode openssl zip unzip git
    python3 coreutils e2fsprogs
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: need root or sudo for: ${missing[*]}" >&2; exit 1; }
    sudo="sudo -n"
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
