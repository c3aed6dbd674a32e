// Hours on duty: which numbers are on duty at the node's local time, by the weekly windows of
// each number's HOURS= and the holidays of HOLIDAYS=, read as Sundays. A number without hours
// is always on duty. Routing, the escalation and the wake-up calls ask the roster; the main
// loop hands it the local time once a pass, and it says each change of duty.
//
// Local time decides, not the tick: a window follows the wall clock across the changes of
// summer time, and a clock set by hand moves duty with it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log.h"
#include "modem/phone_number.h"
#include "platform/clock.h"

namespace kelvor {

constexpr int kDutyNumberCapacity = 31;
constexpr int kDutyWindowCapacity = 8;  // windows of one number
constexpr int kHolidayCapacity = 100;
constexpr int kMinutesPerDay = 24 * 60;

// Days 1 (Monday) to 7 as bits 0 to 6, from `start` (minutes into the day) to `end`. An end
// at or before the start runs past midnight into the next morning.
struct DutyWindow {
  uint8_t days;
  uint16_t start;
  uint16_t end;
};

struct DutySchedule {
  DutyWindow windows[kDutyWindowCapacity];
  int count;
};

// What ParseHours made of "+number,days,hh:mm-hh:mm[;days,hh:mm-hh:mm]...": refused for the
// first field that breaks it, in the order given.
struct ParsedHours {
  enum Refusal { kTaken, kBadNumber, kBadDays, kBadTimes, kTooManyWindows };
  Refusal refused = kTaken;
  char number[kNumberSize] = {};  // as given when taken
  DutySchedule schedule = {};
};
ParsedHours ParseHours(const char* text);
// The refusal in a word or two, as "days" or "times".
const char* HoursRefusalWords(ParsedHours::Refusal refused);
// "1-5 08:00-17:00; 6-7 22:00-06:00", within `size`.
void FormatSchedule(const DutySchedule& schedule, char* text, size_t size);

// Days since 1970-01-01 of a date; and a date's day of the week, 1 Monday to 7 Sunday.
int32_t DayNumber(int year, int month, int day);
int Weekday(int32_t dayNumber);
// A holidays file's line: a date YYYY-MM-DD as a day number, blanks around it and a "#"
// comment allowed. kEmpty for a line of blanks or a comment alone, kBad for anything else.
enum class HolidayLine { kDate, kEmpty, kBad };
HolidayLine ReadHolidayLine(const char* line, int32_t* dayNumber);

// Each line of a holidays file in turn but those of blanks and comments: a date's day number,
// or kBad and the line as it may be shown (printable, cut to 40 characters).
class HolidayLineSink {
 public:
  virtual void Take(int lineNumber, HolidayLine read, int32_t dayNumber, const char* shown) = 0;

 protected:
  ~HolidayLineSink() = default;
};
// Reads the file at `path` line by line (LF or CR LF); false when it cannot be opened.
bool ReadHolidayFile(const char* path, HolidayLineSink& sink);

class DutyRoster {
 public:
  enum Outcome { kAdded, kDuplicate, kFull };
  Outcome Add(const char* number, const DutySchedule& schedule);
  Outcome AddHoliday(int32_t dayNumber);
  bool Active() const { return count_ > 0; }

  // Once a pass, with the local time: says "+number goes on duty" or "off duty" for each
  // number whose duty changed, and for each number at the first call.
  void Pass(const LocalTime& now, Log& log);
  // True for a number without hours, or one whose hours hold it on duty at the last Pass.
  bool OnDuty(const char* number) const;
  // The numbers with hours on duty now, "+111 +222", or "none"; cut within `size`.
  void FormatOnDuty(char* text, size_t size) const;

 private:
  struct Entry {
    char number[kNumberSize];
    DutySchedule schedule;
    bool onDuty;
  };
  bool IsHoliday(int32_t dayNumber) const;
  bool WindowsHold(const DutySchedule& schedule, int32_t today, int minute) const;

  Entry entries_[kDutyNumberCapacity] = {};
  int count_ = 0;
  int32_t holidays_[kHolidayCapacity] = {};
  int holidayCount_ = 0;
  bool said_ = false;  // the first Pass said every number's duty
};

}  // namespace kelvor
