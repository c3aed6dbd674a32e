#include "scada/alarm_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kelvor {
namespace {

// A record whose every byte is distinct from its neighbours', so a field read one byte off
// shows.
AlarmRecord Patterned() {
  AlarmRecord record;
  for (size_t i = 0; i < kAlarmRecordSize; ++i) record.bytes[i] = static_cast<uint8_t>(i);
  return record;
}

TEST(AlarmRecord, ReadsEachFieldAtItsOffsetLittleEndian) {
  AlarmRecord record = Patterned();
  EXPECT_EQ(record.AreaMask(), 0x0100);
  EXPECT_EQ(record.RoutingFlag(), 138);
  EXPECT_EQ(record.Day(), static_cast<int8_t>(181));
  EXPECT_EQ(record.Hour(), static_cast<int8_t>(183));
  EXPECT_EQ(record.Minute(), static_cast<int8_t>(184));
  EXPECT_EQ(record.Priority(), static_cast<int8_t>(188));
  EXPECT_EQ(record.StatusCode(), static_cast<int8_t>(189));
}

TEST(AlarmRecord, SignedBytesReadNegative) {
  AlarmRecord record{};
  record.bytes[181] = 0xFF;
  record.bytes[188] = 0x80;
  record.bytes[189] = 0xFE;
  EXPECT_EQ(record.Day(), -1);
  EXPECT_EQ(record.Priority(), -128);
  EXPECT_EQ(record.StatusCode(), -2);
}

// Each text field, filled to its full width with no NUL, reads exactly that width: the byte
// after it (the next field) never leaks in.
TEST(AlarmRecord, TextFieldsStayWithinTheirWidthWithoutATerminator) {
  struct Field {
    size_t offset, width;
    std::string (*read)(const AlarmRecord&);
  };
  const Field fields[] = {
      {2, 136, [](const AlarmRecord& r) { return std::string(r.AlarmText().c_str()); }},
      {140, 31, [](const AlarmRecord& r) { return std::string(r.TagName().c_str()); }},
      {171, 10, [](const AlarmRecord& r) { return std::string(r.NodeName().c_str()); }},
  };
  for (const Field& field : fields) {
    AlarmRecord record;
    memset(record.bytes, 'x', sizeof record.bytes);
    memset(record.bytes + field.offset, 'A', field.width);
    EXPECT_EQ(field.read(record), std::string(field.width, 'A')) << "offset " << field.offset;
  }
}

TEST(AlarmRecord, TextEndsAtItsFirstNul) {
  AlarmRecord record = Patterned();
  memcpy(record.bytes + 140, "FIC101\0GARBAGE", 14);
  memcpy(record.bytes + 171, "N1\0Z", 4);
  memcpy(record.bytes + 2, "\0rest", 5);
  EXPECT_STREQ(record.TagName().c_str(), "FIC101");
  EXPECT_STREQ(record.NodeName().c_str(), "N1");
  EXPECT_STREQ(record.AlarmText().c_str(), "");
}

TEST(StatusName, NamesTheTableAndAPlaceholderOutsideIt) {
  const struct {
    int code;
    const char* name;
  } cases[] = {{0, "OK"},    {1, "LOLO"}, {5, "RATE"}, {9, "??"},    {12, "ERROR"}, {15, "RATE"},
               {16, "TIME"}, {17, "???"}, {-1, "???"}, {127, "???"}, {-128, "???"}};
  for (const auto& c : cases) EXPECT_STREQ(StatusName(c.code), c.name) << c.code;
}

}  // namespace
}  // namespace kelvor
