# Cross-build of the Windows program as 64-bit, with MinGW-w64. Kelvor ships as the 32-bit
# build; this one exists so the Windows code can be tested under a 64-bit Wine on machines
# whose kernel runs no 32-bit processes.
set(KELVOR_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
