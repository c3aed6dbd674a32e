#include "routing/duty_hours.h"

#include <cstdio>
#include <cstring>

#include "platform/file.h"
#include "platform/text.h"

namespace kelvor {
namespace {

constexpr size_t kHolidayLineSize = 80;

// A line longer than its buffer is no date, whatever its beginning holds.
void TakeHolidayLine(int lineNumber, const char* line, bool cut, HolidayLineSink& sink) {
  int32_t day = 0;
  HolidayLine read = cut ? HolidayLine::kBad : ReadHolidayLine(line, &day);
  if (read == HolidayLine::kEmpty) return;
  char shown[41];
  PrintableCopy(line, shown, sizeof shown);
  sink.Take(lineNumber, read, day, shown);
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// "d" or "d-e", 1 to 7, e not before d; the bits of the days in `*days`.
bool ReadDayItem(const char* begin, const char* end, uint8_t* days) {
  size_t length = static_cast<size_t>(end - begin);
  bool range = length == 3 && begin[1] == '-';
  if (length != 1 && !range) return false;
  int first = begin[0] - '0';
  int last = range ? begin[2] - '0' : first;
  if (first < 1 || first > 7 || last < first || last > 7) return false;
  for (int day = first; day <= last; ++day) *days |= static_cast<uint8_t>(1u << (day - 1));
  return true;
}

// "1-5", "6-7", "1,3,5": the days of [begin, end) as bits.
bool ReadDays(const char* begin, const char* end, uint8_t* days) {
  *days = 0;
  for (const char* item = begin;;) {
    const char* comma =
        static_cast<const char*>(memchr(item, ',', static_cast<size_t>(end - item)));
    const char* itemEnd = comma != nullptr ? comma : end;
    if (!ReadDayItem(item, itemEnd, days)) return false;
    if (comma == nullptr) return true;
    item = comma + 1;
  }
}

// "h:mm" or "hh:mm" into minutes of the day, up to 24:00 when `endOfDay`.
bool ReadClock(const char* begin, const char* end, bool endOfDay, uint16_t* minutes) {
  const char* colon =
      static_cast<const char*>(memchr(begin, ':', static_cast<size_t>(end - begin)));
  if (colon == nullptr || colon == begin || colon - begin > 2 || end - colon != 3) return false;
  uint32_t hour = 0;
  uint32_t minute = 0;
  if (!ReadNumber(begin, static_cast<size_t>(colon - begin), 2, &hour) || !IsDigit(colon[1]) ||
      !IsDigit(colon[2])) {
    return false;
  }
  minute = static_cast<uint32_t>((colon[1] - '0') * 10 + (colon[2] - '0'));
  uint32_t total = hour * 60 + minute;
  if (minute > 59 || total > (endOfDay ? 1440u : 1439u)) return false;
  *minutes = static_cast<uint16_t>(total);
  return true;
}

// "hh:mm-hh:mm"; a window of no length is no window.
bool ReadTimes(const char* begin, const char* end, DutyWindow* window) {
  const char* dash = static_cast<const char*>(memchr(begin, '-', static_cast<size_t>(end - begin)));
  return dash != nullptr && ReadClock(begin, dash, false, &window->start) &&
         ReadClock(dash + 1, end, true, &window->end) && window->start != window->end;
}

// One "days,hh:mm-hh:mm" of [begin, end): the times after its last comma.
ParsedHours::Refusal ReadWindow(const char* begin, const char* end, DutyWindow* window) {
  const char* comma = nullptr;
  for (const char* p = begin; p < end; ++p) comma = *p == ',' ? p : comma;
  if (comma == nullptr || !ReadDays(begin, comma, &window->days)) return ParsedHours::kBadDays;
  return ReadTimes(comma + 1, end, window) ? ParsedHours::kTaken : ParsedHours::kBadTimes;
}

void Append(char* text, size_t size, size_t* length, const char* format, int a, int b) {
  if (*length + 1 >= size) return;
  int written = snprintf(text + *length, size - *length, format, a, b);
  if (written > 0) *length += static_cast<size_t>(written);
  if (*length >= size) *length = size - 1;
}

}  // namespace

ParsedHours ParseHours(const char* text) {
  ParsedHours parsed;
  const char* comma = strchr(text, ',');
  size_t length = comma != nullptr ? static_cast<size_t>(comma - text) : strlen(text);
  if (length >= kNumberSize) length = kNumberSize;  // too long to be a number
  char number[kNumberSize + 1];
  snprintf(number, sizeof number, "%.*s", static_cast<int>(length), text);
  if (!IsPhoneNumber(number)) {
    parsed.refused = ParsedHours::kBadNumber;
    return parsed;
  }
  memcpy(parsed.number, number, strlen(number) + 1);
  if (comma == nullptr) {
    parsed.refused = ParsedHours::kBadDays;
    return parsed;
  }
  DutySchedule& schedule = parsed.schedule;
  for (const char* begin = comma + 1;; begin = strchr(begin, ';') + 1) {
    if (schedule.count == kDutyWindowCapacity) {
      parsed.refused = ParsedHours::kTooManyWindows;
      break;
    }
    const char* end = begin + strcspn(begin, ";");
    parsed.refused = ReadWindow(begin, end, &schedule.windows[schedule.count++]);
    if (parsed.refused != ParsedHours::kTaken || *end == '\0') break;
  }
  return parsed;
}

const char* HoursRefusalWords(ParsedHours::Refusal refused) {
  static const char* const kWords[] = {"", "number", "days", "times", "more than 8 windows"};
  return kWords[refused];
}

void FormatSchedule(const DutySchedule& schedule, char* text, size_t size) {
  size_t length = 0;
  text[0] = '\0';
  for (int i = 0; i < schedule.count; ++i) {
    const DutyWindow& w = schedule.windows[i];
    if (i > 0) Append(text, size, &length, "; ", 0, 0);
    for (int day = 1; day <= 7; ++day) {
      if (!(w.days & (1u << (day - 1)))) continue;
      int last = day;
      while (last < 7 && (w.days & (1u << last))) ++last;
      Append(text, size, &length, last > day ? "%d-%d," : "%d,", day, last);
      day = last;
    }
    if (length > 0 && text[length - 1] == ',') text[--length] = '\0';
    Append(text, size, &length, " %02d:%02d", w.start / 60, w.start % 60);
    Append(text, size, &length, "-%02d:%02d", w.end / 60, w.end % 60);
  }
}

// Howard Hinnant's days_from_civil: the proleptic Gregorian calendar, day 0 1970-01-01.
int32_t DayNumber(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  int era = (year >= 0 ? year : year - 399) / 400;
  int yearOfEra = year - era * 400;
  int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int Weekday(int32_t dayNumber) {
  int fromThursday = static_cast<int>(((dayNumber % 7) + 7) % 7);  // 1970-01-01 was a Thursday
  return (fromThursday + 3) % 7 + 1;
}

HolidayLine ReadHolidayLine(const char* line, int32_t* dayNumber) {
  while (*line == ' ' || *line == '\t') ++line;
  size_t length = strcspn(line, "#\r\n");
  while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t')) --length;
  if (length == 0) return HolidayLine::kEmpty;
  uint32_t year = 0;
  uint32_t month = 0;
  uint32_t day = 0;
  if (length != 10 || line[4] != '-' || line[7] != '-' || !ReadNumber(line, 4, 4, &year) ||
      !ReadNumber(line + 5, 2, 2, &month) || !ReadNumber(line + 8, 2, 2, &day)) {
    return HolidayLine::kBad;
  }
  if (year < 1970 || month < 1 || month > 12 || day < 1) return HolidayLine::kBad;
  int32_t number =
      DayNumber(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day));
  // A day past the month's end would be read as a day of the next.
  int nextMonth = month == 12 ? 1 : static_cast<int>(month) + 1;
  int32_t monthEnd = DayNumber(static_cast<int>(month == 12 ? year + 1 : year), nextMonth, 1);
  if (number >= monthEnd) return HolidayLine::kBad;
  *dayNumber = number;
  return HolidayLine::kDate;
}

bool ReadHolidayFile(const char* path, HolidayLineSink& sink) {
  FileReader file;
  if (!file.Open(path)) return false;
  char chunk[512];
  char line[kHolidayLineSize];
  size_t length = 0;
  bool cut = false;
  int lineNumber = 1;
  uint32_t got = 0;
  while (file.Read(chunk, sizeof chunk, &got) && got > 0) {
    for (uint32_t i = 0; i < got; ++i) {
      if (chunk[i] != '\n') {
        if (length + 1 < sizeof line) line[length++] = chunk[i];
        cut = cut || length + 1 >= sizeof line;
        continue;
      }
      line[length] = '\0';
      TakeHolidayLine(lineNumber++, line, cut, sink);
      length = 0;
      cut = false;
    }
  }
  line[length] = '\0';
  if (length > 0) TakeHolidayLine(lineNumber, line, cut, sink);
  return true;
}

DutyRoster::Outcome DutyRoster::Add(const char* number, const DutySchedule& schedule) {
  for (int i = 0; i < count_; ++i) {
    if (SameNumber(entries_[i].number, number)) return kDuplicate;
  }
  if (count_ == kDutyNumberCapacity) return kFull;
  Entry& entry = entries_[count_++];
  snprintf(entry.number, sizeof entry.number, "%s", number);
  entry.schedule = schedule;
  entry.onDuty = true;  // until the first Pass reads the clock: nothing is held back unread
  return kAdded;
}

DutyRoster::Outcome DutyRoster::AddHoliday(int32_t dayNumber) {
  if (IsHoliday(dayNumber)) return kDuplicate;
  if (holidayCount_ == kHolidayCapacity) return kFull;
  holidays_[holidayCount_++] = dayNumber;
  return kAdded;
}

void DutyRoster::Pass(const LocalTime& now, Log& log) {
  int32_t today = DayNumber(now.year, now.month, now.day);
  int minute = now.hour * 60 + now.minute;
  for (int i = 0; i < count_; ++i) {
    Entry& entry = entries_[i];
    bool on = WindowsHold(entry.schedule, today, minute);
    if (said_ && on == entry.onDuty) continue;
    entry.onDuty = on;
    log.Print("%s goes %s duty\r\n", entry.number, on ? "on" : "off");
  }
  said_ = true;
}

bool DutyRoster::OnDuty(const char* number) const {
  for (int i = 0; i < count_; ++i) {
    if (SameNumber(entries_[i].number, number)) return entries_[i].onDuty;
  }
  return true;
}

void DutyRoster::FormatOnDuty(char* text, size_t size) const {
  size_t length = 0;
  text[0] = '\0';
  for (int i = 0; i < count_; ++i) {
    if (!entries_[i].onDuty || length + 1 >= size) continue;
    int written =
        snprintf(text + length, size - length, "%s%s", length > 0 ? " " : "", entries_[i].number);
    if (written > 0) length += static_cast<size_t>(written);
    if (length >= size) length = size - 1;
  }
  if (length == 0) snprintf(text, size, "none");
}

bool DutyRoster::IsHoliday(int32_t dayNumber) const {
  for (int i = 0; i < holidayCount_; ++i) {
    if (holidays_[i] == dayNumber) return true;
  }
  return false;
}

// A holiday is a Sunday, for the window that starts on it and for one that runs past
// midnight out of it.
bool DutyRoster::WindowsHold(const DutySchedule& schedule, int32_t today, int minute) const {
  unsigned todayBit = 1u << ((IsHoliday(today) ? 7 : Weekday(today)) - 1);
  unsigned yesterdayBit = 1u << ((IsHoliday(today - 1) ? 7 : Weekday(today - 1)) - 1);
  for (int i = 0; i < schedule.count; ++i) {
    const DutyWindow& w = schedule.windows[i];
    if (w.start < w.end) {
      if ((w.days & todayBit) && minute >= w.start && minute < w.end) return true;
    } else if (((w.days & todayBit) && minute >= w.start) ||
               ((w.days & yesterdayBit) && minute < w.end)) {
      return true;
    }
  }
  return false;
}

}  // namespace kelvor
