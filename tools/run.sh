#!/bin/bash
# Installs what is missing, builds the setup program and runs it under Wine,
# in a prefix of its own (build/demo; ~/.wine is not touched) whose fixed
# drive F: holds a sample Torvane installation in F:\Games\Torvane\.
#
#   tools/run.sh                with a display: the setup on your screen;
#                               without one: under Xvfb, a picture of the
#                               welcome dialog, Cancel, the exit code
#   tools/run.sh --headless     the Xvfb run even when there is a display
#   tools/run.sh --walkthrough  (headless) a whole install into the sample
#                               game folder, with a picture of each step
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

headless=0
walk=""
for arg in "$@"; do
    case $arg in
        --headless) headless=1 ;;
        --walkthrough) headless=1; walk=walkthrough ;;
        *) echo "usage: tools/run.sh [--headless] [--walkthrough]" >&2; exit 2 ;;
    esac
done
[ -z "${DISPLAY:-}" ] && headless=1

bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

BED=$ROOT/build/demo
export SKYRIFT_BED_TEMPLATE=$ROOT/build/bed/template
if [ $headless -eq 1 ]; then
    unset SKYRIFT_BED_DISPLAY
else
    export SKYRIFT_BED_DISPLAY=$DISPLAY
fi
tests/bed/bed.sh start "$BED" "$ROOT/build"
trap 'tests/bed/bed.sh stop "$BED"' EXIT

# D: holds other software for the search to walk through first; the game
# itself is on F:
GAME=$BED/drives/f/Games/Torvane
rm -rf "$GAME"
if [ ! -d "$BED/drives/d/Software/p39/v49" ]; then
    for p in $(seq 0 39); do
        for v in $(seq 0 49); do echo "$BED/drives/d/Software/p$p/v$v"; done
    done | xargs mkdir -p
fi
mkdir -p "$GAME/tvdata"
printf 'MZ' > "$GAME/torvane.exe"
# an older read-me, so that the walkthrough meets the overwrite question
[ -n "$walk" ] && printf 'Vexmoor Skyrift (beta)\r\n' > "$GAME/tvdata/vxsky_readme.txt"

# the programs run with the build tree (X:\) as their working folder
code=0
if [ $headless -eq 0 ]; then
    echo "run: starting the setup on $DISPLAY (the sample game is F:\\Games\\Torvane\\)"
    (cd build && exec ../tests/bed/wine-run.sh "$BED" bin/VexmoorSkyriftSetup.exe) || code=$?
    echo "run: setup exit code: $code"
else
    PICS=$BED/pictures
    rm -rf "$PICS"
    (cd build && exec ../tests/bed/wine-run.sh "$BED" bin/tools/skyrift_demo.exe \
        'X:\bin\VexmoorSkyriftSetup.exe' 'X:\demo\pictures' $walk) || code=$?
    for bmp in "$PICS"/*.bmp; do
        [ -e "$bmp" ] || continue
        png=${bmp%.bmp}.png
        convert "$bmp" "$png" && rm -f "$bmp" && echo "run: screenshot $png"
    done
    echo "run: setup exit code: $code"
fi
if [ -d "$GAME/tvdata" ] && [ -n "$(ls -A "$GAME/tvdata")" ]; then
    echo "run: installed into $GAME/tvdata:"
    ls -l "$GAME/tvdata"
fi
exit "$code"
