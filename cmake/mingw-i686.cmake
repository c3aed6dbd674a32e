# Cross-build of the 32-bit Windows console program with MinGW-w64: the kelvor.exe that
# ships, to SCADA nodes that may still run Windows XP SP3 or Server 2003.
set(KELVOR_MINGW_TRIPLE i686-w64-mingw32)
# The win32 thread model: the program needs no threads, and the posix model's winpthreads
# imports GetTickCount64, which XP's KERNEL32.dll lacks (the loader then refuses to start it).
set(KELVOR_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# The Windows headers declare only what XP has, so that a newer call fails to compile here
# rather than to load on a node.
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0501 -DWINVER=0x0501")
# Built for size, as kelvor.exe carries its C++ runtime (the README says where its bytes go).
# The top CMakeLists.txt adds these options to every target of this build:
# - no exceptions and no RTTI: the program throws and catches none and asks no type of
#   anything, and without them it carries no unwind tables and no type names. The exception
#   runtime stays out only while nothing linked in can throw: operator new is the program's
#   own (app/operator_new.cpp), std::function is not used, and function-local statics
#   are made without the runtime's guard. A std::string or std::vector in the program would
#   bring it back, some 90 KB;
# - no guard on function-local statics: one thread makes them all (the console handler's
#   thread touches none), and the guard's failure path throws;
# - each function and object in a section of its own, and the linker leaves out those that
#   nothing uses;
# - -Os: it comes after the build type's -O2 or -O3 and wins.
set(KELVOR_SIZE_COMPILE_OPTIONS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-threadsafe-statics -ffunction-sections -fdata-sections)
set(KELVOR_SIZE_LINK_OPTIONS -Wl,--gc-sections)
# The program stripped (symbols were most of its size), and its PE header's OS and subsystem
# versions 5.1: it says it needs Windows XP, and XP's loader refuses a program that asks for
# more. Static libgcc and libstdc++ come from the top CMakeLists.txt, for every Windows build.
# tools/check-exe.sh checks the result.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-s -Wl,--major-os-version=5,--minor-os-version=1 \
-Wl,--major-subsystem-version=5,--minor-subsystem-version=1")
