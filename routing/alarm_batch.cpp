#include "routing/alarm_batch.h"

#include <cstring>
#include <initializer_list>

namespace kelvor {
namespace {

// A code below 0 passes every destination's filter as at least as urgent as high, and is
// shown and ranked as high; no destination takes a code above 2 (low is the lowest it can
// ask for), which would be shown as low.
int8_t PriorityOf(int8_t code) {
  return code < 0 ? 0 : code >= kPriorities ? kPriorities - 1 : code;
}

void AddOne(uint32_t& count) {
  if (count < kCountMost) ++count;
}

// Appends to a line of `size` bytes, never past its end. The summary line is written anew
// for every alarm a full queue leaves counted, at every destination that takes it, so its
// numbers are written here rather than by printf, which cost most of such a pass.
class LineWriter {
 public:
  LineWriter(char* line, size_t size) : line_(line), size_(size) { line_[0] = '\0'; }
  void Add(const char* text) {
    while (*text != '\0') Put(*text++);
  }
  void Add(char c) { Put(c); }
  // As "%u" prints it.
  void Number(uint32_t value) {
    char digits[10];
    size_t count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0) Put(digits[--count]);
  }
  // As "%02d" prints it: a sign counts towards the two.
  void TwoDigits(int value) {
    if (value < 0) Put('-');
    uint32_t magnitude = static_cast<uint32_t>(value < 0 ? -value : value);
    if (value >= 0 && magnitude < 10) Put('0');
    Number(magnitude);
  }
  size_t Length() const { return used_; }

 private:
  void Put(char c) {
    if (used_ + 1 >= size_) return;
    line_[used_++] = c;
    line_[used_] = '\0';
  }

  char* line_;
  size_t size_;
  size_t used_ = 0;
};

// A signed number as "%d" or "%02d" prints a signed 8-bit value: an optional '-' and
// digits, `least` to 4 characters in all. Its value goes to `value`; returns the
// characters read, 0 when there is no such number.
size_t ReadSmallNumber(const char* text, size_t length, size_t least, int8_t* value) {
  if (length == 0) return 0;
  bool negative = text[0] == '-';
  size_t at = negative ? 1 : 0;
  int magnitude = 0;
  while (at < length && at < kSmallNumberMax && text[at] >= '0' && text[at] <= '9') {
    magnitude = magnitude * 10 + (text[at] - '0');
    ++at;
  }
  int number = negative ? -magnitude : magnitude;
  if (at == (negative ? 1u : 0u) || at < least || number < -128 || number > 127) return 0;
  *value = static_cast<int8_t>(number);
  return at;
}

// True when the line at `text` is an alarm text's time line, "d/hh:mm\n"; its hour and
// minute then go to `alarm`, if given.
bool TimeLine(const char* text, size_t length, NamedAlarm* alarm) {
  int8_t day = 0, hour = 0, minute = 0;
  size_t at = ReadSmallNumber(text, length, 1, &day);
  if (at == 0 || at >= length || text[at++] != '/') return false;
  size_t read = ReadSmallNumber(text + at, length - at, 2, &hour);
  if (read == 0 || (at += read) >= length || text[at++] != ':') return false;
  read = ReadSmallNumber(text + at, length - at, 2, &minute);
  if (read == 0 || (at += read) >= length || text[at] != '\n') return false;
  if (alarm != nullptr) {
    alarm->hour = hour;
    alarm->minute = minute;
  }
  return true;
}

// Where the line that begins at `start` of a text of `length` characters ends: after its LF.
size_t LineEnd(const char* text, size_t start, size_t length) {
  const void* end = memchr(text + start, '\n', length - start);
  return end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text) + 1 : length;
}

size_t HeaderOf(const char* text) {
  for (const char* header : {kLaterHeader, kFirstHeader}) {
    if (strncmp(text, header, strlen(header)) == 0) return strlen(header);
  }
  return 0;
}

}  // namespace

size_t FormatSummary(const AlarmCount& count, char* line) {
  LineWriter writer(line, kSummaryMax + 1);
  uint32_t total = count.Total();
  if (total == 0) return 0;
  writer.Add('+');
  writer.Number(total);
  writer.Add(total == 1 ? " more alarm (" : " more alarms (");
  const char* separator = "";
  for (int priority = 0; priority < kPriorities; ++priority) {
    // A priority with no alarm counted is left out: every character it would take is a
    // character less for the alarms the SMS names.
    if (count.byPriority[priority] == 0) continue;
    writer.Add(separator);
    writer.Add("HML"[priority]);
    writer.Add(' ');
    writer.Number(count.byPriority[priority]);
    separator = ", ";
  }
  writer.Add(") to ");
  writer.TwoDigits(count.hour);
  writer.Add(':');
  writer.TwoDigits(count.minute);
  writer.Add('\n');
  return writer.Length();
}

void AlarmBatch::Begin(const char* header) {
  size_t length = strnlen(header, kHeaderLength);
  memcpy(text_, header, length);
  text_[length] = '\0';
  headerLength_ = namedEnd_ = length_ = length;
  alarms_ = BatchAlarms{};
}

// No coding holds more than 159 characters; within them, the outbox knows the limit of the
// coding the texts go in (70 of UCS-2), so it is asked of the batch as it would be.
bool AlarmBatch::Fits(const char* text, size_t length, const SmsOutbox& outbox) const {
  if (alarms_.namedCount >= kNamedCapacity || length_ + length > kSmsTextLimit) return false;
  char joined[kSmsTextLimit + 1];
  memcpy(joined, text_, namedEnd_);
  memcpy(joined + namedEnd_, text, length);
  memcpy(joined + namedEnd_ + length, text_ + namedEnd_, length_ - namedEnd_);
  joined[length_ + length] = '\0';
  return outbox.FitsOneSms(joined);
}

void AlarmBatch::Name(const char* text, const NamedAlarm& alarm) {
  if (alarms_.namedCount == kNamedCapacity) {  // never with a text of its time line or more
    Count(alarm);
    return;
  }
  size_t length = alarm.length;
  if (length > kBatchCapacity - 1 - namedEnd_) length = kBatchCapacity - 1 - namedEnd_;
  memcpy(text_ + namedEnd_, text, length);
  AddNamed(alarm, length);
  if (alarms_.counted.Total() > 0) ++alarms_.counted.namedSince;
  Render();
}

void AlarmBatch::AddNamed(const NamedAlarm& alarm, size_t length) {
  NamedAlarm& named = alarms_.named[alarms_.namedCount++];
  named = alarm;
  named.length = static_cast<uint8_t>(length);
  named.priority = PriorityOf(alarm.priority);
  namedEnd_ += length;
}

// The alarms less urgent than the new one give way on a copy, one by one, until its text
// fits; only if it then does is the copy taken. A batch is a few hundred bytes, copied only
// when it names one less urgent: in a flood of alarms alike, each is simply counted.
bool AlarmBatch::Keep(const char* text, const NamedAlarm& alarm, const SmsOutbox& outbox) {
  const int priority = PriorityOf(alarm.priority);
  if (NextToGiveWay(priority) >= 0) {
    AlarmBatch trial = *this;
    for (int index = trial.NextToGiveWay(priority); index >= 0;
         index = trial.NextToGiveWay(priority)) {
      trial.GiveWay(index);
      if (trial.Fits(text, alarm.length, outbox)) {
        *this = trial;
        Name(text, alarm);
        return true;
      }
    }
  }
  Count(alarm);
  for (int index = NextToGiveWay(-1); !outbox.FitsOneSms(text_) && index >= 0;
       index = NextToGiveWay(-1)) {
    GiveWay(index);
  }
  return false;
}

int8_t AlarmBatch::MostUrgent() const {
  int8_t most = kPriorities - 1;
  for (int i = 0; i < alarms_.namedCount; ++i) {
    if (alarms_.named[i].priority < most) most = alarms_.named[i].priority;
  }
  for (int8_t priority = 0; priority < most; ++priority) {
    if (alarms_.counted.byPriority[priority] > 0) return priority;
  }
  return most;
}

int AlarmBatch::NextToGiveWay(int priority) const {
  int chosen = -1;
  int least = priority;
  for (int i = alarms_.namedCount - 1; i >= 0; --i) {
    if (alarms_.named[i].priority > least) {
      least = alarms_.named[i].priority;
      chosen = i;
    }
  }
  return chosen;
}

void AlarmBatch::GiveWay(int index) {
  const NamedAlarm gone = alarms_.named[index];
  AlarmCount& counted = alarms_.counted;
  // It becomes the latest alarm counted when it came after the one that was.
  if (counted.Total() == 0 || index >= alarms_.namedCount - counted.namedSince) {
    counted.hour = gone.hour;
    counted.minute = gone.minute;
    counted.namedSince = static_cast<uint8_t>(alarms_.namedCount - 1 - index);
  }
  AddOne(counted.byPriority[gone.priority]);

  size_t at = headerLength_;
  for (int i = 0; i < index; ++i) at += alarms_.named[i].length;
  memmove(text_ + at, text_ + at + gone.length, namedEnd_ - at - gone.length);
  namedEnd_ -= gone.length;
  for (int i = index; i + 1 < alarms_.namedCount; ++i) alarms_.named[i] = alarms_.named[i + 1];
  --alarms_.namedCount;
  Render();
}

// A new alarm counted is the latest one.
void AlarmBatch::Count(const NamedAlarm& alarm) {
  AlarmCount& counted = alarms_.counted;
  AddOne(counted.byPriority[PriorityOf(alarm.priority)]);
  counted.hour = alarm.hour;
  counted.minute = alarm.minute;
  counted.namedSince = 0;
  Render();
}

// While the named texts leave no room for the whole line (as the batch is kept past 159
// characters for a moment, until named alarms give way) it is cut at the buffer's end.
void AlarmBatch::Render() {
  char line[kSummaryMax + 1];
  size_t length = FormatSummary(alarms_.counted, line);
  if (length > kBatchCapacity - 1 - namedEnd_) length = kBatchCapacity - 1 - namedEnd_;
  memcpy(text_ + namedEnd_, line, length);
  length_ = namedEnd_ + length;
  text_[length_] = '\0';
}

void AlarmBatch::Restore(const char* text) {
  Begin("");
  size_t length = strnlen(text, kBatchCapacity - 1);
  memcpy(text_, text, length);
  text_[length] = '\0';
  headerLength_ = namedEnd_ = HeaderOf(text_);
  // An alarm's text runs from its time line to the next time line; whatever lies before the
  // first one belongs to the first, and the last that fits the table takes the rest.
  for (size_t start = namedEnd_; start < length;) {
    NamedAlarm alarm;
    TimeLine(text_ + start, length - start, &alarm);
    bool last = alarms_.namedCount + 1 == kNamedCapacity;
    size_t end = LineEnd(text_, start, length);
    while (end < length && (last || !TimeLine(text_ + end, length - end, nullptr))) {
      end = LineEnd(text_, end, length);
    }
    AddNamed(alarm, end - start);
    start = end;
  }
  length_ = namedEnd_;
}

bool AlarmBatch::Restore(const char* text, const BatchAlarms& alarms) {
  size_t length = strnlen(text, kBatchCapacity - 1);
  bool sound = alarms.namedCount >= 0 && alarms.namedCount <= kNamedCapacity &&
               alarms.counted.namedSince <= alarms.namedCount;
  size_t named = 0;
  for (int i = 0; sound && i < alarms.namedCount; ++i) {
    sound = alarms.named[i].priority >= 0 && alarms.named[i].priority < kPriorities;
    named += alarms.named[i].length;
  }
  for (uint32_t count : alarms.counted.byPriority) sound = sound && count <= kCountMost;
  char line[kSummaryMax + 1];
  size_t summary = sound ? FormatSummary(alarms.counted, line) : 0;
  // The header, the named texts and the summary line make up the text, within one SMS
  // once the batch counts alarms.
  sound = sound && named + summary <= length && (summary == 0 || length <= kSmsTextLimit) &&
          memcmp(text + length - summary, line, summary) == 0;
  size_t header = sound ? length - named - summary : 0;
  sound = sound && (header == 0 || (HeaderOf(text) == header));
  if (!sound) {
    Restore(text);
    return false;
  }
  memcpy(text_, text, length);
  text_[length] = '\0';
  headerLength_ = header;
  namedEnd_ = header + named;
  length_ = length;
  alarms_ = alarms;
  return true;
}

}  // namespace kelvor
