// The arguments of the phone answering back, each in one row as in arguments.cpp (its
// reader beside its take): REPLIES=ON, the escalation's rules (ESCALATE=) and the wake-up
// calls' (RING=). Any rule taken turns the reading of replies on, as REPLIES=ON does.
#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "modem/phone_number.h"
#include "platform/text.h"

namespace kelvor {
namespace {

// --- REPLIES=ON --------------------------------------------------------------------------

void ReadReplies(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument);
  const char* value = argument + strlen(row.text);
  c.replies.emplace().on = Upper(value[0]) == 'O' && Upper(value[1]) == 'N' && value[2] == '\0';
}

// Replies taken are said once all arguments are in, with the numbers heard.
void TakeReplies(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup& run) {
  if (c.replies->on) {
    run.TurnOnReplies();
    return;
  }
  log.LogMessage(Colour::kError, "Bad replies argument - REPLIES=ON turns them on: %.60s; ignored",
                 step.argument);
}

// --- ESCALATE=number,minutes,next, as often as given -----------------------------------

// Splits the three fields and keeps what the rule says of their values; a refused number
// is kept as far as it fits, printable, for its line.
EscalateArgument ParseEscalate(const char* fields) {
  EscalateArgument read;
  const char* first = strchr(fields, ',');
  const char* second = first != nullptr ? strchr(first + 1, ',') : nullptr;
  if (second == nullptr || strchr(second + 1, ',') != nullptr) return read;  // kBadFields
  char number[kNumberSize + 1];
  char next[kNumberSize + 1];
  CopyNumberField(fields, first, number);
  CopyNumberField(second + 1, second + 1 + strlen(second + 1), next);
  uint32_t minutes = 0;  // digits alone, no more of them than 1440 has; 0 when not
  ReadNumber(first + 1, static_cast<size_t>(second - first - 1), 4, &minutes);
  static_assert(kLongestEscalationMinutes < 10000, "four digits of minutes");
  switch (CheckRuleValues(number, minutes, next)) {
    case RuleValues::kBadNumber:
      read.outcome = EscalateArgument::kBadNumber;
      PrintableCopy(number, read.number, sizeof read.number);
      return read;
    case RuleValues::kBadMinutes:
      read.outcome = EscalateArgument::kBadMinutes;
      break;
    case RuleValues::kBadNext:
      read.outcome = EscalateArgument::kBadNext;
      read.minutes = minutes;
      PrintableCopy(next, read.next, sizeof read.next);
      break;
    case RuleValues::kFine:
      read.outcome = EscalateArgument::kFine;
      read.minutes = minutes;
      memcpy(read.next, next, strlen(next) + 1);
      break;
  }
  memcpy(read.number, number, strlen(number) + 1);
  return read;
}

void ReadEscalate(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument, c.escalations.Count());
  c.escalations.Add() = ParseEscalate(argument + strlen(row.text));
}

void SayBadEscalation(const EscalateArgument& read, const char* shown, Log& log) {
  switch (read.outcome) {
    case EscalateArgument::kBadMinutes:
      log.LogMessage(Colour::kError, "Bad escalation minutes - 1 to %u: %s; ignored",
                     static_cast<unsigned>(kLongestEscalationMinutes), shown);
      break;
    case EscalateArgument::kBadNumber:
    case EscalateArgument::kBadNext:
      log.LogMessage(Colour::kError,
                     "Bad escalation number %s - digits, blanks and a leading +, at most %d "
                     "characters: %s; ignored",
                     read.outcome == EscalateArgument::kBadNumber ? read.number : read.next,
                     static_cast<int>(kNumberSize - 1), shown);
      break;
    default:
      log.LogMessage(Colour::kError, "Bad escalation - ESCALATE=number,minutes,next: %s; ignored",
                     shown);
      break;
  }
}

// Each rule is said as it is taken, or why it is refused; a refused one escalates nothing.
// The argument shows only in printable characters.
void TakeEscalate(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup& run) {
  const EscalateArgument& read = c.escalations[step.index];
  char shown[61];
  PrintableCopy(step.argument, shown, sizeof shown);
  if (read.outcome != EscalateArgument::kFine) {
    SayBadEscalation(read, shown, log);
    return;
  }
  switch (run.AddEscalation(read.number, read.minutes, read.next)) {
    case Escalation::kAdded:
      log.LogMessage(Colour::kNormal, "Escalation: alarm SMS to %s not answered in %u min go to %s",
                     read.number, static_cast<unsigned>(read.minutes), read.next);
      break;
    case Escalation::kSameNumber:
      log.LogMessage(Colour::kError, "Bad escalation - %s to itself: %s; ignored", read.number,
                     shown);
      break;
    case Escalation::kDuplicate:
      log.LogMessage(Colour::kError, "Second escalation for %s ignored - one per number: %s",
                     read.number, shown);
      break;
    default:  // kRulesFull; the values were refused above already
      log.LogMessage(Colour::kError, "Escalation list full (%d), ignoring %s",
                     kEscalationRuleCapacity, shown);
      break;
  }
}

// --- RING=+number,minutes[,priority], as often as given ----------------------------------

// The priority letter, H, M or L in any case, as a code (0 high); -1 for anything else.
int PriorityLetter(const char* text) {
  if (text[0] == '\0' || text[1] != '\0') return -1;
  const char* found = strchr("HML", Upper(text[0]));
  return found != nullptr && *found != '\0' ? static_cast<int>(found - "HML") : -1;
}

// Two or three fields; without the third every alarm SMS rings (L). A refused number is kept
// as far as it fits, printable, for its line.
RingArgument ParseRing(const char* fields) {
  RingArgument read;
  const char* first = strchr(fields, ',');
  if (first == nullptr) return read;  // kBadFields
  const char* second = strchr(first + 1, ',');
  if (second != nullptr && strchr(second + 1, ',') != nullptr) return read;
  const char* minutesEnd = second != nullptr ? second : first + 1 + strlen(first + 1);
  char number[kNumberSize + 1];
  CopyNumberField(fields, first, number);
  ReadNumber(first + 1, static_cast<size_t>(minutesEnd - first - 1), 4, &read.minutes);
  static_assert(kLongestRingMinutes < 10000, "four digits of minutes");
  read.priority = second != nullptr ? PriorityLetter(second + 1) : 2;
  switch (CheckRingValues(number, read.minutes, read.priority)) {
    case RingValues::kBadNumber:
      read.outcome = RingArgument::kBadNumber;
      PrintableCopy(number, read.number, sizeof read.number);
      return read;
    case RingValues::kBadMinutes:
      read.outcome = RingArgument::kBadMinutes;
      break;
    case RingValues::kBadPriority:
      read.outcome = RingArgument::kBadPriority;
      break;
    case RingValues::kFine:
      read.outcome = RingArgument::kFine;
      break;
  }
  memcpy(read.number, number, strlen(number) + 1);
  return read;
}

void ReadRing(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument, c.rings.Count());
  c.rings.Add() = ParseRing(argument + strlen(row.text));
}

void SayBadRing(const RingArgument& read, const char* shown, Log& log) {
  switch (read.outcome) {
    case RingArgument::kBadMinutes:
      log.LogMessage(Colour::kError, "Bad ring minutes - 1 to %u: %s; ignored",
                     static_cast<unsigned>(kLongestRingMinutes), shown);
      break;
    case RingArgument::kBadNumber:
      log.LogMessage(Colour::kError,
                     "Bad ring number %s - digits, blanks and a leading +, at most %d "
                     "characters: %s; ignored",
                     read.number, static_cast<int>(kNumberSize - 1), shown);
      break;
    case RingArgument::kBadPriority:
      log.LogMessage(Colour::kError, "Bad ring priority - H, M or L: %s; ignored", shown);
      break;
    default:
      log.LogMessage(Colour::kError, "Bad ring - RING=+number,minutes[,H|M|L]: %s; ignored", shown);
      break;
  }
}

// Each rule is said as it is taken, or why it is refused. The argument shows only in
// printable characters.
void TakeRing(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup& run) {
  const RingArgument& read = c.rings[step.index];
  char shown[61];
  PrintableCopy(step.argument, shown, sizeof shown);
  if (read.outcome != RingArgument::kFine) {
    SayBadRing(read, shown, log);
    return;
  }
  static const char* const kFrom[] = {"high", "high and medium", "every"};
  switch (run.AddRing(read.number, read.minutes, read.priority)) {
    case WakeUpCalls::kAdded:
      log.LogMessage(Colour::kNormal,
                     "Wake-up call: %s is called when its alarm SMS (%s priority) have no "
                     "answer in %u min",
                     read.number, kFrom[read.priority], static_cast<unsigned>(read.minutes));
      break;
    case WakeUpCalls::kDuplicate:
      log.LogMessage(Colour::kError, "Second ring for %s ignored - one per number: %s", read.number,
                     shown);
      break;
    default:  // kRulesFull; the values were refused above already
      log.LogMessage(Colour::kError, "Ring list full (%d), ignoring %s", kRingRuleCapacity, shown);
      break;
  }
}

}  // namespace

const ArgumentRow kRepliesArgument = {"REPLIES=", "replies", nullptr, ReadReplies, TakeReplies};
const ArgumentRow kEscalateArgument = {"ESCALATE=", nullptr, nullptr, ReadEscalate, TakeEscalate};
const ArgumentRow kRingArgument = {"RING=", nullptr, nullptr, ReadRing, TakeRing};

}  // namespace kelvor
