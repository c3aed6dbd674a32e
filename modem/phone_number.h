// Phone numbers as people write them and as phones report them: when two are the same, and
// a short list of the numbers Kelvor knows.
#pragma once

#include "modem/sms_outbox.h"

namespace kelvor {

// Two numbers are the same when their digits are, a leading "+" and blanks (spaces, tabs)
// aside: "+49 171 2345" is "+491712345" and "491712345". Anything else in either (a letter,
// a dash, a "+" further in) makes it no phone number, and a text with no digit is none
// either: such a text is the same as nothing, not even itself. "0171..." and "+49171..."
// differ: a phone reports senders in international form, so numbers are written that way.
bool SameNumber(const char* a, const char* b);

// True when `number` is a phone number by that rule that fits a number's field: such a
// number is safe in an AT command too.
inline bool IsPhoneNumber(const char* number) {
  return SameNumber(number, number) && FitsCommand(number);
}

// Up to 128 phone numbers, each kept as first written and held once: enough for every
// destination, the heartbeat, both numbers of every escalation rule and the number of every
// wake-up call rule.
class NumberList {
 public:
  static constexpr int kCapacity = 128;

  // The index of `number`, added if the list does not hold the same number yet; -1 when it
  // is no phone number, is too long to be one Kelvor sends to, or the list is full.
  int Add(const char* number);
  // The index of the number the same as `number`, or -1.
  int IndexOf(const char* number) const;
  // The number as it was added; `index` below Count().
  const char* At(int index) const { return numbers_[index]; }
  int Count() const { return count_; }

 private:
  char numbers_[kCapacity][kNumberSize] = {};
  int count_ = 0;
};

}  // namespace kelvor
