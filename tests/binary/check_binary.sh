#!/bin/bash
# Host-side checks of the shipped program, run by CTest without Wine.
#
#   check_binary.sh header EXE [ARCH]   PE32 i386 (ARCH x86_64: PE32+ x86-64),
#                                       GUI subsystem 4.0, OS 4.0, imports
#                                       only from win95-imports.txt
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
    unknown=$(grep -vxF -f <(awk '!/^#/ { print $1, $2 }' "$(dirname "$0")/win95-imports.txt") <<<"$imports") &&
        fail "imports what is not on win95-imports.txt: $(echo $unknown)"
    echo "header ok; $(wc -l <<<"$imports") imports, all on win95-imports.txt"
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
