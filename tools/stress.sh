#!/bin/bash
# The long run of the random-moment search test: Cancel or Browse pressed at
# ROUNDS random moments of a walk (default 1000; the test run does 40).
# Installs what is missing, builds, and runs the test in a bed of its own
# (build/stressbed). Prints the rounds' figures; fails if any round does.
#
#   tools/stress.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh
ROUNDS=${1:-1000}

prepare -q
unset SKYRIFT_BED_DISPLAY
bed_up stressbed 2>/dev/null

echo "stress, $(date -u +%Y-%m-%d), $(nproc) cpus, $(wine --version): $ROUNDS rounds"
start=$(date +%s)
(cd build && SKYRIFT_STRESS_ROUNDS=$ROUNDS exec ../tests/bed/wine-run.sh "$BED" \
    bin/tests/unit.exe '--gtest_filter=SearchStop.*')
echo "took $(( $(date +%s) - start )) s"
