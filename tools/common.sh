# Sourced by the commands in tools/: run from the checkout's root.
#
#   choose_arch    sets RUN_ARCH to the build whose programs run here: i686
#                  where this host starts 32-bit programs, else x86_64 (said
#                  in one line); SKYRIFT_ARCH=i686|x86_64 overrides the probe
#   prepare [-q] [ARCH...]
#                  install what is missing, configure and build the i686
#                  tree (always: it is what ships) and each ARCH's (-q: quietly)
#   tree ARCH      the build tree of ARCH: build or build-x86_64
#   need_runtime ARCH [headless]
#                  stop with one line when ARCH's Wine, or the X server
#                  a headless run needs, is missing
#   bed_up NAME ARCH
#                  start a Wine bed of its own in TREE/NAME, made from that
#                  tree's test run's template prefix (made first if
#                  missing), and stop it when the command ends; it runs
#                  under its own Xvfb unless SKYRIFT_BED_DISPLAY names a
#                  display

ROOT=$PWD

tree() { if [ "$1" = i686 ]; then echo build; else echo "build-$1"; fi; }
preset() { if [ "$1" = i686 ]; then echo default; else echo "$1"; fi; }

# Runs the smallest 32-bit Linux program there is (it exits with 42): a
# kernel without 32-bit support refuses it, and so would refuse Wine's
# 32-bit loader.
host_runs_32bit() {
    local probe code=0
    probe=$(mktemp)
    printf '%b' '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0' \
        '\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08' \
        '\x60\0\0\0\x60\0\0\0\x05\0\0\0\0\x10\0\0\xb8\x01\0\0\0\xbb\x2a\0\0\0\xcd\x80' > "$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || code=$?
    rm -f "$probe"
    [ "$code" = 42 ]
}

choose_arch() {
    case ${SKYRIFT_ARCH:-} in
        i686 | x86_64) RUN_ARCH=$SKYRIFT_ARCH ;;
        "")
            if host_runs_32bit; then
                RUN_ARCH=i686
            else
                RUN_ARCH=x86_64
                echo "note: this host starts no 32-bit program, so the 32-bit exe is built and checked but not run; the x86_64 build of the same sources runs under 64-bit Wine instead"
            fi
            ;;
        *) echo "SKYRIFT_ARCH is i686 or x86_64, not '$SKYRIFT_ARCH'" >&2; exit 2 ;;
    esac
    SKYRIFT_HOST32=0
    [ "$RUN_ARCH" = i686 ] && SKYRIFT_HOST32=1
    export SKYRIFT_HOST32
}

prepare() {
    local quiet=0 arch arches=(i686)
    if [ "${1:-}" = -q ]; then quiet=1; shift; fi
    if [ $quiet -eq 1 ]; then bash tools/install-deps.sh >/dev/null; else bash tools/install-deps.sh; fi
    for arch in "$@"; do [ "$arch" = i686 ] || arches+=("$arch"); done
    for arch in "${arches[@]}"; do
        cmake --preset "$(preset "$arch")" >/dev/null
        if [ $quiet -eq 1 ]; then
            cmake --build --preset "$(preset "$arch")" >/dev/null
        else
            cmake --build --preset "$(preset "$arch")"
        fi
    done
}

need_runtime() {
    SKYRIFT_ARCH=$1 tools/bed/bed.sh check "${2:-}" || exit 1
}

bed_up() {
    local dir
    dir=$ROOT/$(tree "$2")
    BED=$dir/$1
    export SKYRIFT_BED_TEMPLATE=$dir/bed/template SKYRIFT_ARCH=$2
    tools/bed/bed.sh start "$BED" "$dir"
    trap 'tools/bed/bed.sh stop "$BED"' EXIT
}
