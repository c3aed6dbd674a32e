// OfferAlarm: the filters, the enable tag, the two text forms, the 159-character rule and
// the batch it keeps while the queue is full.
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
// they fit and goes once there is room. One that the 159-character rule must hand over
// into a full queue stays too: the alarms that no longer fit are counted in its last line,
// which named ones give way to, and the count starts again once the queue takes it.
TEST_F(OfferAlarmTest, ADueBatchWaitsForRoomAndAFullOneCountsWhatNoLongerFits) {
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
  auto texts = [&](int count) {
    std::string batch;
    for (int i = 0; i < count; ++i) batch += text;
    return batch;
  };
  EXPECT_EQ(destination.Batch(), texts(12));

  // The 13th is counted, and three named ones give way to the line: 9 * 13 + 30 characters.
  EXPECT_EQ(Offer(destination, Alarm(0, 1)), "Counting alm ALARM");
  const std::string kept = texts(9) + "+4 more alarms (H 4) to 09:05\n";
  EXPECT_EQ(destination.Batch(), kept);
  EXPECT_EQ(world.outbox.refused, 0);

  world.outbox.capacity = 21;  // room again: the kept batch goes at the next flush, the next
  world.console.Clear();       // batch at its own deadline, with no count
  world.clock.Advance(100);
  destination.FlushIfDue(world.context);
  ASSERT_EQ(world.outbox.queued.size(), 1u);
  EXPECT_EQ(world.outbox.queued[0].text, kept);
  Offer(destination, Alarm(0, 1));
  EXPECT_EQ(Flushed(destination), text);
  EXPECT_EQ(world.console.Lines(), std::vector<std::string>{"Buffering alm ALARM"});
  EXPECT_FALSE(destination.BatchPending());
}

// A batch of UCS-2 that goes as two SMS waits, said once, while the queue has room for only
// one, and goes once there is room for both: it is never offered to be refused.
TEST_F(OfferAlarmTest, ABatchOfSeveralSmsWaitsForRoomForThemAll) {
  world.outbox.textLimit = 70;
  world.outbox.capacity = 2;
  world.outbox.queued.resize(1);
  const std::string description(40, 'x');
  world.scada.AnswerEveryTag(description.c_str(), "12.5", 0.0f);
  AlarmDestination destination = world.Make("=+1,A,H,10,F");  // over 70 with its header
  Offer(destination, Alarm(0, 1));
  world.console.Clear();
  for (int pass = 0; pass < 200; ++pass) {
    world.clock.Advance(100);
    destination.FlushIfDue(world.context);
  }
  EXPECT_EQ(world.outbox.refused, 0);
  EXPECT_EQ(world.console.Lines(),
            std::vector<std::string>{"Message queue full - SMS to +1 waits"});
  world.outbox.queued.clear();
  world.clock.Advance(100);
  destination.FlushIfDue(world.context);
  ASSERT_EQ(world.outbox.queued.size(), 1u);
  EXPECT_FALSE(destination.BatchPending());
}

// A batch kept while the queue is full: an alarm more urgent than a named one takes the
// place of the least urgent, the latest of those; the named stay in the order they came; the
// line counts the rest by priority (a code below 0 as high) up to the latest counted. Texts
// of 39 characters, four to an SMS; each alarm's minute is its number. Once the queue has
// room, the batch goes at once, as kept.
TEST_F(OfferAlarmTest, AKeptBatchNamesTheUrgentAndCountsTheRest) {
  const struct {
    const char* name;
    std::vector<int> priorities;
    const char* lines;  // B buffering, C counting, W the queue full: the batch waits
    std::vector<int> named;
    const char* summary;
    size_t shortText = 99;  // the alarm whose text is 13 characters
  } cases[] = {
      {"a fifth is counted and the fourth gives way",
       {2, 2, 2, 2, 2},
       "BBBBWC",
       {0, 1, 2},
       "+2 more alarms (L 2) to 09:04\n"},
      {"a high one takes the places of the latest low ones",
       {2, 2, 2, 2, 0},
       "BBBBWB",
       {0, 1, 4},
       "+2 more alarms (L 2) to 09:03\n"},
      {"medium over low, high over medium, high counted among high",
       {0, 0, 2, 2, 1, 0, 0},
       "BBBBWBBC",
       {0, 1, 5},
       "+4 more alarms (H 1, M 1, L 2) to 09:06\n"},
      {"codes below 0 are high",
       {-1, -1, 2, 2, 0, -128},
       "BBBBWBC",
       {0, 1, 4},
       "+3 more alarms (H 1, L 2) to 09:05\n"},
      {"one counted, where its line fits",
       {2, 2, 2, 2, 2},
       "BBBBWC",
       {0, 1, 2, 3},
       "+1 more alarm (L 1) to 09:04\n",
       3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    world.outbox.queued.clear();
    world.outbox.capacity = 0;
    AlarmDestination destination = world.Make("=+1,A,L,30");
    std::vector<std::string> texts;
    world.console.Clear();
    for (size_t i = 0; i < c.priorities.size(); ++i) {
      AlarmBuilder alarm = Alarm(static_cast<int8_t>(c.priorities[i]), 1);
      alarm.tag = "T" + std::to_string(i);
      alarm.minute = static_cast<int8_t>(i);
      std::string description = "Alarm " + std::to_string(i);
      description.resize(i == c.shortText ? 4 : 30, '.');
      world.scada.SetText("NODE1", alarm.tag, "A_DESC", description);
      texts.push_back("7/09:0" + std::to_string(i) + "\n" + description + "\n");
      destination.OfferAlarm(alarm.Build(), world.context);
    }
    std::string lines;
    for (const std::string& line : world.console.Lines()) lines += line[0] == 'M' ? 'W' : line[0];
    EXPECT_EQ(lines, c.lines);
    std::string kept;
    for (int i : c.named) kept += texts[i];
    kept += c.summary;
    EXPECT_EQ(destination.Batch(), kept);
    EXPECT_LE(kept.size(), kSmsTextLimit);
    world.outbox.capacity = 21;
    world.clock.Advance(100);
    destination.FlushIfDue(world.context);
    ASSERT_EQ(world.outbox.queued.size(), 1u);
    EXPECT_EQ(world.outbox.queued[0].text, kept);
  }
}

// The summary line at its extremes: the largest counts, times as a record's signed bytes
// print them, and nothing counted.
TEST_F(OfferAlarmTest, TheSummaryLineHoldsEveryCountAndTime) {
  const struct {
    AlarmCount count;
    const char* line;
  } cases[] = {
      {{{kCountMost, kCountMost, kCountMost}, -128, -5, 0},
       "+2999999997 more alarms (H 999999999, M 999999999, L 999999999) to -128:-5\n"},
      {{{0, 10, 0}, 127, 9, 0}, "+10 more alarms (M 10) to 127:09\n"},
      {{{1, 0, 0}, 0, 0, 0}, "+1 more alarm (H 1) to 00:00\n"},
      {{{0, 0, 0}, 12, 30, 0}, ""},
  };
  for (const auto& c : cases) {
    char line[kSummaryMax + 1];
    EXPECT_EQ(FormatSummary(c.count, line), strlen(c.line));
    EXPECT_STREQ(line, c.line);
  }
}

// A batch restored from a spool that kept its text alone: each alarm text in it, found by
// its time line, is named again (as high, its priority unknown), and gives way on its own.
TEST_F(OfferAlarmTest, ABatchRestoredAsTextNamesItsAlarmsAgain) {
  std::string restored;
  for (char i = 0; i < 4; ++i)
    restored += "7/06:0" + std::string(1, '0' + i) + "\nTank " + std::string(22, 'a' + i) + "\n";
  AlarmDestination destination = world.Make("=+1,A,L,30,F");
  ASSERT_TRUE(destination.RestoreBatch(("Fix Alarms\r\n" + restored).c_str(), 0));
  world.outbox.capacity = 0;
  world.console.Clear();
  destination.OfferAlarm(Alarm(2, 1).Build(), world.context);
  EXPECT_EQ(world.console.Lines(), (std::vector<std::string>{"Message queue full - SMS to +1 waits",
                                                             "Counting alm ALARM"}));
  EXPECT_EQ(destination.Batch(),
            "Fix Alarms\r\n" + restored.substr(0, 3 * 36) + "+2 more alarms (H 1, L 1) to 09:05\n");
}

}  // namespace
}  // namespace kelvor
