#!/bin/bash
# Installs what is missing, builds the setup program and runs it under Wine,
# in a prefix of its own (build/demo, or build-x86_64/demo; ~/.wine is not
# touched) whose fixed drive F: holds a sample Torvane installation in
# F:\Games\Torvane\.
#
#   tools/run.sh                with a display: the setup on your screen;
#                               without one: under Xvfb, a picture of the
#                               welcome dialog, Cancel, the exit code
#   tools/run.sh --headless     the Xvfb run even when there is a display
#   tools/run.sh --gallery      (headless) a picture of every window the setup
#                               can show, in docs/screenshots/, and the same at
#                               120 DPI ("Large Fonts") in
#                               docs/screenshots/large-fonts/ (--walkthrough:
#                               the same)
#
# It runs the i686 exe (what ships) where this host starts 32-bit programs,
# and the x86_64 build of the same sources where it does not (or as
# SKYRIFT_ARCH says).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh

headless=0
gallery=0
for arg in "$@"; do
    case $arg in
        --headless) headless=1 ;;
        --gallery | --walkthrough) headless=1; gallery=1 ;;
        *) echo "usage: tools/run.sh [--headless] [--gallery]" >&2; exit 2 ;;
    esac
done
[ -z "${DISPLAY:-}" ] && headless=1

choose_arch
prepare "$RUN_ARCH"
if [ $headless -eq 1 ]; then
    need_runtime "$RUN_ARCH" headless
    unset SKYRIFT_BED_DISPLAY
else
    need_runtime "$RUN_ARCH"
    export SKYRIFT_BED_DISPLAY=$DISPLAY
fi
TREE=$(tree "$RUN_ARCH")
echo "run: the $RUN_ARCH build, $TREE/bin/VexmoorSkyriftSetup.exe"
bed_up demo "$RUN_ARCH"

# PNG pictures of what the gallery tool saved as BMP files in $1, into $2
pictures() {
    for bmp in "$1"/*.bmp; do
        [ -e "$bmp" ] || continue
        png=$2/$(basename "${bmp%.bmp}").png
        convert "$bmp" -strip -define png:compression-level=9 "$png" && rm -f "$bmp" && echo "run: picture $png"
    done
}

PICS=$BED/pictures
rm -rf "$PICS"
SETUP='X:\bin\VexmoorSkyriftSetup.exe'
# the programs run with the build tree (X:\) as their working folder
# the screen's DPI that the programs started after this take
dpi() { tools/bed/wine-run.sh "$BED" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1; }
if [ $gallery -eq 1 ]; then
    # every scenario arranges its own drives; the second round at Large Fonts
    code=0
    for round in 96:. 120:large-fonts; do
        dpi "${round%%:*}"
        (cd "$TREE" && exec ../tools/bed/wine-run.sh "$BED" bin/tools/skyrift_gallery.exe "$SETUP" \
            "X:\\demo\\pictures\\${round#*:}") || code=$?
    done
    dpi 96
    if [ $code -ne 0 ]; then
        echo "run: the gallery is incomplete (exit code $code); docs/screenshots/ left as it was" >&2
        exit 1
    fi
    mkdir -p docs/screenshots/large-fonts
    rm -f docs/screenshots/*.png docs/screenshots/large-fonts/*.png
    pictures "$PICS" docs/screenshots
    pictures "$PICS/large-fonts" docs/screenshots/large-fonts
    exit 0
fi

# D: holds other software for the search to walk through first; the game
# itself is on F:
GAME=$BED/drives/f/Games/Torvane
if [ ! -d "$BED/drives/d/Software/p39/v49" ]; then
    for p in $(seq 0 39); do
        for v in $(seq 0 49); do echo "$BED/drives/d/Software/p$p/v$v"; done
    done | xargs mkdir -p
fi
mkdir -p "$GAME/tvdata"
printf 'MZ' > "$GAME/torvane.exe"

code=0
if [ $headless -eq 0 ]; then
    echo "run: starting the setup on $DISPLAY (the sample game is F:\\Games\\Torvane\\)"
    (cd "$TREE" && exec ../tools/bed/wine-run.sh "$BED" bin/VexmoorSkyriftSetup.exe) || code=$?
else
    (cd "$TREE" && exec ../tools/bed/wine-run.sh "$BED" bin/tools/skyrift_gallery.exe "$SETUP" 'X:\demo\pictures' welcome) || code=$?
    pictures "$PICS" "$PICS"
fi
echo "run: setup exit code: $code"
if [ -d "$GAME/tvdata" ] && [ -n "$(ls -A "$GAME/tvdata")" ]; then
    echo "run: installed into $GAME/tvdata:"
    ls -l "$GAME/tvdata"
fi
exit "$code"
