# Shared by the MinGW-w64 toolchain files; KELVOR_MINGW_TRIPLE names the target and
# KELVOR_MINGW_THREADS the compilers' thread model (posix unless the toolchain file says win32).
set(CMAKE_SYSTEM_NAME Windows)
if(KELVOR_MINGW_TRIPLE MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
else()
  set(CMAKE_SYSTEM_PROCESSOR i686)
endif()
# The posix thread model's C++ runtime has std::mutex, which GoogleTest needs, and brings
# winpthreads with it; the win32 model has neither.
if(NOT KELVOR_MINGW_THREADS)
  set(KELVOR_MINGW_THREADS posix)
endif()
set(CMAKE_C_COMPILER ${KELVOR_MINGW_TRIPLE}-gcc-${KELVOR_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${KELVOR_MINGW_TRIPLE}-g++-${KELVOR_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${KELVOR_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KELVOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests of the Windows build run under Wine when a Wine that can run them is there, through
# tools/wine.sh: every test, and every listing of a test program's cases, in the one prefix
# of the build tree, made once.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL x86_64)
  find_program(KELVOR_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(KELVOR_WINE NAMES wine64)
else()
  find_program(KELVOR_WINE NAMES wine)
endif()
if(KELVOR_WINE AND CMAKE_SYSTEM_PROCESSOR STREQUAL x86_64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine.sh)
elseif(KELVOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVOR_WINE})
endif()
