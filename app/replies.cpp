#include "app/replies.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "modem/phone_number.h"
#include "platform/text.h"
#include "routing/escalation.h"

namespace kelvor {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Copies the field [begin, end) into `to`; false when it does not fit or is no number.
bool TakeNumber(const char* begin, const char* end, char* to) {
  size_t length = static_cast<size_t>(end - begin);
  snprintf(to, kNumberSize, "%.*s", static_cast<int>(length), begin);
  if (length < kNumberSize && IsPhoneNumber(to)) return true;
  PrintableCopy(to, to, kNumberSize);
  return false;
}

// A whole number from 1 to 1440, digits only; 0 when the field is anything else.
uint32_t TakeMinutes(const char* begin, const char* end) {
  uint32_t value = 0;
  if (!ReadNumber(begin, static_cast<size_t>(end - begin), 4, &value)) return 0;
  return value <= kLongestEscalationMinutes ? value : 0;
}

}  // namespace

EscalateArgument ParseEscalateArgument(const char* argument) {
  EscalateArgument read;
  const char* number = argument + strlen("ESCALATE=");
  const char* first = strchr(number, ',');
  const char* second = first != nullptr ? strchr(first + 1, ',') : nullptr;
  if (second == nullptr || strchr(second + 1, ',') != nullptr) return read;  // kBadFields
  const char* end = second + 1 + strlen(second + 1);
  if (!TakeNumber(number, first, read.number)) {
    read.outcome = EscalateArgument::kBadNumber;
  } else if ((read.minutes = TakeMinutes(first + 1, second)) == 0) {
    read.outcome = EscalateArgument::kBadMinutes;
  } else if (!TakeNumber(second + 1, end, read.next)) {
    read.outcome = EscalateArgument::kBadNext;
  } else {
    read.outcome = EscalateArgument::kFine;
  }
  return read;
}

bool IsStatusRequest(const char* text, bool cut) {
  if (cut) return false;
  while (IsBlank(*text)) ++text;
  size_t length = strlen(text);
  while (length > 0 && IsBlank(text[length - 1])) --length;
  for (const char* word : {"S", "STATUS"}) {
    if (length != strlen(word)) continue;
    size_t i = 0;
    while (i < length && Upper(text[i]) == word[i]) ++i;
    if (i == length) return true;
  }
  return false;
}

void FormatStatusAnswer(int signal, int waiting, int32_t lastError, uint32_t alarmsRead, char* text,
                        size_t size) {
  snprintf(text, size,
           "Kelvor status. Signal %d%%, SMS waiting %d, last error %ld, alarms read %lu since "
           "start.",
           signal, waiting, static_cast<long>(lastError), static_cast<unsigned long>(alarmsRead));
}

bool StatusAnswerRate::Allow(const char* number, uint32_t now) {
  Pass(now);
  Answered* free = nullptr;
  for (Answered& answered : answered_) {
    if (answered.used && SameNumber(answered.number, number)) return false;
    if (!answered.used && free == nullptr) free = &answered;
  }
  if (free == nullptr || strlen(number) >= kNumberSize) return false;
  free->used = true;
  free->at = now;
  memcpy(free->number, number, strlen(number) + 1);
  return true;
}

void StatusAnswerRate::Pass(uint32_t now) {
  for (Answered& answered : answered_) {
    if (answered.used && now - answered.at >= kGap) answered.used = false;
  }
}

}  // namespace kelvor
