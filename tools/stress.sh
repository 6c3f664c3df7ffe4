#!/bin/bash
# The long run of the random-moment search test: Cancel or Browse pressed at
# ROUNDS random moments of a walk (default 1000; the test run does 40).
# Installs what is missing, builds, and runs the test in a bed of its own
# (build/stressbed). Prints the rounds' figures; fails if any round does.
#
#   tools/stress.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
ROUNDS=${1:-1000}

bash tools/install-deps.sh >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null

# shares the test run's template prefix (made here if missing)
BED=$ROOT/build/stressbed
export SKYRIFT_BED_TEMPLATE=$ROOT/build/bed/template
unset SKYRIFT_BED_DISPLAY
tests/bed/bed.sh start "$BED" "$ROOT/build" 2>/dev/null
trap 'tests/bed/bed.sh stop "$BED" 2>/dev/null' EXIT

echo "stress, $(date -u +%Y-%m-%d), $(nproc) cpus, $(wine --version): $ROUNDS rounds"
start=$(date +%s)
(cd build && SKYRIFT_STRESS_ROUNDS=$ROUNDS exec ../tests/bed/wine-run.sh "$BED" \
    bin/tests/unit.exe '--gtest_filter=SearchStop.*')
echo "took $(( $(date +%s) - start )) s"
