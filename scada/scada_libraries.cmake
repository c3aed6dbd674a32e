# The SCADA libraries EDA.dll and FIXTOOLS.dll, bound by ordinal at load time through import
# libraries that dlltool makes here from .def files. Included by scada/CMakeLists.txt for
# the Windows build only.
#
# The libraries' calling convention is not documented. KELVOR_SCADA_CALL is the one place
# that names it: it defines the KELVOR_SCADA_CALL macro of the declarations in scada_library_operations.h
# (and so the stand-in libraries' convention) and decides the .def names (a stdcall name
# carries "@<bytes of arguments>"). kelvor.exe works with either whatever the option says:
# its calls go through a piece that puts the stack pointer back after each
# (scada_library_call.h), so a wrong choice no longer breaks the stack at the first call.
set(KELVOR_SCADA_CALL cdecl CACHE STRING
    "Calling convention of the EDA.dll and FIXTOOLS.dll operations: cdecl or stdcall")
set_property(CACHE KELVOR_SCADA_CALL PROPERTY STRINGS cdecl stdcall)
if(NOT KELVOR_SCADA_CALL MATCHES "^(cdecl|stdcall)$")
  message(FATAL_ERROR "KELVOR_SCADA_CALL must be cdecl or stdcall, not '${KELVOR_SCADA_CALL}'")
endif()

# The dlltool of the cross compiler in use (32-bit for the shipped program, 64-bit for the
# build that tests run under Wine).
string(REGEX REPLACE "-g\\+\\+(-posix|-win32)?$" "" KELVOR_MINGW_PREFIX "${CMAKE_CXX_COMPILER}")
find_program(KELVOR_DLLTOOL NAMES ${KELVOR_MINGW_PREFIX}-dlltool dlltool REQUIRED)

# Each operation: "<name in scada_library_operations.h> <ordinal> <bytes of arguments>".
set(KELVOR_EDA_OPERATIONS
    "KelvorEdaReadAlarm 37 8"     # int32 mode, record pointer -> int16 status
    "KelvorEdaReadText 86 16"     # node, tag, field, char* text -> result not examined
    "KelvorEdaReadNumber 88 16")  # node, tag, field, float* value -> int16 status
set(KELVOR_FIXTOOLS_OPERATIONS
    "KelvorFixRunning 72 0")      # -> int32, non-zero while the SCADA system runs

# A library's .def file for one calling convention.
function(kelvor_scada_def_file dll call def)
  set(content "LIBRARY \"${dll}.dll\"\nEXPORTS\n")
  foreach(operation ${ARGN})
    separate_arguments(fields UNIX_COMMAND "${operation}")
    list(GET fields 0 name)
    list(GET fields 1 ordinal)
    list(GET fields 2 bytes)
    if(call STREQUAL "stdcall")
      string(APPEND name "@${bytes}")
    endif()
    string(APPEND content "  ${name} @${ordinal} NONAME\n")
  endforeach()
  file(CONFIGURE OUTPUT ${def} CONTENT "${content}")
endfunction()

set(KELVOR_SCADA_IMPORT_LIBS)
function(kelvor_scada_import_library dll)
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${dll}.def)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/libkelvor_${dll}.a)
  kelvor_scada_def_file(${dll} ${KELVOR_SCADA_CALL} ${def} ${ARGN})
  # Both conventions' .def files too, for the stand-ins that the shipped program is run
  # against in each (sim/scada_dlls).
  foreach(call cdecl stdcall)
    kelvor_scada_def_file(${dll} ${call} ${CMAKE_CURRENT_BINARY_DIR}/${dll}-${call}.def ${ARGN})
  endforeach()
  add_custom_command(OUTPUT ${lib}
                     COMMAND ${KELVOR_DLLTOOL} -d ${def} -l ${lib} -D ${dll}.dll
                     DEPENDS ${def}
                     COMMENT "Import library for ${dll}.dll (${KELVOR_SCADA_CALL})")
  set(KELVOR_SCADA_IMPORT_LIBS ${KELVOR_SCADA_IMPORT_LIBS} ${lib} PARENT_SCOPE)
endfunction()

kelvor_scada_import_library(EDA ${KELVOR_EDA_OPERATIONS})
kelvor_scada_import_library(FIXTOOLS ${KELVOR_FIXTOOLS_OPERATIONS})
add_custom_target(kelvor_scada_import_libs DEPENDS ${KELVOR_SCADA_IMPORT_LIBS})
# The stand-in libraries (sim/scada_dlls) export by the same .def files.
set(KELVOR_SCADA_DEF_DIR ${CMAKE_CURRENT_BINARY_DIR} CACHE INTERNAL "The SCADA libraries' .def files")

# scada_libraries.cpp is the only file that calls the libraries, in the 32-bit build through
# the piece of scada_library_call_i386.cpp. It sits in kelvor_scada but only a program that
# uses SystemScada() (kelvor.exe) pulls it in, and with it the imports: the tests link the
# same import libraries and need no EDA.dll to start.
set(calling scada_libraries.cpp)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL i686)
  list(APPEND calling scada_library_call_i386.cpp)
endif()
target_sources(kelvor_scada PRIVATE ${calling})
set_source_files_properties(${calling} TARGET_DIRECTORY kelvor_scada PROPERTIES
                            COMPILE_DEFINITIONS "KELVOR_SCADA_CALL=__${KELVOR_SCADA_CALL}")
# The shipped build leaves out unwind tables (cmake/mingw-i686.cmake), but these files keep
# theirs: tools/check-call-piece.py finds where each caller of the piece begins and ends by
# its entry in .eh_frame. A few hundred bytes.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL i686)
  set_source_files_properties(${calling} TARGET_DIRECTORY kelvor_scada PROPERTIES
                              COMPILE_OPTIONS -fasynchronous-unwind-tables)
endif()
add_dependencies(kelvor_scada kelvor_scada_import_libs)
target_link_libraries(kelvor_scada INTERFACE ${KELVOR_SCADA_IMPORT_LIBS})
