// The SCADA system on Windows: the SCADA libraries' own operations, bound by ordinal at load
// time through the import libraries that scada/scada_libraries.cmake makes.
//
// Nothing else belongs in this file: a program that pulls it in needs EDA.dll and
// FIXTOOLS.dll to start, and only kelvor.exe may.
#include <cstring>

#include "scada/scada.h"
#include "scada/scada_library_abi.h"
#include "scada/scada_library_call.h"
#include "scada/scada_library_operations.h"

namespace kelvor {
namespace {

// Room the libraries get beyond what the program keeps, so that a text or record longer
// than its contract lands in this margin and not past the caller's buffer.
constexpr size_t kLibraryBufferSize = 1024;
static_assert(kLibraryBufferSize >= kAlarmRecordSize && kLibraryBufferSize >= kTagTextSize,
              "the library's buffer holds a record and a text");

class ScadaLibraries : public Scada {
 public:
  int32_t ScadaRunning() override { return CallLibrary(KelvorFixRunning); }

  // The record reaches the caller only when one was delivered.
  int16_t ReadAlarmQueue(int32_t mode, AlarmRecord& record) override {
    int16_t status = CallLibrary(KelvorEdaReadAlarm, mode, buffer_);
    if (status == kAlarmDelivered) memcpy(record.bytes, buffer_, kAlarmRecordSize);
    return status;
  }

  // The library's result is not examined. Its buffer starts as a copy of the caller's, so a
  // read that writes nothing leaves the caller's text as it was; a longer text is cut.
  int16_t ReadTagText(const char* node, const char* tag, const char* field, char* text) override {
    memset(buffer_, 0, sizeof buffer_);
    memcpy(buffer_, text, kTagTextSize);
    CallLibrary(KelvorEdaReadText, node, tag, field, buffer_);
    memcpy(text, buffer_, kTagTextSize - 1);
    text[kTagTextSize - 1] = '\0';
    return 0;
  }

  int16_t ReadTagNumber(const char* node, const char* tag, const char* field,
                        float* value) override {
    return CallLibrary(KelvorEdaReadNumber, node, tag, field, value);
  }

 private:
  char buffer_[kLibraryBufferSize];
};

}  // namespace

Scada& SystemScada() {
  static ScadaLibraries scada;
  return scada;
}

}  // namespace kelvor
