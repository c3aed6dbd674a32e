// The node client over a scripted transport: what it sends, and what each answer or failure
// gives the program.
#include "scada/node_client.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace kelvor {
namespace {

class ScriptedTransport : public LineTransport {
 public:
  bool Exchange(const char* request, size_t length, char* answer, size_t capacity,
                size_t* answerLength) override {
    sent.emplace_back(request, length);
    if (answers.empty()) return false;
    std::string next = answers.front();
    answers.pop_front();
    if (next == "<fail>" || next.size() + 1 > capacity) return Fail();
    memcpy(answer, next.c_str(), next.size() + 1);
    *answerLength = next.size();
    return true;
  }
  void Close() override { ++closes; }
  bool Fail() {
    ++closes;  // a failing transport closes its own connection
    return false;
  }

  std::deque<std::string> answers;  // "<fail>" stands for a failed exchange
  std::vector<std::string> sent;
  int closes = 0;
};

class NodeClientTest : public ::testing::Test {
 protected:
  ScriptedTransport transport;
  NodeClient client{transport};
  char text[kTagTextSize];

  void SetUp() override { snprintf(text, sizeof text, "before"); }
  void Answer(const std::string& line) { transport.answers.push_back(line); }
};

TEST_F(NodeClientTest, PassesTheNodesResultsOn) {
  AlarmRecord record{};
  record.bytes[0] = 0x55;
  float value = 7;
  Answer("RUNNING -5");
  EXPECT_EQ(client.ScadaRunning(), -5);
  Answer("ALARM 1964");
  EXPECT_EQ(client.ReadAlarmQueue(64, record), 1964);
  EXPECT_EQ(record.bytes[0], 0x55);  // no record came: the buffer is not touched
  Answer("ALARM 0 " + std::string(node::kRecordDigits - 2, '0') + "0A");
  EXPECT_EQ(client.ReadAlarmQueue(64, record), 0);
  EXPECT_EQ(record.bytes[0], 0);
  EXPECT_EQ(record.bytes[195], 0x0A);
  Answer("TEXT 12");
  EXPECT_EQ(client.ReadTagText("NODE 1", "FIC101", "A_DESC", text), 12);
  EXPECT_STREQ(text, "before");
  Answer("TEXT 0 %00");
  EXPECT_EQ(client.ReadTagText("N", "T", "A_DESC", text), 0);
  EXPECT_STREQ(text, "");
  Answer("NUMBER 3");
  EXPECT_EQ(client.ReadTagNumber("N", "T", "F_CV", &value), 3);
  EXPECT_EQ(value, 7);
  Answer("NUMBER 0 C0200000");
  EXPECT_EQ(client.ReadTagNumber("N", "T", "F_CV", &value), 0);
  EXPECT_EQ(value, -2.5f);
  EXPECT_EQ(transport.closes, 0);
  EXPECT_EQ(transport.sent[0], "RUNNING\n");
  EXPECT_EQ(transport.sent[1], "ALARM 64\n");
  EXPECT_EQ(transport.sent[3], "TEXT NODE%201 FIC101 A_DESC\n");
  EXPECT_EQ(transport.sent[5], "NUMBER N T F_CV\n");
}

TEST_F(NodeClientTest, ALongTextIsCutTo47Characters) {
  Answer("TEXT 0 " + std::string(60, 'd'));
  char guarded[kTagTextSize + 8];
  memset(guarded, '#', sizeof guarded);
  EXPECT_EQ(client.ReadTagText("N", "T", "A_DESC", guarded), 0);
  EXPECT_EQ(std::string(guarded), std::string(47, 'd'));
  EXPECT_EQ(guarded[kTagTextSize], '#');
}

// A failed exchange and an answer that does not parse give the same failure results; the
// latter also closes the connection so the next request starts afresh.
TEST_F(NodeClientTest, FailuresGiveTheFailureResults) {
  for (const char* failure : {"<fail>", "garbage", "TEXT 0 %ZZ", "NUMBER 0 1"}) {
    SCOPED_TRACE(failure);
    AlarmRecord record{};
    record.bytes[0] = 0x55;
    float value = 7;
    int closes = transport.closes;
    for (int i = 0; i < 4; ++i) Answer(failure);
    EXPECT_EQ(client.ScadaRunning(), 0);
    EXPECT_EQ(client.ReadAlarmQueue(64, record), -1);
    EXPECT_EQ(client.ReadTagText("N", "T", "A_DESC", text), -1);
    EXPECT_EQ(client.ReadTagNumber("N", "T", "F_CV", &value), -1);
    EXPECT_EQ(record.bytes[0], 0x55);
    EXPECT_STREQ(text, "before");
    EXPECT_EQ(value, 7);
    EXPECT_EQ(transport.closes - closes, 4);
  }
}

TEST_F(NodeClientTest, ARequestTooLongForALineIsNotSent) {
  std::string huge(node::kMaxLine, '\x01');  // each byte takes three on the wire
  float value = 7;
  EXPECT_EQ(client.ReadTagText(huge.c_str(), "T", "A_DESC", text), -1);
  EXPECT_EQ(client.ReadTagNumber("N", huge.c_str(), "F_CV", &value), -1);
  EXPECT_TRUE(transport.sent.empty());
  EXPECT_STREQ(text, "before");
}

TEST(NodeAddress, SplitsHostAndPort) {
  char host[16];
  uint16_t port = 0;
  ASSERT_TRUE(ParseNodeAddress("127.0.0.1:7431", host, sizeof host, &port));
  EXPECT_STREQ(host, "127.0.0.1");
  EXPECT_EQ(port, 7431);
  ASSERT_TRUE(ParseNodeAddress("[::1]:65535", host, sizeof host, &port));
  EXPECT_STREQ(host, "::1");
  EXPECT_EQ(port, 65535);
  for (const char* bad : {"", "7431", ":7431", "host:", "host:0", "host:65536", "host:12a",
                          "::1:7431", "[::1:7431", "[]:7431", "a-very-long-host-name:1"}) {
    EXPECT_FALSE(ParseNodeAddress(bad, host, sizeof host, &port)) << bad;
  }
}

}  // namespace
}  // namespace kelvor
