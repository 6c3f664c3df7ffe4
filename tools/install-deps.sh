#!/bin/bash
# Installs what the build and the tests need on Debian 12: CMake, the i686
# and x86_64 mingw-w64 cross compilers (posix threads), Wine with its own
# fonts (fonts-wine, which Wine only recommends): the 64-bit loader always,
# the 32-bit one (wine32:i386) where this host starts 32-bit programs, Xvfb,
# GoogleTest sources, cppcheck, ImageMagick for the pictures, Python for the
# generators and checkers, and the signing tools of a release (osslsigncode,
# openssl), and the Japanese locale ja_JP.UTF-8 (Debian's locales) that the
# double-byte tests run Wine in. Quick when everything is there.
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
      googletest cppcheck imagemagick osslsigncode openssl python3 locales"
[ "${SKYRIFT_HOST32:-1}" = 0 ] || PKGS="$PKGS wine32:i386"
for p in $PKGS; do
    have_pkg "$p" || need+=("$p")
done
# the compilers and the wine loaders are what actually matter
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
[ -d /usr/src/googletest/googletest ] || need+=(googletest)

# Wine takes a program's ANSI code page from its locale: the double-byte
# tests run in ja_JP.UTF-8 (code page 932), which glibc must have generated.
# It is enabled in /etc/locale.gen, as Debian's locales does it, and only
# that locale is generated; the others stay as they are.
japanese_locale() {
    locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8' && return
    echo "install-deps: generating the locale ja_JP.UTF-8"
    grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null ||
        echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen --keep-existing >/dev/null
}

if [ ${#need[@]} -eq 0 ]; then
    japanese_locale
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
japanese_locale
echo "install-deps: done"
