// The arguments of the phone answering back, each a row and its reader as in arguments.cpp:
// REPLIES=ON, the escalation's rules (ESCALATE=) and the wake-up calls' (RING=). Any rule
// taken turns the reading of replies on, as REPLIES=ON does.
#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "modem/phone_number.h"
#include "platform/text.h"

namespace kelvor {
namespace {

// REPLIES=ON, in any case; anything else is refused (1). Replies taken are said once all
// arguments are in, with the numbers heard.
void ReadReplies(ArgumentTurn& t) {
  const char* on = t.Value();
  t.value.refused = !(Upper(on[0]) == 'O' && Upper(on[1]) == 'N' && on[2] == '\0');
  if (t.value.refused == 0) return t.run.TurnOnReplies();
  t.log.LogMessage(Colour::kError,
                   "Bad replies argument - REPLIES=ON turns them on: %.60s; ignored", t.argument);
}

constexpr int kBadFields = 4;  // a rule refused for its fields; other refusals as its check's

// A rule's number refused: kept as far as it fits, printable, for its line.
bool RefuseNumber(ArgumentTurn& t, const char* number, char* kept, const char* rule,
                  const char* shown) {
  PrintableCopy(number, kept, kNumberSize);
  t.log.LogMessage(Colour::kError,
                   "Bad %s number %s - digits, blanks and a leading +, at most %d characters: "
                   "%s; ignored",
                   rule, kept, static_cast<int>(kNumberSize - 1), shown);
  return false;
}

// ESCALATE=number,minutes,next, as often as given. Exactly three fields, kept as text, amount and
// next as the escalation's rule takes them; refused as CheckRuleValues refuses them.

bool ReadEscalateValues(ArgumentTurn& t, const char* shown) {
  ArgumentValue& v = t.value;
  const char* first = strchr(t.Value(), ',');
  const char* second = first != nullptr ? strchr(first + 1, ',') : nullptr;
  if (second == nullptr || strchr(second + 1, ',') != nullptr) {
    v.refused = kBadFields;
    t.log.LogMessage(Colour::kError, "Bad escalation - ESCALATE=number,minutes,next: %s; ignored",
                     shown);
    return false;
  }
  char number[kNumberSize + 1];
  char next[kNumberSize + 1];
  CopyNumberField(t.Value(), first, number);
  CopyNumberField(second + 1, second + 1 + strlen(second + 1), next);
  uint32_t minutes = 0;  // digits alone, no more of them than 1440 has; 0 when not
  ReadNumber(first + 1, static_cast<size_t>(second - first - 1), 4, &minutes);
  static_assert(kLongestEscalationMinutes < 10000, "four digits of minutes");
  RuleValues checked = CheckRuleValues(number, minutes, next);
  v.refused = static_cast<int>(checked);
  if (checked == RuleValues::kBadNumber)
    return RefuseNumber(t, number, v.text, "escalation", shown);
  memcpy(v.text, number, strlen(number) + 1);
  if (checked == RuleValues::kBadMinutes) {
    t.log.LogMessage(Colour::kError, "Bad escalation minutes - 1 to %u: %s; ignored",
                     kLongestEscalationMinutes, shown);
    return false;
  }
  v.amount = minutes;
  if (v.refused != 0) return RefuseNumber(t, next, v.next, "escalation", shown);
  memcpy(v.next, next, strlen(next) + 1);
  return true;
}

// Each rule is said as it is taken, or why it is refused; a refused one escalates nothing.
void ReadEscalate(ArgumentTurn& t) {
  char shown[61];  // the argument as the rule's line shows it: printable
  PrintableCopy(t.argument, shown, sizeof shown);
  if (!ReadEscalateValues(t, shown)) return;
  const ArgumentValue& v = t.value;
  Escalation::RuleOutcome added = t.run.AddEscalation(v.text, v.amount, v.next);
  if (added == Escalation::kAdded) {
    t.log.LogMessage(Colour::kNormal, "Escalation: alarm SMS to %s not answered in %u min go to %s",
                     v.text, v.amount, v.next);
  } else if (added == Escalation::kSameNumber) {
    t.log.LogMessage(Colour::kError, "Bad escalation - %s to itself: %s; ignored", v.text, shown);
  } else if (added == Escalation::kDuplicate) {
    t.log.LogMessage(Colour::kError, "Second escalation for %s ignored - one per number: %s",
                     v.text, shown);
  } else {  // kRulesFull; the values were refused above already
    t.log.LogMessage(Colour::kError, "Escalation list full (%d), ignoring %s",
                     kEscalationRuleCapacity, shown);
  }
}

// RING=+number,minutes[,priority], as often as given. Two or three fields, kept as text, amount and
// code as the wake-up calls' rule takes them; refused as CheckRingValues refuses them. The priority
// H, M or L (code 0 high), L when not given.

// The priority letter, H, M or L in any case, as a code (0 high); -1 for anything else.
int PriorityLetter(const char* text) {
  if (text[0] == '\0' || text[1] != '\0') return -1;
  const char* found = strchr("HML", Upper(text[0]));
  return found != nullptr && *found != '\0' ? static_cast<int>(found - "HML") : -1;
}

bool ReadRingValues(ArgumentTurn& t, const char* shown) {
  ArgumentValue& v = t.value;
  v.code = -1;
  const char* first = strchr(t.Value(), ',');
  const char* second = first != nullptr ? strchr(first + 1, ',') : nullptr;
  if (first == nullptr || (second != nullptr && strchr(second + 1, ',') != nullptr)) {
    v.refused = kBadFields;
    t.log.LogMessage(Colour::kError, "Bad ring - RING=+number,minutes[,H|M|L]: %s; ignored", shown);
    return false;
  }
  const char* minutesEnd = second != nullptr ? second : first + 1 + strlen(first + 1);
  char number[kNumberSize + 1];
  CopyNumberField(t.Value(), first, number);
  ReadNumber(first + 1, static_cast<size_t>(minutesEnd - first - 1), 4, &v.amount);
  static_assert(kLongestRingMinutes < 10000, "four digits of minutes");
  v.code = second != nullptr ? PriorityLetter(second + 1) : 2;
  RingValues checked = CheckRingValues(number, v.amount, v.code);
  v.refused = static_cast<int>(checked);
  if (checked == RingValues::kBadNumber) return RefuseNumber(t, number, v.text, "ring", shown);
  memcpy(v.text, number, strlen(number) + 1);
  if (checked == RingValues::kBadMinutes) {
    t.log.LogMessage(Colour::kError, "Bad ring minutes - 1 to %u: %s; ignored", kLongestRingMinutes,
                     shown);
  } else if (v.refused != 0) {
    t.log.LogMessage(Colour::kError, "Bad ring priority - H, M or L: %s; ignored", shown);
  }
  return v.refused == 0;
}

// Each rule is said as it is taken, or why it is refused.
void ReadRing(ArgumentTurn& t) {
  char shown[61];  // the argument as the rule's line shows it: printable
  PrintableCopy(t.argument, shown, sizeof shown);
  if (!ReadRingValues(t, shown)) return;
  const ArgumentValue& v = t.value;
  static const char* const kFrom[] = {"high", "high and medium", "every"};
  WakeUpCalls::RuleOutcome added = t.run.AddRing(v.text, v.amount, v.code);
  if (added == WakeUpCalls::kAdded) {
    t.log.LogMessage(Colour::kNormal,
                     "Wake-up call: %s is called when its alarm SMS (%s priority) have no "
                     "answer in %u min",
                     v.text, kFrom[v.code], v.amount);
  } else if (added == WakeUpCalls::kDuplicate) {
    t.log.LogMessage(Colour::kError, "Second ring for %s ignored - one per number: %s", v.text,
                     shown);
  } else {  // kRulesFull; the values were refused above already
    t.log.LogMessage(Colour::kError, "Ring list full (%d), ignoring %s", kRingRuleCapacity, shown);
  }
}

// HOURS=+number,days,hh:mm-hh:mm[;...], one per number; refused, the number stays on duty.
void ReadHours(ArgumentTurn& t) {
  char shown[61];
  PrintableCopy(t.argument, shown, sizeof shown);
  ParsedHours hours = ParseHours(t.Value());
  t.value.refused = hours.refused;
  char text[160];
  FormatSchedule(hours.schedule, text, sizeof text);
  DutyRoster::Outcome added =
      hours.refused ? DutyRoster::kFull : t.run.AddHours(hours.number, hours.schedule);
  if (hours.refused) {
    t.log.LogMessage(
        Colour::kError,
        "Bad hours %s - HOURS=+number,days,hh:mm-hh:mm[;days,hh:mm-hh:mm]: %s; ignored",
        HoursRefusalWords(hours.refused), shown);
  } else if (added == DutyRoster::kAdded) {
    t.log.LogMessage(Colour::kNormal, "Hours on duty of %s: %s", hours.number, text);
  } else if (added == DutyRoster::kDuplicate) {
    t.log.LogMessage(Colour::kError, "Second hours for %s ignored - one per number: %s",
                     hours.number, shown);
  } else {
    t.log.LogMessage(Colour::kError, "Hours list full (%d), ignoring %s", kDutyNumberCapacity,
                     shown);
  }
}

// HOLIDAYS=path, read at its turn: each date a Sunday; a line that is no date is said.
void ReadHolidays(ArgumentTurn& t) {
  struct Dates : HolidayLineSink {
    explicit Dates(ArgumentTurn& turn) : t(turn) {}
    void Take(int line, const char* text, bool cut) override {
      int32_t day = 0;
      HolidayLine read = cut ? HolidayLine::kBad : ReadHolidayLine(text, &day);
      if (read == HolidayLine::kDate && t.run.AddHoliday(day) != DutyRoster::kFull) return;
      char shown[41];
      PrintableCopy(text, shown, sizeof shown);
      if (read != HolidayLine::kEmpty)
        t.log.LogMessage(Colour::kError, "%s on line %d - YYYY-MM-DD: %s; skipped",
                         read == HolidayLine::kBad ? "Bad holiday" : "Holiday list full", line,
                         shown);
    }
    ArgumentTurn& t;
  } dates(t);
  if (t.reading != nullptr) return;
  if (!ReadHolidayFile(t.Value(), dates)) {
    t.log.LogMessage(Colour::kError, "Cannot read holidays file %.60s - no holidays", t.Value());
  } else {
    t.log.LogMessage(Colour::kNormal, "Holidays from %.60s, each a Sunday for HOURS=", t.Value());
  }
}

}  // namespace

const ArgumentRow kReplyRows[] = {
    {"REPLIES=", "replies", nullptr, ReadReplies},
    {"ESCALATE=", nullptr, nullptr, ReadEscalate},
    {"RING=", nullptr, nullptr, ReadRing},
    {"HOURS=", nullptr, nullptr, ReadHours},
    {"HOLIDAYS=", "holidays file", nullptr, ReadHolidays},
};
const ArgumentRows kReplyArguments = Rows(kReplyRows);

}  // namespace kelvor
