// The fields of an ESCALATE= or RING= rule as its argument writes them, read and checked here
// beside the rules; the command line's reader says what is refused.
#pragma once

#include <cstdint>

#include "routing/escalation.h"
#include "routing/wake_up_calls.h"

namespace kelvor {

constexpr int kBadRuleFields = 4;  // the wrong count of fields

// `refused` 0 when fine, else as the rule's check refuses it (1 the number, 2 the minutes, 3
// the next or the priority) or kBadRuleFields. A number is kept one character longer than a
// number's field, so that a long one is no number.
struct RuleFields {
  int refused = 0;
  char number[kNumberSize + 1] = {};
  uint32_t minutes = 0;  // digits alone, at most four; else 0
  char next[kNumberSize + 1] = {};
  int priority = -1;  // 0 H to 2 L, L when not given; -1 for another letter
};

// "number,minutes,next": exactly three fields, checked as CheckRuleValues checks them.
RuleFields ReadEscalationFields(const char* text);
// "+number,minutes[,H|M|L]", the letter in any case: checked as CheckRingValues checks them.
RuleFields ReadRingFields(const char* text);

}  // namespace kelvor
