#!/bin/bash
# The long run of the random-moment search test: Cancel or Browse pressed at
# ROUNDS random moments of a walk (default 1000; the test run does 40).
# Installs what is missing, builds, and runs the test in a bed of its own
# (build/stressbed; build-x86_64/stressbed where the x86_64 build runs, as
# in tools/run.sh). Prints the rounds' figures; fails if any round does.
#
#   tools/stress.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh
ROUNDS=${1:-1000}

choose_arch
prepare -q "$RUN_ARCH"
need_runtime "$RUN_ARCH" headless
unset SKYRIFT_BED_DISPLAY
bed_up stressbed "$RUN_ARCH" 2>/dev/null

echo "stress, $(date -u +%Y-%m-%d), $(nproc) cpus, $(. "$BED/env"; "$WINE" --version), $RUN_ARCH build: $ROUNDS rounds"
start=$(date +%s)
(cd "$(tree "$RUN_ARCH")" && SKYRIFT_STRESS_ROUNDS=$ROUNDS exec ../tools/bed/wine-run.sh "$BED" \
    bin/tests/unit.exe '--gtest_filter=SearchStop.*')
echo "took $(( $(date +%s) - start )) s"
