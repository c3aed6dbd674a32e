// FlushIfDue and the deadline: when a batch is handed to the modem, in virtual time.
#include <gtest/gtest.h>

#include <string>

#include "routing_test_support.h"

namespace kelvor {
namespace {

using test::AlarmBuilder;

class BatchTimingTest : public testing::Test {
 protected:
  void Offer(AlarmDestination& destination) {
    destination.OfferAlarm(AlarmBuilder{}.Build(), world.context);
  }
  // Runs FlushIfDue once per pass of `pass` ms until an SMS is queued or `limit` ms have
  // gone; returns the ms from now to the SMS, or -1.
  int64_t MsUntilSent(AlarmDestination& destination, uint32_t pass, uint32_t limit) {
    size_t before = world.outbox.queued.size();
    for (uint32_t elapsed = 0; elapsed <= limit; elapsed += pass) {
      destination.FlushIfDue(world.context);
      if (world.outbox.queued.size() > before) return elapsed;
      world.clock.Advance(pass);
    }
    return -1;
  }

  test::RoutingWorld world;
};

TEST_F(BatchTimingTest, AlarmsJoinAPendingBatchWithoutPuttingItOff) {
  world.scada.SetText("NODE1", "TAG1", "A_DESC", "Pump");
  world.scada.SetText("NODE1", "TAG1", "A_CV", "1");
  AlarmDestination destination = world.Make("=+5,A,H,30,F");
  const uint32_t start = world.clock.TickCount();
  Offer(destination);
  world.clock.Advance(10000);
  Offer(destination);
  EXPECT_EQ(destination.Deadline(), start + 30000);

  world.clock.Set(start + 30000);  // equal to the deadline: not yet due
  destination.FlushIfDue(world.context);
  EXPECT_TRUE(world.outbox.queued.empty());
  world.clock.Set(start + 30001);
  destination.FlushIfDue(world.context);
  ASSERT_EQ(world.outbox.queued.size(), 1u);
  const std::string text = "7/09:05\nTAG1\nHI\nPump\n=1\n";
  EXPECT_EQ(world.outbox.queued[0].text, "Fix Alarms\n" + text + text);
  EXPECT_EQ(world.outbox.queued[0].number, "+5");
  EXPECT_FALSE(destination.BatchPending());

  // Sent once only; the next batch has the later header.
  world.clock.Advance(60000);
  destination.FlushIfDue(world.context);
  EXPECT_EQ(world.outbox.queued.size(), 1u);
  Offer(destination);
  world.clock.Advance(30001);
  destination.FlushIfDue(world.context);
  ASSERT_EQ(world.outbox.queued.size(), 2u);
  EXPECT_EQ(world.outbox.queued[1].text, "Fix Alarms\r\n" + text);
}

TEST_F(BatchTimingTest, DescriptionOnlyBatchesHaveNoHeader) {
  AlarmDestination destination = world.Make("=+5,A,H,0");
  for (int batch = 0; batch < 2; ++batch) {
    Offer(destination);
    EXPECT_EQ(MsUntilSent(destination, 100, 1000), 100);
    EXPECT_EQ(world.outbox.queued.back().text, "7/09:05\ndesc\n");
  }
}

struct DelayCase {
  const char* name;
  const char* specification;
  uint32_t alarmTick;
  int64_t sentAfter;  // ms after the alarm, with a flush every 100 ms starting at once
};

TEST_F(BatchTimingTest, DelaysAndTheirEdges) {
  const DelayCase cases[] = {
      {"delay 0: due once the tick moves on", "=+1,A,H,0", 5000, 100},
      {"30 s", "=+1,A,H,30", 5000, 30100},
      {"one hour is waited out", "=+1,A,H,3600", 5000, 3600100},
      {"two hours are pulled in to now", "=+1,A,H,7200", 5000, 100},
      {"negative delay: due at once", "=+1,A,H,-5", 100000, 0},
      {"negative delay wrapping below zero", "=+1,A,H,-5", 1000, 100},
      {"deadline past the 2^32 wrap", "=+1,A,H,30", 0xFFFFFFFFu - 1000, 0},
      // The deadline is the last tick before the wrap, which no later tick exceeds: once
      // the tick has wrapped, the deadline is pulled in to then.
      {"deadline on the last tick", "=+1,A,H,1", 0xFFFFFFFFu - 1000, 1200},
  };
  for (const DelayCase& c : cases) {
    SCOPED_TRACE(c.name);
    world.clock.Set(c.alarmTick);
    AlarmDestination destination = world.Make(c.specification);
    Offer(destination);
    EXPECT_EQ(MsUntilSent(destination, 100, 4000000), c.sentAfter);
    EXPECT_FALSE(destination.BatchPending());
  }
}

TEST_F(BatchTimingTest, NothingPendingNothingSent) {
  AlarmDestination destination = world.Make("=+1,A,H,0");
  AlarmBuilder ignored;
  ignored.areas = 2;
  destination.OfferAlarm(ignored.Build(), world.context);
  EXPECT_EQ(MsUntilSent(destination, 1000, 10000), -1);
  EXPECT_EQ(destination.Deadline(), 0u);
}

}  // namespace
}  // namespace kelvor
