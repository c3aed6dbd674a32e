// What the calls into EDA.dll and FIXTOOLS.dll rely on, checked when scada_libraries.cpp
// compiles. The tests run the 64-bit build under Wine, where pointers are 8 bytes and cdecl
// and stdcall are one convention: a fault in the 32-bit build's side of the contract would
// show only on a node, as a broken stack or a record read askew. Included by
// scada_libraries.cpp alone (Windows builds).
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "scada/alarm_record.h"
#include "scada/scada_library_operations.h"

namespace kelvor::scada_abi {

// The record: the library writes its 196 bytes and the program copies them into an
// AlarmRecord as they are.
static_assert(kAlarmRecordSize == 196 && sizeof(AlarmRecord) == kAlarmRecordSize,
              "the SCADA alarm record is 196 bytes, without padding");
static_assert(offsetof(AlarmRecord, bytes) == 0, "the record's bytes start the AlarmRecord");
static_assert(std::is_trivially_copyable_v<AlarmRecord> && std::is_standard_layout_v<AlarmRecord>,
              "an AlarmRecord is filled by memcpy from what the library wrote");

// Its fields, where the program reads them: at the offsets of record_layout, the one
// statement of the library's record, which the tests check field by field. Every field the
// program reads lies wholly within the 196 bytes the library wrote, and no byte is read as
// part of two fields, so an edit of record_layout that moves a field past the record's end
// or onto its neighbour stops the build. An integer is as wide as the type it is read as.
namespace at = record_layout;
struct Field {
  size_t offset;
  size_t width;
};
constexpr Field kFields[] = {
    {at::kAreaMask, sizeof(AlarmRecord().AreaMask())},
    {at::kAlarmText, at::kAlarmTextWidth},
    {at::kRoutingFlag, sizeof(AlarmRecord().RoutingFlag())},
    {at::kTagName, at::kTagNameWidth},
    {at::kNodeName, at::kNodeNameWidth},
    {at::kDay, sizeof(AlarmRecord().Day())},
    {at::kHour, sizeof(AlarmRecord().Hour())},
    {at::kMinute, sizeof(AlarmRecord().Minute())},
    {at::kPriority, sizeof(AlarmRecord().Priority())},
    {at::kStatusCode, sizeof(AlarmRecord().StatusCode())},
};
constexpr bool FieldsLieApartWithinTheRecord() {
  for (const Field& field : kFields) {
    if (field.width == 0 || field.offset + field.width > kAlarmRecordSize) return false;
    for (const Field& other : kFields) {
      bool apart = &other == &field || field.offset + field.width <= other.offset ||
                   other.offset + other.width <= field.offset;
      if (!apart) return false;
    }
  }
  return true;
}
static_assert(FieldsLieApartWithinTheRecord(),
              "every field of record_layout within the 196 bytes, and no two overlapping");

// The arguments and results as the libraries have them: 16- and 32-bit integers, a float the
// library writes as 4 IEEE bytes, texts of 8-bit chars.
static_assert(CHAR_BIT == 8 && sizeof(int16_t) == 2 && sizeof(int32_t) == 4,
              "the libraries' integers are 16 and 32 bits");
static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559,
              "a tag's number is a 4-byte IEEE float");

// The calling convention: the build defines KELVOR_SCADA_CALL as __cdecl or __stdcall from the
// option of the same name (scada_libraries.cmake), which also decides the import names.
#define KELVOR_SCADA_ABI_TEXT(x) KELVOR_SCADA_ABI_TEXT_OF(x)
#define KELVOR_SCADA_ABI_TEXT_OF(x) #x
constexpr bool SameText(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}
constexpr bool kMacroIsCdecl =
    SameText(KELVOR_SCADA_ABI_TEXT(KELVOR_SCADA_CALL), KELVOR_SCADA_ABI_TEXT(__cdecl));
constexpr bool kMacroIsStdcall =
    SameText(KELVOR_SCADA_ABI_TEXT(KELVOR_SCADA_CALL), KELVOR_SCADA_ABI_TEXT(__stdcall));
static_assert(kMacroIsCdecl || kMacroIsStdcall,
              "KELVOR_SCADA_CALL must be __cdecl or __stdcall (the option cdecl or stdcall)");

#if defined(__i386__)
// The shipped 32-bit build. Every argument is one 4-byte stack slot: the argument bytes that
// scada_libraries.cmake gives each operation (its stdcall name) count on that.
static_assert(sizeof(void*) == 4 && sizeof(char*) == 4 && sizeof(float*) == 4,
              "the 32-bit libraries take 4-byte pointers");

// Here cdecl and stdcall are distinct function types, so the declarations show which one the
// calls are compiled with: exactly the one the option names (the caller or the library would
// otherwise leave the stack wrong at the first call).
constexpr bool kCallsAreCdecl =
    std::is_same_v<decltype(&KelvorFixRunning), int32_t(__cdecl*)(void)> &&
    std::is_same_v<decltype(&KelvorEdaReadAlarm), int16_t(__cdecl*)(int32_t, void*)> &&
    std::is_same_v<decltype(&KelvorEdaReadText),
                   int16_t(__cdecl*)(const char*, const char*, const char*, char*)> &&
    std::is_same_v<decltype(&KelvorEdaReadNumber),
                   int16_t(__cdecl*)(const char*, const char*, const char*, float*)>;
constexpr bool kCallsAreStdcall =
    std::is_same_v<decltype(&KelvorFixRunning), int32_t(__stdcall*)(void)> &&
    std::is_same_v<decltype(&KelvorEdaReadAlarm), int16_t(__stdcall*)(int32_t, void*)> &&
    std::is_same_v<decltype(&KelvorEdaReadText),
                   int16_t(__stdcall*)(const char*, const char*, const char*, char*)> &&
    std::is_same_v<decltype(&KelvorEdaReadNumber),
                   int16_t(__stdcall*)(const char*, const char*, const char*, float*)>;
static_assert(
    kCallsAreCdecl == kMacroIsCdecl && kCallsAreStdcall == kMacroIsStdcall,
    "the SCADA operations are declared with the calling convention KELVOR_SCADA_CALL names");
#endif

}  // namespace kelvor::scada_abi
