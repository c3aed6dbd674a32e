// FlushIfDue and the deadline: when a batch is handed to the modem, in virtual time.
#include <gtest/gtest.h>

#include <map>
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

}  // namespace
}  // namespace kelvor
