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
exec wine "$@"
