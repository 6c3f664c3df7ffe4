# Cross toolchain: 64-bit Windows through mingw-w64. Not what ships: the
# same sources built for hosts whose Wine runs 64-bit Windows programs only.
set(SKYRIFT_TOOLCHAIN_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
