// Status requests, the status answer and its rate.
#include "app/replies.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/status.h"
#include "log/console_log.h"
#include "modem/sms_modem.h"
#include "platform/code_page.h"
#include "support/fakes.h"

namespace kelvor {
namespace {

TEST(RepliesTest, OnlySOrStatusIsAStatusRequest) {
  const struct {
    const char* text;
    bool cut;
    bool request;
  } cases[] = {
      {"S", false, true},      {"  status  ", false, true}, {"\tStAtUs", false, true},
      {"s", false, true},      {"STATUS?", false, false},   {"S S", false, false},
      {"", false, false},      {"OK", false, false},        {"Status report", false, false},
      {"STATUS", true, false},  // the reader cut a longer text
  };
  for (const auto& c : cases) EXPECT_EQ(IsStatusRequest(c.text, c.cut), c.request) << c.text;
}

TEST(RepliesTest, TheStatusAnswerHoldsDigitsAndWordsWithinOneSms) {
  char text[kSmsTextLimit + 1];
  StatusFigures figures;
  figures.signal = 48;
  figures.alarmsRead = 12;
  FormatStatusAnswer(figures, text, sizeof text);
  EXPECT_STREQ(
      text, "Kelvor status. Signal 48%, SMS waiting 0, last error 0, alarms read 12 since start.");
  figures.signal = figures.waiting = figures.lastError = -2147483647 - 1;
  figures.alarmsRead = 4294967295u;
  FormatStatusAnswer(figures, text, sizeof text);
  EXPECT_EQ(std::string(text).find_first_of("\"\r\n\x1a\x1b"), std::string::npos);
  EXPECT_EQ(std::string(text).back(), '.');  // whole

  // So is a heartbeat with ten-digit counts and the longest registration, whole: a figure
  // added to it must still fit.
  figures.signal = 100;
  figures.waiting = 21;  // a full queue
  figures.network = "not registered";
  HeartbeatCounts counts;
  counts.alarms = counts.sent = counts.lost = 4294967295u;
  FormatHeartbeat(false, counts, figures, text, sizeof text);
  EXPECT_EQ(std::string(text).rfind("Kelvor alive. ", 0), 0u);
  EXPECT_EQ(std::string(text).substr(std::string(text).size() - 25), ", network not registered.");
  // And one that says the standby sends.
  figures.phone = "standby";
  FormatHeartbeat(false, counts, figures, text, sizeof text);
  EXPECT_EQ(std::string(text).rfind("Kelvor alive, standby sends. Since last: alarms read ", 0),
            0u);
  EXPECT_EQ(std::string(text).substr(std::string(text).size() - 25), ", network not registered.");
  FormatStatusAnswer(figures, text, sizeof text);
  EXPECT_EQ(std::string(text).substr(std::string(text).size() - 22), ", standby phone sends.");
  // With HOURS=, the status SMS and STATUS= end with who is on duty.
  snprintf(figures.onDuty, sizeof figures.onDuty, "+4917100001 +4917100002");
  FormatStatusAnswer(figures, text, sizeof text);
  EXPECT_EQ(std::string(text).substr(std::string(text).size() - 34),
            ", on duty +4917100001 +4917100002.");
  FormatServiceStatus(figures, text, sizeof text);
  EXPECT_EQ(std::string(text).substr(std::string(text).size() - 33),
            ", on duty +4917100001 +4917100002");
  // With DELIVERY=, each says what the status reports told.
  figures = StatusFigures{};
  figures.reports = true;
  figures.deliveries.delivered = 5;
  figures.deliveries.undelivered = 1;
  figures.deliveries.awaiting = 2;
  const char* told = ", delivered 5, not delivered 1, awaiting 2";
  FormatStatusAnswer(figures, text, sizeof text);
  EXPECT_NE(std::string(text).find(told), std::string::npos) << text;
  FormatServiceStatus(figures, text, sizeof text);
  EXPECT_NE(std::string(text).find(told), std::string::npos) << text;
  figures.network = "registered";
  FormatHeartbeat(false, HeartbeatCounts{}, figures, text, sizeof text);
  EXPECT_EQ(std::string(text).substr(std::string(text).size() - 36),
            ", delivered 5, failed 1, awaiting 2.");
}

// Sharing phones: every report says so, and the heartbeat counts each phone's SMS since the
// last heartbeat, whole with ten-digit counts up to the SMS waiting.
TEST(RepliesTest, ReportsSayThePhonesShareAndWhatEachSent) {
  char text[kSmsTextLimit + 1];
  StatusFigures figures;
  figures.phone = "both";
  figures.sharing = true;
  figures.sentBy[kMainPhone] = 3;
  figures.sentBy[kStandbyPhone] = 4;
  FormatServiceStatus(figures, text, sizeof text);
  EXPECT_STREQ(text,
               "STATUS=Signal 0 %, SMS waiting 0, last error 0, phones share, sent by main 3, by "
               "standby 4 since start");
  FormatStatusAnswer(figures, text, sizeof text);
  EXPECT_EQ(std::string(text).substr(std::string(text).size() - 15), ", phones share.");
  HeartbeatCounts counts;
  FormatHeartbeat(true, counts, figures, text, sizeof text);
  EXPECT_EQ(std::string(text).substr(std::string(text).size() - 28),
            "SMS waiting 0, phones share.");
  SentSince since;
  EXPECT_EQ(since.Take(figures).sentBy[kStandbyPhone], 4u);
  figures.sentBy[kMainPhone] = 4294967295u + 3;  // the counts wrap
  figures.sentBy[kStandbyPhone] = 4294967295u + 4;
  figures.waiting = 21;
  figures.signal = 100;
  counts.alarms = counts.sent = counts.lost = 4294967295u;
  FormatHeartbeat(false, counts, since.Take(figures), text, sizeof text);
  EXPECT_EQ(std::string(text).rfind("Kelvor alive, phones share. Since last: alarms read "
                                    "4294967295, SMS sent main 4294967295 standby 4294967295, SMS "
                                    "lost 4294967295. Signal 100%, SMS waiting 21",
                                    0),
            0u);
  figures.phone = "standby";
  FormatHeartbeat(false, counts, figures, text, sizeof text);
  EXPECT_EQ(std::string(text).rfind("Kelvor alive, standby sends. Since last: ", 0), 0u);
  // With DELIVERY= too, the heartbeat of sharing phones still gives the reports' counts.
  figures = StatusFigures{};
  figures.phone = "both";
  figures.sharing = true;
  figures.reports = true;
  figures.deliveries.delivered = 5;
  FormatHeartbeat(false, HeartbeatCounts{}, figures, text, sizeof text);
  EXPECT_EQ(std::string(text).substr(std::string(text).size() - 36),
            ", delivered 5, failed 0, awaiting 0.");
}

TEST(RepliesTest, OneStatusAnswerPerNumberPerMinuteAcrossTheWrap) {
  StatusAnswerRate rate;
  auto answer = [&rate](const std::string& number, uint32_t at) {
    if (!rate.Allows(number.c_str(), at)) return false;
    rate.Answered(number.c_str(), at);
    return true;
  };
  uint32_t now = 0xFFFFFFFFu - 1000;
  EXPECT_TRUE(answer("+4917100001", now));
  EXPECT_FALSE(answer("4917100001", now + 59999));  // the same number, written otherwise
  EXPECT_TRUE(answer("+4917100002", now + 59999));
  EXPECT_TRUE(answer("+4917100001", now + 60000));
  for (int i = 0; i < StatusAnswerRate::kCapacity - 2; ++i) {
    EXPECT_TRUE(answer("+1" + std::to_string(i), now + 60000));
  }
  EXPECT_FALSE(answer("+4917100009", now + 60000));  // 32 answered this minute: it waits
  // The passes forget them, so that 49.7 days on, when the tick shows the same again, no
  // answer of old refuses a request.
  rate.Pass(now + 2 * 60000);
  EXPECT_TRUE(answer("+4917100001", now + 60000));
}

// An escalated SMS is an alarm: it takes a place even while batches wait for one. A
// confirmation takes only a place no alarm waits for.
TEST(RepliesTest, AnEscalationDueWhileTheQueueStaysFullForWeeksGoesWhenThereIsRoom) {
  test::NullConsole console;
  ConsoleLog log{console, nullptr};
  test::VirtualClock clock{1000};
  Replies replies;
  ASSERT_EQ(replies.Escalations().AddRule("+4917100001", 1, "+4917100002"), Escalation::kAdded);
  SmsModem full(nullptr, nullptr, nullptr, log, clock);
  while (!full.Full()) full.QueueServiceMessage("waits", "+4917100003");
  uint32_t now = 1000;
  const ModemEvents none;
  replies.Escalations().AlarmConfirmed("+4917100001", 1, "Pump 3 trip", now);
  for (int hour = 0; hour < 30 * 24; ++hour)
    replies.AfterStep(full, none, log, now += 3600000, 0, false);
  SmsModem room(nullptr, nullptr, nullptr, log, clock);
  replies.AfterStep(room, none, log, now, 0, true);
  EXPECT_EQ(room.QueuedCount(), 1);
  EXPECT_EQ(replies.Escalations().Acknowledge("+4917100001"), 1);
  replies.AfterStep(room, none, log, now, 0, true);
  EXPECT_EQ(room.QueuedCount(), 1);
  replies.AfterStep(room, none, log, now, 0, false);
  ASSERT_EQ(room.QueuedCount(), 2);
  EXPECT_STREQ(room.Queued(1).text, "Kelvor: 1 alarm SMS acknowledged");
}

// An escalated SMS is known by its id: its confirmation starts its holder's time whatever its
// text became on the way (a phone's coding, a cut), and another SMS of the same text is not it.
TEST(RepliesTest, AnEscalatedSmsIsKnownByItsIdNotByItsText) {
  test::NullConsole console;
  ConsoleLog log{console, nullptr};
  test::VirtualClock clock{1000};
  Replies replies;
  ASSERT_EQ(replies.Escalations().AddRule("+4917100001", 1, "+4917100002"), Escalation::kAdded);
  SmsModem modem(nullptr, nullptr, nullptr, log, clock);
  uint32_t now = 1000;
  auto confirmed = [&](uint32_t id, SmsKind kind, const char* number, const char* text) {
    ModemEvents events;
    ModemEvent* event = events.Add(ModemEvent::kConfirmed);
    event->sms.id = id;
    event->sms.kind = kind;
    snprintf(event->sms.number, sizeof event->sms.number, "%s", number);
    snprintf(event->sms.text, sizeof event->sms.text, "%s", text);
    replies.AfterStep(modem, events, log, now, 0, false);
  };
  confirmed(500, SmsKind::kAlarm, "+4917100001", "Pump 3 trip");
  confirmed(501, SmsKind::kAlarm, "+4917100001", "Pump 3 trip");  // one more, the same text
  EXPECT_EQ(replies.Escalations().Count(), 2);
  now += 60001;
  replies.AfterStep(modem, ModemEvents{}, log, now, 0, false);
  ASSERT_EQ(modem.QueuedCount(), 2);
  const OutgoingSms first = modem.Queued(0);
  const OutgoingSms second = modem.Queued(1);
  ASSERT_STREQ(first.text, second.text);
  confirmed(second.id + 1, SmsKind::kEscalated, "+4917100002", first.text);
  EXPECT_EQ(replies.Escalations().Count(), 2) << "an SMS of the same text is not the one escalated";
  // The end of its chain: confirmed, the record has nothing left to wait for.
  confirmed(first.id, SmsKind::kEscalated, "+4917100002", "No answer from +4917100001 in 1");
  EXPECT_EQ(replies.Escalations().Count(), 1);
  confirmed(first.id, SmsKind::kEscalated, "+4917100002", first.text);
  EXPECT_EQ(replies.Escalations().Count(), 1) << "confirmed once";
}

// In UCS-2 an escalated text takes three places: with two free it waits for the third, and
// is not handed to a queue that would refuse it and lose it.
TEST(RepliesTest, AnEscalationThatNeedsMorePlacesThanAreFreeWaitsForThem) {
  test::FakeConsole console;
  ConsoleLog log{console, nullptr};
  test::VirtualClock clock{1000};
  Replies replies;
  ASSERT_EQ(replies.Escalations().AddRule("+4917100001", 1, "+4917100002"), Escalation::kAdded);
  CodePageTable table{};
  ReadCodePage(1252, &table);
  SmsModem modem(nullptr, nullptr, nullptr, log, clock);
  modem.SetCoding(Charset::kUcs2, table);
  while (modem.QueuedCount() < kQueueCapacity - 2) modem.QueueServiceMessage("waits", "+491");
  const ModemEvents none;
  replies.Escalations().AlarmConfirmed("+4917100001", 1, std::string(140, 'x').c_str(), 1000);
  replies.AfterStep(modem, none, log, 1000 + 2 * 60000, 0, false);
  EXPECT_EQ(modem.QueuedCount(), kQueueCapacity - 2);
  EXPECT_TRUE(replies.EscalationWaiting());
  EXPECT_EQ(console.text().find("lost"), std::string::npos);
  SmsModem room(nullptr, nullptr, nullptr, log, clock);
  room.SetCoding(Charset::kUcs2, table);
  replies.AfterStep(room, none, log, 1000 + 2 * 60000, 0, false);
  EXPECT_EQ(room.QueuedCount(), 3);
  EXPECT_FALSE(replies.EscalationWaiting());
}

}  // namespace
}  // namespace kelvor
