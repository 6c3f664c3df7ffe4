#!/bin/bash
# The Wine test bed: one prefix, one Xvfb and one wineserver for a whole
# test run, all under the build tree.
#
#   bed.sh start BEDDIR [ROOT]
#                          make BEDDIR/prefix from the template (made once),
#                          start Xvfb and a persistent wineserver, write
#                          BEDDIR/env for the tests
#   bed.sh stop BEDDIR     end the wineserver and Xvfb of the run
#   bed.sh template BEDDIR just make sure the template exists
#
# With SKYRIFT_BED_DISPLAY set (say :0), start uses that display instead of
# a private Xvfb, so the run's windows show on the user's screen.
#
# Drives of the run's prefix (no drive maps to /):
#   A: floppy   -> BEDDIR/drives/a        C: fixed  -> the prefix's drive_c
#   D: fixed    -> BEDDIR/drives/d        E: cdrom  -> BEDDIR/drives/e
#   F: fixed    -> BEDDIR/drives/f        G: network-> BEDDIR/drives/g (scratch)
#   X: network  -> ROOT (the build tree, where the programs under test are)
#   H: network  -> BEDDIR/fulldisk, a 192 KiB tmpfs for the full-disk test;
#                  only when this user may mount one (the test skips if not)
set -euo pipefail

cmd=${1:?usage: bed.sh start|stop|template BEDDIR}
BED=$(mkdir -p "${2:?BEDDIR}" && cd "$2" && pwd)
TEMPLATE=${SKYRIFT_BED_TEMPLATE:-$BED/template}
PREFIX=$BED/prefix
ROOT=""
if [ -n "${3:-}" ]; then
    ROOT=$(cd "$3" && pwd)
fi

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win32

log() { echo "bed: $*" >&2; }

make_template() {
    local stamp="$TEMPLATE/.bed-version" want
    want="$(wine --version 2>/dev/null) layout-7"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
        return
    fi
    log "creating template prefix (once)"
    rm -rf "$TEMPLATE"
    mkdir -p "$TEMPLATE"
    # a private display only for the first boot
    local disp
    disp=$(free_display)
    setsid Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    local xpid=$!
    (
        export WINEPREFIX=$TEMPLATE DISPLAY=":$disp"
        wineboot -i </dev/null >/dev/null 2>&1
        wine reg add 'HKLM\Software\Wine\Drives' /v a: /d floppy /f >/dev/null 2>&1
        wine reg add 'HKLM\Software\Wine\Drives' /v d: /d hd /f >/dev/null 2>&1
        wine reg add 'HKLM\Software\Wine\Drives' /v e: /d cdrom /f >/dev/null 2>&1
        wine reg add 'HKLM\Software\Wine\Drives' /v f: /d hd /f >/dev/null 2>&1
        wine reg add 'HKLM\Software\Wine\Drives' /v g: /d network /f >/dev/null 2>&1
        wine reg add 'HKLM\Software\Wine\Drives' /v h: /d network /f >/dev/null 2>&1
        wine reg add 'HKLM\Software\Wine\Drives' /v x: /d network /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null 2>&1
        # one virtual desktop: Wine draws the frames and captions itself, so
        # screenshots show dialogs as a user sees them
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
        # no crash dialogs: a crashing test must fail, not wait
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        wineserver -w
    )
    # Wine links the user's shell folders to the Unix home; the drive search
    # would walk it. Plain empty folders keep C: to the prefix's own files.
    find "$TEMPLATE/drive_c" -type l | while read -r link; do
        rm -f "$link"
        mkdir -p "$link"
    done
    kill "$xpid" 2>/dev/null || true
    wait "$xpid" 2>/dev/null || true
    echo "$want" > "$stamp"
}

free_display() {
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do
        n=$((n + 1))
    done
    echo "$n"
}

# Points the drive letters of a prefix at the run's folders.
map_drives() {
    local pfx=$1 drives=$2
    mkdir -p "$drives"/{a,d,e,f,g}
    local dd=$pfx/dosdevices
    rm -f "$dd"/[a-z]: "$dd"/[a-z]::
    ln -s ../drive_c "$dd/c:"
    for l in a d e f g; do
        ln -s "$drives/$l" "$dd/$l:"
    done
    if [ -n "$ROOT" ]; then
        ln -s "$ROOT" "$dd/x:"
    fi
    local full=$BED/fulldisk
    mkdir -p "$full"
    if mountpoint -q "$full" ||
        mount -t tmpfs -o size=192k skyrift-fulldisk "$full" 2>/dev/null; then
        ln -s "$full" "$dd/h:"
    fi
}

start() {
    stop_quietly
    make_template
    rm -rf "$PREFIX" "$BED/drives"
    cp -a "$TEMPLATE" "$PREFIX"
    map_drives "$PREFIX" "$BED/drives"

    local disp
    if [ -n "${SKYRIFT_BED_DISPLAY:-}" ]; then
        disp=${SKYRIFT_BED_DISPLAY#:}
    else
        disp=$(free_display)
        # daemons of the run must not hold the caller's output open (ctest
        # waits for it to close)
        setsid Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$BED/xvfb.log" 2>&1 &
        echo $! > "$BED/xvfb.pid"
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$disp" ] && break
            sleep 0.1
        done
    fi

    cat > "$BED/env" <<ENV
export WINEPREFIX='$PREFIX'
export DISPLAY=':$disp'
export WINEDEBUG='$WINEDEBUG'
export WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
export WINEARCH=win32
export SKYRIFT_BED='$BED'
export SKYRIFT_ROOT='$ROOT'
ENV
    # shellcheck disable=SC1091
    . "$BED/env"
    wineserver -p </dev/null >/dev/null 2>&1
    # first process of the run brings up the services once
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    # the virtual desktop's process lives as long as the wineserver; started
    # here it holds no test's output open
    setsid wine explorer.exe /desktop=Default,1024x768 </dev/null >/dev/null 2>&1 &
    for _ in $(seq 100); do
        wine cmd /c exit </dev/null >/dev/null 2>&1
        pgrep -f 'explorer.exe /desktop' >/dev/null && break
        sleep 0.1
    done
    log "prefix $PREFIX on display :$disp"
}

stop_quietly() {
    if [ -f "$BED/env" ]; then
        (. "$BED/env"; wineserver -k >/dev/null 2>&1 || true)
    fi
    if [ -f "$BED/xvfb.pid" ]; then
        kill "$(cat "$BED/xvfb.pid")" 2>/dev/null || true
        rm -f "$BED/xvfb.pid"
    fi
    rm -f "$BED/env"
    if mountpoint -q "$BED/fulldisk" 2>/dev/null; then
        umount "$BED/fulldisk" 2>/dev/null || true
    fi
}

case $cmd in
    start) start ;;
    stop) stop_quietly; log "stopped" ;;
    template) make_template ;;
    *) echo "unknown command $cmd" >&2; exit 2 ;;
esac
