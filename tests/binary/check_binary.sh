#!/bin/bash
# Host-side checks of the shipped program, run by CTest without Wine.
#
#   check_binary.sh header EXE          PE32 i386, GUI subsystem 4.0, OS 4.0,
#                                       imports from system DLLs only
#   check_binary.sh cppcheck SRC        the program's sources are clean
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

case ${1:?usage} in
header)
    exe=${2:?EXE}
    dump=$(i686-w64-mingw32-objdump -p "$exe")
    grep -q "file format pei-i386" <<<"$dump" || fail "not a PE32 i386 image"
    field() { awk -v k="$1" '$1 == k { print $2 }' <<<"$dump"; }
    [ "$(field Subsystem)" = 00000002 ] || fail "subsystem $(field Subsystem), want 2 (GUI)"
    [ "$(field MajorSubsystemVersion).$(field MinorSubsystemVersion)" = 4.0 ] ||
        fail "subsystem version $(field MajorSubsystemVersion).$(field MinorSubsystemVersion)"
    [ "$(field MajorOSystemVersion).$(field MinorOSystemVersion)" = 4.0 ] ||
        fail "OS version $(field MajorOSystemVersion).$(field MinorOSystemVersion)"
    # a fixed time stamp: nothing in the header changes from build to build
    grep -q "^Time/Date.*1970" <<<"$dump" || fail "header carries a build time"
    system="KERNEL32 USER32 GDI32 COMCTL32 OLE32 SHELL32 LZ32 MSVCRT ADVAPI32 COMDLG32"
    dlls=$(awk '/DLL Name:/ { print toupper($3) }' <<<"$dump")
    [ -n "$dlls" ] || fail "no import table"
    for d in $dlls; do
        base=${d%.DLL}
        grep -qw "$base" <<<"$system" || fail "imports $d, which does not come with the system"
    done
    echo "header ok; imports: $(echo $dlls)"
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
