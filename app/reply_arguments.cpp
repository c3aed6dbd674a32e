// The phone answering back and who is on duty, each a row and its reader as in arguments.cpp:
// REPLIES=ON, ESCALATE= and RING= rules (any turns replies on), HOURS= and HOLIDAYS=.
#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "modem/phone_number.h"
#include "platform/text.h"
#include "routing/rule_fields.h"

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

// How a rule is written and refused, as ESCALATE= and RING= say it alike: its name, its form,
// its longest minutes and the refusal of a third field that is no number.
struct RuleForm {
  const char *name, *form;
  uint32_t longest;
  const char* third;
};
const RuleForm kEscalationForm = {"escalation", "ESCALATE=number,minutes,next",
                                  kLongestEscalationMinutes, nullptr};
const RuleForm kRingForm = {"ring", "RING=+number,minutes[,H|M|L]", kLongestRingMinutes,
                            "Bad ring priority - H, M or L"};

// Keeps a rule's values in the step (a number printable, cut), and says why they are refused;
// false when they are.
bool CheckRule(ArgumentTurn& t, const RuleFields& f, const RuleForm& form, const char* shown) {
  ArgumentValue& v = t.value;
  v.refused = f.refused;
  auto copy = f.refused == 0 ? BoundedCopy : PrintableCopy;  // a tab is a blank in a number
  if (f.refused != kBadRuleFields) copy(f.number, v.text, kNumberSize);
  if (f.refused == 0 || f.refused == 3) {
    v.amount = f.minutes;
    v.code = f.priority;
    copy(f.next, v.next, kNumberSize);
  }
  if (f.refused == kBadRuleFields) {
    t.log.LogMessage(Colour::kError, "Bad %s - %s: %s; ignored", form.name, form.form, shown);
  } else if (f.refused == 1 || (f.refused == 3 && form.third == nullptr)) {
    t.log.LogMessage(Colour::kError,
                     "Bad %s number %s - digits, blanks and a leading +, at most %d characters: "
                     "%s; ignored",
                     form.name, f.refused == 1 ? v.text : v.next, static_cast<int>(kNumberSize - 1),
                     shown);
  } else if (f.refused == 2) {
    t.log.LogMessage(Colour::kError, "Bad %s minutes - 1 to %u: %s; ignored", form.name,
                     form.longest, shown);
  } else if (f.refused == 3) {
    t.log.LogMessage(Colour::kError, "%s: %s; ignored", form.third, shown);
  }
  return f.refused == 0;
}

// A rule its list did not add: a second for its number, or one past the 31 a list holds.
void SayNotAdded(ArgumentTurn& t, bool second, const char* rule, const char* number,
                 const char* shown) {
  static_assert(kEscalationRuleCapacity == 31 && kRingRuleCapacity == 31, "as said");
  if (second) {
    return t.log.LogMessage(Colour::kError, "Second %s for %s ignored - one per number: %s", rule,
                            number, shown);
  }
  t.log.LogMessage(Colour::kError, "%c%s list full (%d), ignoring %s", Upper(rule[0]), rule + 1,
                   kDutyNumberCapacity, shown);
}

// ESCALATE=number,minutes,next, as often as given: each rule said as it is taken, or why it
// is refused; a refused one escalates nothing.
void ReadEscalate(ArgumentTurn& t) {
  char shown[61];  // the argument as the rule's line shows it: printable
  PrintableCopy(t.argument, shown, sizeof shown);
  if (!CheckRule(t, ReadEscalationFields(t.Value()), kEscalationForm, shown)) return;
  const ArgumentValue& v = t.value;
  Escalation::RuleOutcome added = t.run.AddEscalation(v.text, v.amount, v.next);
  if (added == Escalation::kSameNumber) {
    return t.log.LogMessage(Colour::kError, "Bad escalation - %s to itself: %s; ignored", v.text,
                            shown);
  }
  if (added != Escalation::kAdded) {  // kRulesFull: the values were refused above already
    return SayNotAdded(t, added == Escalation::kDuplicate, "escalation", v.text, shown);
  }
  t.log.LogMessage(Colour::kNormal, "Escalation: alarm SMS to %s not answered in %u min go to %s",
                   v.text, v.amount, v.next);
}

// RING=+number,minutes[,priority], as often as given; the priority H, M or L, L when not given.
void ReadRing(ArgumentTurn& t) {
  char shown[61];
  PrintableCopy(t.argument, shown, sizeof shown);
  if (!CheckRule(t, ReadRingFields(t.Value()), kRingForm, shown)) return;
  const ArgumentValue& v = t.value;
  static const char* const kFrom[] = {"high", "high and medium", "every"};
  WakeUpCalls::RuleOutcome added = t.run.AddRing(v.text, v.amount, v.code);
  if (added != WakeUpCalls::kAdded) {
    return SayNotAdded(t, added == WakeUpCalls::kDuplicate, "ring", v.text, shown);
  }
  t.log.LogMessage(Colour::kNormal,
                   "Wake-up call: %s is called when its alarm SMS (%s priority) have no "
                   "answer in %u min",
                   v.text, kFrom[v.code], v.amount);
}

// HOURS=+number,days,hh:mm-hh:mm[;...], one per number; refused, the number stays on duty.
void ReadHours(ArgumentTurn& t) {
  char shown[61], text[160];
  PrintableCopy(t.argument, shown, sizeof shown);
  ParsedHours hours = ParseHours(t.Value());
  FormatSchedule(hours.schedule, text, sizeof text);
  t.value.refused = hours.refused;
  if (hours.refused) {
    return t.log.LogMessage(Colour::kError, "Bad hours %s - %s: %s; always on duty",
                            HoursRefusalWords(hours.refused),
                            "HOURS=+number,days,hh:mm-hh:mm[;days,hh:mm-hh:mm]", shown);
  }
  DutyRoster::Outcome added = t.run.AddHours(hours.number, hours.schedule);
  if (added != DutyRoster::kAdded) {
    return SayNotAdded(t, added == DutyRoster::kDuplicate, "hours", hours.number, shown);
  }
  t.log.LogMessage(Colour::kNormal, "Hours on duty of %s: %s", hours.number, text);
}

// HOLIDAYS=path, read at its turn: each date a Sunday; a line that is no date is said.
void ReadHolidays(ArgumentTurn& t) {
  struct Dates : HolidayLineSink {
    explicit Dates(ArgumentTurn& turn) : t(turn) {}
    void Take(int line, HolidayLine read, int32_t day, const char* shown) override {
      if (read == HolidayLine::kDate && t.run.AddHoliday(day) != DutyRoster::kFull) return;
      t.log.LogMessage(Colour::kError, "%s on line %d - YYYY-MM-DD: %s; skipped",
                       read == HolidayLine::kBad ? "Bad holiday" : "Holiday list full", line,
                       shown);
    }
    ArgumentTurn& t;
  } dates(t);
  if (t.reading != nullptr) return;
  bool read = ReadHolidayFile(t.Value(), dates);
  t.log.LogMessage(read ? Colour::kNormal : Colour::kError, "%s %.60s",
                   read ? "Holidays, each a Sunday for HOURS=, from" : "No holidays: cannot read",
                   t.Value());
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
