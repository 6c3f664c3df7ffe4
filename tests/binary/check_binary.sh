#!/bin/bash
# Host-side checks of the shipped program, run by CTest without Wine.
#
#   check_binary.sh header EXE [ARCH]   PE32 i386 (ARCH x86_64: PE32+ x86-64),
#                                       GUI subsystem 4.0, OS 4.0, imports
#                                       only from KERNEL32 and USER32 and
#                                       only what win95-imports.txt lists
#   check_binary.sh cpu EXE [MAP]       no instruction newer than the 386
#                                       outside the SSE2 checksum and the
#                                       guarded CPUID probe
#   check_binary.sh flags SRC           the program's sources pass no flag
#                                       newer than Windows 95 that is not on
#                                       win95-flags.txt
#   check_binary.sh cppcheck SRC        the program's sources are clean
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

case ${1:?usage} in
header)
    exe=${2:?EXE}
    arch=${3:-i686}
    format=pei-i386
    [ "$arch" = x86_64 ] && format=pei-x86-64
    dump=$($arch-w64-mingw32-objdump -p "$exe")
    grep -q "file format $format\$" <<<"$dump" || fail "not a $format image"
    field() { awk -v k="$1" '$1 == k { print $2 }' <<<"$dump"; }
    [ "$(field Subsystem)" = 00000002 ] || fail "subsystem $(field Subsystem), want 2 (GUI)"
    [ "$(field MajorSubsystemVersion).$(field MinorSubsystemVersion)" = 4.0 ] ||
        fail "subsystem version $(field MajorSubsystemVersion).$(field MinorSubsystemVersion)"
    [ "$(field MajorOSystemVersion).$(field MinorOSystemVersion)" = 4.0 ] ||
        fail "OS version $(field MajorOSystemVersion).$(field MinorOSystemVersion)"
    # a fixed time stamp: nothing in the header changes from build to build
    grep -q "^Time/Date.*1970" <<<"$dump" || fail "header carries a build time"
    # every import as "DLL function" (by ordinal: <none>) on the list of what Windows 95 has
    imports=$(awk '/DLL Name:/ { dll = toupper($3); sub(/\.DLL$/, "", dll) } dll && /^\t[0-9a-f]+\t/ { print dll, $3 }' <<<"$dump")
    [ -n "$imports" ] || fail "no import table"
    # KERNEL32 and USER32 only: any other library would be looked for in the
    # program's own folder first on some Windows (platform/syslib.h)
    others=$(awk '{ print $1 }' <<<"$imports" | sort -u | grep -vxE 'KERNEL32|USER32') &&
        fail "imports from $(echo $others), which the setup must load from the system folder"
    unknown=$(grep -vxF -f <(awk '!/^#/ { print $1, $2 }' "$(dirname "$0")/win95-imports.txt") <<<"$imports") &&
        fail "imports what is not on win95-imports.txt: $(echo $unknown)"
    echo "header ok; $(wc -l <<<"$imports") imports from KERNEL32 and USER32, all on win95-imports.txt"
    ;;
cpu)
    # The exe is stripped, so the two places allowed more than the 386 are
    # found through the link map written beside it: the SSE2 sum is in the
    # input section ".text$vec" and the CPUID probe in ".text$cpuid" (their
    # own sections by attribute, payload/checksum.cpp), merged into .text.
    # A name the section attribute fixes, read from what the linker did, does
    # not depend on how the compiler names, clones or orders functions.
    # An instruction is newer than the 386 by its mnemonic, by a register
    # the 386 lacks (MMX, SSE and later), or, for whatever the lists miss,
    # by a two-byte opcode (0F xx) outside the 386's. Undecodable bytes are
    # let pass: the linker puts the constructor lists, data, into .text.
    exe=${2:?EXE}
    map=${3:-${exe%.*}.map}
    [ -f "$map" ] || fail "no link map $map"
    regions=$(awk '
        /^Linker script and memory map/ { on = 1; next }
        !on { next }
        pending { print pending, $1, $2; pending = ""; next }
        $1 ~ /^\.text\$(vec|cpuid)$/ { if (NF >= 3) print $1, $2, $3; else pending = $1 }
    ' "$map")
    # the map must be this exe's: its .text starts where the exe's does and
    # is no shorter
    read -r vma size < <(i686-w64-mingw32-objdump -h "$exe" | awk '$2 == ".text" { print $4, $3 }')
    read -r mvma msize < <(awk '/^Linker script and memory map/ { on = 1 }
        on && $1 == ".text" && $2 ~ /^0x/ { print $2, $3; exit }' "$map")
    [ -n "$vma" ] && [ -n "$mvma" ] || fail "no .text in $exe or $map"
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
        function bad(a, what) { printf "FAIL: 0x%x: %s\n", a, what; nbad++ }
        NF >= 3 && $1 ~ /^ *[0-9a-f]+:$/ {
            a = $1; gsub(/[ :]/, "", a); addr = hex(a)
            insn = $3
            sub(/ +$/, "", insn)
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
            if (what == "") next
            if (where == ".text$vec") next
            if (where == ".text$cpuid" && op == "cpuid") {
                # only after the EFLAGS ID bit was found to change
                if (!(idtest && popf)) bad(addr, insn " (cpuid before the EFLAGS ID-bit test)")
                next
            }
            bad(addr, insn " (" what ")")
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
    src=${2:?SRC}
    list=$(dirname "$0")/win95-flags.txt
    # Constants Windows 95 does not have, as whole words; where each
    # appeared is in the header of win95-flags.txt.
    newer='PM_QS_[A-Z]+|QS_(RAWINPUT|TOUCH|POINTER|INPUT|ALLEVENTS|ALLINPUT)'
    newer+='|SMTO_(NOTIMEOUTIFNOTHUNG|ERRORONEXIT)|MB_(SERVICE_NOTIFICATION|DEFAULT_DESKTOP_ONLY)'
    newer+='|FILE_SHARE_DELETE|FILE_FLAG_(FIRST_PIPE_INSTANCE|OPEN_REPARSE_POINT)'
    newer+='|MOVEFILE_(CREATE_HARDLINK|FAIL_IF_NOT_TRACKABLE)|EWX_(FORCEIFHUNG|RESTARTAPPS|HYBRID_SHUTDOWN)'
    newer+='|WS_EX_(LAYERED|NOACTIVATE|NOINHERITLAYOUT|LAYOUTRTL|COMPOSITED)'
    newer+='|BIF_(EDITBOX|VALIDATE|BROWSEINCLUDEFILES|NEWDIALOGSTYLE|USENEWUI|SHAREABLE|BROWSEINCLUDEURLS'
    newer+='|UAHINT|NONEWFOLDERBUTTON|NOTRANSLATETARGETS|BROWSEFILEJUNCTIONS)|ACS_TIMER|PF_[A-Z0-9_]+'
    newer+='|LOAD_LIBRARY_(SEARCH_[A-Z0-9_]+|REQUIRE_SIGNED_TARGET|SAFE_CURRENT_DIRS|AS_IMAGE_RESOURCE|AS_DATAFILE_EXCLUSIVE)'
    allowed=$(awk '!/^#/ && NF { print $1 }' "$list")
    files=$(find "$src/setup" "$src/payload" "$src/locator" "$src/installer" "$src/platform" "$src/resources" \
        -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.rc' -o -name '*.in' \) | sort)
    [ -n "$files" ] || fail "no sources in $src"
    used=""
    for f in $files; do
        # comments left out by the compiler's own reading of the source
        text=$(c++ -E -fpreprocessed -P -x c++ "$f") || fail "cannot read $f"
        names=$(grep -owE "$newer" <<<"$text" | sort -u) || true
        for name in $names; do
            grep -qxF "$name" <<<"$allowed" || { echo "FAIL: ${f#"$src"/} passes $name, which Windows 95 lacks" >&2; bad=1; }
        done
        used+="$names"$'\n'
    done
    for name in $allowed; do
        grep -qxF "$name" <<<"$used" || { echo "FAIL: win95-flags.txt lists $name, which the sources no longer pass" >&2; bad=1; }
    done
    [ -z "${bad:-}" ] || fail "flags newer than Windows 95 (above)"
    echo "flags ok: $(wc -l <<<"$files") files, newer than Windows 95 only: ${allowed:-none}"
    ;;
cppcheck)
    src=${2:?SRC}
    # The program is C-style Win32 code; its casts are the API's idiom.
    cppcheck --quiet --error-exitcode=1 --enable=warning,style,performance,portability \
        --std=c++17 --language=c++ -D_WIN32 -DWIN32 -I "$src/resources" -I "$src" \
        --suppress=missingIncludeSystem --suppress=cstyleCast \
        "$src/setup" "$src/payload" "$src/locator" "$src/installer" "$src/platform"
    echo "cppcheck: nothing reported"
    ;;
*) fail "unknown check $1" ;;
esac
