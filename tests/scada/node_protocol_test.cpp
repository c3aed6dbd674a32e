#include "scada/node_protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "node_protocol_server.h"

namespace kelvor::node {
namespace {

std::string Line(size_t length, const char* buffer) {
  return std::string(buffer, length);
}

bool Answers(Op op, const std::string& line, Answer* answer) {
  return ParseAnswer(op, line.data(), line.size(), answer);
}

TEST(NodeProtocol, TextIsPercentEncodedOutside0x21To0x7EAndPercent) {
  char line[kMaxLine];
  EXPECT_EQ(
      Line(FormatTagRequest(Op::kText, "N 1", "a%b", "\x7f\x80\xff~!", line, sizeof line), line),
      "TEXT N%201 a%25b %7F%80%FF~!");
  EXPECT_EQ(Line(FormatTextAnswer("", line, sizeof line), line), "TEXT 0 %00");
}

TEST(NodeProtocol, RequestsRoundTrip) {
  char line[kMaxLine];
  Request request;
  size_t length = FormatTagRequest(Op::kNumber, "NODE 1", "T%G", "F_CV", line, sizeof line);
  ASSERT_TRUE(ParseRequest(line, length, &request));
  EXPECT_EQ(request.op, Op::kNumber);
  EXPECT_STREQ(request.node, "NODE 1");
  EXPECT_STREQ(request.tag, "T%G");
  EXPECT_STREQ(request.field, "F_CV");

  length = FormatAlarmRequest(64, line, sizeof line);
  EXPECT_EQ(Line(length, line), "ALARM 64");
  ASSERT_TRUE(ParseRequest(line, length, &request));
  EXPECT_EQ(request.op, Op::kAlarm);
  EXPECT_EQ(request.mode, 64);

  length = FormatRunningRequest(line, sizeof line);
  ASSERT_TRUE(ParseRequest(line, length, &request));
  EXPECT_EQ(request.op, Op::kRunning);
}

TEST(NodeProtocol, AnswersRoundTrip) {
  char line[kMaxLine + 1];
  Answer answer;
  AlarmRecord record;
  for (size_t i = 0; i < kAlarmRecordSize; ++i) record.bytes[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(
      Answers(Op::kAlarm, Line(FormatRecordAnswer(record, line, sizeof line), line), &answer));
  EXPECT_EQ(answer.status, 0);
  EXPECT_EQ(memcmp(answer.record.bytes, record.bytes, kAlarmRecordSize), 0);

  ASSERT_TRUE(
      Answers(Op::kText, Line(FormatTextAnswer("a b%\x01\xe9", line, sizeof line), line), &answer));
  EXPECT_STREQ(answer.text, "a b%\x01\xe9");

  for (float value : {1.0f, -0.0f, 3.4e38f, 1e-45f, INFINITY}) {
    ASSERT_TRUE(
        Answers(Op::kNumber, Line(FormatNumberAnswer(value, line, sizeof line), line), &answer));
    EXPECT_EQ(memcmp(&answer.number, &value, sizeof value), 0) << value;
  }
  for (int32_t status : {-32768, -1, 1, 6510, 32767}) {
    ASSERT_TRUE(Answers(Op::kAlarm,
                        Line(FormatStatusAnswer(Op::kAlarm, status, line, sizeof line), line),
                        &answer));
    EXPECT_EQ(answer.status, status);
  }
  ASSERT_TRUE(Answers(Op::kNumber, "NUMBER 0 7fc00000", &answer));  // most significant first
  EXPECT_TRUE(std::isnan(answer.number));
  for (int32_t value : {INT32_MIN, 0, INT32_MAX}) {
    ASSERT_TRUE(Answers(Op::kRunning,
                        Line(FormatStatusAnswer(Op::kRunning, value, line, sizeof line), line),
                        &answer));
    EXPECT_EQ(answer.status, value);
  }
}

TEST(NodeProtocol, DecodedTextEndsAtNulAndIsCutToItsBuffer) {
  Answer answer;
  ASSERT_TRUE(Answers(Op::kText, "TEXT 0 ab%00cd", &answer));
  EXPECT_STREQ(answer.text, "ab");
  ASSERT_TRUE(Answers(Op::kText, "TEXT 0 " + std::string(kMaxText + 40, 'x'), &answer));
  EXPECT_EQ(strlen(answer.text), kMaxText - 1);

  char small[4];
  bool cut = false;
  EXPECT_TRUE(DecodeText("abcdef", 6, small, sizeof small, &cut));
  EXPECT_STREQ(small, "abc");
  EXPECT_TRUE(cut);
  EXPECT_TRUE(DecodeText("ab%00cdef", 9, small, sizeof small, &cut));
  EXPECT_FALSE(cut);  // what follows the NUL is not part of the text
}

TEST(NodeProtocol, RejectsMalformedAnswers) {
  const std::string digits(kRecordDigits, 'a');
  const struct {
    Op op;
    std::string line;
  } cases[] = {
      {Op::kRunning, ""},
      {Op::kRunning, "RUNNING"},
      {Op::kRunning, "RUNNING 1 "},
      {Op::kRunning, " RUNNING 1"},
      {Op::kRunning, "RUNNING  1"},
      {Op::kRunning, "RUNNING 1\r"},
      {Op::kRunning, "RUNNING 2147483648"},
      {Op::kRunning, "RUNNING 12345678901"},
      {Op::kRunning, "RUNNING -"},
      {Op::kRunning, "RUNNING +1"},
      {Op::kRunning, "RUNNING 0x1"},
      {Op::kRunning, "running 1"},
      {Op::kRunning, "ALARM 6510"},  // the answer to another request
      {Op::kAlarm, "ALARM 0"},       // a delivery without its record
      {Op::kAlarm, "ALARM 32768"},   // a status must fit 16 bits
      {Op::kAlarm, "ALARM -32769"},
      {Op::kAlarm, "ALARM 6510 00"},
      {Op::kAlarm, "ALARM 0 " + digits.substr(1)},  // a record is exactly 392 digits
      {Op::kAlarm, "ALARM 0 " + digits + "a"},
      {Op::kAlarm, "ALARM 0 " + digits.substr(1) + "z"},
      {Op::kText, "TEXT 0"},
      {Op::kText, "TEXT 0 a b"},
      {Op::kText, "TEXT 0 %4"},
      {Op::kText, "TEXT 0 %G1"},
      {Op::kText, "TEXT 0 a%"},
      {Op::kText, "TEXT 0 \xe9"},  // raw bytes outside 0x21..0x7E must be escaped
      {Op::kText, "TEXT 0 a\tb"},
      {Op::kText, "TEXT 1 text"},
      {Op::kNumber, "NUMBER 0 3F80000"},
      {Op::kNumber, "NUMBER 0 3F8000000"},
      {Op::kNumber, "NUMBER 0 3F80000G"},
      {Op::kNumber, "NUMBER 0"},
      {Op::kNumber, "NUMBER"},
  };
  for (const auto& c : cases) {
    Answer answer;
    EXPECT_FALSE(Answers(c.op, c.line, &answer)) << c.line;
  }
  Answer answer;
  EXPECT_TRUE(Answers(Op::kAlarm, "ALARM 0 " + digits, &answer));
  EXPECT_EQ(answer.record.bytes[195], 0xAA);
}

// The parsers must stay within the length they are given: every prefix of a valid line is
// parsed from an exact-size copy (so a read past its end shows under a sanitizer) and only
// the whole line is accepted.
TEST(NodeProtocol, ParsesOnlyWithinTheGivenLength) {
  std::string line = "TEXT 0 Feed%20flow%20high";
  for (size_t length = 0; length < line.size(); ++length) {
    std::unique_ptr<char[]> exact(new char[length + 1]);
    memcpy(exact.get(), line.data(), length);
    Answer answer;
    bool parsed = ParseAnswer(Op::kText, exact.get(), length, &answer);
    bool wholeText = length > 7 && line[length - 1] != '%' && line[length - 2] != '%';
    EXPECT_EQ(parsed, wholeText) << length;
  }
  Request request;
  EXPECT_FALSE(ParseRequest("RUNNING", 3, &request));
  EXPECT_FALSE(ParseRequest(nullptr, 10, &request));
}

TEST(NodeProtocol, RejectsMalformedRequests) {
  const std::string longName(kMaxName, 'n');
  const std::string cases[] = {
      "",
      "RUNNING 1",
      "ALARM",
      "ALARM x",
      "ALARM 64 1",
      "TEXT a b",
      "TEXT a b c d",
      "TEXT a  b c",
      "NUMBER a b %ZZ",
      "QUIT",
      "TEXT " + longName + " b c",
  };
  for (const std::string& line : cases) {
    Request request;
    EXPECT_FALSE(ParseRequest(line.data(), line.size(), &request)) << line;
  }
  std::string longest = "TEXT " + longName.substr(1) + " b c";
  Request request;
  EXPECT_TRUE(ParseRequest(longest.data(), longest.size(), &request));
}

TEST(NodeProtocol, AWriterThatRunsOutOfRoomFailsWholly) {
  char line[16];
  EXPECT_EQ(FormatTagRequest(Op::kText, "NODE1", "TAG", "A_DESC", line, 16), 0u);
  char exact[22];  // "TEXT NODE1 TAG A_DESC" and its NUL
  EXPECT_EQ(FormatTagRequest(Op::kText, "NODE1", "TAG", "A_DESC", exact, 21), 0u);
  EXPECT_EQ(FormatTagRequest(Op::kText, "NODE1", "TAG", "A_DESC", exact, 22), 21u);
  // A 255-byte name encodes to 765 bytes: still one line, and never past the buffer.
  std::string big(255, '\xff');
  char request[kMaxLine + 1];
  EXPECT_GT(FormatTagRequest(Op::kText, big.c_str(), "T", "F", request, sizeof request), 765u);
  big.append(100, ' ');
  EXPECT_EQ(FormatTagRequest(Op::kText, big.c_str(), "T", "F", request, sizeof request), 0u);
  EXPECT_EQ(FormatRecordAnswer(AlarmRecord{}, request, 400), 0u);
}

}  // namespace
}  // namespace kelvor::node
