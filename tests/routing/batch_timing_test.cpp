// FlushIfDue and the deadline: when a batch is handed to the modem, in virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "routing/destination_list.h"
#include "routing_test_support.h"

namespace kelvor {
namespace {

class BatchTimingTest : public testing::Test {
 protected:
  void Offer(AlarmDestination& destination) {
    destination.OfferAlarm(test::AlarmBuilder{}.Build(), world.context);
  }
  // Flushes once per 100 ms pass, starting now, until an SMS is queued; returns the ms
  // from now to the SMS, or -1 after `limit` ms.
  int64_t MsUntilSent(AlarmDestination& destination, uint32_t limit) {
    size_t before = world.outbox.queued.size();
    for (uint32_t elapsed = 0; elapsed <= limit; elapsed += 100) {
      destination.FlushIfDue(world.context);
      if (world.outbox.queued.size() > before) return elapsed;
      world.clock.Advance(100);
    }
    return -1;
  }

  test::RoutingWorld world;
};

TEST_F(BatchTimingTest, AlarmsJoinAPendingBatchWithoutPuttingItOff) {
  world.scada.SetText("NODE1", "TAG1", "A_CV", "1");
  AlarmDestination destination = world.Make("=+5,A,H,30,F");
  Offer(destination);
  world.clock.Advance(10000);
  Offer(destination);
  EXPECT_EQ(MsUntilSent(destination, 60000), 20100);  // 30 s after the first, not equal to it
  const std::string text = "7/09:05\nTAG1\nHI\ndesc\n=1\n";
  EXPECT_EQ(world.outbox.queued.at(0).text, "Fix Alarms\n" + text + text);
  EXPECT_EQ(world.outbox.queued.at(0).number, "+5");
  EXPECT_EQ(MsUntilSent(destination, 60000), -1);  // sent once only

  Offer(destination);
  EXPECT_EQ(MsUntilSent(destination, 60000), 30100);
  EXPECT_EQ(world.outbox.queued.at(1).text, "Fix Alarms\r\n" + text);
}

TEST_F(BatchTimingTest, DelaysAndTheirEdges) {
  const struct {
    const char* name;
    const char* specification;
    uint32_t alarmTick;
    int64_t sentAfter;  // ms after the alarm
  } cases[] = {
      {"delay 0: due once the tick moves on", "=+1,A,H,0", 5000, 100},
      {"one hour is waited out", "=+1,A,H,3600", 5000, 3600100},
      {"two hours are pulled in to now", "=+1,A,H,7200", 5000, 100},
      {"negative delay: due at once", "=+1,A,H,-5", 100000, 0},
      {"negative delay wrapping below zero", "=+1,A,H,-5", 1000, 0},
      // A deadline past the 2^32 wrap is waited out, not taken as passed at once.
      {"deadline past the 2^32 wrap", "=+1,A,H,30", 0xFFFFFFFFu - 1000, 30100},
      {"deadline on the last tick", "=+1,A,H,1", 0xFFFFFFFFu - 1000, 1100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    world.clock.Set(c.alarmTick);
    AlarmDestination destination = world.Make(c.specification);
    Offer(destination);
    EXPECT_EQ(MsUntilSent(destination, 4000000), c.sentAfter);
  }
}

// A long burst into a full queue that frees a place every second: five destinations take
// every alarm, and the places go round them, the one that has waited longest first, not to
// the first in the list every time, the others losing their batches as they fill up.
TEST_F(BatchTimingTest, PlacesTheQueueFreesGoToTheDestinationThatHasWaitedLongest) {
  DestinationList list;
  for (char number = '1'; number <= '5'; ++number) {
    char text[] = {'=', '+', number, ',', 'A', ',', 'H', ',', '0', '\0'};
    list.Add(ParseDestination(text));
  }
  world.outbox.capacity = 0;
  for (int pass = 1; pass <= 1000; ++pass) {
    if (pass % 5 == 0) list.OfferAlarm(test::AlarmBuilder{}.Build(), world.context);
    world.clock.Advance(100);
    list.FlushIfDue(world.context);
    if (pass % 10 == 0) ++world.outbox.capacity;
  }
  std::map<std::string, int> places;
  for (const auto& sms : world.outbox.queued) ++places[sms.number];
  EXPECT_EQ(places, (std::map<std::string, int>{
                        {"+1", 20}, {"+2", 20}, {"+3", 20}, {"+4", 20}, {"+5", 19}}));
  EXPECT_EQ(world.outbox.refused, 0);
}

// A plant trip: 150 alarms in 15 s to five destinations that take them all, three of them
// high in a flood of medium and low ones, while the phone sends an SMS every 4 s. Every
// alarm reaches each number named in an SMS or counted in one, of its own priority; the
// high ones are named; no SMS passes 159 characters and no batch is refused.
TEST_F(BatchTimingTest, ATripOf150AlarmsIsNamedOrCountedAtEveryNumber) {
  DestinationList list;
  for (char number = '1'; number <= '5'; ++number) {
    char text[] = {'=', '+', number, ',', 'A', ',', 'L', ',', '3', '0', '\0'};
    list.Add(ParseDestination(text));
  }
  auto priorityOf = [](int id) { return id == 20 || id == 75 || id == 140 ? 0 : id % 4 ? 2 : 1; };
  for (int pass = 0; pass < 6000; ++pass) {
    if (pass < 150) {
      test::AlarmBuilder alarm;
      alarm.tag = "T" + std::to_string(pass);
      alarm.priority = static_cast<int8_t>(priorityOf(pass));
      world.scada.SetText("NODE1", alarm.tag, "A_DESC", "Alarm " + std::to_string(pass));
      list.OfferAlarm(alarm.Build(), world.context);
    }
    world.clock.Advance(100);
    list.FlushIfDue(world.context);
    if (pass % 40 == 0) ++world.outbox.capacity;
  }
  EXPECT_EQ(list.PendingBatches(), 0);
  EXPECT_EQ(world.outbox.refused, 0);

  std::map<std::string, std::vector<int>> named;  // ids, per number
  std::map<std::string, std::array<unsigned, 3>> counted;
  for (const auto& queued : world.outbox.queued) {
    EXPECT_LE(queued.text.size(), kSmsTextLimit);
    std::istringstream lines(queued.text);
    for (std::string line; std::getline(lines, line);) {
      unsigned id = 0, more = 0, sum = 0;
      if (sscanf(line.c_str(), "Alarm %u", &id) == 1) named[queued.number].push_back(id);
      if (sscanf(line.c_str(), "+%u more alarm", &more) != 1) continue;
      for (int p = 0; p < 3; ++p) {
        const char* at = strstr(line.c_str(), (std::string(1, "HML"[p]) + " ").c_str());
        unsigned count = at != nullptr ? static_cast<unsigned>(atoi(at + 2)) : 0;
        counted[queued.number][p] += count;
        sum += count;
      }
      EXPECT_EQ(more, sum) << line;
    }
  }
  for (char number = '1'; number <= '5'; ++number) {
    const std::string to = {'+', number};
    SCOPED_TRACE(to);
    std::array<unsigned, 3> total = counted[to];
    std::vector<int> ids = named[to];
    for (int id : ids) ++total[priorityOf(id)];
    EXPECT_EQ(total, (std::array<unsigned, 3>{3, 36, 111}));
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end()) << "named twice";
    for (int high : {20, 75, 140}) EXPECT_TRUE(std::binary_search(ids.begin(), ids.end(), high));
  }
}

}  // namespace
}  // namespace kelvor
