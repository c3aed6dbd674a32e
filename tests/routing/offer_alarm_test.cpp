// OfferAlarm: the filters, the enable tag, the two text forms and the 159-character rule.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "routing_test_support.h"

namespace kelvor {
namespace {

using test::AlarmBuilder;

AlarmBuilder Alarm(int8_t priority, uint16_t areas, std::string text = "ALARM") {
  AlarmBuilder alarm;
  alarm.priority = priority;
  alarm.areas = areas;
  alarm.text = std::move(text);
  return alarm;
}

class OfferAlarmTest : public testing::Test {
 protected:
  // Offers `alarm` and returns the one console line it printed.
  std::string Offer(AlarmDestination& destination, const AlarmBuilder& alarm) {
    world.console.Clear();
    destination.OfferAlarm(alarm.Build(), world.context);
    std::vector<std::string> lines = world.console.Lines();
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? "" : lines[0];
  }
  // The batch handed to the modem at the next due flush.
  std::string Flushed(AlarmDestination& destination) {
    world.clock.Advance(3600000);
    destination.FlushIfDue(world.context);
    return world.outbox.queued.empty() ? "(none)" : world.outbox.queued.back().text;
  }

  test::RoutingWorld world;
};

TEST_F(OfferAlarmTest, PriorityAndAreaFilter) {
  const struct {
    const char* specification;
    int8_t priority;
    uint16_t areas;
    bool taken;
  } cases[] = {
      {"=+1,A,H,1", 0, 1, true},      {"=+1,A,H,1", 1, 1, false}, {"=+1,A,M,1", 1, 1, true},
      {"=+1,A,M,1", 2, 1, false},     {"=+1,A,L,1", 2, 1, true},  {"=+1,A,L,1", 3, 1, false},
      {"=+1,A,H,1", -1, 1, true},     {"=+1,AD,L,1", 0, 8, true}, {"=+1,AD,L,1", 0, 0xFFF6, false},
      {"=+1,P,L,1", 0, 0x8000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.specification << " " << int{c.priority} << " " << c.areas);
    AlarmDestination destination = world.Make(c.specification);
    EXPECT_EQ(Offer(destination, Alarm(c.priority, c.areas)),
              c.taken ? "Buffering alm ALARM" : "Ignoring alm ALARM");
  }
}

TEST_F(OfferAlarmTest, EnableTagValueWithTheKeptIgnoringalmLine) {
  const struct {
    int16_t status;
    float value;
    const char* line;
  } cases[] = {
      {0, 0.0f, "Disabled send alm ALARM"},
      {0, -0.0f, "Disabled send alm ALARM"},
      {0, std::numeric_limits<float>::quiet_NaN(), "Disabled send alm ALARM"},
      {0, -1.0f, "Buffering alm ALARM"},
      {0, 0.5f, "Buffering alm ALARM"},
      {7, 1.0f, "Error reading enable tag ignoringalm ALARM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    world.scada.tagReads.clear();
    world.scada.numberReader = [&](const std::string&, float* value) {
      *value = c.value;
      return c.status;
    };
    AlarmDestination destination = world.Make("=+1,A,H,1,S,EN:SWITCH.A_CV");
    EXPECT_EQ(Offer(destination, Alarm(0, 1)), c.line);
    // Whatever the third part says, the value comes from F_CV.
    EXPECT_EQ(world.scada.tagReads.at(0), "NUMBER EN|SWITCH|F_CV");
  }
}

TEST_F(OfferAlarmTest, ConsoleLinesCutTheAlarmText) {
  const std::string a60(60, 'a');
  const AlarmBuilder alarm = Alarm(1, 1, a60 + std::string(40, 'b'));
  AlarmDestination high = world.Make("=+1,A,H,1");
  AlarmDestination low = world.Make("=+1,A,L,1,S,EN:SWITCH.F_CV");
  EXPECT_EQ(Offer(high, alarm), "Ignoring alm " + a60);
  world.scada.SetNumber("EN", "SWITCH", "F_CV", 0.0f);
  EXPECT_EQ(Offer(low, alarm), "Disabled send alm " + a60);
  world.scada.numberReader = [](const std::string&, float*) { return int16_t{1}; };
  EXPECT_EQ(Offer(low, alarm), "Error reading enable tag ignoringalm " + a60.substr(10));
  EXPECT_EQ(Offer(high, Alarm(0, 1, alarm.text)), "Buffering alm " + a60);
}

TEST_F(OfferAlarmTest, TextFormsByteForByte) {
  const struct {
    const char* specification;
    int8_t day, hour, minute, status;
    const char* description;  // nullptr: the read fails
    const char* value;        // nullptr: the read fails
    const char* sms;
  } cases[] = {
      {"=+1,A,H,1,F", 7, 9, 5, 3, "Pump trip", "   12.5",
       "Fix Alarms\n7/09:05\nTAG1\nHI\nPump trip\n=12.5\n"},
      {"=+1,A,H,1", 31, 23, 59, 3, "Pump trip", "12.5", "31/23:59\nPump trip\n"},
      {"=+1,A,H,1", 1, 0, 0, 3, nullptr, nullptr, "1/00:00\ndesc\n"},
      {"=+1,A,H,1,F", 1, 2, 3, 16, "D", nullptr, "Fix Alarms\n1/02:03\nTAG1\nTIME\nD\n=\n"},
      {"=+1,A,H,1,F", 1, 2, 3, 17, "D", "1", "Fix Alarms\n1/02:03\nTAG1\n???\nD\n=1\n"},
      {"=+1,A,H,1,F", 1, 2, 3, -128, "D", "1", "Fix Alarms\n1/02:03\nTAG1\n???\nD\n=1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sms);
    world.scada.textReader = [&](const std::string& key, std::string* text) -> int16_t {
      const char* answer = key == "NODE1|TAG1|A_DESC" ? c.description : c.value;
      if (answer == nullptr) return 5;
      *text = answer;
      return 0;
    };
    AlarmBuilder alarm;
    alarm.day = c.day, alarm.hour = c.hour, alarm.minute = c.minute, alarm.status = c.status;
    AlarmDestination destination = world.Make(c.specification);
    EXPECT_EQ(Offer(destination, alarm), "Buffering alm ALARM");
    EXPECT_EQ(Flushed(destination), c.sms);
    EXPECT_EQ(world.outbox.queued.back().number, "+1");
  }
}

TEST_F(OfferAlarmTest, LongestFullTextIsKeptWholeInABatchOfItsOwn) {
  AlarmBuilder alarm;
  alarm.day = alarm.hour = alarm.minute = -128;
  alarm.status = 12;
  alarm.tag = std::string(31, 'T');
  world.scada.SetText("NODE1", alarm.tag, "A_DESC", std::string(60, 'd'));
  world.scada.SetText("NODE1", alarm.tag, "A_CV", std::string(47, 'v'));
  const std::string text = "-128/-128:-128\n" + alarm.tag + "\nERROR\n" + std::string(47, 'd') +
                           "\n=" + std::string(47, 'v') + "\n";
  ASSERT_EQ(text.size(), kFullTextMax);
  for (int code = -128; code <= 127; ++code) EXPECT_LE(strlen(StatusName(code)), kStatusNameMax);

  // Header and text exceed 159: the header alone goes first, then the text fills a restarted
  // batch of its own, whole, for the modem queue to shorten.
  AlarmDestination destination = world.Make("=+1,A,H,1,F");
  Offer(destination, alarm);
  Offer(destination, alarm);
  ASSERT_EQ(world.outbox.queued.size(), 2u);
  EXPECT_EQ(world.outbox.queued[0].text, "Fix Alarms\n");
  EXPECT_EQ(world.outbox.queued[1].text, "Fix Alarms\r\n" + text);
  EXPECT_EQ(destination.Batch(), "Fix Alarms\r\n" + text);

  // A coding that holds fewer (70 characters of UCS-2) never sends a header alone: a text too
  // long to share an SMS with it joins it, and the queue makes SMS of its coding of them.
  world.outbox.queued.clear();
  world.outbox.textLimit = 70;
  alarm.tag = "T";
  world.scada.SetText("NODE1", "T", "A_DESC", "Kessel");
  world.scada.SetText("NODE1", "T", "A_CV", std::string(47, 'v'));  // a text of 79
  AlarmDestination ucs2 = world.Make("=+2,A,H,1,F");
  Offer(ucs2, alarm);
  EXPECT_TRUE(world.outbox.queued.empty());
  EXPECT_EQ(std::string(ucs2.Batch()).rfind("Fix Alarms\n-128/", 0), 0u);
}

// Description-only texts are "7/09:05\n", the description and "\n": 9 + its length.
TEST_F(OfferAlarmTest, BatchOfExactly159StaysAndThe160thCharacterStartsANewOne) {
  AlarmBuilder texts[3];
  const size_t lengths[3] = {47, 38, 39};  // texts of 56, 47 and 48 characters
  for (int i = 0; i < 3; ++i) {
    texts[i].tag = "T" + std::to_string(i);
    world.scada.SetText("NODE1", texts[i].tag, "A_DESC", std::string(lengths[i], 'x'));
  }
  AlarmDestination exact = world.Make("=+1,A,H,30");
  for (int i : {0, 0, 1}) Offer(exact, texts[i]);
  EXPECT_EQ(strlen(exact.Batch()), 159u);
  EXPECT_TRUE(world.outbox.queued.empty());

  AlarmDestination over = world.Make("=+2,A,H,30");
  Offer(over, texts[0]);
  Offer(over, texts[0]);
  uint32_t firstSince = over.PendingSince();
  world.clock.Advance(5000);
  EXPECT_EQ(Offer(over, texts[2]), "Buffering alm ALARM");
  ASSERT_EQ(world.outbox.queued.size(), 1u);
  EXPECT_EQ(world.outbox.queued[0].text.size(), 112u);
  EXPECT_EQ(strlen(over.Batch()), 48u);
  EXPECT_EQ(over.PendingSince(), firstSince + 5000);  // the new batch's delay starts now

  // An outbox whose coding holds fewer (70 characters of UCS-2) hands the batch over there.
  world.outbox.queued.clear();
  world.outbox.textLimit = 70;
  AlarmDestination ucs2 = world.Make("=+3,A,H,30");
  for (int i : {1, 1}) Offer(ucs2, texts[i]);
  ASSERT_EQ(world.outbox.queued.size(), 1u);
  EXPECT_EQ(world.outbox.queued[0].text.size(), 47u);
  EXPECT_EQ(strlen(ucs2.Batch()), 47u);
}

// A due batch that finds the queue full waits, says so once, takes later alarms while
// they fit and goes once there is room. Only a batch the 159-character rule must hand over
// into a full queue is lost.
TEST_F(OfferAlarmTest, ADueBatchWaitsForRoomAndOnlyAFullOneIsLost) {
  const std::string text = "7/09:05\ndesc\n";  // 13 characters: 12 fit one SMS
  world.outbox.capacity = 0;
  AlarmDestination destination = world.Make("=+1,A,H,10");
  Offer(destination, Alarm(0, 1));
  world.console.Clear();
  for (int pass = 0; pass < 200; ++pass) {  // 20 s of passes past the deadline
    world.clock.Advance(100);
    destination.FlushIfDue(world.context);
  }
  EXPECT_TRUE(destination.BatchPending());
  EXPECT_EQ(world.console.Lines(),
            std::vector<std::string>{"Message queue full - SMS to +1 waits"});
  for (int i = 1; i < 12; ++i) Offer(destination, Alarm(0, 1));  // they join, up to 156
  EXPECT_EQ(destination.Batch(), [&] {
    std::string batch;
    for (int i = 0; i < 12; ++i) batch += text;
    return batch;
  }());
  EXPECT_EQ(world.outbox.refused, 0);

  Offer(destination, Alarm(0, 1));  // the 13th must hand the full batch over: lost
  EXPECT_EQ(world.outbox.refused, 1);
  EXPECT_EQ(destination.Batch(), text);

  world.outbox.capacity = 21;  // room again: the new batch goes at its own deadline
  world.console.Clear();
  EXPECT_EQ(Flushed(destination), text);
  EXPECT_EQ(world.console.text(), "");
  EXPECT_FALSE(destination.BatchPending());
}

}  // namespace
}  // namespace kelvor
