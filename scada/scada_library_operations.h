// The operations of the SCADA libraries EDA.dll and FIXTOOLS.dll that the program calls,
// each bound by ordinal (scada/scada_libraries.cmake). One declaration serves both the
// program, which imports them, and the stand-in libraries in sim/scada_dlls, which define
// them: a signature changed on one side no longer compiles on the other.
#pragma once

#include <cstdint>

#ifndef KELVOR_SCADA_CALL
#error "KELVOR_SCADA_CALL (the libraries' calling convention) comes from the build"
#endif

// The program imports; a stand-in library defines and exports through its .def file.
#ifndef KELVOR_SCADA_API
#define KELVOR_SCADA_API __declspec(dllimport)
#endif

extern "C" {
// FIXTOOLS.dll ordinal 72.
KELVOR_SCADA_API int32_t KELVOR_SCADA_CALL KelvorFixRunning(void);
// EDA.dll ordinal 37.
KELVOR_SCADA_API int16_t KELVOR_SCADA_CALL KelvorEdaReadAlarm(int32_t mode, void* record);
// EDA.dll ordinal 86. No buffer length is passed.
KELVOR_SCADA_API int16_t KELVOR_SCADA_CALL KelvorEdaReadText(const char* node, const char* tag,
                                                             const char* field, char* text);
// EDA.dll ordinal 88.
KELVOR_SCADA_API int16_t KELVOR_SCADA_CALL KelvorEdaReadNumber(const char* node, const char* tag,
                                                               const char* field, float* value);
}
