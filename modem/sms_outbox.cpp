#include "modem/sms_outbox.h"

#include <cstring>

namespace kelvor {

bool SafeForCommand(const char* number) {
  const char unsafe[] = {'"', '\r', '\n', kCtrlZ, kEscape, '\0'};
  return strpbrk(number, unsafe) == nullptr;
}

void PrintableCopy(const char* text, char* printable, size_t size) {
  size_t i = 0;
  for (; i + 1 < size && text[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    printable[i] = (c < 32 || c == 127 || c == '"') ? '?' : text[i];
  }
  if (size > 0) printable[i] = '\0';
}

}  // namespace kelvor
