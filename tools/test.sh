#!/bin/bash
# Installs what is missing, builds everything and runs every test: the
# whole suite of the i686 build (what ships) wherever this host starts
# 32-bit programs, and of the x86_64 build always, so that neither rots.
# On a host that starts no 32-bit program the i686 build gets its host-side
# checks only (header, imports, instructions, flags, sources, clip, signed
# release, the fault runner's verdicts).
# Extra arguments go to each ctest run.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh

choose_arch
prepare i686 x86_64
need_runtime x86_64 headless
[ "$RUN_ARCH" = i686 ] && need_runtime i686 headless

LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT
status=0
suite() {   # suite TITLE CTEST-ARGS...
    echo "== $1"
    ctest "${@:2}" 2>&1 | tee -a "$LOG" || status=1
}
if [ "$RUN_ARCH" = i686 ]; then
    suite "i686 build (what ships): every test" --preset default "$@"
else
    suite "i686 build (what ships): the host-side checks" --preset default -L host "$@"
fi
suite "x86_64 build: every test" --preset x86_64 "$@"

# ctest's "N tests failed out of M", added up over both runs
read -r failed total < <(awk '/tests passed, [0-9]+ tests failed out of/ { f += $4; t += $NF } END { print f + 0, t + 0 }' "$LOG")
[ "$failed" -eq 0 ] || status=1
if [ "$RUN_ARCH" = x86_64 ]; then
    echo "note: the 32-bit exe build/bin/VexmoorSkyriftSetup.exe was built and checked on the host, but not run: this host starts no 32-bit program"
fi
echo "tests: $((total - failed)) passed, $failed failed"
exit $status
