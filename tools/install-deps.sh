#!/bin/bash
# Installs what the build and the tests need on Debian 12: CMake, the i686
# mingw-w64 cross compiler (posix threads), 32-bit Wine with its own fonts
# (fonts-wine, which Wine only recommends), Xvfb, GoogleTest sources,
# cppcheck, ImageMagick for the pictures, Python for the generators and
# checkers, and the signing tools of a release (osslsigncode, openssl).
# Quick when everything is there.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

PKGS="cmake g++ g++-mingw-w64-i686-posix wine32:i386 wine fonts-wine xvfb googletest cppcheck imagemagick osslsigncode openssl python3"
for p in $PKGS; do
    have_pkg "$p" || need+=("$p")
done
# the compiler binary and the wine loader are what actually matter
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
[ -d /usr/src/googletest/googletest ] || need+=(googletest)

if [ ${#need[@]} -eq 0 ]; then
    echo "install-deps: everything present"
    exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "install-deps: installing ${need[*]}"

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi

# The security mirror's i386 index sometimes fails to download; apt then
# cannot pair i386 libraries with the installed amd64 ones. Taking the
# main archive's versions for the install avoids the mismatch.
PIN=/etc/apt/preferences.d/90-skyrift-security-low
if [ ! -f "$PIN" ]; then
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 90\n' | $SUDO tee "$PIN" >/dev/null
fi

$SUDO apt-get update -o Acquire::Retries=3 || echo "install-deps: apt-get update reported errors; trying anyway"
$SUDO apt-get install -y --no-install-recommends -o Acquire::Retries=3 "${need[@]}"
echo "install-deps: done"
