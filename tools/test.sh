#!/bin/bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh
prepare
ctest --preset default "$@"
