// The outgoing queue: its limit, its refusals and what it makes of texts.
#include "modem/outgoing_queue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "log/console_log.h"
#include "platform/code_page.h"
#include "support/fakes.h"

namespace kelvor::test {
namespace {

class QueueTest : public ::testing::Test {
 protected:
  void Fill(int count) {
    for (int i = 0; i < count; ++i) {
      ASSERT_TRUE(queue_.QueueMessage("text", ("+" + std::to_string(100 + i)).c_str()));
    }
  }

  // The main phone borrows the oldest SMS and confirms it, or gives it up; nothing when none
  // is lent.
  void SendOldest() {
    if (const OutgoingSms* sms = queue_.Lend(kMainPhone)) queue_.Confirm(sms->id, kMainPhone, 0);
  }
  void GiveUpOldest() {
    if (const OutgoingSms* sms = queue_.Lend(kMainPhone)) {
      queue_.GiveUp(sms->id, kMainPhone, GiveUpReason::kSendings);
    }
  }

  FakeConsole console_;
  ConsoleLog log_{console_, nullptr};
  ModemEvents events_;
  OutgoingQueue queue_{log_, events_};
};

TEST_F(QueueTest, HoldsTwentyOneAndNamesTheNumberOfTheOneRefused) {
  Fill(21);
  EXPECT_EQ(queue_.Count(), 21);
  EXPECT_TRUE(console_.Lines().empty());
  EXPECT_FALSE(queue_.QueueMessage("lost", "+99955501234"));
  EXPECT_EQ(console_.coloured(), "<71|Message queue full - SMS to +99955501234 lost|>\r\n");
  EXPECT_EQ(queue_.Count(), 21);

  SendOldest();
  EXPECT_TRUE(queue_.QueueMessage("again", "+1"));
  EXPECT_EQ(queue_.Count(), 21);
}

TEST_F(QueueTest, TheFullTestComesBeforeTheNumberTest) {
  Fill(21);
  EXPECT_FALSE(queue_.QueueMessage("text", ""));
  EXPECT_EQ(console_.Lines(), std::vector<std::string>{"Message queue full - SMS to  lost"});
}

TEST_F(QueueTest, RefusesNumbersThatAreEmptyTooLongOrWouldBreakTheCommand) {
  struct Case {
    std::string number;
    std::string line;
  } cases[] = {
      {"", "No Destination number"},
      {"+12345678901234567890123456789012",
       "Bad Destination number +123456789012345678901234567890 - SMS refused"},
      {"+999\"\r\nATD112", "Bad Destination number +999???ATD112 - SMS refused"},
      {"+999\x1a", "Bad Destination number +999? - SMS refused"},
      {"+999\x1b", "Bad Destination number +999? - SMS refused"},
  };
  for (const Case& c : cases) {
    console_.Clear();
    EXPECT_FALSE(queue_.QueueMessage("text", c.number.c_str()));
    EXPECT_EQ(console_.Lines(), std::vector<std::string>{c.line});
    EXPECT_NE(console_.coloured().find("<71|"), std::string::npos);
  }
  EXPECT_EQ(queue_.Count(), 0);
  EXPECT_TRUE(queue_.QueueMessage("text", "+123456789012345678901234567890"));  // 31 fit
}

// What the heartbeat reports: every SMS offered is queued or refused, and every one queued
// is at last sent, given up, or discarded with the queue.
TEST_F(QueueTest, TheTallyCountsWhatBecameOfEachSms) {
  Fill(21);
  EXPECT_FALSE(queue_.QueueMessage("text", "+1"));
  SendOldest();
  EXPECT_FALSE(queue_.QueueMessage("text", ""));
  SendOldest();
  GiveUpOldest();
  queue_.Clear();
  SendOldest();  // nothing left: nothing counted
  const SmsTally& tally = queue_.Tally();
  EXPECT_EQ(tally.queued, 21u);
  EXPECT_EQ(tally.refused, 2u);
  EXPECT_EQ(tally.sent, 2u);
  EXPECT_EQ(tally.givenUp, 1u);
  EXPECT_EQ(tally.discarded, 18u);
}

// The events the queue told since the last call, as "kind id phone", oldest first.
std::vector<std::string> Told(ModemEvents& events) {
  ModemEvents taken;
  events.MoveTo(&taken);
  std::vector<std::string> told;
  for (int i = 0; i < taken.Count(); ++i) {
    const ModemEvent& event = taken.At(i);
    const char* kind = event.kind == ModemEvent::kConfirmed  ? "confirmed"
                       : event.kind == ModemEvent::kGivenUp  ? "given up"
                       : event.kind == ModemEvent::kReturned ? "returned"
                                                             : "other";
    told.push_back(std::string(kind) + " " + std::to_string(event.sms.id) + " " +
                   std::to_string(event.phone));
  }
  return told;
}

// An SMS is lent to one phone at a time: confirmed, it leaves; returned, it is lent again;
// a confirmation that names no SMS lent to that phone removes nothing.
TEST_F(QueueTest, AnSmsIsLentToOnePhoneUntilItIsConfirmedOrReturned) {
  uint32_t first = queue_.QueueMessage("one", "+1");
  uint32_t second = queue_.QueueMessage("two", "+2");
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, first);
  queue_.LendTo(1u << kMainPhone | 1u << kStandbyPhone);
  EXPECT_EQ(queue_.Lend(kMainPhone)->id, first);
  EXPECT_EQ(queue_.Lend(kStandbyPhone)->id, second) << "the one lent is not lent again";
  EXPECT_EQ(queue_.Lend(kMainPhone), nullptr);
  EXPECT_FALSE(queue_.Confirm(second, kMainPhone, 9)) << "another phone's";
  EXPECT_FALSE(queue_.Confirm(second + 1, kStandbyPhone, 9)) << "unknown";
  queue_.Return(first, kMainPhone);
  EXPECT_FALSE(queue_.Confirm(first, kMainPhone, 9)) << "returned";
  EXPECT_EQ(queue_.Count(), 2);
  EXPECT_EQ(queue_.Lend(kStandbyPhone)->id, first) << "returned, it is lent again";
  EXPECT_TRUE(queue_.Confirm(second, kStandbyPhone, 17));
  queue_.GiveUp(first, kStandbyPhone, GiveUpReason::kSendings);
  EXPECT_TRUE(queue_.Empty());
  EXPECT_EQ(Told(events_), (std::vector<std::string>{"returned " + std::to_string(first) + " 0",
                                                     "confirmed " + std::to_string(second) + " 1",
                                                     "given up " + std::to_string(first) + " 1"}));
  EXPECT_EQ(queue_.Tally().sent, 1u);
  EXPECT_EQ(queue_.Tally().givenUp, 1u);
}

// Only the phones the policy names borrow; a loan to a phone it no longer names is called
// back, and SMS to one number are never lent out of their order.
TEST_F(QueueTest, ThePolicyNamesWhoBorrowsAndSmsToANumberKeepTheirOrder) {
  uint32_t a1 = queue_.QueueMessage("a1", "+1");
  uint32_t a2 = queue_.QueueMessage("a2", "+1");
  uint32_t b = queue_.QueueMessage("b", "+2");
  EXPECT_EQ(queue_.Lend(kStandbyPhone), nullptr) << "the main phone alone, at first";
  EXPECT_EQ(queue_.Lend(kMainPhone)->id, a1);
  queue_.LendTo(1u << kStandbyPhone);
  EXPECT_FALSE(queue_.IsLentTo(a1, kMainPhone)) << "called back";
  EXPECT_EQ(queue_.Lend(kMainPhone), nullptr);
  EXPECT_EQ(queue_.Lend(kStandbyPhone)->id, a1);
  queue_.LendTo(1u << kMainPhone | 1u << kStandbyPhone);
  EXPECT_EQ(queue_.Lend(kMainPhone)->id, b) << "a2 waits while a1 to its number is lent";
  queue_.Confirm(a1, kStandbyPhone, 0);
  EXPECT_EQ(queue_.Lend(kStandbyPhone)->id, a2);
  EXPECT_EQ(Told(events_).front(), "returned " + std::to_string(a1) + " 0");
}

// Ids kept across a restart may sit anywhere: a new one is never 0 nor one still queued.
TEST_F(QueueTest, AnIdAfterTheWrapSkipsZeroAndTheIdsStillQueued) {
  ASSERT_EQ(queue_.Requeue("kept", "+1", 0, SmsKind::kAlarm, kMostUrgent, 1), 1u);
  queue_.IdsAbove(0xFFFFFFFFu);
  EXPECT_EQ(queue_.QueueMessage("new", "+2"), 2u);
}

TEST_F(QueueTest, TextsAreCutAt159Characters) {
  struct Case {
    size_t length;
    size_t kept;
    bool notice;
  } cases[] = {{0, 0, false}, {159, 159, false}, {160, 159, true}, {400, 159, true}};
  for (const Case& c : cases) {
    console_.Clear();
    std::string text(c.length, 'a');
    if (c.length > 0) text[c.length - 1] = 'z';
    ASSERT_TRUE(queue_.QueueMessage(text.c_str(), "+1"));
    EXPECT_EQ(std::string(queue_.At(0).text), text.substr(0, c.kept));
    EXPECT_EQ(queue_.At(0).attempts, 0);
    EXPECT_EQ(console_.coloured() == "<23|truncating message|>\r\n", c.notice) << c.length;
    SendOldest();
  }
}

TEST_F(QueueTest, CtrlZAndEscapeInATextBecomeSpaces) {
  ASSERT_TRUE(
      queue_.QueueMessage("A\x1a"
                          "AT+CMGS\x1b"
                          "B%s",
                          "+1"));
  EXPECT_STREQ(queue_.At(0).text, "A AT+CMGS B%s");
}

TEST_F(QueueTest, RecordsLeaveOldestFirstAroundTheRing) {
  for (int round = 0; round < 3; ++round) {
    Fill(21);
    for (int i = 0; i < 21; ++i) {
      EXPECT_EQ(std::string(queue_.At(0).number), "+" + std::to_string(100 + i));
      SendOldest();
    }
    EXPECT_TRUE(queue_.Empty());
    queue_.QueueMessage("shift", "+5");  // moves the head around the ring
    SendOldest();
  }
  queue_.Clear();
  EXPECT_EQ(queue_.Count(), 0);
  SendOldest();  // harmless on an empty queue
  EXPECT_EQ(queue_.Count(), 0);
}

// With a charset chosen, a text longer than one SMS of its coding goes as several, each
// ending after a line end where one stands in its second half; all or none of them.
TEST_F(QueueTest, WithACharsetALongTextGoesAsSeveralSmsOfItsCoding) {
  CodePageTable table;
  ASSERT_TRUE(ReadCodePage(1252, &table));
  const std::string degrees =
      "7/06:06\nTank 1 21\xB0"
      "C\n";  // 20 characters
  struct Case {
    Charset charset;
    std::string text;
    std::vector<size_t> parts;
    // The phones' 7-bit sets: a text goes 7-bit only where each carries all of it.
    uint8_t sets = SmsCoding::kAnySevenBitSet;
  } cases[] = {
      {Charset::kAsGiven, std::string(159, '{'), {159}},
      {Charset::kAuto, std::string(159, 'x'), {159}},
      {Charset::kAuto, std::string(70, '\xB0'), {70}},
      {Charset::kAuto, degrees + degrees + degrees + degrees, {68, 12}},
      {Charset::kAuto, std::string(71, '\xB0'), {70, 1}},
      {Charset::kAuto, std::string(81, '{'), {80, 1}, 4},       // two septets each in 8859-1
      {Charset::kAuto, std::string(81, '{'), {70, 11}},         // the GSM set has no extension
      {Charset::kAuto, std::string(100, '\xFC'), {70, 30}, 2},  // IRA has no umlauts
      {Charset::kAuto, std::string(100, '\xFC'), {100}, 4},
      {Charset::kAuto, "95\x80 per MWh " + std::string(70, 'x'), {70, 12}, 4},  // nor the euro
      {Charset::kAuto, std::string(100, 'x'), {70, 30}, 4 | 8},  // a phone with UCS-2 alone
      {Charset::kGsm, std::string(100, '\xB0') + std::string(59, '['), {130, 29}},
      {Charset::kUcs2, std::string(159, 'x'), {70, 70, 19}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    OutgoingQueue queue(log_, events_);
    SmsCoding coding;
    coding.Set(c.charset, table);
    coding.SetSevenBitSets(c.sets);
    queue.SetCoding(coding);
    ASSERT_TRUE(queue.QueueMessage(c.text.c_str(), "+1"));
    std::vector<size_t> parts;
    std::string joined;
    for (int i = 0; i < queue.Count(); ++i) {
      parts.push_back(strlen(queue.At(i).text));
      joined += queue.At(i).text;
    }
    EXPECT_EQ(parts, c.parts);
    EXPECT_EQ(joined, c.text);
    EXPECT_EQ(queue.Tally().queued, 1u);
    // Room for them all, and no more: the last place taken, a text of several is refused.
    for (int i = queue.Count(); i < kQueueCapacity - 1; ++i) queue.QueueMessage("x", "+2");
    EXPECT_EQ(queue.HasRoomFor(c.text.c_str()), c.parts.size() == 1);
  }
  SmsCoding ucs2;
  ucs2.Set(Charset::kUcs2, table);
  queue_.SetCoding(ucs2);
  Fill(20);
  console_.Clear();
  EXPECT_FALSE(queue_.QueueMessage(std::string(71, 'x').c_str(), "+1"));
  EXPECT_EQ(console_.Lines(), std::vector<std::string>{"Message queue full - SMS to +1 lost"});
  EXPECT_EQ(queue_.Count(), 20);
}

}  // namespace
}  // namespace kelvor::test
