#!/bin/bash
# The Wine test bed: one prefix, one Xvfb and one wineserver for a whole run,
# all under the build tree; ~/.wine is never touched.
#
#   bed.sh start BEDDIR [ROOT]   copy the template prefix (made once) to
#                                BEDDIR/prefix, start Xvfb and a wineserver,
#                                write BEDDIR/env for the programs of the run
#   bed.sh stop BEDDIR           end the run's wineserver and Xvfb
#   bed.sh links BEDDIR on|off   lay the prefix out as wineboot leaves it,
#                                or tidy again (below)
#   bed.sh check [headless]      only say, in one line, what is missing to
#                                run (Wine's loader; Xvfb for a headless run)
#
# SKYRIFT_ARCH says which Windows programs the bed runs: i686 (the default)
# in a 32-bit prefix under Wine's 32-bit loader, or x86_64 in a 64-bit
# prefix under its 64-bit loader and server alone, which works on hosts
# that start no 32-bit program.
# SKYRIFT_BED_TEMPLATE names another template folder; SKYRIFT_BED_DISPLAY
# (say :0) shows the run on that display instead of a private Xvfb.
#
# Drives (none maps to /): A: floppy, E: CD-ROM and G: network, scratch for
# the tests; C: the prefix's drive_c, D: and F: fixed, for game folders;
# H: fixed, a 12 MiB tmpfs (when this user may mount one) for a full disk;
# X: network, the build tree ROOT, where the programs under test are.
#
# The prefix lives where a player's does, in a home: BEDDIR/unix/home/player/
# .wine (BEDDIR/prefix links to it), in a tree standing for the Unix root.
# No drive maps that tree until "links on" lays the prefix out as wineboot
# leaves it, with nothing of the host's / in it: Z: maps BEDDIR/unix; the
# user's folders (Desktop ... Videos, Templates) link to the home; the home
# holds a second prefix, as Steam's Proton keeps one, whose z: links back to
# the root; M: and N: map one folder of the tree (as a player maps D: to
# ~/Games); D:\again and D:\loop link to D:\. "links off" takes away every
# link of the layout and every link under the drives' folders (the tests'
# own), so that nothing walks or deletes through them afterwards.
set -euo pipefail

cmd=${1:?usage: bed.sh start|stop BEDDIR [ROOT] | links BEDDIR on|off | check [headless]}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
case ${SKYRIFT_ARCH:-i686} in
    i686) export WINEARCH=win32 WINE=wine WINESERVER=wineserver
          LOADER=/usr/lib/wine/wine ;;
    x86_64) export WINEARCH=win64 WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
            export WINELOADER=$WINE
            LOADER=$WINE ;;
    *) echo "bed: SKYRIFT_ARCH is i686 or x86_64, not $SKYRIFT_ARCH" >&2; exit 2 ;;
esac

check() {
    if [ ! -x "$LOADER" ]; then
        echo "cannot run: Wine's loader for ${SKYRIFT_ARCH:-i686} programs ($LOADER) is missing; tools/install-deps.sh installs it" >&2
        exit 1
    fi
    if [ "${1:-}" = headless ] && ! command -v Xvfb >/dev/null; then
        echo "cannot run: no X server: Xvfb is missing (Debian's xvfb; tools/install-deps.sh installs it)" >&2
        exit 1
    fi
}
if [ "$cmd" = check ]; then check "${2:-}"; exit 0; fi

BED=$(mkdir -p "${2:?BEDDIR}" && cd "$2" && pwd)
HOME_DIR=$BED/unix/home/player
PREFIX=$HOME_DIR/.wine
TEMPLATE=${SKYRIFT_BED_TEMPLATE:-$BED/template}
ROOT=""
[ "$cmd" = start ] && ROOT=${3:+$(cd "$3" && pwd)}

free_display() {
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    echo "$n"
}

# Xvfb on a free display, detached so that it holds no caller's output open.
start_xvfb() {
    local disp
    disp=$(free_display)
    setsid Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    echo $! > "$1"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$disp" ] && break; sleep 0.1; done
    echo ":$disp"
}

make_template() {
    local want
    want="$("$WINE" --version) $WINEARCH layout-9"
    [ "$(cat "$TEMPLATE/.bed-version" 2>/dev/null)" = "$want" ] && return
    echo "bed: making the template prefix (once)" >&2
    rm -rf "$TEMPLATE"
    mkdir -p "$TEMPLATE"
    (
        export WINEPREFIX=$TEMPLATE DISPLAY
        DISPLAY=$(start_xvfb "$TEMPLATE.xvfb")
        "$WINE" wineboot -i </dev/null >/dev/null 2>&1
        reg() { "$WINE" reg add "$1" /v "$2" /d "$3" ${4:+/t "$4"} /f >/dev/null 2>&1; }
        for d in a:floppy d:hd e:cdrom f:hd g:network h:hd x:network; do
            reg 'HKLM\Software\Wine\Drives' "${d%%:*}:" "${d#*:}"
        done
        reg 'HKCU\Software\Wine' Version winxp
        # one virtual desktop: Wine draws frames and captions as a user sees them
        reg 'HKCU\Software\Wine\Explorer' Desktop Default
        reg 'HKCU\Software\Wine\Explorer\Desktops' Default 1024x768
        # a crashing program must fail its test, not wait in a dialog
        reg 'HKCU\Software\Wine\WineDbg' ShowCrashDialog 0 REG_DWORD
        "$WINESERVER" -w
        kill "$(cat "$TEMPLATE.xvfb")"
    )
    rm -f "$TEMPLATE.xvfb"
    # Wine links the user's folders to the Unix home, which the drive search
    # would walk: plain empty folders keep C: to the prefix's own files.
    find "$TEMPLATE/drive_c" -type l | while read -r link; do rm -f "$link"; mkdir -p "$link"; done
    # Wine's own fonts ("MS Sans Serif", the caption symbols): this Wine does
    # not look where fonts-wine puts them, but does in the prefix's Fonts
    dpkg -L fonts-wine | grep -E '\.(ttf|fon)$' | xargs -r cp -t "$TEMPLATE/drive_c/windows/Fonts"
    echo "$want" > "$TEMPLATE/.bed-version"
}

map_drives() {
    local dd=$PREFIX/dosdevices
    rm -f "$dd"/[a-z]: "$dd"/[a-z]::
    ln -s ../drive_c "$dd/c:"
    for l in a d e f g; do mkdir -p "$BED/drives/$l"; ln -s "$BED/drives/$l" "$dd/$l:"; done
    [ -n "$ROOT" ] && ln -s "$ROOT" "$dd/x:"
    mkdir -p "$BED/fulldisk"
    if mountpoint -q "$BED/fulldisk" || mount -t tmpfs -o size=12m skyrift-fulldisk "$BED/fulldisk" 2>/dev/null; then
        ln -s "$BED/fulldisk" "$dd/h:"
    fi
}

stop() {
    [ -f "$BED/env" ] && (. "$BED/env"; "$WINESERVER" -k >/dev/null 2>&1 || true)
    [ -f "$BED/xvfb.pid" ] && kill "$(cat "$BED/xvfb.pid")" 2>/dev/null || true
    rm -f "$BED/env" "$BED/xvfb.pid"
    if mountpoint -q "$BED/fulldisk" 2>/dev/null; then umount "$BED/fulldisk" || true; fi
}

start() {
    stop
    check "$([ -n "${SKYRIFT_BED_DISPLAY:-}" ] || echo headless)"
    make_template
    rm -rf "$BED/prefix" "$BED/unix" "$BED/drives"
    mkdir -p "$HOME_DIR"
    cp -a "$TEMPLATE" "$PREFIX"
    ln -s "${PREFIX#"$BED/"}" "$BED/prefix"
    map_drives
    local disp=${SKYRIFT_BED_DISPLAY:-}
    [ -n "$disp" ] || disp=$(start_xvfb "$BED/xvfb.pid")
    cat > "$BED/env" <<ENV
export WINEPREFIX='$PREFIX' DISPLAY='$disp' WINEDEBUG='$WINEDEBUG' WINEARCH=$WINEARCH
export WINE='$WINE' WINESERVER='$WINESERVER' ${WINELOADER:+WINELOADER='$WINELOADER'}
export WINEDLLOVERRIDES='$WINEDLLOVERRIDES' SKYRIFT_ROOT='$ROOT' SKYRIFT_BED='$BED'
ENV
    . "$BED/env"
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
    # the virtual desktop's process lives as long as the wineserver
    setsid "$WINE" explorer.exe /desktop=Default,1024x768 </dev/null >/dev/null 2>&1 &
    for _ in $(seq 100); do
        for p in $(pgrep -f "explorer.exe /desktop"); do
            grep -qz "^WINEPREFIX=$PREFIX\$" "/proc/$p/environ" 2>/dev/null && break 2
        done
        sleep 0.1
    done
    echo "bed: prefix $PREFIX on display $disp" >&2
}

# The user's folders as wineboot links them, beside the bed's own copy.
USER_FOLDERS="Desktop Documents Downloads Music Pictures Videos AppData/Roaming/Microsoft/Windows/Templates"

links() {
    local user proton=$HOME_DIR/.steam/steam/steamapps/compatdata/2420/pfx f
    user=$(cd "$PREFIX/drive_c/users" && ls | grep -vx Public | head -n 1)
    if [ "$1" = off ]; then
        rm -f "$PREFIX/dosdevices/z:" "$PREFIX/dosdevices/m:" "$PREFIX/dosdevices/n:"
        for f in $USER_FOLDERS; do
            [ -L "$PREFIX/drive_c/users/$user/$f" ] && rm -f "$PREFIX/drive_c/users/$user/$f" && mkdir "$PREFIX/drive_c/users/$user/$f"
        done
        find "$BED/drives" "$PREFIX/drive_c" -type l -delete 2>/dev/null || true
        find "$HOME_DIR" -mindepth 1 -maxdepth 1 ! -name .wine -exec rm -rf {} +
        rm -rf "$BED/unix/etc" "$BED/unix/usr" "$BED/unix/mnt"
        return
    fi
    links off
    mkdir -p "$BED/unix/etc/fonts" "$BED/unix/usr/share/doc/wine" "$BED/unix/mnt/games" "$HOME_DIR/.cache" \
        "$proton/drive_c/windows/system32" "$proton/drive_c/users/steamuser" "$proton/dosdevices"
    ln -s ../drive_c "$proton/dosdevices/c:"
    ln -s "$BED/unix" "$proton/dosdevices/z:"
    for f in $USER_FOLDERS; do
        rm -rf "$PREFIX/drive_c/users/$user/$f"
        ln -s "$HOME_DIR" "$PREFIX/drive_c/users/$user/$f"
    done
    ln -s . "$BED/drives/d/again"
    ln -s . "$BED/drives/d/loop"
    ln -s "$BED/unix/mnt/games" "$PREFIX/dosdevices/m:"
    ln -s "$BED/unix/mnt/games" "$PREFIX/dosdevices/n:"
    ln -s "$BED/unix" "$PREFIX/dosdevices/z:"
}

case $cmd in
    start) start ;;
    links) links "${3:?on or off}" ;;
    stop) stop; echo "bed: stopped" >&2 ;;
    *) echo "unknown command $cmd" >&2; exit 2 ;;
esac
