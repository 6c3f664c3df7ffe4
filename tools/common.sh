# Sourced by the commands in tools/: run from the checkout's root.
#
#   prepare [-q]   install what is missing, configure and build (-q: quietly)
#   bed_up NAME    start a Wine bed of its own in build/NAME, made from the
#                  test run's template prefix (made first if missing), and
#                  stop it when the command ends; it runs under its own
#                  Xvfb unless SKYRIFT_BED_DISPLAY names a display

ROOT=$PWD

prepare() {
    if [ "${1:-}" = -q ]; then
        bash tools/install-deps.sh >/dev/null
        cmake --preset default >/dev/null
        cmake --build --preset default >/dev/null
    else
        bash tools/install-deps.sh
        cmake --preset default >/dev/null
        cmake --build --preset default
    fi
}

bed_up() {
    BED=$ROOT/build/$1
    export SKYRIFT_BED_TEMPLATE=$ROOT/build/bed/template
    tests/bed/bed.sh start "$BED" "$ROOT/build"
    trap 'tests/bed/bed.sh stop "$BED"' EXIT
}
