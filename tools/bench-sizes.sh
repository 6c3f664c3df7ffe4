#!/bin/bash
# Benchmarks of real-size payloads: for each size (MiB; by default 8, 64 and
# 300) a payload made by the data generator of the build tree (never kept),
# the setup built with it, and then, under Wine in the benchmarks' own
# prefix: its start-up check and installation against the bare work of the
# same size, and the setup itself run as a player runs it, with a probe of
# its windows every 50 ms during the installation. Prints one line per
# figure, then a table. Nothing here fails on time.
#
#   tools/bench-sizes.sh [MIB...]
#
# Works in TREE/bench-sizes/ (build/ or build-x86_64/), which it removes
# afterwards; each size needs about eight times its size on the disk while
# it is measured, one size at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh

SIZES=("$@")
[ ${#SIZES[@]} -gt 0 ] || SIZES=(8 64 300)
for mib in "${SIZES[@]}"; do
    [[ $mib =~ ^[1-9][0-9]*$ ]] || { echo "usage: tools/bench-sizes.sh [MIB...] (whole MiB, not '$mib')" >&2; exit 2; }
done

choose_arch
prepare -q "$RUN_ARCH"
need_runtime "$RUN_ARCH" headless
TREE=$(tree "$RUN_ARCH")
cmake --build --preset "$(preset "$RUN_ARCH")" --target skyrift_bench notepad_stub skyrift_data_tool >/dev/null

largest=$(printf '%s\n' "${SIZES[@]}" | sort -n | tail -1)
need=$((largest * 8 + 1024))
avail=$(($(df -k --output=avail "$TREE" | tail -1) / 1024))
if [ "$avail" -lt "$need" ]; then
    echo "bench-sizes: $largest MiB needs about $need MiB free in $TREE, there are $avail MiB" >&2
    exit 1
fi

WORK=$ROOT/$TREE/bench-sizes
rm -rf "$WORK"
mkdir -p "$WORK"
unset SKYRIFT_BED_DISPLAY
bed_up benchbed "$RUN_ARCH" 2>/dev/null
trap 'rm -rf "$WORK"; tools/bed/bed.sh stop "$BED"' EXIT
# Notepad's stand-in as the system's own, where the setup and the
# benchmark start it
cp "$TREE/bin/tests/notepad.exe" "$BED/prefix/drive_c/windows/notepad.exe"
rm -rf "$BED/drives/f/bench"

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }
now() { date +%s.%N; }

echo "benchmarks of payload sizes, $(date -u +%Y-%m-%d), $(nproc) cpus, $(. "$BED/env"; "$WINE" --version), $RUN_ARCH build, $(uname -m) host"
rows=()
for mib in "${SIZES[@]}"; do
    dir=$WORK/$mib
    mkdir -p "$dir/payload"
    "$TREE/host/make_data" "$dir/payload/vxmain.vdf" $((mib * 1048576))
    cp resources/payload/vxsky_readme.txt "$dir/payload/"
    bytes=$(($(stat -c %s "$dir/payload/vxmain.vdf") + $(stat -c %s "$dir/payload/vxsky_readme.txt")))
    echo "== $mib MiB: $bytes bytes in both entries"

    cmake -S . -B "$dir/build" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$RUN_ARCH-w64-mingw32.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DSKYRIFT_PAYLOAD_DIR="$dir/payload" -DSKYRIFT_BUILD_TESTS=OFF >/dev/null
    t0=$(now)
    /usr/bin/time -f %M -o "$dir/peak" cmake --build "$dir/build" --target VexmoorSkyriftSetup -j 2 >/dev/null
    t1=$(now)
    # the payload changed, nothing else: what the payload's size costs
    touch "$dir/payload/vxmain.vdf"
    /usr/bin/time -f %M -o "$dir/peak2" cmake --build "$dir/build" --target VexmoorSkyriftSetup -j 2 >/dev/null
    t2=$(now)
    build=$(seconds "$t0" "$t1")
    rebuild=$(seconds "$t1" "$t2")
    peak=$(( $(sort -n "$dir/peak" "$dir/peak2" | tail -1) / 1024 ))
    printf '%-22s %9s s   (from scratch)   payload rebuild %s s   peak memory %d MiB\n' "build" "$build" "$rebuild" "$peak"
    rm -rf "$dir/payload"   # the build has its own copy

    exe="X:\\bench-sizes\\$mib\\build\\bin\\VexmoorSkyriftSetup.exe"
    # into a file: the Wine server keeps a pipe open after the program ends
    (cd "$TREE" && exec ../tools/bed/wine-run.sh "$BED" bin/tools/skyrift_bench.exe --payload-of "$exe" 'F:\bench\') \
        >"$dir/out"
    cat "$dir/out"
    rm -rf "$BED/drives/f/bench"
    field() { awk -v k="$1" -v n="$2" 'index($0, k) == 1 { print $n; exit }' "$dir/out"; }
    rows+=("$(printf '%-8s %7s %9s %8s %9s %7s %9s %10s %7s %9s %10s %8s' "$mib MiB" "$build" "$rebuild" "$peak" \
        "$(field 'start-up check  ' 4)" "$(field 'start-up check  ' 10)" "$(field "the setup's start" 4)" \
        "$(field 'installation  ' 3)" "$(field 'installation  ' 9)" "$(field "the setup's copy" 4)" \
        "$(field 'unanswered' 2)" "$(field "the setup's end" 4)")")
    rm -rf "$dir"
done

echo
echo "size, build from scratch and for a changed payload (s), its peak memory; start-up check (ms, ratio to memcpy);"
echo "the setup's start to its welcome (ms); installation (ms, ratio to the bare work); the setup's own copy, Yes to"
echo "\"Done!\" (ms); the longest its windows did not answer (ms); OK on \"Done!\" to the end of the process (ms)"
printf '%-8s %7s %9s %8s %9s %7s %9s %10s %7s %9s %10s %8s\n' size build rebuild peak check ratio start install ratio copy unanswered end
printf '%s\n' "${rows[@]}"
