// The alarm record delivered by the SCADA alarm queue, and the status names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvor {

constexpr size_t kAlarmRecordSize = 196;

// Where the fields the program uses lie in the record: byte offsets from its start, with
// the widths of the text fields. Integers are little-endian; the other bytes are not used.
namespace record_layout {
constexpr size_t kAreaMask = 0;  // 16 bits: bit n stands for plant area 'A'+n
constexpr size_t kAlarmText = 2;
constexpr size_t kAlarmTextWidth = 136;
constexpr size_t kRoutingFlag = 138;  // 0: the alarm is not routed
constexpr size_t kTagName = 140;
constexpr size_t kTagNameWidth = 31;
constexpr size_t kNodeName = 171;
constexpr size_t kNodeNameWidth = 10;
constexpr size_t kDay = 181;  // day, hour and minute of the alarm time, signed 8-bit
constexpr size_t kHour = 183;
constexpr size_t kMinute = 184;
constexpr size_t kPriority = 188;    // signed 8-bit: 0 high, 1 medium, 2 low
constexpr size_t kStatusCode = 189;  // signed 8-bit: 0 no alarm, else a status name's index
static_assert(kAlarmText + kAlarmTextWidth == kRoutingFlag, "alarm text, then routing flag");
static_assert(kTagName + kTagNameWidth == kNodeName, "tag name, then node name");
static_assert(kNodeName + kNodeNameWidth == kDay, "node name, then the alarm time");
static_assert(kStatusCode < kAlarmRecordSize, "every field inside the record");
}  // namespace record_layout

// A text field of the record as a NUL-terminated copy: the SCADA side may fill a field to
// its full width without a terminator, so every field is read within its width.
template <size_t Width>
struct RecordText {
  char text[Width + 1];
  const char* c_str() const { return text; }
};

// The 196-byte record, read field by field at fixed offsets (little-endian), independent
// of struct packing and of the host's byte order.
struct AlarmRecord {
  uint8_t bytes[kAlarmRecordSize];

  uint16_t AreaMask() const {
    return static_cast<uint16_t>(bytes[record_layout::kAreaMask] |
                                 bytes[record_layout::kAreaMask + 1] << 8);
  }
  RecordText<record_layout::kAlarmTextWidth> AlarmText() const {
    return Text<record_layout::kAlarmTextWidth>(record_layout::kAlarmText);
  }
  uint8_t RoutingFlag() const { return bytes[record_layout::kRoutingFlag]; }
  RecordText<record_layout::kTagNameWidth> TagName() const {
    return Text<record_layout::kTagNameWidth>(record_layout::kTagName);
  }
  RecordText<record_layout::kNodeNameWidth> NodeName() const {
    return Text<record_layout::kNodeNameWidth>(record_layout::kNodeName);
  }
  int8_t Day() const { return Signed(record_layout::kDay); }
  int8_t Hour() const { return Signed(record_layout::kHour); }
  int8_t Minute() const { return Signed(record_layout::kMinute); }
  int8_t Priority() const { return Signed(record_layout::kPriority); }
  int8_t StatusCode() const { return Signed(record_layout::kStatusCode); }

 private:
  int8_t Signed(size_t offset) const { return static_cast<int8_t>(bytes[offset]); }

  template <size_t Width>
  RecordText<Width> Text(size_t offset) const {
    RecordText<Width> field;
    size_t i = 0;
    for (; i < Width && bytes[offset + i] != 0; ++i)
      field.text[i] = static_cast<char>(bytes[offset + i]);
    field.text[i] = '\0';
    return field;
  }
};

// The name of an alarm status code; codes outside the table, negative ones included, get
// the placeholder "???".
const char* StatusName(int statusCode);

}  // namespace kelvor
