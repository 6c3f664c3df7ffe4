#!/bin/bash
# Host-side checks of the shipped program, run by CTest without Wine:
#   header EXE [ARCH]  PE32 i386 (x86_64: PE32+ x86-64), GUI subsystem 4.0, OS 4.0, imports only
#                      from KERNEL32 and USER32 and only what win95-imports.txt lists
#   cpu EXE [MAP]      no instruction newer than the 386 outside the SSE2 sum and the guarded CPUID probe
#   flags SRC          the sources pass no flag newer than Windows 95 that win95-flags.txt does not list
#   cppcheck SRC       the sources are clean
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
[ $# -ge 2 ] || fail "usage: check_binary.sh header|cpu EXE ... or flags|cppcheck SRC"
exe=$2 src=$2
program=("$src/setup" "$src/payload" "$src/locator" "$src/installer" "$src/platform")

case $1 in
header)
    arch=${3:-i686} format=pei-i386
    [ "$arch" = x86_64 ] && format=pei-x86-64
    dump=$($arch-w64-mingw32-objdump -p "$exe")
    grep -q "file format $format\$" <<<"$dump" || fail "not a $format image"
    want="MajorOSystemVersion=4 MinorOSystemVersion=0 MajorSubsystemVersion=4 MinorSubsystemVersion=0 Subsystem=00000002"
    got=$(awk '$1 ~ /^((Major|Minor)(OSystem|Subsystem)Version|Subsystem)$/ { printf "%s%s=%s", sep, $1, $2; sep = " " }' <<<"$dump")
    [ "$got" = "$want" ] || fail "header has $got, want $want (GUI)"
    # a fixed time stamp: nothing in the header changes from build to build
    grep -q "^Time/Date.*1970" <<<"$dump" || fail "header carries a build time"
    # every import as "DLL function" (by ordinal: <none>)
    imports=$(awk '/DLL Name:/ { dll = toupper($3); sub(/\.DLL$/, "", dll) } dll && /^\t[0-9a-f]+\t/ { print dll, $3 }' <<<"$dump")
    [ -n "$imports" ] || fail "no import table"
    # some Windows look for any other library in the program's own folder first (platform/syslib.h)
    others=$(awk '{ print $1 }' <<<"$imports" | sort -u | grep -vxE 'KERNEL32|USER32') &&
        fail "imports from $(echo $others), which the setup must load from the system folder"
    unknown=$(grep -vxF -f <(awk '!/^#/ { print $1, $2 }' "$(dirname "$0")/win95-imports.txt") <<<"$imports") &&
        fail "imports what is not on win95-imports.txt: $(echo $unknown)"
    echo "header ok; $(wc -l <<<"$imports") imports from KERNEL32 and USER32, all on win95-imports.txt"
    ;;
cpu)
    # The exe is stripped: the link map beside it places the SSE2 sum (input section .text$vec) and the
    # CPUID probe (.text$cpuid), sections fixed by attribute (payload/checksum.cpp), whatever the compiler
    # does to functions. Newer than the 386 is a mnemonic, a register the 386 lacks, or a two-byte opcode
    # (0F xx) it lacks; undecodable bytes pass, as the linker puts the constructor lists into .text.
    map=${3:-${exe%.*}.map}
    [ -f "$map" ] || fail "no link map $map"
    regions=$(awk '
        /^Linker script and memory map/ { on = 1; next }
        !on { next }
        pending { print pending, $1, $2; pending = ""; next }
        $1 ~ /^\.text\$(vec|cpuid)$/ { if (NF >= 3) print $1, $2, $3; else pending = $1 }
    ' "$map")
    # the map is this exe's: its .text starts where the exe's does and is no shorter
    read -r vma size < <(i686-w64-mingw32-objdump -h "$exe" | awk '$2 == ".text" { print $4, $3 }') || fail "no .text in $exe"
    read -r mvma msize < <(awk '/^Linker script and memory map/ { on = 1 }
        on && $1 == ".text" && $2 ~ /^0x/ { print $2, $3; exit }' "$map") || fail "no .text in $map"
    (( 16#$vma == mvma && 16#$size <= msize )) || fail "$map does not belong to $exe"
    i686-w64-mingw32-objdump -d "$exe" | awk -F'\t' -v regions="$regions" '
        function hex(s,   i, v) {
            s = tolower(s); sub(/^0x/, "", s); v = 0
            for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
            return v
        }
        BEGIN {
            n = split(regions, r, /[ \n]+/)
            for (i = 1; i + 2 <= n; i += 3) { kind[++nr] = r[i]; lo[nr] = hex(r[i + 1]); hi[nr] = lo[nr] + hex(r[i + 2]) }
            # the second bytes of the two-byte opcodes (0F xx) a 386 has
            split("00 01 02 03 06 20 21 22 23 24 26 80 81 82 83 84 85 86 87 88 89 8a 8b 8c 8d 8e 8f " \
                  "90 91 92 93 94 95 96 97 98 99 9a 9b 9c 9d 9e 9f a0 a1 a3 a4 a5 a8 a9 ab ac ad af " \
                  "b2 b3 b4 b5 b6 b7 ba bb bc bd be bf", ok0f, " ")
            for (i in ok0f) has0f[ok0f[i]] = 1
        }
        function region(a,   i) { for (i = 1; i <= nr; i++) if (a >= lo[i] && a < hi[i]) return kind[i]; return "" }
        NF >= 3 && $1 ~ /^ *[0-9a-f]+:$/ {
            a = $1; gsub(/[ :]/, "", a); addr = hex(a)
            insn = $3; sub(/ +$/, "", insn)
            # the mnemonic, past prefixes
            m = split(insn, w, / +/)
            for (j = 1; j < m && w[j] ~ /^(lock|rep|repz|repe|repnz|repne|data16|data32|addr16|addr32|[cdefgs]s|notrack|bnd|xacquire|xrelease)$/; j++) ;
            op = w[j]
            # the opcode byte after 0F, past legacy prefixes
            nb = split($2, b, " ")
            for (k = 1; k < nb && b[k] ~ /^(66|67|f0|f2|f3|26|2e|36|3e|64|65)$/; k++) ;
            second = (b[k] == "0f" && k < nb) ? b[k + 1] : ""
            where = region(addr)
            if (where == ".text$cpuid" && op ~ /^xor/ && insn ~ /\$0x200000,/) idtest = 1
            if (where == ".text$cpuid" && idtest && op ~ /^popf/) popf = 1
            what = ""
            if (op ~ /^(cmpxchg[bwl]?|xadd[bwl]?|bswap|invlpg|invd|wbinvd)$/) what = "486"
            else if (op ~ /^(cmpxchg8b|rdtsc|rdmsr|wrmsr|cpuid)$/) what = "Pentium"
            else if (op ~ /^(cmov|fcmov)/ || op ~ /^(fu?comip?|ud2[ab]?|rdpmc|sysenter|sysexit|nop[wl])$/) what = "Pentium Pro"
            else if (insn ~ /%mm[0-7]/ || op ~ /^f?emms$/) what = "MMX"
            else if (insn ~ /%[xyz]mm[0-9]|%k[0-7]|%bnd/) what = "SSE or later"
            else if (op ~ /^(popcnt|lzcnt|tzcnt|movbe|crc32|rdrand|rdseed|rdtscp|andn|bextr|blsi|blsmsk|blsr|bzhi|mulx|pdep|pext|rorx|sarx|shlx|shrx|adcx|adox|xgetbv|xsetbv|xsave|xrstor|fxsave|fxrstor|ldmxcsr|stmxcsr|prefetch|[lsm]fence|clflush|clwb|movnti|monitor|mwait|fisttp|syscall|sysret|endbr)/) what = "later"
            else if (second != "" && !(second in has0f)) what = "0F " second ", not a 386 opcode"
            # cpuid only in the probe, after the EFLAGS ID bit was found to change
            if (where == ".text$cpuid" && op == "cpuid") what = (idtest && popf) ? "" : "cpuid before the EFLAGS ID-bit test"
            if (what != "" && where != ".text$vec") { printf "FAIL: 0x%x: %s (%s)\n", addr, insn, what; nbad++ }
        }
        END {
            if (nbad) exit 1
            printf "cpu ok: nothing newer than the 386 outside"
            for (i = 1; i <= nr; i++) printf " %s 0x%x-0x%x", kind[i], lo[i], hi[i]
            print ""
        }
    ' || fail "instructions the 386 does not have (above)"
    ;;
flags)
    # constants Windows 95 does not have, as whole words; where each appeared is in the header of win95-flags.txt
    newer='PM_QS_[A-Z]+|QS_(RAWINPUT|TOUCH|POINTER|INPUT|ALLEVENTS|ALLINPUT)'
    newer+='|SMTO_(NOTIMEOUTIFNOTHUNG|ERRORONEXIT)|MB_(SERVICE_NOTIFICATION|DEFAULT_DESKTOP_ONLY)'
    newer+='|FILE_SHARE_DELETE|FILE_FLAG_(FIRST_PIPE_INSTANCE|OPEN_REPARSE_POINT)'
    newer+='|MOVEFILE_(CREATE_HARDLINK|FAIL_IF_NOT_TRACKABLE)|EWX_(FORCEIFHUNG|RESTARTAPPS|HYBRID_SHUTDOWN)'
    newer+='|WS_EX_(LAYERED|NOACTIVATE|NOINHERITLAYOUT|LAYOUTRTL|COMPOSITED)'
    newer+='|BIF_(EDITBOX|VALIDATE|BROWSEINCLUDEFILES|NEWDIALOGSTYLE|USENEWUI|SHAREABLE|BROWSEINCLUDEURLS'
    newer+='|UAHINT|NONEWFOLDERBUTTON|NOTRANSLATETARGETS|BROWSEFILEJUNCTIONS)|ACS_TIMER|PF_[A-Z0-9_]+'
    newer+='|LOAD_LIBRARY_(SEARCH_[A-Z0-9_]+|REQUIRE_SIGNED_TARGET|SAFE_CURRENT_DIRS|AS_IMAGE_RESOURCE|AS_DATAFILE_EXCLUSIVE)'
    allowed=$(awk '!/^#/ && NF { print $1 }' "$(dirname "$0")/win95-flags.txt")
    files=$(find "${program[@]}" "$src/resources" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.rc' -o -name '*.in' \) | sort)
    [ -n "$files" ] || fail "no sources in $src"
    used=""
    for f in $files; do
        # comments left out by the compiler's own reading of the source
        text=$(c++ -E -fpreprocessed -P -x c++ "$f") || fail "cannot read $f"
        for name in $(grep -owE "$newer" <<<"$text" | sort -u); do
            used+="$name"$'\n'
            grep -qxF "$name" <<<"$allowed" || { echo "FAIL: ${f#"$src"/} passes $name, which Windows 95 lacks" >&2; bad=1; }
        done
    done
    for name in $allowed; do
        grep -qxF "$name" <<<"$used" || { echo "FAIL: win95-flags.txt lists $name, which the sources no longer pass" >&2; bad=1; }
    done
    [ -z "${bad:-}" ] || fail "flags newer than Windows 95 (above)"
    echo "flags ok: $(wc -l <<<"$files") files, newer than Windows 95 only: ${allowed:-none}"
    ;;
cppcheck)
    # The program is C-style Win32 code; its casts are the API's idiom.
    cppcheck --quiet --error-exitcode=1 --enable=warning,style,performance,portability \
        --std=c++17 --language=c++ -D_WIN32 -DWIN32 -I "$src/resources" -I "$src" \
        --suppress=missingIncludeSystem --suppress=cstyleCast "${program[@]}"
    echo "cppcheck: nothing reported"
    ;;
*) fail "unknown check $1" ;;
esac
