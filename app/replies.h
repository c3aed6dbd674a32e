// The phone answering back, as the application sees it: the ESCALATE= argument, which
// messages are status requests, the status answer and how often a number may have one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modem/sms_outbox.h"

namespace kelvor {

// An ESCALATE=number,minutes,next argument.
struct EscalateArgument {
  enum Outcome { kFine, kBadNumber, kBadMinutes, kBadNext, kBadFields };
  Outcome outcome = kBadFields;
  // As the argument gives them, cut to fit; shown with control bytes and quotes as '?'
  // when refused.
  char number[kNumberSize] = {};
  uint32_t minutes = 0;
  char next[kNumberSize] = {};
};

// Reads the argument, which begins with "ESCALATE=": exactly three fields; each number a
// phone number (digits, a leading "+" and blanks) of at most 31 characters, the minutes a
// whole number from 1 to 1440.
EscalateArgument ParseEscalateArgument(const char* argument);

// "S" or "STATUS", in any case, blanks around it ignored: a status request, never an
// acknowledgement. A text the reader had to cut is longer than either: pass `cut` as it said.
bool IsStatusRequest(const char* text, bool cut);

// "Kelvor status. Signal 48%, SMS waiting 0, last error 0, alarms read 12 since start.":
// digits and plain words only, within 159 characters.
void FormatStatusAnswer(int signal, int waiting, int32_t lastError, uint32_t alarmsRead, char* text,
                        size_t size);

// At most one status answer per number per minute, for up to 32 numbers answered in the
// same minute; a 33rd waits for a place.
class StatusAnswerRate {
 public:
  static constexpr int kCapacity = 32;
  static constexpr uint32_t kGap = 60000;  // ms

  // True, and counted as answered now, when `number` may have an answer at `now`.
  bool Allow(const char* number, uint32_t now);
  // Once a pass: forgets answers a minute old, so none ages past the tick's wrap.
  void Pass(uint32_t now);

 private:
  struct Answered {
    bool used;
    uint32_t at;
    char number[kNumberSize];
  };
  Answered answered_[kCapacity] = {};
};

}  // namespace kelvor
