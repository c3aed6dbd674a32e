#include "routing/rule_fields.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace kelvor {
namespace {

static_assert(kLongestEscalationMinutes < 10000 && kLongestRingMinutes < 10000, "four digits");

void CopyField(const char* begin, const char* end, char (&to)[kNumberSize + 1]) {
  snprintf(to, sizeof to, "%.*s", static_cast<int>(end - begin), begin);
}

// The number and the minutes before `end`; the first and second commas, or null.
void ReadFirstFields(const char* text, const char* end, RuleFields* fields, const char** first,
                     const char** second) {
  *first = strchr(text, ',');
  *second = *first != nullptr ? strchr(*first + 1, ',') : nullptr;
  if (*first == nullptr) return;
  const char* minutesEnd = *second != nullptr ? *second : end;
  CopyField(text, *first, fields->number);
  ReadNumber(*first + 1, static_cast<size_t>(minutesEnd - *first - 1), 4, &fields->minutes);
}

int PriorityLetter(const char* text) {
  if (text[0] == '\0' || text[1] != '\0') return -1;
  const char* found = strchr("HML", Upper(text[0]));
  return found != nullptr && *found != '\0' ? static_cast<int>(found - "HML") : -1;
}

}  // namespace

RuleFields ReadEscalationFields(const char* text) {
  RuleFields fields;
  const char* end = text + strlen(text);
  const char *first, *second;
  ReadFirstFields(text, end, &fields, &first, &second);
  if (second == nullptr || strchr(second + 1, ',') != nullptr) {
    fields = RuleFields{};
    fields.refused = kBadRuleFields;
    return fields;
  }
  CopyField(second + 1, end, fields.next);
  fields.refused = static_cast<int>(CheckRuleValues(fields.number, fields.minutes, fields.next));
  return fields;
}

RuleFields ReadRingFields(const char* text) {
  RuleFields fields;
  const char* end = text + strlen(text);
  const char *first, *second;
  ReadFirstFields(text, end, &fields, &first, &second);
  if (first == nullptr || (second != nullptr && strchr(second + 1, ',') != nullptr)) {
    fields = RuleFields{};
    fields.refused = kBadRuleFields;
    return fields;
  }
  fields.priority = second != nullptr ? PriorityLetter(second + 1) : 2;
  fields.refused =
      static_cast<int>(CheckRingValues(fields.number, fields.minutes, fields.priority));
  return fields;
}

}  // namespace kelvor
