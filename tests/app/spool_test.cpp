// The spool file: what a run keeps and the next one gets back, and a spool that cannot be
// written. Real files in the test's temporary folder; a damaged file is the fuzz target's
// and the end-to-end scenarios' part.
#include "app/spool.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/console_log.h"
#include "routing/destination_specification.h"
#include "support/fake_outbox.h"
#include "support/fake_serial.h"
#include "support/fakes.h"
#include "support/scripted_phone.h"
#include "support/temp_folder.h"

namespace kelvor {
namespace {

// One run's modem and destinations. A phone answers the modem's commands, and confirms
// the SMS it takes unless it is told to stay silent on them.
struct RunState {
  explicit RunState(std::initializer_list<const char*> given) {
    for (const char* destination : given) {
      std::string text = destination;
      destinations.Add(ParseDestination(&text[0]));
    }
    auto owned = std::make_unique<test::FakeSerialPort>();
    port = owned.get();
    phone.Plug(*port);
    modem = std::make_unique<SmsModem>("COM5", nullptr, std::move(owned), log, clock);
  }
  // A batch at the first destination with that number.
  void Pend(const char* number, const std::string& text) {
    ASSERT_TRUE(destinations.RestoreBatch(number, text.c_str(), 0));
  }
  // The batches pending, as "number|text", in list order.
  std::vector<std::string> Pending() const {
    std::vector<std::string> pending;
    destinations.ForEachPendingBatch([&pending](const PendingBatch& batch) {
      pending.push_back(std::string(batch.number) + "|" + batch.text);
    });
    return pending;
  }
  // Steps the modem until the oldest SMS has gone out at the prompt and was confirmed, or,
  // with the phone silent, until it went out.
  void SendOldest(bool confirm) {
    phone.confirming = confirm;
    int queued = modem->QueuedCount();
    size_t writes = port->writes.size();
    auto sent = [&] {
      for (size_t i = writes; i < port->writes.size(); ++i) {
        if (port->writes[i].size() > 1 && port->writes[i].back() == '\x1a') return true;
      }
      return false;
    };
    for (int step = 0; step < 100 && (confirm ? modem->QueuedCount() == queued : !sent()); ++step) {
      clock.Advance(100);
      modem->PollModem();
    }
    ASSERT_TRUE(confirm ? modem->QueuedCount() < queued : sent());
  }

  test::FakeConsole console;
  ConsoleLog log{console, nullptr};
  test::VirtualClock clock{1000};
  test::FakeSerialPort* port;
  test::ScriptedPhone phone;
  std::unique_ptr<SmsModem> modem;
  DestinationList destinations;
  Escalation escalation;
  WakeUpCalls calls;
};

class SpoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = testing::TempDir() + "kelvor-spool-" +
           testing::UnitTest::GetInstance()->current_test_info()->name();
    std::remove(path.c_str());
  }
  void TearDown() override { std::remove((path + ".lck").c_str()); }
  std::string path;
};

TEST_F(SpoolTest, TheNextRunGetsTheQueueWithItsSendingsAndEachBatchAtItsNumber) {
  Spool spool(path.c_str());
  RunState first{"=+1,A,H,5", "=+2,A,H,5", "=+3,A,H,5,F"};
  first.modem->QueueMessage("one", "+11");
  uint32_t two = first.modem->QueueMessage("two", "+12");
  first.modem->QueueAlarms("three", "+13", 2);
  first.Pend("+1", "7/06:05\nFeed flow high\n");
  first.Pend("+3", "Fix Alarms\n7/06:06\nTIC200\n");
  // An alarm SMS +11 has 5 minutes to answer.
  first.escalation.AddRule("+11", 5, "+14");
  first.escalation.AddRule("+14", 1, "+15");
  ASSERT_EQ(first.escalation.AlarmConfirmed("+11", 7, "held", 0), Escalation::kHeld);
  // A wake-up call to +11 is due in 10 minutes.
  ASSERT_EQ(first.calls.AddRule("+11", 10, 2), WakeUpCalls::kAdded);
  first.calls.AlarmConfirmed("+11", 0, 0);
  EXPECT_EQ(
      spool.WriteIfChanged(*first.modem, first.destinations, first.escalation, first.calls, 0),
      Spool::kWritten);
  // Idle passes write nothing; any change writes.
  EXPECT_EQ(
      spool.WriteIfChanged(*first.modem, first.destinations, first.escalation, first.calls, 0),
      Spool::kUnchanged);
  first.SendOldest(true);  // confirmed
  EXPECT_EQ(
      spool.WriteIfChanged(*first.modem, first.destinations, first.escalation, first.calls, 0),
      Spool::kWritten);
  first.SendOldest(false);  // went out, not confirmed: sent again after the restart
  EXPECT_EQ(
      spool.WriteIfChanged(*first.modem, first.destinations, first.escalation, first.calls, 0),
      Spool::kWritten);

  // The next run has +1 twice and no +3: its batch goes to the queue as an SMS.
  RunState next{"=+2,B,L,9", "=+1,A,H,5", "=+1,B,H,7"};
  next.escalation.AddRule("+11", 5, "+14");
  next.calls.AddRule("+11", 10, 2);
  SpoolRestored restored =
      Spool(path.c_str())
          .Restore(*next.modem, next.destinations, next.escalation, next.calls, 40000);
  EXPECT_TRUE(restored.found);
  EXPECT_FALSE(restored.reading.damaged);
  EXPECT_EQ(restored.sms, 2);
  EXPECT_EQ(restored.batches, 1);
  EXPECT_EQ(restored.orphans, 1);
  EXPECT_EQ(restored.escalations, 1);
  EXPECT_EQ(restored.calls, 1);
  // +11's call is due when its ten minutes are up.
  uint32_t unanswered = 0;
  uint32_t minutes = 0;
  next.calls.Pass(40000 + 10 * 60000);
  EXPECT_EQ(next.calls.Due(&unanswered, &minutes), nullptr);
  next.calls.Pass(40000 + 10 * 60000 + 1);
  EXPECT_STREQ(next.calls.Due(&unanswered, &minutes), "+11");
  // +11's five minutes count again from the restore.
  EscalationSms due;
  EXPECT_FALSE(next.escalation.TakeDue(40000 + 5 * 60000, &due));
  ASSERT_TRUE(next.escalation.TakeDue(40000 + 5 * 60000 + 1, &due));
  EXPECT_STREQ(due.text, "No answer from +11 in 5 min\nheld");
  ASSERT_EQ(next.modem->QueuedCount(), 3);
  EXPECT_STREQ(next.modem->Queued(0).text, "two");
  EXPECT_EQ(next.modem->Queued(0).attempts, 1);
  EXPECT_STREQ(next.modem->Queued(1).number, "+13");
  EXPECT_EQ(next.modem->Queued(1).attempts, 0);
  EXPECT_EQ(next.modem->Queued(1).urgency, 2) << "its most urgent alarm: low";
  EXPECT_EQ(next.modem->Queued(0).urgency, 0) << "queued without a priority: high";
  EXPECT_STREQ(next.modem->Queued(2).text, "Fix Alarms\n7/06:06\nTIC200\n");
  EXPECT_STREQ(next.modem->Queued(2).number, "+3");
  EXPECT_EQ(next.Pending(), std::vector<std::string>{"+1|7/06:05\nFeed flow high\n"});
  // Each SMS keeps its id; no new one takes an id the file names (the alarm SMS held is 7).
  EXPECT_EQ(next.modem->Queued(0).id, two);
  EXPECT_GT(next.modem->Queued(2).id, 7u);

  // At the first +1, whose delay of 5 s counts from the restore on: not due at once, due
  // after it.
  test::FakeScada scada;
  RoutingContext routing{next.log, scada, next.clock, *next.modem};
  next.clock.Set(45000);
  next.destinations.FlushIfDue(routing);
  EXPECT_EQ(next.Pending().size(), 1u);
  next.clock.Set(45001);
  next.destinations.FlushIfDue(routing);
  EXPECT_EQ(next.Pending().size(), 0u);
  EXPECT_EQ(next.modem->QueuedCount(), 4);
}

// A file as Kelvor wrote it before escalation (an SMS sent twice, a batch, the end) still
// restores; an escalated SMS comes back as one, so that its confirmation starts its wait.
// An SMS awaiting its status report is awaited again after a restart, its report matched
// there; a run without DELIVERY= forgets it.
TEST_F(SpoolTest, AnSmsAwaitingItsReportIsMatchedAfterTheRestart) {
  RunState first{"=+1,A,H,5"};
  first.modem->AskReports(60);
  first.modem->QueueAlarms("one", "+11", 0);
  first.SendOldest(true);  // "+CMGS: 5"
  for (int i = 0; i < 20; ++i) {
    first.clock.Advance(100);
    first.modem->PollModem();
  }
  ASSERT_EQ(first.modem->Deliveries().Counts().awaiting, 1);
  {
    Spool spool(path.c_str());
    EXPECT_EQ(
        spool.WriteIfChanged(*first.modem, first.destinations, first.escalation, first.calls, 0),
        Spool::kWritten);
  }
  RunState plain{"=+1,A,H,5"};
  EXPECT_EQ(Spool(path.c_str())
                .Restore(*plain.modem, plain.destinations, plain.escalation, plain.calls, 0)
                .reports,
            0);
  std::remove((path + ".lck").c_str());
  RunState next{"=+1,A,H,5"};
  next.modem->AskReports(60);
  EXPECT_EQ(Spool(path.c_str())
                .Restore(*next.modem, next.destinations, next.escalation, next.calls, 0)
                .reports,
            1);
  next.port->Arrive(
      "\r\n+CDS: 6,5,\"+11\",145,\"26/12/08,21:00:00+04\",\"26/12/08,21:00:09+04\",0\r\n");
  next.clock.Advance(100);
  next.modem->PollModem();
  EXPECT_EQ(next.modem->Deliveries().Counts().delivered, 1u);
  EXPECT_EQ(next.modem->Deliveries().Counts().awaiting, 0);
}

TEST_F(SpoolTest, AFileFromBeforeEscalationRestoresAndAnEscalatedSmsKeepsItsKind) {
  const std::string before(
      "KELVOR SPOOL 1\r\n"
      "S\x02\0\0\0\0\x03\x03+11one\x50\x9b\x7a\x69"
      "B\0\xd2\x04\0\0\x02\x17+17/06:05\nFeed flow high\n\x16\x6e\x3b\xa2"
      "E\0\x02\0\0\0\0\0\xeb\xb2\x97\x49",
      83);
  std::ofstream(path, std::ios::binary) << before;
  RunState run{"=+1,A,H,5"};
  SpoolRestored restored =
      Spool(path.c_str()).Restore(*run.modem, run.destinations, run.escalation, run.calls, 0);
  EXPECT_FALSE(restored.reading.damaged);
  EXPECT_EQ(restored.sms, 1);
  EXPECT_EQ(restored.batches, 1);
  EXPECT_EQ(run.modem->Queued(0).attempts, 2);

  run.modem->QueueEscalatedMessage("No answer from +11 in 5 min\none", "+14");
  EXPECT_EQ(Spool(path.c_str())
                .WriteIfChanged(*run.modem, run.destinations, run.escalation, run.calls, 0),
            Spool::kWritten);
  RunState next{"=+1,A,H,5"};
  Spool(path.c_str()).Restore(*next.modem, next.destinations, next.escalation, next.calls, 0);
  ASSERT_EQ(next.modem->QueuedCount(), 2);  // the batch is back at +1
  EXPECT_EQ(next.modem->Queued(0).kind, SmsKind::kAlarm);
  EXPECT_EQ(next.modem->Queued(1).kind, SmsKind::kEscalated);
}

// A file written before SMS kept their ids: the alarm SMS on its way to +14 waits for the
// escalated SMS queued to it, whose confirmation starts +14's minutes.
TEST_F(SpoolTest, AFileWithoutIdsLinksAnEscalationToItsEscalatedSms) {
  const std::string before(
      "KELVOR SPOOL 1\r\n"
      "S\x01\x01\x00\x00\x00\x03 +14No answer from +11 in 5 min\nheldN\xd1\xe4\xbe"
      "A\x00\xc0'\x09\x00\x03\x04+14held\x05\x00\x03+11\x02\x01\x03+11\x00\x03+14{V\xbf"
      "9"
      "E\x00\x02\x00\x00\x00\x00\x00\xeb\xb2\x97I",
      111);
  std::ofstream(path, std::ios::binary) << before;
  RunState run{"=+1,A,H,5"};
  run.escalation.AddRule("+11", 5, "+14");
  run.escalation.AddRule("+14", 1, "+15");
  SpoolRestored restored =
      Spool(path.c_str()).Restore(*run.modem, run.destinations, run.escalation, run.calls, 0);
  EXPECT_FALSE(restored.reading.damaged);
  EXPECT_EQ(restored.sms, 1);
  EXPECT_EQ(restored.escalations, 1);
  ASSERT_EQ(run.modem->QueuedCount(), 1);
  EXPECT_TRUE(run.escalation.EscalationConfirmed(run.modem->Queued(0).id, 0));
  // +14's minute runs from the confirmation, not the ten the file gave.
  EscalationSms due;
  EXPECT_FALSE(run.escalation.TakeDue(60000, &due));
  ASSERT_TRUE(run.escalation.TakeDue(60001, &due));
  EXPECT_STREQ(due.number, "+15");
}

// A batch kept while the queue was full comes back with the alarms it names and those it
// counts, and goes on as it was: a medium alarm still takes the place of the low one left.
TEST_F(SpoolTest, ABatchThatCountsAlarmsComesBackAndGoesOnCounting) {
  test::FakeScada scada;
  test::FakeOutbox full;
  full.capacity = 0;
  auto offer = [&](RunState& run, int id, int8_t priority) {
    test::AlarmBuilder alarm;
    alarm.tag = "T" + std::to_string(id);
    alarm.minute = static_cast<int8_t>(id);
    alarm.priority = priority;
    scada.SetText("NODE1", alarm.tag, "A_DESC",
                  "Alarm " + std::to_string(id) + std::string(22, '.'));
    RoutingContext routing{run.log, scada, run.clock, full};
    run.destinations.OfferAlarm(alarm.Build(), routing);
  };
  auto text = [](int id) {
    return "7/09:0" + std::to_string(id) + "\nAlarm " + std::to_string(id) + std::string(22, '.') +
           "\n";
  };
  RunState first{"=+1,A,L,30"};
  int id = 0;
  for (int8_t priority : {2, 2, 2, 2, 0}) offer(first, id++, priority);
  const std::string kept = text(0) + text(1) + text(4) + "+2 more alarms (L 2) to 09:03\n";
  ASSERT_EQ(first.Pending(), std::vector<std::string>{"+1|" + kept});
  EXPECT_EQ(Spool(path.c_str())
                .WriteIfChanged(*first.modem, first.destinations, first.escalation, first.calls, 0),
            Spool::kWritten);

  RunState next{"=+1,A,L,30"};
  SpoolRestored restored =
      Spool(path.c_str()).Restore(*next.modem, next.destinations, next.escalation, next.calls, 0);
  EXPECT_EQ(restored.batches, 1);
  EXPECT_EQ(next.Pending(), std::vector<std::string>{"+1|" + kept});
  offer(next, 5, 1);
  EXPECT_EQ(next.Pending(), std::vector<std::string>{"+1|" + text(0) + text(4) + text(5) +
                                                     "+3 more alarms (L 3) to 09:03\n"});
}

// A failed write is tried again at once on a change, and without one once a second has
// passed, until the file is written; from then on only a change writes.
TEST_F(SpoolTest, AFailedWriteIsTriedAgainOnceASecondUntilItSucceeds) {
  const std::string folder = path + "-missing";
  const std::string inFolder = folder + "/spool";
  {
    Spool spool(inFolder.c_str());
    RunState run{"=+1,A,H,5"};
    auto write = [&](uint32_t now) {
      return spool.WriteIfChanged(*run.modem, run.destinations, run.escalation, run.calls, now);
    };
    EXPECT_EQ(write(0), Spool::kFailed);
    EXPECT_FALSE(spool.UpToDate());
    EXPECT_EQ(write(1000), Spool::kUnchanged);
    EXPECT_EQ(write(1001), Spool::kFailed);
    run.modem->QueueMessage("text", "+1");
    EXPECT_EQ(write(1002), Spool::kFailed);
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    EXPECT_EQ(write(2002), Spool::kUnchanged);
    EXPECT_EQ(write(2003), Spool::kWritten);
    EXPECT_TRUE(spool.UpToDate());
    EXPECT_NE(test::TempFolder::Read(inFolder).find("text"), std::string::npos);
    EXPECT_EQ(write(9000), Spool::kUnchanged);
  }  // the spool lets go of its lock file, which Windows deletes no folder around
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kelvor
