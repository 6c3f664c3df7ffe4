#!/bin/bash
# The publisher's release: a fresh build with the publisher's files, signed,
# with a checksum list beside it.
#
#   tools/release.sh [--payload DIR] [--pfx FILE | --key FILE --cert FILE]
#                    [--password-file FILE] [--build DIR] [--out DIR]
#                    [-- CMAKE_ARGS...]
#
#   --payload DIR        folder with vxmain.vdf and vxsky_readme.txt
#                        (default: the sample in resources/payload)
#   --pfx FILE           certificate and key in one PKCS#12 file, or
#   --key/--cert FILE    the key and the certificate (with its chain) in PEM
#   --password-file FILE the password of the key or PKCS#12 file; without it
#                        the password comes from SKYRIFT_SIGN_PASSWORD, if set
#   --build DIR          build folder (default: build-release): made by this
#                        tool, or empty; a folder this tool made before is
#                        emptied first, any other that holds files refused
#   --out DIR            where the exe and SHA256SUMS go (default: dist)
#   CMAKE_ARGS           for example -DSKYRIFT_PUBLISHER="Example Ltd"
#
# What ships is the i686 exe. SKYRIFT_ARCH=x86_64 makes the same release of
# the 64-bit build instead, for the tests on hosts that run no 32-bit code.
#
# Without a certificate the release is unsigned, and the tool says so. The
# signing time is SOURCE_DATE_EPOCH, or the last commit's time: the same tree
# signed with the same key gives the same bytes. No time-stamp server is asked.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
EXE=VexmoorSkyriftSetup.exe
ARCH=${SKYRIFT_ARCH:-i686}

die() { echo "release: $*" >&2; exit 1; }
absolute() { [ -e "$1" ] || die "not found: $1"; realpath "$1"; }

payload=$ROOT/resources/payload pfx="" key="" cert="" passfile=""
build=$ROOT/build-release out=$ROOT/dist
while [ $# -gt 0 ]; do
    case $1 in
        --payload) payload=$(absolute "${2:?}"); shift ;;
        --pfx) pfx=$(absolute "${2:?}"); shift ;;
        --key) key=$(absolute "${2:?}"); shift ;;
        --cert) cert=$(absolute "${2:?}"); shift ;;
        --password-file) passfile=$(absolute "${2:?}"); shift ;;
        --build) build=$(realpath -m "${2:?}"); shift ;;
        --out) out=$(realpath -m "${2:?}"); shift ;;
        --) shift; break ;;
        *) die "unknown option $1 (see the comment at the top of tools/release.sh)" ;;
    esac
    shift
done
if [ -n "$pfx" ] && [ -n "$key$cert" ]; then die "give --pfx or --key/--cert, not both"; fi
if [ -n "$key$cert" ] && { [ -z "$key" ] || [ -z "$cert" ]; }; then die "--key and --cert go together"; fi

cd "$ROOT"
[ -f "cmake/$ARCH-w64-mingw32.cmake" ] || die "SKYRIFT_ARCH is i686 or x86_64, not $ARCH"
[ "$ARCH" = i686 ] || echo "release: note: a $ARCH build, for tests; what ships is the i686 exe"

# What the release needs, checked here; nothing is installed.
missing=()
needs() { command -v "$1" >/dev/null || missing+=("$1 (Debian's $2)"); }
needs cmake cmake
needs "$ARCH-w64-mingw32-g++-posix" "g++-mingw-w64-${ARCH/_/-}-posix"
needs "$ARCH-w64-mingw32-windres" "binutils-mingw-w64-${ARCH/_/-}"
needs c++ g++
needs sha256sum coreutils
[ -n "$pfx$key" ] && needs osslsigncode osslsigncode
if [ ${#missing[@]} -gt 0 ]; then
    die "missing: ${missing[*]}; tools/install-deps.sh installs them all"
fi

# The password stays in this shell: it reaches osslsigncode on its standard
# input, and the build never sees it.
password=${SKYRIFT_SIGN_PASSWORD-}
unset SKYRIFT_SIGN_PASSWORD

if [ -n "$(git status --porcelain 2>/dev/null)" ]; then
    echo "release: note: the tree has uncommitted changes; this release is not that of a commit"
fi
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
        die "no commit to take the time from; set SOURCE_DATE_EPOCH"
fi
export SOURCE_DATE_EPOCH

# Only a folder this tool made (it leaves a marker inside) is emptied.
MARK=.skyrift-release-build
if [ -e "$build" ] && [ ! -d "$build" ]; then
    die "refusing to use $build as the build folder: it is not a folder"
fi
if [ -d "$build" ] && [ -n "$(ls -A "$build")" ] && [ ! -f "$build/$MARK" ]; then
    die "refusing to empty $build: it holds files and was not made by this tool; give an empty or new folder with --build"
fi
echo "release: building in $build with the files of $payload"
rm -rf "$build"
mkdir -p "$build"
touch "$build/$MARK"
log=$build.log
if ! { cmake -S "$ROOT" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$ARCH-w64-mingw32.cmake" \
           -DCMAKE_BUILD_TYPE=Release -DSKYRIFT_BUILD_TESTS=OFF -DSKYRIFT_PAYLOAD_DIR="$payload" "$@" &&
       cmake --build "$build" --target VexmoorSkyriftSetup -j 2; } >"$log" 2>&1; then
    cat "$log" >&2
    die "the build failed"
fi
rm -f "$log"

mkdir -p "$out"
rm -f "$out/$EXE" "$out/SHA256SUMS"
if [ -n "$pfx$key" ]; then
    creds=(-pkcs12 "$pfx")
    [ -n "$key" ] && creds=(-certs "$cert" -key "$key")
    pass=()
    if [ -n "$passfile" ]; then
        pass=(-readpass "$passfile")
    elif [ -n "$password" ]; then
        pass=(-readpass -)
    fi
    if ! osslsigncode sign "${creds[@]}" "${pass[@]}" -h sha256 -n "Vexmoor Skyrift Setup" \
            -time "$SOURCE_DATE_EPOCH" -in "$build/bin/$EXE" -out "$out/$EXE" \
            <<<"$password" >"$out/sign.log" 2>&1; then
        cat "$out/sign.log" >&2
        rm -f "$out/sign.log" "$out/$EXE"
        die "signing failed"
    fi
    rm -f "$out/sign.log"
    echo "release: signed, signing time $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC')"
else
    cp "$build/bin/$EXE" "$out/$EXE"
    echo "release: UNSIGNED: no certificate given (--pfx or --key/--cert)"
fi
(cd "$out" && sha256sum "$EXE" >SHA256SUMS)
echo "release: $out/$EXE"
echo "release: $out/SHA256SUMS: $(cat "$out/SHA256SUMS")"
