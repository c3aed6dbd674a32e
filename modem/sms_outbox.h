// Where finished alarm batches are handed for sending, and the rules of what an SMS and
// its number may hold, which every layer that names a number checks.
#pragma once

#include <cstddef>

namespace kelvor {

// The most characters one SMS text carries.
constexpr size_t kSmsTextLimit = 159;
// A number an SMS goes to: at most 31 characters and a NUL.
constexpr size_t kNumberSize = 32;
// Ctrl-Z ends an SMS text at the modem's prompt; ESC abandons it.
constexpr char kCtrlZ = 26;
constexpr char kEscape = 27;

// True when `number` may go between the quotes of an AT command: no double quote, CR, LF,
// Ctrl-Z or ESC.
bool SafeForCommand(const char* number);
// True when `number` fits a number's field (at most 31 characters) and is safe for a command:
// the one test of a number every layer that takes one makes.
bool FitsCommand(const char* number);

// Copies `text` into `printable` (at most size-1 characters), any control character or
// quote shown as '?', so that a refused number can be named on the console.
void PrintableCopy(const char* text, char* printable, size_t size);

class SmsOutbox {
 public:
  virtual ~SmsOutbox() = default;
  // Queues an SMS; both texts are copied. False when it was refused.
  virtual bool QueueMessage(const char* text, const char* number) = 0;
  // True while no further SMS would be taken: a caller that can wait may offer it later.
  virtual bool Full() const = 0;
};

}  // namespace kelvor
