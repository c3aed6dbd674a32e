// The arguments of the phone answering back, each a row and its reader as in arguments.cpp:
// REPLIES=ON, the escalation's rules (ESCALATE=) and the wake-up
// calls' (RING=). Any rule taken turns the reading of replies on, as REPLIES=ON does.
#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "modem/phone_number.h"
#include "platform/text.h"

namespace kelvor {
namespace {

// --- REPLIES=ON --------------------------------------------------------------------------

// ON in any case; anything else is refused (1). Replies taken are said once all arguments
// are in, with the numbers heard.
void ReadReplies(ArgumentTurn& t) {
  const char* value = t.Value();
  t.value.refused = !(Upper(value[0]) == 'O' && Upper(value[1]) == 'N' && value[2] == '\0');
  if (t.value.refused == 0) {
    t.run.TurnOnReplies();
    return;
  }
  t.log.LogMessage(Colour::kError,
                   "Bad replies argument - REPLIES=ON turns them on: %.60s; ignored", t.argument);
}

// --- ESCALATE=number,minutes,next, as often as given -----------------------------------
// Exactly three fields, kept as text, amount and next, as the escalation's rule takes them
// (CheckRuleValues). A refused number is kept as far as it fits, printable, for its line.

enum Refusal { kBadNumber = 1, kBadMinutes, kBadNext, kBadPriority, kBadFields };

int ParseEscalate(const char* fields, ArgumentValue& v) {
  const char* first = strchr(fields, ',');
  const char* second = first != nullptr ? strchr(first + 1, ',') : nullptr;
  if (second == nullptr || strchr(second + 1, ',') != nullptr) return kBadFields;
  char number[kNumberSize + 1];
  char next[kNumberSize + 1];
  CopyNumberField(fields, first, number);
  CopyNumberField(second + 1, second + 1 + strlen(second + 1), next);
  uint32_t minutes = 0;  // digits alone, no more of them than 1440 has; 0 when not
  ReadNumber(first + 1, static_cast<size_t>(second - first - 1), 4, &minutes);
  static_assert(kLongestEscalationMinutes < 10000, "four digits of minutes");
  RuleValues checked = CheckRuleValues(number, minutes, next);
  if (checked == RuleValues::kBadNumber) {
    PrintableCopy(number, v.text, kNumberSize);
    return kBadNumber;
  }
  memcpy(v.text, number, strlen(number) + 1);
  if (checked == RuleValues::kBadMinutes) return kBadMinutes;
  v.amount = minutes;
  PrintableCopy(next, v.next, sizeof v.next);  // as given when fine
  return checked == RuleValues::kBadNext ? kBadNext : 0;
}

void SayBadEscalation(const ArgumentValue& v, const char* shown, Log& log) {
  if (v.refused == kBadMinutes) {
    log.LogMessage(Colour::kError, "Bad escalation minutes - 1 to %u: %s; ignored",
                   static_cast<unsigned>(kLongestEscalationMinutes), shown);
  } else if (v.refused == kBadNumber || v.refused == kBadNext) {
    log.LogMessage(Colour::kError,
                   "Bad escalation number %s - digits, blanks and a leading +, at most %d "
                   "characters: %s; ignored",
                   v.refused == kBadNumber ? v.text : v.next, static_cast<int>(kNumberSize - 1),
                   shown);
  } else {
    log.LogMessage(Colour::kError, "Bad escalation - ESCALATE=number,minutes,next: %s; ignored",
                   shown);
  }
}

// Each rule is said as it is taken, or why it is refused; a refused one escalates nothing.
// The argument shows only in printable characters.
void ReadEscalate(ArgumentTurn& t) {
  const ArgumentValue& v = t.value;
  t.value.refused = ParseEscalate(t.Value(), t.value);
  char shown[61];
  PrintableCopy(t.argument, shown, sizeof shown);
  if (v.refused != 0) return SayBadEscalation(v, shown, t.log);
  switch (t.run.AddEscalation(v.text, v.amount, v.next)) {
    case Escalation::kAdded:
      t.log.LogMessage(Colour::kNormal,
                       "Escalation: alarm SMS to %s not answered in %u min go to %s", v.text,
                       static_cast<unsigned>(v.amount), v.next);
      break;
    case Escalation::kSameNumber:
      t.log.LogMessage(Colour::kError, "Bad escalation - %s to itself: %s; ignored", v.text, shown);
      break;
    case Escalation::kDuplicate:
      t.log.LogMessage(Colour::kError, "Second escalation for %s ignored - one per number: %s",
                       v.text, shown);
      break;
    default:  // kRulesFull; the values were refused above already
      t.log.LogMessage(Colour::kError, "Escalation list full (%d), ignoring %s",
                       kEscalationRuleCapacity, shown);
      break;
  }
}

// --- RING=+number,minutes[,priority], as often as given ----------------------------------
// Two or three fields, kept as text, amount and code, as the wake-up calls' rule takes them
// (CheckRingValues); the priority H, M or L (code 0 high), L when not given.

// The priority letter, H, M or L in any case, as a code (0 high); -1 for anything else.
int PriorityLetter(const char* text) {
  if (text[0] == '\0' || text[1] != '\0') return -1;
  const char* found = strchr("HML", Upper(text[0]));
  return found != nullptr && *found != '\0' ? static_cast<int>(found - "HML") : -1;
}

// A refused number is kept as far as it fits, printable, for its line.
int ParseRing(const char* fields, ArgumentValue& v) {
  v.code = -1;
  const char* first = strchr(fields, ',');
  if (first == nullptr) return kBadFields;
  const char* second = strchr(first + 1, ',');
  if (second != nullptr && strchr(second + 1, ',') != nullptr) return kBadFields;
  const char* minutesEnd = second != nullptr ? second : first + 1 + strlen(first + 1);
  char number[kNumberSize + 1];
  CopyNumberField(fields, first, number);
  ReadNumber(first + 1, static_cast<size_t>(minutesEnd - first - 1), 4, &v.amount);
  static_assert(kLongestRingMinutes < 10000, "four digits of minutes");
  v.code = second != nullptr ? PriorityLetter(second + 1) : 2;
  RingValues checked = CheckRingValues(number, v.amount, v.code);
  if (checked == RingValues::kBadNumber) {
    PrintableCopy(number, v.text, kNumberSize);
    return kBadNumber;
  }
  memcpy(v.text, number, strlen(number) + 1);
  return checked == RingValues::kBadMinutes    ? kBadMinutes
         : checked == RingValues::kBadPriority ? kBadPriority
                                               : 0;
}

void SayBadRing(const ArgumentValue& v, const char* shown, Log& log) {
  if (v.refused == kBadMinutes) {
    log.LogMessage(Colour::kError, "Bad ring minutes - 1 to %u: %s; ignored",
                   static_cast<unsigned>(kLongestRingMinutes), shown);
  } else if (v.refused == kBadNumber) {
    log.LogMessage(Colour::kError,
                   "Bad ring number %s - digits, blanks and a leading +, at most %d "
                   "characters: %s; ignored",
                   v.text, static_cast<int>(kNumberSize - 1), shown);
  } else if (v.refused == kBadPriority) {
    log.LogMessage(Colour::kError, "Bad ring priority - H, M or L: %s; ignored", shown);
  } else {
    log.LogMessage(Colour::kError, "Bad ring - RING=+number,minutes[,H|M|L]: %s; ignored", shown);
  }
}

// Each rule is said as it is taken, or why it is refused. The argument shows only in
// printable characters.
void ReadRing(ArgumentTurn& t) {
  const ArgumentValue& v = t.value;
  t.value.refused = ParseRing(t.Value(), t.value);
  char shown[61];
  PrintableCopy(t.argument, shown, sizeof shown);
  if (v.refused != 0) return SayBadRing(v, shown, t.log);
  static const char* const kFrom[] = {"high", "high and medium", "every"};
  switch (t.run.AddRing(v.text, v.amount, v.code)) {
    case WakeUpCalls::kAdded:
      t.log.LogMessage(Colour::kNormal,
                       "Wake-up call: %s is called when its alarm SMS (%s priority) have no "
                       "answer in %u min",
                       v.text, kFrom[v.code], static_cast<unsigned>(v.amount));
      break;
    case WakeUpCalls::kDuplicate:
      t.log.LogMessage(Colour::kError, "Second ring for %s ignored - one per number: %s", v.text,
                       shown);
      break;
    default:  // kRulesFull; the values were refused above already
      t.log.LogMessage(Colour::kError, "Ring list full (%d), ignoring %s", kRingRuleCapacity,
                       shown);
      break;
  }
}

}  // namespace

const ArgumentRow kReplyRows[] = {
    {"REPLIES=", "replies", nullptr, ReadReplies},
    {"ESCALATE=", nullptr, nullptr, ReadEscalate},
    {"RING=", nullptr, nullptr, ReadRing},
};
const ArgumentRows kReplyArguments = {kReplyRows, sizeof kReplyRows / sizeof kReplyRows[0]};

}  // namespace kelvor
