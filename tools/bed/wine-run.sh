#!/bin/bash
# Runs a Windows program inside the test bed: wine-run.sh BEDDIR PROGRAM ARGS...
BED=$1
shift
if [ ! -f "$BED/env" ]; then
    echo "wine-run: no test bed running in $BED (run the tests through ctest)" >&2
    exit 1
fi
# shellcheck disable=SC1091
. "$BED/env"
# A program of the build tree runs from its X: path, as a user's program
# runs from a drive: its own folder then has a drive path too.
prog=$1
shift
if [ -n "${SKYRIFT_ROOT:-}" ]; then
    abs=$(readlink -f "$prog")
    case $abs in
        "$SKYRIFT_ROOT"/*)
            rel=${abs#"$SKYRIFT_ROOT"/}
            prog="X:\\${rel//\//\\}"
            ;;
    esac
fi
exec "$WINE" "$prog" "$@"
