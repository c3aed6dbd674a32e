# Cross-build of the 32-bit Windows console program with MinGW-w64.
set(KELVOR_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
