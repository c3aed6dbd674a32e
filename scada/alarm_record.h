// The alarm record delivered by the SCADA alarm queue, and the status names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvor {

constexpr size_t kAlarmRecordSize = 196;

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

  uint16_t AreaMask() const { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }
  RecordText<136> AlarmText() const { return Text<136>(2); }
  uint8_t RoutingFlag() const { return bytes[138]; }
  RecordText<31> TagName() const { return Text<31>(140); }
  RecordText<10> NodeName() const { return Text<10>(171); }
  int8_t Day() const { return Signed(181); }
  int8_t Hour() const { return Signed(183); }
  int8_t Minute() const { return Signed(184); }
  int8_t Priority() const { return Signed(188); }
  int8_t StatusCode() const { return Signed(189); }

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
