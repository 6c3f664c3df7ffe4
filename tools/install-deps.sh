#!/bin/bash
# Installs what the build and the tests need on Debian 12: CMake, the i686
# and x86_64 mingw-w64 cross compilers (posix threads), Wine with its own
# fonts (fonts-wine, which Wine only recommends): the 64-bit loader always,
# the 32-bit one (wine32:i386) where this host starts 32-bit programs, Xvfb,
# GoogleTest sources, cppcheck, ImageMagick for the pictures, Python for the
# generators and checkers, and the signing tools of a release (osslsigncode,
# openssl). Quick when everything is there.
#
# SKYRIFT_HOST32=0 leaves the 32-bit Wine out (tools/common.sh sets it from
# its probe of this host).
#
# Nothing of this host's package configuration is changed for later: a pin
# this script needs applies to its own apt-get call only.
set -euo pipefail

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

# An earlier version of this script left a pin that kept every package of
# the machine off the security archive: it goes, once.
OLD_PIN=/etc/apt/preferences.d/90-skyrift-security-low
if [ -f "$OLD_PIN" ]; then
    $SUDO rm -f "$OLD_PIN"
    echo "install-deps: removed $OLD_PIN, left by an earlier version; security updates apply again"
fi

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

PKGS="cmake g++ g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 fonts-wine xvfb
      googletest cppcheck imagemagick osslsigncode openssl python3"
[ "${SKYRIFT_HOST32:-1}" = 0 ] || PKGS="$PKGS wine32:i386"
for p in $PKGS; do
    have_pkg "$p" || need+=("$p")
done
# the compilers and the wine loaders are what actually matter
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
[ -d /usr/src/googletest/googletest ] || need+=(googletest)

if [ ${#need[@]} -eq 0 ]; then
    echo "install-deps: everything present"
    exit 0
fi
echo "install-deps: installing ${need[*]}"

export DEBIAN_FRONTEND=noninteractive
if [[ " ${need[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi

$SUDO apt-get update -o Acquire::Retries=3 || echo "install-deps: apt-get update reported errors; trying anyway"
install() { $SUDO apt-get install -y --no-install-recommends -o Acquire::Retries=3 "$@" "${need[@]}"; }
if ! install; then
    # The security mirror's i386 index sometimes fails to download; apt then
    # cannot pair i386 libraries with the installed amd64 ones. Taking the
    # main archive's versions for this one install avoids the mismatch.
    pin=$(mktemp)
    trap 'rm -f "$pin"' EXIT
    # given in place of the main preferences file, whose own pins it keeps
    { cat /etc/apt/preferences 2>/dev/null && echo; true; } > "$pin"
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 90\n' >> "$pin"
    chmod 644 "$pin"
    echo "install-deps: retrying with the main archive's versions preferred, for this install only"
    install -o Dir::Etc::Preferences="$pin"
fi
echo "install-deps: done"
