// Acknowledgement, escalation and wake-up calls in virtual time: their clocks across the
// tick's wrap, the chain that never loops, what an answer stops, and what a restart keeps.
#include "routing/escalation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "log/console_log.h"
#include "routing/duty_hours.h"
#include "routing/wake_up_calls.h"
#include "support/fake_outbox.h"
#include "support/fakes.h"

namespace kelvor {
namespace {

constexpr uint32_t kMinute = 60000;
const char* const kA = "+4917100001";
const char* const kB = "+4917100002";
const char* const kC = "+4917100003";
const char* const kAlarm = "7/09:05 Pump tripped";

class EscalationTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(escalation_.AddRule(kA, 5, kB), Escalation::kAdded);
    ASSERT_EQ(escalation_.AddRule(kB, 10, kC), Escalation::kAdded);
    ASSERT_EQ(escalation_.AddRule(kC, 1, kA), Escalation::kAdded);  // back to the first
  }

  // An alarm SMS of its own id, confirmed to `number` now; returns the id.
  uint32_t Alarm(const char* number, const char* text,
                 Escalation::Taken expected = Escalation::kHeld) {
    EXPECT_EQ(escalation_.AlarmConfirmed(number, ++lastId_, text, now_), expected) << text;
    return lastId_;
  }

  // Moves on by `ms` and takes what is due then, as "number|text"; escalations are queued,
  // each its own id (in `sent_`), and confirmed by the phone at once unless `confirm` is false.
  std::vector<std::string> After(uint32_t ms, bool confirm = true) {
    now_ += ms;
    std::vector<std::string> taken;
    EscalationSms sms;
    while (escalation_.TakeDue(now_, &sms)) {
      taken.push_back(std::string(sms.number) + "|" + sms.text);
      if (sms.kind != EscalationSms::kEscalated) continue;
      escalation_.Queued(sms, ++lastId_);
      sent_.push_back(lastId_);
      if (confirm) {
        EXPECT_TRUE(escalation_.EscalationConfirmed(lastId_, now_));
      }
    }
    return taken;
  }
  using Sms = std::vector<std::string>;

  Escalation escalation_;
  uint32_t lastId_ = 0;
  std::vector<uint32_t> sent_;                // the ids of the escalated SMS queued, oldest first
  uint32_t now_ = 0xFFFFFFFFu - 3 * kMinute;  // the clock wraps during the first wait
};

TEST_F(EscalationTest, AnUnansweredAlarmGoesDownTheChainReachingEachNumberOnce) {
  // The destination writes the number its own way: the digits decide.
  Alarm("+49 171 00001", kAlarm);
  EXPECT_EQ(After(5 * kMinute), Sms{});  // a deadline equal to the tick has not passed
  EXPECT_EQ(After(1), Sms{std::string(kB) + "|No answer from +4917100001 in 5 min\n" + kAlarm});
  EXPECT_EQ(After(10 * kMinute), Sms{});
  EXPECT_EQ(After(1), Sms{std::string(kC) + "|No answer from +4917100002 in 10 min\n" + kAlarm});
  EXPECT_EQ(escalation_.Count(), 0);  // C's next is A, whom the text reached first
  EXPECT_EQ(After(24 * 60 * kMinute), Sms{});
  Alarm("+4917199999", kAlarm, Escalation::kNotEscalated);
}

// A report that the alarm, or the escalated SMS after it, never reached its holder moves the
// chain on at once; a report on an SMS no record waits on moves nothing.
TEST_F(EscalationTest, AnUndeliveredSmsMovesTheChainOnAtOnce) {
  uint32_t id = Alarm(kA, kAlarm);
  EXPECT_FALSE(escalation_.Undelivered(id + 100, now_));
  EXPECT_EQ(After(1), Sms{});
  EXPECT_TRUE(escalation_.Undelivered(id, now_));
  EXPECT_EQ(After(1), Sms{std::string(kB) + "|No answer from +4917100001 in 5 min\n" + kAlarm});
  EXPECT_FALSE(escalation_.Undelivered(id, now_));  // the alarm's holder has changed
  EXPECT_TRUE(escalation_.Undelivered(sent_.back(), now_));
  EXPECT_EQ(After(1), Sms{std::string(kC) + "|No answer from +4917100002 in 10 min\n" + kAlarm});
}

TEST_F(EscalationTest, AnAnswerStopsEveryTextSentToThatNumberAndIsConfirmedOnce) {
  Alarm(kA, "first");
  uint32_t second = Alarm(kA, "second");
  // The same SMS confirmed again is one alarm; another SMS of the same text is one more.
  EXPECT_EQ(escalation_.AlarmConfirmed(kA, second, "second", now_), Escalation::kHeld);
  Alarm(kA, "second");
  Alarm(kB, "for B");
  EXPECT_EQ(escalation_.Acknowledge("4917100001"), 3);
  EXPECT_EQ(After(1), Sms{std::string(kA) + "|Kelvor: 3 alarm SMS acknowledged"});
  EXPECT_EQ(escalation_.Acknowledge(kA), 0);  // nothing left: no SMS, so no endless exchange
  EXPECT_EQ(escalation_.Acknowledge("+4917199999"), 0);
  EXPECT_EQ(After(5 * kMinute + 1), Sms{});
  EXPECT_EQ(After(5 * kMinute).size(), 1u);  // B's own alarm goes on to C
}

TEST_F(EscalationTest, TheNumberPassedOverCanStillStopTheChain) {
  Alarm(kA, kAlarm);
  After(5 * kMinute + 1, false);              // on its way to B
  EXPECT_EQ(escalation_.Acknowledge(kB), 0);  // B has not got it yet
  EXPECT_EQ(escalation_.Acknowledge(kA), 1);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_FALSE(escalation_.EscalationConfirmed(sent_[0], now_));
  EXPECT_EQ(After(60 * kMinute), Sms{std::string(kA) + "|Kelvor: 1 alarm SMS acknowledged"});
}

TEST_F(EscalationTest, AnEscalationConfirmedLateOrNeverGoesOnInTime) {
  Alarm(kA, "never");
  Alarm(kA, "late");
  Sms escalated = After(5 * kMinute + 1, false);
  ASSERT_EQ(escalated.size(), 2u);
  uint32_t late = sent_[escalated[0].find("late") != std::string::npos ? 0 : 1];
  EXPECT_EQ(After(kEscalationDeliveryWait + 10 * kMinute), Sms{});
  escalation_.Pass(now_ + 1);  // both due for C, waiting for room in the queue
  // A confirmation that comes even later still gives B its ten minutes.
  EXPECT_TRUE(escalation_.EscalationConfirmed(late, now_ + 2));
  EXPECT_EQ(After(2), Sms{std::string(kC) + "|No answer from +4917100002 in 10 min\nnever"});
  EXPECT_EQ(After(10 * kMinute), Sms{});
  EXPECT_EQ(After(1).size(), 1u);
}

// A phone that takes nothing for weeks: the escalation waits for room, and is not lost to
// its deadline ageing past half the tick's circle.
TEST_F(EscalationTest, AnEscalationWaitsForRoomInTheQueueForWeeks) {
  Alarm(kA, kAlarm);
  for (int hour = 0; hour < 30 * 24; ++hour) escalation_.Pass(now_ += 60 * kMinute);
  EXPECT_EQ(After(0).size(), 1u);
}

// A text that goes as several SMS (UCS-2 holds 70 characters) is not taken while the queue has
// room for fewer: it stays due, never half queued or refused as lost.
TEST_F(EscalationTest, AnEscalationOfSeveralSmsWaitsForRoomForThemAll) {
  Alarm(kA, std::string(100, 'x').c_str());
  test::FakeOutbox outbox;
  outbox.textLimit = 70;
  outbox.capacity = 1;  // the text with its first line goes as two
  now_ += 5 * kMinute + 1;
  EscalationSms sms;
  EXPECT_FALSE(escalation_.TakeDue(now_, &sms, true, &outbox));
  EXPECT_TRUE(escalation_.HasDue());
  outbox.capacity = 2;
  ASSERT_TRUE(escalation_.TakeDue(now_, &sms, true, &outbox));
  EXPECT_EQ(std::string(sms.number), kB);
}

TEST_F(EscalationTest, TheLineNamingWhomItPassedOverIsNeverCut) {
  const std::string longA = "+" + std::string(30, '7');
  ASSERT_EQ(escalation_.AddRule(longA.c_str(), 1440, kB), Escalation::kAdded);
  Alarm(longA.c_str(), std::string(159, 'x').c_str());
  Sms taken = After(1440 * kMinute + 1);
  ASSERT_EQ(taken.size(), 1u);
  const std::string line = "No answer from " + longA + " in 1440 min\n";
  EXPECT_EQ(taken[0], std::string(kB) + "|" + line + std::string(159 - line.size(), 'x'));
}

TEST_F(EscalationTest, RulesThatCannotWorkAreRefusedAndAFullTableIsSaid) {
  const struct {
    const char* number;
    uint32_t minutes;
    const char* next;
    Escalation::RuleOutcome outcome;
  } cases[] = {
      {"+4917100009", 0, kB, Escalation::kBadMinutes},
      {"+4917100009", 1441, kB, Escalation::kBadMinutes},
      {"+49171\"", 5, kB, Escalation::kBadNumber},
      {"+4917100009", 5, "", Escalation::kBadNumber},
      {"+4917100009", 5, "+49 171 00009", Escalation::kSameNumber},
      {"4917100001", 5, kC, Escalation::kDuplicate},  // A has its rule already
  };
  for (const auto& c : cases)
    EXPECT_EQ(escalation_.AddRule(c.number, c.minutes, c.next), c.outcome);
  for (int i = 3; i < kEscalationRuleCapacity; ++i) {
    std::string number = "+10" + std::to_string(i);
    ASSERT_EQ(escalation_.AddRule(number.c_str(), 1, (number + "0").c_str()), Escalation::kAdded);
  }
  EXPECT_EQ(escalation_.AddRule("+2", 1, "+3"), Escalation::kRulesFull);

  for (int i = 0; i < kEscalationCapacity; ++i) Alarm(kA, std::to_string(i).c_str());
  Alarm(kA, "one more", Escalation::kFull);
}

class Saved : public EscalationRecordSink {
 public:
  void Take(const EscalationRecord& record) override { records.push_back(record); }
  std::vector<EscalationRecord> records;
};

TEST_F(EscalationTest, ARestartKeepsEachTextWithTheTimeItHadLeftAndWhomItReached) {
  Alarm(kA, "at A");
  After(5 * kMinute + 1);  // "at A" now waits for B
  After(4 * kMinute);      // B has 6 minutes left
  Alarm(kC, "at C");
  Saved saved;
  escalation_.Save(now_, saved);
  ASSERT_EQ(saved.records.size(), 2u);

  Escalation restarted;  // the same rules but C's
  restarted.AddRule(kA, 5, kB);
  restarted.AddRule(kB, 10, kA);
  uint32_t later = 12345;
  for (const EscalationRecord& record : saved.records) {
    bool atC = std::string(record.text) == "at C";
    EXPECT_EQ(restarted.Restore(record, later),
              atC ? Escalation::kNoLongerConfigured : Escalation::kRestored);
  }
  EscalationSms sms;
  EXPECT_FALSE(restarted.TakeDue(later + 6 * kMinute, &sms));
  EXPECT_EQ(restarted.Count(), 1);
  // B's next is A, whom the text reached before the restart: the chain ends there.
  EXPECT_FALSE(restarted.TakeDue(later + 6 * kMinute + 1, &sms));
  EXPECT_EQ(restarted.Count(), 0);
}

// B has hours that keep it off duty now; C is on duty only in the second case.
TEST_F(EscalationTest, AChainSkipsANumberOffDutyToItsOwnNextUnlessNoneIsOnDuty) {
  test::FakeConsole console;
  ConsoleLog log(console, nullptr);
  for (bool cOnDuty : {true, false}) {
    SCOPED_TRACE(cOnDuty ? "C on duty" : "none on duty");
    DutyRoster roster;
    roster.Add(kB, ParseHours("+4917100002,1-5,08:00-09:00").schedule);
    roster.Add(
        kC,
        ParseHours(cOnDuty ? "+4917100003,1,10:00-11:00" : "+4917100003,2,10:00-11:00").schedule);
    roster.Pass({2026, 12, 7, 10, 30, 0}, log);  // a Monday
    escalation_.SetDuty(&roster);
    escalation_.AlarmConfirmed(kA, ++lastId_, kAlarm, now_);
    const char* to = cOnDuty ? kC : kB;
    EXPECT_EQ(After(5 * kMinute + 1),
              Sms{std::string(to) + "|No answer from +4917100001 in 5 min\n" + kAlarm});
    escalation_.Acknowledge(to);
    After(1);
    escalation_.SetDuty(nullptr);
  }
}

TEST(WakeUpCallsTest, NoCallToANumberOffDuty) {
  test::FakeConsole console;
  ConsoleLog log(console, nullptr);
  DutyRoster roster;
  roster.Add(kA, ParseHours("+4917100001,1,08:00-09:00").schedule);
  roster.Pass({2026, 12, 7, 8, 58, 0}, log);
  WakeUpCalls calls;
  calls.AddRule(kA, 5, 2);
  calls.SetDuty(&roster);
  uint32_t unanswered = 0;
  uint32_t minutes = 0;
  calls.AlarmConfirmed(kA, 0, 0);
  roster.Pass({2026, 12, 7, 9, 3, 0}, log);  // off duty before the call is due
  calls.Pass(5 * kMinute + 1);
  EXPECT_EQ(calls.Due(&unanswered, &minutes), nullptr);
  EXPECT_EQ(calls.Waiting(), 0);
}

// The call's clock: minutes from the first SMS unanswered, across the tick's wrap; one call
// for all the SMS before it, a new one only for an SMS after it; an SMS below the rule's
// priority starts nothing; a call due waits for the phone for weeks without ageing out.
TEST(WakeUpCallsTest, OneCallForTheUnansweredSmsOfANumberOnItsMinuteAcrossTheWrap) {
  WakeUpCalls calls;
  ASSERT_EQ(calls.AddRule(kA, 5, 1), WakeUpCalls::kAdded);
  ASSERT_EQ(calls.AddRule("+49 171 00001", 6, 2), WakeUpCalls::kDuplicate);
  ASSERT_EQ(calls.AddRule(kB, 0, 2), WakeUpCalls::kBadValues);
  uint32_t now = 0xFFFFFFFFu - 2 * kMinute;  // the tick wraps in two minutes
  uint32_t unanswered = 0;
  uint32_t minutes = 0;
  calls.AlarmConfirmed(kA, 2, now);  // low: no call
  calls.AlarmConfirmed(kB, 0, now);  // no rule
  calls.Pass(now + 10 * kMinute);
  EXPECT_EQ(calls.Due(&unanswered, &minutes), nullptr);
  calls.AlarmConfirmed(kA, 1, now);
  calls.AlarmConfirmed(kA, kUrgencyNotKnown, now + 3 * kMinute);
  calls.Pass(now + 5 * kMinute);
  EXPECT_EQ(calls.Due(&unanswered, &minutes), nullptr) << "due after, not at, its minutes";
  calls.Pass(now + 5 * kMinute + 1);
  ASSERT_STREQ(calls.Due(&unanswered, &minutes), kA);
  EXPECT_EQ(unanswered, 2u);
  EXPECT_EQ(minutes, 5u);
  uint32_t later = now + 5 * kMinute + 1 + 30 * 24 * 60 * kMinute;  // past half the tick's circle
  calls.Pass(later);
  ASSERT_STREQ(calls.Due(&unanswered, &minutes), kA) << "a call due never ages out";
  calls.Called(kA);
  calls.Pass(later + 60 * kMinute);
  EXPECT_EQ(calls.Due(&unanswered, &minutes), nullptr) << "never twice for the same SMS";
  calls.AlarmConfirmed(kA, 0, later);
  EXPECT_TRUE(calls.Answered("4917100001"));
  calls.Pass(later + 60 * kMinute);
  EXPECT_EQ(calls.Due(&unanswered, &minutes), nullptr) << "answered in time";
  EXPECT_FALSE(calls.Answered(kA));
}

// An SMS not delivered makes the call waited for due at once; a number nobody waits on
// rings for nothing.
TEST(WakeUpCallsTest, AnUndeliveredSmsMakesTheCallDueAtOnce) {
  WakeUpCalls calls;
  ASSERT_EQ(calls.AddRule(kA, 30, 2), WakeUpCalls::kAdded);
  ASSERT_EQ(calls.AddRule(kB, 30, 2), WakeUpCalls::kAdded);
  uint32_t unanswered = 0;
  uint32_t minutes = 0;
  calls.AlarmConfirmed(kA, 0, 0);
  calls.Undelivered(kB, kMinute);
  calls.Undelivered(kA, kMinute);
  calls.Pass(kMinute + 1);
  ASSERT_STREQ(calls.Due(&unanswered, &minutes), kA);
  calls.Called(kA);
  calls.Pass(kMinute + 2);
  EXPECT_EQ(calls.Due(&unanswered, &minutes), nullptr);
}

// A call waited for comes back after a restart with the time it had left, never more than
// its rule's minutes; one no rule names any more is not.
TEST(WakeUpCallsTest, ARestartKeepsACallWithTheTimeItHadLeft) {
  WakeUpCalls calls;
  ASSERT_EQ(calls.AddRule(kA, 5, 2), WakeUpCalls::kAdded);
  calls.AlarmConfirmed(kA, 0, 1000);
  calls.AlarmConfirmed(kA, 0, 2000);
  struct Kept : RingRecordSink {
    void Take(const RingRecord& record) override { records.push_back(record); }
    std::vector<RingRecord> records;
  } kept;
  calls.Save(1000 + 2 * kMinute, kept);
  ASSERT_EQ(kept.records.size(), 1u);
  EXPECT_EQ(kept.records[0].wait, 3 * kMinute);
  EXPECT_EQ(kept.records[0].unanswered, 2u);

  WakeUpCalls next;
  ASSERT_EQ(next.AddRule(kA, 5, 2), WakeUpCalls::kAdded);
  RingRecord forged = kept.records[0];
  forged.wait = 0xFFFFFFF0u;
  EXPECT_TRUE(next.Restore(forged, 7));
  uint32_t unanswered = 0;
  uint32_t minutes = 0;
  next.Pass(7 + 5 * kMinute);
  EXPECT_EQ(next.Due(&unanswered, &minutes), nullptr);
  next.Pass(7 + 5 * kMinute + 1);
  EXPECT_STREQ(next.Due(&unanswered, &minutes), kA) << "held to its rule's minutes";
  strcpy(forged.number, kC);
  EXPECT_FALSE(next.Restore(forged, 7));
}

}  // namespace
}  // namespace kelvor
