#include "modem/sms_outbox.h"

#include <cstring>

#include "platform/text.h"

namespace kelvor {

bool SafeForCommand(const char* number) {
  const char unsafe[] = {'"', '\r', '\n', kCtrlZ, kEscape, '\0'};
  return strpbrk(number, unsafe) == nullptr;
}

bool FitsCommand(const char* number) {
  return strnlen(number, kNumberSize) < kNumberSize && SafeForCommand(number);
}

bool SmsOutbox::FitsOneSms(const char* text) const {
  return strnlen(text, kSmsTextLimit + 1) <= kSmsTextLimit;
}

void PrintableCopy(const char* text, char* printable, size_t size) {
  size_t i = 0;
  for (; i + 1 < size && text[i] != '\0'; ++i) {
    printable[i] = text[i] == '"' ? '?' : ShownByte(text[i]);
  }
  if (size > 0) printable[i] = '\0';
}

void BoundedCopy(const char* text, char* to, size_t size) {
  if (size == 0) return;
  size_t length = strnlen(text, size - 1);
  memcpy(to, text, length);
  to[length] = '\0';
}

}  // namespace kelvor
