#!/bin/bash
# A payload too large for any Windows to map: at the limit the build's check passes; one byte more and
# configuring fails with one line naming the limit, before any payload file is copied. The limit is the NT
# user space above the exe's base (0x400000 to 0x7FFF0000, inside 95/98's 0x400000 to 0x80000000) less
# 1 MiB for the setup itself. The files are sparse: no disk is used.
#   limit_test.sh SRC WORK TOOLCHAIN
set -euo pipefail
src=${1:?SRC} work=${2:?WORK} toolchain=${3:?TOOLCHAIN}
fail() { echo "FAIL: $*" >&2; exit 1; }
limit=$((0x7FFF0000 - 0x400000 - 0x100000))

rm -rf "$work"
mkdir -p "$work/at" "$work/over"
truncate -s $((limit - 2690)) "$work/at/vxmain.vdf"
truncate -s $((limit - 2690 + 1)) "$work/over/vxmain.vdf"
truncate -s 2690 "$work/at/vxsky_readme.txt" "$work/over/vxsky_readme.txt"

# the check as the build calls it, at the limit
printf 'include(%s)\nskyrift_check_payload_size(%s %s)\n' "$src/cmake/PayloadLimit.cmake" \
    "$work/at/vxmain.vdf" "$work/at/vxsky_readme.txt" > "$work/check.cmake"
cmake -P "$work/check.cmake" > "$work/at.log" 2>&1 || fail "a payload of $limit bytes is refused: $(cat "$work/at.log")"

# configuring with one byte more
if cmake -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DSKYRIFT_PAYLOAD_DIR="$work/over" \
    -DSKYRIFT_BUILD_TESTS=OFF > "$work/over.log" 2>&1; then
    fail "a payload of $((limit + 1)) bytes is built"
fi
lines=$(grep -c "bytes a 32-bit setup can hold" "$work/over.log" || true)
[ "$lines" = 1 ] || fail "the refusal is not one line:"$'\n'"$(cat "$work/over.log")"
grep -q "^ *the payload's $((limit + 1)) bytes are more than the $limit bytes a 32-bit setup can hold: .*2 GiB" \
    "$work/over.log" || fail "the refusal does not name the limit:"$'\n'"$(grep "32-bit setup" "$work/over.log")"
[ ! -e "$work/build/generated/payload" ] || fail "payload files were copied before the refusal"
echo "payload limit ok: $limit bytes taken, one more refused: $(grep "32-bit setup" "$work/over.log")"
rm -rf "$work"
