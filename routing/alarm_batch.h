// A destination's batch: the SMS text it gathers, the alarms the text names and those it
// only counts, in a summary line at its end, when the queue cannot take the batch in time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modem/sms_outbox.h"
#include "scada/alarm_record.h"
#include "scada/tag_reader.h"

namespace kelvor {

// Sizes of the texts a destination works with.
constexpr size_t kHeaderLength = 12;  // "Fix Alarms\r\n", the longer header
constexpr size_t kStatusNameMax = 5;  // longest status name, "ERROR"
constexpr size_t kTagNameMax = record_layout::kTagNameWidth;
constexpr size_t kTagTextMax = kTagTextSize - 1;
constexpr size_t kSmallNumberMax = 4;  // a signed 8-bit number printed: "-128"

// "d/hh:mm\n" with each number as wide as a signed 8-bit value can print.
constexpr size_t kTimeLineMax = 3 * kSmallNumberMax + 3;
// The full form: time, tag, status name, description, "=" and the value, each on a line.
constexpr size_t kFullTextMax = kTimeLineMax + (kTagNameMax + 1) + (kStatusNameMax + 1) +
                                (kTagTextMax + 1) + (1 + kTagTextMax + 1);
constexpr size_t kShortTextMax = kTimeLineMax + kTagTextMax + 1;
constexpr size_t kAlarmTextSize = kFullTextMax + 1;

// A batch stays within the SMS limit, except for a restarted batch (the header) that takes
// a text too long to share an SMS; the modem queue shortens that one.
constexpr size_t kBatchCapacity =
    (kSmsTextLimit > kHeaderLength + kFullTextMax ? kSmsTextLimit : kHeaderLength + kFullTextMax) +
    1;
static_assert(kFullTextMax == 150, "full form: 15 + 32 + 6 + 48 + 49");
static_assert(kBatchCapacity == 163, "a header and one full text");
static_assert(kShortTextMax < kFullTextMax, "the full form is the longest text");

// The first batch's header ends in LF, every later one in CR LF: phones and the scripts
// that read their SMS have always seen them so.
constexpr char kFirstHeader[] = "Fix Alarms\n";
constexpr char kLaterHeader[] = "Fix Alarms\r\n";
static_assert(sizeof kLaterHeader - 1 == kHeaderLength, "the longer header");

// Every alarm text begins with its time line, "d/hh:mm\n", at least 8 characters: a batch
// names at most this many alarms.
constexpr int kNamedCapacity = static_cast<int>((kBatchCapacity - 1) / 8);
// The summary line shows the priorities H, M and L, codes 0, 1 and 2.
constexpr int kPriorities = 3;
// The most a batch counts of one priority (an alarm every 100 ms for 3 years); beyond it the
// count stays there. Three of them still add up within 32 bits.
constexpr uint32_t kCountMost = 999999999;
// "+N more alarms (H n, M n, L n) to hh:mm\n" with every number as long as it gets.
constexpr size_t kSummaryMax = 1 + 10 + 14 + 3 * (2 + 9) + 2 * 2 + 5 + 2 * kSmallNumberMax + 1 + 1;
static_assert(kHeaderLength + kSummaryMax <= kSmsTextLimit, "the summary fits beside a header");

// An alarm the batch's text names. The texts lie one after the other after the header.
struct NamedAlarm {
  uint8_t length = 0;   // of its text
  int8_t priority = 0;  // 0 high, 1 medium, 2 low
  int8_t hour = 0;      // its time, as its text shows it
  int8_t minute = 0;
};

// The alarms a batch counts instead of naming them.
struct AlarmCount {
  uint32_t byPriority[kPriorities] = {};  // high, medium, low
  int8_t hour = 0;                        // the time of the latest alarm counted
  int8_t minute = 0;
  uint8_t namedSince = 0;  // named alarms that came after it: the batch's last ones

  uint32_t Total() const { return byPriority[0] + byPriority[1] + byPriority[2]; }
};

// Which alarms a batch names, in the order they came, and which it counts: what a copy of
// the batch kept across a restart needs beside its text.
struct BatchAlarms {
  NamedAlarm named[kNamedCapacity];
  int namedCount = 0;
  AlarmCount counted;
};

// The summary line for `count`, "+37 more alarms (H 2, M 5, L 30) to 10:09\n", into `line`
// (kSummaryMax + 1 bytes); its length, 0 (an empty line) when nothing is counted.
size_t FormatSummary(const AlarmCount& count, char* line);

class AlarmBatch {
 public:
  AlarmBatch() { Begin(""); }

  // A new batch: the header and no alarm.
  void Begin(const char* header);

  const char* Text() const { return text_; }
  const BatchAlarms& Alarms() const { return alarms_; }
  bool HoldsAlarms() const { return alarms_.namedCount > 0 || alarms_.counted.Total() > 0; }
  // The priority of its most urgent alarm, named or counted; low when it holds none.
  int8_t MostUrgent() const;

  size_t Length() const { return length_; }

  // True when `text`, `length` characters, joins the batch as it stands: the batch, the
  // summary line included, still goes as one SMS of the outbox's coding (159 characters, or
  // fewer: 70 of UCS-2).
  bool Fits(const char* text, size_t length, const SmsOutbox& outbox) const;
  // Appends the alarm's text, `alarm.length` characters.
  void Name(const char* text, const NamedAlarm& alarm);
  // Takes an alarm whose text does not fit into a batch that cannot be handed over. The
  // alarm takes the place of named ones less urgent than itself if that makes room for its
  // text, and is counted otherwise; named ones then give way to the summary line while the
  // batch would pass one SMS of the outbox's coding. True when the alarm is named.
  bool Keep(const char* text, const NamedAlarm& alarm, const SmsOutbox& outbox);

  // A batch kept before a restart, as its text alone (a spool written before batches
  // counted alarms): each alarm text, found by its time line, is named again, taken as
  // high as its priority is not known.
  void Restore(const char* text);
  // The same with the alarms it named and counted; false, restoring as from the text
  // alone, when they do not match the text.
  bool Restore(const char* text, const BatchAlarms& alarms);

 private:
  // The named alarm that gives way first among those less urgent than `priority`: the
  // least urgent, and of those the latest. -1 when there is none.
  int NextToGiveWay(int priority) const;
  // Counts named alarm `index` and takes its text out.
  void GiveWay(int index);
  void Count(const NamedAlarm& alarm);
  // Writes the summary line after the named texts.
  void Render();
  void AddNamed(const NamedAlarm& alarm, size_t length);

  char text_[kBatchCapacity] = {};
  size_t headerLength_ = 0;
  size_t namedEnd_ = 0;  // the header and the named texts
  size_t length_ = 0;    // and the summary line
  BatchAlarms alarms_;
};

}  // namespace kelvor
