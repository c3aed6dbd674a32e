#include "alarm_record_writer.h"

#include <cstring>

namespace kelvor {
namespace {

void PutText(AlarmRecord& record, size_t offset, size_t width, const char* text) {
  if (text != nullptr) memcpy(record.bytes + offset, text, strnlen(text, width));
}

}  // namespace

AlarmRecord MakeAlarmRecord(const AlarmFields& fields) {
  namespace at = record_layout;
  AlarmRecord record{};
  record.bytes[at::kAreaMask] = static_cast<uint8_t>(fields.areas & 0xFF);
  record.bytes[at::kAreaMask + 1] = static_cast<uint8_t>(fields.areas >> 8);
  PutText(record, at::kAlarmText, at::kAlarmTextWidth, fields.text);
  record.bytes[at::kRoutingFlag] = fields.routing;
  PutText(record, at::kTagName, at::kTagNameWidth, fields.tag);
  PutText(record, at::kNodeName, at::kNodeNameWidth, fields.node);
  record.bytes[at::kDay] = static_cast<uint8_t>(fields.day);
  record.bytes[at::kHour] = static_cast<uint8_t>(fields.hour);
  record.bytes[at::kMinute] = static_cast<uint8_t>(fields.minute);
  record.bytes[at::kPriority] = static_cast<uint8_t>(fields.priority);
  record.bytes[at::kStatusCode] = static_cast<uint8_t>(fields.status);
  return record;
}

}  // namespace kelvor
