// Hours on duty: what HOURS= and a holidays file read, which windows hold a number on duty at
// a local time (across midnight, the week's end, holidays and the nights the clock changes),
// and an alarm that only numbers off duty take.
#include "routing/duty_hours.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "routing/destination_list.h"
#include "routing_test_support.h"

namespace kelvor {
namespace {

// 2026-12-07 is a Monday.
LocalTime At(int day, int hour, int minute) {
  return {2026, 12, day, hour, minute, 0};
}

DutySchedule Hours(const char* text) {
  ParsedHours parsed = ParseHours(text);
  EXPECT_EQ(parsed.refused, ParsedHours::kTaken) << text;
  return parsed.schedule;
}

TEST(DutyHoursTest, ReadsWindowsAndRefusesTheFirstFieldThatBreaksThem) {
  const struct {
    const char* text;
    ParsedHours::Refusal refused;
    const char* shown;
  } cases[] = {
      {"+4917100001,1-5,08:00-17:00", ParsedHours::kTaken, "1-5 08:00-17:00"},
      {"+491,1,3,5,7:30-9:05;6-7,22:00-06:00", ParsedHours::kTaken,
       "1,3,5 07:30-09:05; 6-7 22:00-06:00"},
      {"+491,1-7,00:00-24:00", ParsedHours::kTaken, "1-7 00:00-24:00"},
      {"+491,7,23:59-00:00", ParsedHours::kTaken, "7 23:59-00:00"},
      {"491x,1,08:00-09:00", ParsedHours::kBadNumber, ""},
      {",1,08:00-09:00", ParsedHours::kBadNumber, ""},
      {"+491", ParsedHours::kBadDays, ""},
      {"+491,08:00-09:00", ParsedHours::kBadDays, ""},
      {"+491,0,08:00-09:00", ParsedHours::kBadDays, ""},
      {"+491,8,08:00-09:00", ParsedHours::kBadDays, ""},
      {"+491,5-1,08:00-09:00", ParsedHours::kBadDays, ""},
      {"+491,1,,08:00-09:00", ParsedHours::kBadDays, ""},
      {"+491,1-5,08:00-09:00;", ParsedHours::kBadDays, ""},
      {"+491,1,08:00-08:00", ParsedHours::kBadTimes, ""},
      {"+491,1,24:00-08:00", ParsedHours::kBadTimes, ""},
      {"+491,1,08:60-09:00", ParsedHours::kBadTimes, ""},
      {"+491,1,08:00-24:01", ParsedHours::kBadTimes, ""},
      {"+491,1,8-9", ParsedHours::kBadTimes, ""},
      {"+491,1,08:00-09:00x", ParsedHours::kBadTimes, ""},
      {"+491,1,-08:00-09:00", ParsedHours::kBadTimes, ""},
      {"+491,1,1:0-2:00", ParsedHours::kBadTimes, ""},
      {"+491,1,1:00-2:00;2,1:00-2:00;3,1:00-2:00;4,1:00-2:00;5,1:00-2:00;6,1:00-2:00;"
       "7,1:00-2:00;1,3:00-4:00;2,3:00-4:00",
       ParsedHours::kTooManyWindows, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ParsedHours parsed = ParseHours(c.text);
    EXPECT_EQ(parsed.refused, c.refused);
    if (c.refused != ParsedHours::kTaken) continue;
    char shown[160];
    FormatSchedule(parsed.schedule, shown, sizeof shown);
    EXPECT_STREQ(shown, c.shown);
  }
}

TEST(DutyHoursTest, WindowsAcrossMidnightTheWeeksEndAndHolidays) {
  const struct {
    const char* hours;
    LocalTime at;
    bool holidayOnTheNinth;  // Wednesday 2026-12-09, read as a Sunday
    bool onDuty;
  } cases[] = {
      {"+1,1-5,08:00-17:00", At(7, 8, 0), false, true},
      {"+1,1-5,08:00-17:00", At(7, 17, 0), false, false},
      {"+1,1-5,08:00-17:00", At(13, 9, 0), false, false},  // Sunday
      {"+1,1-5,22:00-06:00", At(7, 21, 59), false, false},
      {"+1,1-5,22:00-06:00", At(8, 5, 59), false, true},  // Monday night into Tuesday
      {"+1,1-5,22:00-06:00", At(8, 6, 0), false, false},
      {"+1,1-5,22:00-06:00", At(12, 5, 0), false, true},  // Friday night into Saturday
      {"+1,1-5,22:00-06:00", At(7, 5, 0), false, false},  // Sunday night is not a weekday's
      {"+1,7,22:00-06:00", At(14, 3, 0), false, true},    // ... but Sunday's, into Monday
      {"+1,6-7,00:00-24:00", At(13, 23, 59), false, true},
      {"+1,6-7,00:00-24:00", At(14, 0, 0), false, false},
      {"+1,1-5,08:00-17:00", At(9, 9, 0), true, false},  // a holiday is no weekday
      {"+1,7,08:00-17:00", At(9, 9, 0), true, true},     // it is a Sunday
      {"+1,7,22:00-02:00", At(10, 1, 0), true, true},    // whose night runs into Thursday
      {"+1,3,22:00-02:00", At(10, 1, 0), true, false},
      {"+1,1,09:00-10:00;3,12:00-13:00", At(9, 12, 30), false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.hours << " day " << c.at.day << " " << c.at.hour << ":"
                                    << c.at.minute << (c.holidayOnTheNinth ? " holiday" : ""));
    DutyRoster roster;
    roster.Add("+1", Hours(c.hours));
    if (c.holidayOnTheNinth) roster.AddHoliday(DayNumber(2026, 12, 9));
    test::FakeConsole console;
    ConsoleLog log(console, nullptr);
    roster.Pass(c.at, log);
    EXPECT_EQ(roster.OnDuty("+1"), c.onDuty);
    EXPECT_TRUE(roster.OnDuty("+2"));  // a number without hours is always on duty
  }
}

// The local time decides: the night the clock goes forward, a window that ends in the hour
// that never comes ends when the clock jumps past it; the night it goes back, a window that
// ended in the hour that comes twice holds again for that hour's second time.
TEST(DutyHoursTest, SaysEachChangeOfDutyAsTheClockChanges) {
  DutyRoster roster;
  roster.Add("+1", Hours("+1,1-7,22:00-02:30"));
  roster.Add("+2", Hours("+2,1-7,02:15-02:45"));
  test::FakeConsole console;
  ConsoleLog log(console, nullptr);
  const LocalTime spring[] = {{2026, 3, 29, 1, 59, 0}, {2026, 3, 29, 3, 0, 0}};
  const LocalTime autumn[] = {{2026, 10, 25, 2, 20, 0},
                              {2026, 10, 25, 2, 59, 0},
                              {2026, 10, 25, 2, 0, 0},
                              {2026, 10, 25, 2, 30, 0}};
  for (const LocalTime& at : spring) roster.Pass(at, log);
  for (const LocalTime& at : autumn) roster.Pass(at, log);
  EXPECT_EQ(console.Lines(), (std::vector<std::string>{
                                 "+1 goes on duty", "+2 goes off duty",   // the first pass
                                 "+1 goes off duty",                      // 03:00: 02:xx skipped
                                 "+1 goes on duty", "+2 goes on duty",    // 02:20
                                 "+1 goes off duty", "+2 goes off duty",  // 02:59
                                 "+1 goes on duty",                       // 02:00 again
                                 "+1 goes off duty", "+2 goes on duty",   // 02:30 again
                             }));
}

TEST(DutyHoursTest, HolidayLines) {
  const struct {
    const char* line;
    HolidayLine read;
    int32_t day;
  } cases[] = {
      {"2026-12-25", HolidayLine::kDate, DayNumber(2026, 12, 25)},
      {"  2028-02-29  # leap day\r", HolidayLine::kDate, DayNumber(2028, 2, 29)},
      {"# Christmas", HolidayLine::kEmpty, 0},
      {" \r", HolidayLine::kEmpty, 0},
      {"2027-02-29", HolidayLine::kBad, 0},
      {"2026-13-01", HolidayLine::kBad, 0},
      {"2026-12-00", HolidayLine::kBad, 0},
      {"2026-1-01", HolidayLine::kBad, 0},
      {"25.12.2026", HolidayLine::kBad, 0},
      {"2026-12-25x", HolidayLine::kBad, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    int32_t day = -1;
    EXPECT_EQ(ReadHolidayLine(c.line, &day), c.read);
    if (c.read == HolidayLine::kDate) {
      EXPECT_EQ(day, c.day);
    }
  }
  EXPECT_EQ(Weekday(DayNumber(2026, 12, 7)), 1);
  EXPECT_EQ(Weekday(DayNumber(1970, 1, 4)), 7);
}

// Numbers on duty take the alarm alone; when only numbers off duty would take it, they take
// it all the same and the line says so.
TEST(DutyHoursTest, AnAlarmGoesToThoseOnDutyOrToAllWhenNoneIs) {
  test::RoutingWorld world;
  DutyRoster roster;
  roster.Add("+111", Hours("+111,1-5,08:00-17:00"));
  roster.Add("+222", Hours("+222,1-5,17:00-08:00"));
  roster.Add("+22", Hours("+22,6,08:00-09:00"));
  world.context.duty = &roster;
  DestinationList list;
  list.Add(world.Parse("=+111,A,L,0"));
  list.Add(world.Parse("=+222,A,L,0"));
  list.Add(world.Parse("=+222,B,L,0"));
  list.Add(world.Parse("=+22,B,L,0"));    // within "+222", yet a number of its own
  list.Add(world.Parse("=+2 22,B,L,0"));  // +222 again, named once
  roster.Pass(At(7, 9, 0), world.log);
  world.console.Clear();
  test::AlarmBuilder alarm;
  alarm.areas = 1;
  alarm.tag = "PUMP1";
  list.OfferAlarm(alarm.Build(), world.context);
  EXPECT_EQ(
      world.console.Lines(),
      (std::vector<std::string>{"Ignoring alm ALARM", "Ignoring alm ALARM", "Ignoring alm ALARM",
                                "Buffering alm ALARM", "Off duty +222 - ignoring alm ALARM"}));
  alarm.areas = 2;
  world.console.Clear();
  list.OfferAlarm(alarm.Build(), world.context);
  EXPECT_EQ(
      world.console.Lines(),
      (std::vector<std::string>{"Ignoring alm ALARM", "Ignoring alm ALARM", "Buffering alm ALARM",
                                "Buffering alm ALARM", "Buffering alm ALARM",
                                "no one on duty for PUMP1 - sent to +222,+22"}));
  world.clock.Advance(1000);
  list.FlushIfDue(world.context);
  ASSERT_EQ(world.outbox.queued.size(), 4u);
  EXPECT_EQ(world.outbox.queued[0].number, "+111");
  EXPECT_EQ(world.outbox.queued[1].number, "+222");
  EXPECT_EQ(world.outbox.queued[2].number, "+22");
}

}  // namespace
}  // namespace kelvor
