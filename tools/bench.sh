#!/bin/bash
# Benchmarks: installs what is missing, builds the benchmark program and runs
# it under Wine in a prefix of its own (build/benchbed), then prints one line
# per figure. Nothing here fails on time; the figures are for reading.
# It measures the i686 build where this host starts 32-bit programs, the
# x86_64 build where it does not (or as SKYRIFT_ARCH says); the size figure
# is always the shipped i686 exe's.
#
#   tools/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh

choose_arch
prepare -q "$RUN_ARCH"
need_runtime "$RUN_ARCH" headless
TREE=$(tree "$RUN_ARCH")
cmake --build --preset "$(preset "$RUN_ARCH")" --target skyrift_bench >/dev/null
unset SKYRIFT_BED_DISPLAY
bed_up benchbed "$RUN_ARCH" 2>/dev/null

# The search tree: 20 x 20 x 50 directories (20,420 with the upper levels),
# no game in it, on D:. F: gets a deep, wide tree for the cancel
# measurement (every fixed drive is walked then) and the install folders.
D=$BED/drives/d
F=$BED/drives/f
if [ ! -d "$D/tree/a19/b19/c49" ]; then
    rm -rf "$D/tree"
    for a in $(seq 0 19); do for b in $(seq 0 19); do for c in $(seq 0 49); do
        echo "$D/tree/a$a/b$b/c$c"
    done; done; done | xargs mkdir -p
fi
if [ ! -d "$F/deep/x3/l7/x3/l7/x3/l7/x3" ]; then
    rm -rf "$F/deep"
    # 4 levels of 4 x 8 folders, each level two deep: a tree both wide and deep
    python3 - "$F/deep" <<'PY'
import os, sys, itertools
root = sys.argv[1]
def grow(path, depth):
    if depth == 0:
        return
    for x in range(4):
        for l in range(8):
            p = os.path.join(path, "x%d" % x, "l%d" % l)
            os.makedirs(p, exist_ok=True)
            if l == 7:
                grow(p, depth - 1)
grow(root, 4)
PY
fi
rm -rf "$F/bench"

echo "benchmarks, $(date -u +%Y-%m-%d), $(nproc) cpus, $(. "$BED/env"; "$WINE" --version), $RUN_ARCH build, $(uname -m) host"
# Notepad's stand-in as the system's own, where the setup starts it
cp "$TREE/bin/tests/notepad.exe" "$BED/prefix/drive_c/windows/notepad.exe"
(cd "$TREE" && exec ../tools/bed/wine-run.sh "$BED" bin/tools/skyrift_bench.exe 'D:\tree\' 'F:\bench\')

# The whole search in the prefix as wineboot leaves it (tools/bed/bed.sh links
# on), with some 9,000 folders in the home and the root, the trees of D: and
# F: moved aside meanwhile. The real folders are counted here on the host:
# links not followed, the prefix not (Wine keeps it out of Z:'s listings),
# M:'s folder once (N: maps it too). A search still going after 120 s (one
# that follows the loops of links) is stopped.
aside=$BED/drives/g/aside
rm -rf "$aside" && mkdir -p "$aside" && mv "$D/tree" "$F/deep" "$aside/"
tools/bed/bed.sh links "$BED" on
U=$BED/unix
printf '%s\n' "$U"/home/player/.cache/a{0..49}/b{0..39} "$U"/usr/share/p{0..49}/q{0..59} \
    "$U"/home/player/.steam/steam/steamapps/compatdata/2420/pfx/drive_c/s{0..39}/t{0..49} | xargs mkdir -p
real=$( { find "$BED/prefix/drive_c" "$D" "$F" -type d
          [ -L "$BED/prefix/dosdevices/h:" ] && find "$BED/fulldisk" -type d
          find "$U" -path "$U/home/player/.wine" -prune -o -type d -print; } | wc -l)
(cd "$TREE" && ../tools/bed/wine-run.sh "$BED" bin/tools/skyrift_bench.exe --layout "$real" 'Z:\mnt\games\' 120)
tools/bed/bed.sh links "$BED" off
mv "$aside/tree" "$D/" && mv "$aside/deep" "$F/"

# Size: the exe's bytes beyond its payload entries' bytes.
EXE=build/bin/VexmoorSkyriftSetup.exe
total=$(stat -c %s "$EXE")
payload=0
for f in build/generated/payload/vxmain.vdf build/generated/payload/vxsky_readme.txt; do
    payload=$((payload + $(stat -c %s "$f")))
done
beyond=$((total - payload))
printf '%-22s %d bytes beyond the payload (%d - %d)   target <= 34000 bytes\n' \
    "size" "$beyond" "$total" "$payload"
i686-w64-mingw32-objdump -h "$EXE" | grep -E '^ +[0-9]' | while read -r _ name size _; do printf '  %-8s %7d bytes\n' "$name" "$((16#$size))"; done
