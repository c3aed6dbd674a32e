#include "modem/phone_number.h"

#include <cstring>

#include "platform/text.h"

namespace kelvor {
namespace {

const char* SkipBlanks(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  return text;
}

const char* SkipPlus(const char* text) {
  text = SkipBlanks(text);
  return *text == '+' ? text + 1 : text;
}

}  // namespace

bool SameNumber(const char* a, const char* b) {
  a = SkipPlus(a);
  b = SkipPlus(b);
  bool digits = false;
  for (;;) {
    a = SkipBlanks(a);
    b = SkipBlanks(b);
    if (*a == '\0' || *b == '\0') return *a == *b && digits;
    if (!IsDigit(*a) || *a != *b) return false;
    ++a;
    ++b;
    digits = true;
  }
}

int NumberList::Add(const char* number) {
  int found = IndexOf(number);
  if (found >= 0) return found;
  // Digits, blanks and a "+" only: a number on the list is safe in an AT command.
  if (count_ >= kCapacity || !IsPhoneNumber(number)) return -1;
  memcpy(numbers_[count_], number, strlen(number) + 1);
  return count_++;
}

int NumberList::IndexOf(const char* number) const {
  for (int i = 0; i < count_; ++i) {
    if (SameNumber(numbers_[i], number)) return i;
  }
  return -1;
}

}  // namespace kelvor
