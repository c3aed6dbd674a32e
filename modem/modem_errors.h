// The +CME and +CMS error numbers a site engineer must act on, in words, and what becomes
// of an SMS the phone refuses with one of them.
#pragma once

#include <cstdint>

namespace kelvor {

// Which kind of error line the number came in: "+CME ERROR:" (the phone and its SIM) or
// "+CMS ERROR:" (SMS). The two number their errors apart: 30 is not the same in both.
enum class ErrorKind { kPhone, kSms };

// What becomes of an SMS whose sending is refused with an error.
enum class Refusal {
  kCounts,        // one of its four sendings
  kWaitsNetwork,  // not counted; it waits until the phone is on the network again
  kWaitsPin,      // not counted; it waits until the SIM has its PIN
};

struct ErrorWords {
  const char* meaning;  // what the phone says, as "no network service"
  const char* action;   // what the engineer does about it
};

// The words for an error, or null when the number is none of those a site engineer must
// act on.
const ErrorWords* WordsForError(ErrorKind kind, int32_t code);
Refusal RefusalFor(ErrorKind kind, int32_t code);
// The SIM's errors: missing, wanting its PIN or PUK, failed, a wrong PIN.
bool IsSimError(ErrorKind kind, int32_t code);
// The network's (or the service centre's) answer about one SMS: a refusal that shows the
// radio works, which counts among that SMS's sendings and never finds the radio hung.
bool IsNetworkAnswer(ErrorKind kind, int32_t code);
// An error with no cause the program knows (none of the SIM's, the network's, a full memory
// or an unknown service centre, as +CMS ERROR: 500): one a radio that hangs gives.
bool IsRadioError(ErrorKind kind, int32_t code);

}  // namespace kelvor
