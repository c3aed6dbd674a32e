// The node simulator's state and commands, without sockets.
#include "node_sim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "scada/node_protocol.h"
#include "scada/scada.h"

namespace kelvor::sim {
namespace {

class NodeSimTest : public ::testing::Test {
 protected:
  NodeState state;

  // Sends a line as a connection would; the answer, or "<silent>".
  std::string Send(const std::string& line) {
    std::string answer;
    bool isRequest = false;
    if (HandleLine(state, line.data(), line.size(), &answer, &isRequest) == Reply::kSilent)
      return "<silent>";
    return answer;
  }

  AlarmRecord NextRecord() {
    std::string answer = Send("ALARM 64");
    node::Answer parsed;
    EXPECT_TRUE(node::ParseAnswer(node::Op::kAlarm, answer.data(), answer.size(), &parsed))
        << answer;
    EXPECT_EQ(parsed.status, 0) << answer;
    return parsed.record;
  }
};

TEST_F(NodeSimTest, PushBuildsTheRecordFieldByField) {
  ASSERT_EQ(Send("push N234567890 " + std::string(31, 'T') +
                 " areas=AP priority=LOW status=ERROR routing=0 day=-3 time=23:59 "
                 "text=\"Feed flow %25 high\""),
            "OK 1");
  AlarmRecord record = NextRecord();
  EXPECT_STREQ(record.NodeName().c_str(), "N234567890");  // full width, no NUL
  EXPECT_EQ(std::string(record.TagName().c_str()), std::string(31, 'T'));
  EXPECT_EQ(record.AreaMask(), 0x8001);
  EXPECT_EQ(record.Priority(), 2);
  EXPECT_EQ(record.StatusCode(), 12);
  EXPECT_EQ(record.RoutingFlag(), 0);
  EXPECT_EQ(record.Day(), -3);
  EXPECT_EQ(record.Hour(), 23);
  EXPECT_EQ(record.Minute(), 59);
  EXPECT_STREQ(record.AlarmText().c_str(), "Feed flow % high");

  ASSERT_EQ(Send("PUSH NODE1 FIC101 status=-7 priority=-1 areas=none"), "OK 1");
  record = NextRecord();
  EXPECT_EQ(record.StatusCode(), -7);
  EXPECT_EQ(record.Priority(), -1);
  EXPECT_EQ(record.AreaMask(), 0);
  EXPECT_EQ(record.RoutingFlag(), 1);
  EXPECT_STREQ(record.AlarmText().c_str(), "FIC101 ???");  // the default text
}

TEST_F(NodeSimTest, RefusesMalformedCommands) {
  for (const char* line : {"",
                           "FOO",
                           "PUSH NODE1",
                           "PUSH N2345678901 T",
                           "PUSH N T areas=AQ",
                           "PUSH N T priority=x",
                           "PUSH N T status=BOGUS",
                           "PUSH N T time=24:00",
                           "PUSH N T colour=red",
                           "PUSH N T text",
                           "PUSH N T text=\"open",
                           "PUSHRAW 00",
                           "STATUS 0",
                           "STATUS 32768",
                           "STATUS",
                           "SCADA",
                           "SCADA SIDEWAYS",
                           "SHUTDOWN now",
                           "TAG N T",
                           "TAG N T =1",
                           "TAG N T F_CV=abc",
                           "TAG N T F_CV="}) {
    std::string answer = Send(line);
    EXPECT_EQ(answer.compare(0, 6, "ERROR "), 0) << line << " -> " << answer;
  }
  EXPECT_TRUE(state.queue.empty());
}

TEST_F(NodeSimTest, TheQueueAnswersInOrderUntilShutdown) {
  Send("PUSH N A");
  Send("STATUS 1711");
  Send("STATUS -5");
  Send("PUSH N B");
  EXPECT_EQ(Send("QUEUED"), "OK 4");
  EXPECT_STREQ(NextRecord().TagName().c_str(), "A");
  EXPECT_EQ(Send("ALARM 64"), "ALARM 1711");
  EXPECT_EQ(Send("ALARM 64"), "ALARM -5");
  Send("SHUTDOWN");
  EXPECT_EQ(Send("ALARM 64"), "ALARM 1964");  // even with a record waiting
  EXPECT_EQ(Send("QUEUED"), "OK 1");
  Send("RESET");
  EXPECT_EQ(Send("ALARM 64"), "ALARM 6510");
}

TEST_F(NodeSimTest, TagReads) {
  ASSERT_EQ(Send("TAG NODE1 FIC101 A_DESC=\"Feed flow\" A_CV=12.5 F_CV=12.5"), "OK");
  EXPECT_EQ(Send("TEXT NODE1 FIC101 A_DESC"), "TEXT 0 Feed%20flow");
  EXPECT_EQ(Send("TEXT NODE1 FIC101 F_CV"), "TEXT 0 12.5");
  EXPECT_EQ(Send("NUMBER NODE1 FIC101 F_CV"), "NUMBER 0 41480000");
  EXPECT_EQ(Send("NUMBER NODE1 FIC101 A_CV"), "NUMBER 1");  // a text field has no number
  EXPECT_EQ(Send("TEXT NODE1 FIC102 A_DESC"), "TEXT 1");
  EXPECT_EQ(Send("TEXT NODE2 FIC101 A_DESC"), "TEXT 1");
  ASSERT_EQ(Send("TAG NODE1 FIC101 A_DESC=%00"), "OK");
  EXPECT_EQ(Send("TEXT NODE1 FIC101 A_DESC"), "TEXT 0 %00");
}

TEST_F(NodeSimTest, RunningFlagMuteAndMalformedRequests) {
  EXPECT_EQ(Send("RUNNING"), "RUNNING 1");
  Send("SCADA DOWN");
  EXPECT_EQ(Send("RUNNING"), "RUNNING 0");
  Send("SCADA -2");
  EXPECT_EQ(Send("RUNNING"), "RUNNING -2");
  Send("MUTE");
  EXPECT_EQ(Send("RUNNING"), "<silent>");
  EXPECT_EQ(Send("QUEUED"), "OK 0");  // control requests are still answered
  Send("UNMUTE");
  EXPECT_EQ(Send("ALARM 64"), "ALARM 6510");
  EXPECT_EQ(Send("ALARM"), "ERROR malformed%20request");
  EXPECT_EQ(Send("RUNNING "), "ERROR malformed%20request");
  EXPECT_FALSE(state.stopRequested);
  Send("STOP");
  EXPECT_TRUE(state.stopRequested);
}

TEST(Scenario, ParsesTimesAndCommands) {
  std::vector<ScenarioEvent> events;
  std::string error;
  ASSERT_TRUE(
      ParseScenario("# comment\n\n  1.5 PUSH N T\r\n+0.25 SCADA DOWN\n+0 SHUTDOWN\n"
                    "2 STOP",
                    &events, &error))
      << error;
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].atMs, 1500u);
  EXPECT_EQ(events[0].lineNumber, 3);
  EXPECT_EQ(events[0].text, "PUSH N T");
  EXPECT_EQ(events[1].atMs, 1750u);
  EXPECT_EQ(events[2].atMs, 1750u);
  EXPECT_EQ(events[3].atMs, 2000u);
  NodeState state;
  events[1].command(state);
  EXPECT_EQ(state.running, 0);
}

TEST(Scenario, ReportsTheFirstBadLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"1 PUSH N T\n0.5 SHUTDOWN", "line 2: bad or decreasing time '0.5'"},
      {"PUSH N T", "line 1: bad or decreasing time 'PUSH'"},
      {"# x\n1 FLY", "line 2: unknown command FLY"},
      {"1", "line 1: empty command"},
      {"-1 STOP", "line 1: bad or decreasing time '-1'"},
      {"+x STOP", "line 1: bad or decreasing time '+x'"},
      {"1 TAG N T A_DESC=\"open", "line 1: unterminated quote"},
  };
  for (const auto& c : cases) {
    std::vector<ScenarioEvent> events;
    std::string error;
    EXPECT_FALSE(ParseScenario(c.text, &events, &error)) << c.text;
    EXPECT_EQ(error, c.error);
  }
}

// The example in the simulator's README is a scenario that loads.
TEST(Scenario, TheReadmeExampleLoads) {
  std::ifstream readme(KELVOR_SCADA_NODE_README);
  ASSERT_TRUE(readme) << KELVOR_SCADA_NODE_README;
  std::stringstream text;
  text << readme.rdbuf();
  std::string all = text.str();
  size_t start = all.find("```\n# ");
  ASSERT_NE(start, std::string::npos);
  size_t end = all.find("```", start + 3);
  std::vector<ScenarioEvent> events;
  std::string error;
  EXPECT_TRUE(ParseScenario(all.substr(start + 4, end - start - 4), &events, &error)) << error;
  EXPECT_GE(events.size(), 5u);
}

}  // namespace
}  // namespace kelvor::sim
