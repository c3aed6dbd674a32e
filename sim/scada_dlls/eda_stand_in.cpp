// Stand-in EDA.dll: the alarm-queue read (ordinal 37), the tag text read (86) and the tag
// number read (88) answered by a SCADA node.
#include <cstring>

#include "scada/node_client.h"
#include "scada/scada_library_operations.h"

using kelvor::ConfiguredNode;

// The record is written only when one was delivered, as the program expects.
extern "C" int16_t KELVOR_SCADA_CALL KelvorEdaReadAlarm(int32_t mode, void* record) {
  kelvor::AlarmRecord delivered;
  int16_t status = ConfiguredNode().ReadAlarmQueue(mode, delivered);
  if (status == kelvor::kAlarmDelivered && record)
    memcpy(record, delivered.bytes, kelvor::kAlarmRecordSize);
  return status;
}

// At most 47 characters and a NUL, like the real library's contract; a failed read leaves
// the caller's text as it was.
extern "C" int16_t KELVOR_SCADA_CALL KelvorEdaReadText(const char* node, const char* tag,
                                                       const char* field, char* text) {
  return ConfiguredNode().ReadTagText(node, tag, field, text);
}

extern "C" int16_t KELVOR_SCADA_CALL KelvorEdaReadNumber(const char* node, const char* tag,
                                                         const char* field, float* value) {
  return ConfiguredNode().ReadTagNumber(node, tag, field, value);
}
