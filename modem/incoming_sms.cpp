#include "modem/incoming_sms.h"

#include "platform/text.h"

namespace kelvor {

void PrintableExcerpt(const char* text, char* excerpt, size_t size) {
  if (size == 0) return;
  size_t i = 0;
  for (; i + 1 < size && i + 1 < kExcerptSize && text[i] != '\0'; ++i) {
    bool ascii = static_cast<unsigned char>(text[i]) < 128;
    excerpt[i] = ascii ? ShownByte(text[i]) : '?';
  }
  excerpt[i] = '\0';
}

}  // namespace kelvor
