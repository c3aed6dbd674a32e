// OfferAlarm: the filters, the enable tag, the two text forms and the 159-character rule.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "routing_test_support.h"

namespace kelvor {
namespace {

using test::AlarmBuilder;

class OfferAlarmTest : public testing::Test {
 protected:
  // Offers `alarm` and returns the last console line it printed.
  std::string Offer(AlarmDestination& destination, const AlarmBuilder& alarm) {
    world.console.Clear();
    destination.OfferAlarm(alarm.Build(), world.context);
    std::vector<std::string> lines = world.console.Lines();
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? "" : lines.back();
  }
  // The batch handed to the modem at the next due flush.
  std::string Flushed(AlarmDestination& destination) {
    world.clock.Advance(3600000);
    destination.FlushIfDue(world.context);
    return world.outbox.queued.empty() ? "(none)" : world.outbox.queued.back().text;
  }

  test::RoutingWorld world;
};

struct FilterCase {
  const char* specification;
  int8_t priority;
  uint16_t areas;
  bool taken;
};

TEST_F(OfferAlarmTest, PriorityAndAreaFilter) {
  const FilterCase cases[] = {
      {"=+1,A,H,1", 0, 1, true},
      {"=+1,A,H,1", 1, 1, false},
      {"=+1,A,M,1", 1, 1, true},
      {"=+1,A,M,1", 2, 1, false},
      {"=+1,A,L,1", 2, 1, true},
      {"=+1,A,L,1", 3, 1, false},
      {"=+1,A,H,1", -1, 1, true},  // compared as signed numbers
      {"=+1,AD,L,1", 0, 0x8, true},
      {"=+1,AD,L,1", 0, 0x2, false},
      {"=+1,AD,L,1", 0, 0xFFF6, false},
      {"=+1,P,L,1", 0, 0x8000, true},  // the mask's sign bit is area P
      {"=+1,,L,1", 0, 0xFFFF, false},  // areas field lost: the destination is incomplete
  };
  for (const FilterCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.specification << " priority " << int{c.priority} << " areas " << c.areas);
    AlarmDestination destination = world.Make(c.specification);
    AlarmBuilder alarm;
    alarm.priority = c.priority;
    alarm.areas = c.areas;
    EXPECT_EQ(Offer(destination, alarm), c.taken ? "Buffering alm ALARM" : "Ignoring alm ALARM");
    EXPECT_EQ(destination.BatchPending(), c.taken);
  }
}

struct EnableCase {
  const char* name;
  int16_t status;
  float value;
  const char* line;  // empty when the alarm is taken
};

TEST_F(OfferAlarmTest, EnableTagValue) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const EnableCase cases[] = {
      {"zero", 0, 0.0f, "Disabled send alm ALARM"},
      {"negative zero", 0, -0.0f, "Disabled send alm ALARM"},
      {"not a number", 0, nan, "Disabled send alm ALARM"},
      {"negative", 0, -1.0f, nullptr},
      {"fraction", 0, 0.5f, nullptr},
      {"failed read", 7, 1.0f, "Error reading enable tag ignoringalm ALARM"},
  };
  for (const EnableCase& c : cases) {
    SCOPED_TRACE(c.name);
    world.scada.tagReads.clear();
    world.scada.numberReader = [&](const std::string&, float* value) {
      *value = c.value;
      return c.status;
    };
    // The third part says A_CV; the value is read from F_CV all the same.
    AlarmDestination destination = world.Make("=+1,A,H,1,S,EN:SWITCH.A_CV");
    std::string line = Offer(destination, AlarmBuilder{});
    EXPECT_EQ(line, c.line != nullptr ? c.line : "Buffering alm ALARM");
    EXPECT_EQ(destination.BatchPending(), c.line == nullptr);
    ASSERT_FALSE(world.scada.tagReads.empty());
    EXPECT_EQ(world.scada.tagReads.front(), "NUMBER EN|SWITCH|F_CV");
  }
}

TEST_F(OfferAlarmTest, FilteredAlarmReadsNothingFromTheDatabase) {
  AlarmDestination destination = world.Make("=+1,A,H,1,S,EN:SWITCH.F_CV");
  AlarmBuilder alarm;
  alarm.priority = 2;
  Offer(destination, alarm);
  alarm.priority = 0;
  alarm.areas = 2;
  Offer(destination, alarm);
  EXPECT_TRUE(world.scada.tagReads.empty());
  AlarmDestination withoutTag = world.Make("=+1,A,H,1");
  Offer(withoutTag, AlarmBuilder{});
  EXPECT_EQ(world.scada.tagReads, (std::vector<std::string>{"TEXT NODE1|TAG1|A_DESC"}));
}

TEST_F(OfferAlarmTest, ConsoleLinesCutTheAlarmText) {
  AlarmBuilder alarm;
  alarm.text = std::string(60, 'a') + std::string(40, 'b');
  AlarmDestination high = world.Make("=+1,A,H,1");
  AlarmDestination enabled = world.Make("=+1,A,L,1,S,EN:SWITCH.F_CV");
  world.scada.SetNumber("EN", "SWITCH", "F_CV", 0.0f);
  alarm.priority = 1;
  EXPECT_EQ(Offer(high, alarm), "Ignoring alm " + std::string(60, 'a'));
  EXPECT_EQ(Offer(enabled, alarm), "Disabled send alm " + std::string(60, 'a'));
  world.scada.numberReader = [](const std::string&, float*) { return int16_t{1}; };
  EXPECT_EQ(Offer(enabled, alarm), "Error reading enable tag ignoringalm " + std::string(50, 'a'));
  alarm.priority = 0;
  EXPECT_EQ(Offer(high, alarm), "Buffering alm " + std::string(60, 'a'));
}

struct FormCase {
  const char* name;
  const char* specification;
  AlarmBuilder alarm;
  const char* description;  // nullptr: the read fails
  const char* value;        // nullptr: the read fails
  const char* sms;
};

AlarmBuilder Alarm(int8_t day, int8_t hour, int8_t minute, int8_t status) {
  AlarmBuilder alarm;
  alarm.day = day;
  alarm.hour = hour;
  alarm.minute = minute;
  alarm.status = status;
  return alarm;
}

TEST_F(OfferAlarmTest, TextFormsByteForByte) {
  const FormCase cases[] = {
      {"full", "=+1,A,H,1,F", Alarm(7, 9, 5, 3), "Pump trip", "   12.5",
       "Fix Alarms\n7/09:05\nTAG1\nHI\nPump trip\n=12.5\n"},
      {"description only", "=+1,A,H,1", Alarm(31, 23, 59, 3), "Pump trip", "12.5",
       "31/23:59\nPump trip\n"},
      {"unread description", "=+1,A,H,1", Alarm(1, 0, 0, 3), nullptr, nullptr, "1/00:00\ndesc\n"},
      {"unread value", "=+1,A,H,1,F", Alarm(1, 2, 3, 16), "D", nullptr,
       "Fix Alarms\n1/02:03\nTAG1\nTIME\nD\n=\n"},
      {"value all spaces", "=+1,A,H,1,F", Alarm(1, 2, 3, 1), "D", "    ",
       "Fix Alarms\n1/02:03\nTAG1\nLOLO\nD\n=\n"},
      {"status beyond the table", "=+1,A,H,1,F", Alarm(1, 2, 3, 17), "D", "1",
       "Fix Alarms\n1/02:03\nTAG1\n???\nD\n=1\n"},
      {"negative status", "=+1,A,H,1,F", Alarm(1, 2, 3, -128), "D", "1",
       "Fix Alarms\n1/02:03\nTAG1\n???\nD\n=1\n"},
      {"negative time fields", "=+1,A,H,1", Alarm(-1, -5, -128, 3), "D", "1", "-1/-5:-128\nD\n"},
  };
  for (const FormCase& c : cases) {
    SCOPED_TRACE(c.name);
    world.scada.textReader = [&](const std::string& key, std::string* text) -> int16_t {
      const char* answer = key == "NODE1|TAG1|A_DESC" ? c.description : c.value;
      if (answer == nullptr) return 5;
      *text = answer;
      return 0;
    };
    AlarmDestination destination = world.Make(c.specification);
    EXPECT_EQ(Offer(destination, c.alarm), "Buffering alm ALARM");
    EXPECT_EQ(Flushed(destination), c.sms);
    EXPECT_EQ(world.outbox.queued.back().number, "+1");
  }
}

TEST_F(OfferAlarmTest, LongestFullTextIsKeptWholeInABatchOfItsOwn) {
  AlarmBuilder alarm = Alarm(-128, -128, -128, 12);
  alarm.tag = std::string(31, 'T');
  world.scada.SetText("NODE1", alarm.tag, "A_DESC", std::string(60, 'd'));
  world.scada.SetText("NODE1", alarm.tag, "A_CV", std::string(47, 'v'));
  const std::string text = "-128/-128:-128\n" + alarm.tag + "\nERROR\n" + std::string(47, 'd') +
                           "\n=" + std::string(47, 'v') + "\n";
  ASSERT_EQ(text.size(), kFullTextMax);

  // Header and text exceed 159: even the header alone goes first, then the text fills a
  // restarted batch of its own, whole, for the modem queue to shorten.
  AlarmDestination destination = world.Make("=+1,A,H,1,F");
  Offer(destination, alarm);
  Offer(destination, alarm);
  ASSERT_EQ(world.outbox.queued.size(), 2u);
  EXPECT_EQ(world.outbox.queued[0].text, "Fix Alarms\n");
  EXPECT_EQ(world.outbox.queued[1].text, "Fix Alarms\r\n" + text);
  EXPECT_EQ(destination.Batch(), "Fix Alarms\r\n" + text);
}

TEST(StatusNameTest, EveryNameFitsItsShareOfTheLongestText) {
  for (int code = -128; code <= 127; ++code) {
    EXPECT_LE(strlen(StatusName(code)), kStatusNameMax) << code;
  }
}

// Description-only texts are "7/09:05\n" (8 characters), the description and "\n".
AlarmBuilder WithDescription(test::RoutingWorld& world, const std::string& tag, size_t length) {
  AlarmBuilder alarm;
  alarm.tag = tag;
  world.scada.SetText("NODE1", tag, "A_DESC", std::string(length, 'x'));
  return alarm;
}

TEST_F(OfferAlarmTest, BatchOfExactly159StaysAndThe160thCharacterStartsANewOne) {
  AlarmBuilder text56 = WithDescription(world, "T56", 47);
  AlarmBuilder text47 = WithDescription(world, "T47", 38);
  AlarmBuilder text48 = WithDescription(world, "T48", 39);

  AlarmDestination exact = world.Make("=+1,A,H,30");
  Offer(exact, text56);
  Offer(exact, text56);
  Offer(exact, text47);
  EXPECT_EQ(strlen(exact.Batch()), 159u);
  EXPECT_TRUE(world.outbox.queued.empty());

  AlarmDestination over = world.Make("=+2,A,H,30");
  Offer(over, text56);
  Offer(over, text56);
  uint32_t firstDeadline = over.Deadline();
  world.clock.Advance(5000);
  world.console.Clear();
  over.OfferAlarm(text48.Build(), world.context);
  ASSERT_EQ(world.outbox.queued.size(), 1u);
  EXPECT_EQ(world.outbox.queued[0].text.size(), 112u);
  EXPECT_EQ(world.outbox.queued[0].number, "+2");
  EXPECT_EQ(strlen(over.Batch()), 48u);
  EXPECT_TRUE(over.BatchPending());
  EXPECT_EQ(over.Deadline(), firstDeadline + 5000);  // the new batch's delay starts now
  EXPECT_EQ(world.console.Lines(), std::vector<std::string>{"Buffering alm ALARM"});
}

TEST_F(OfferAlarmTest, FullQueueLosesTheBatchAndTheNextAlarmStartsAfresh) {
  world.outbox.capacity = 0;
  world.scada.SetText("NODE1", "TAG1", "A_DESC", "first");
  AlarmDestination destination = world.Make("=+1,A,H,10,F");
  Offer(destination, AlarmBuilder{});
  world.clock.Advance(10001);
  destination.FlushIfDue(world.context);
  EXPECT_EQ(world.outbox.refused, 1);
  EXPECT_FALSE(destination.BatchPending());
  EXPECT_STREQ(destination.Batch(), "Fix Alarms\r\n");

  world.outbox.capacity = 21;
  Offer(destination, AlarmBuilder{});
  EXPECT_EQ(destination.Deadline(), world.clock.TickCount() + 10000);
  EXPECT_EQ(Flushed(destination), "Fix Alarms\r\n7/09:05\nTAG1\nHI\nfirst\n=\n");
}

}  // namespace
}  // namespace kelvor
