# Cross toolchain: 32-bit Windows through mingw-w64. What ships.
set(SKYRIFT_TOOLCHAIN_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
