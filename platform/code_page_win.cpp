#include <windows.h>

#include "platform/code_page.h"

namespace kelvor {

bool ReadCodePage(uint32_t number, CodePageTable* table) {
  for (int byte = 0; byte < 256; ++byte) {
    table->characters[byte] = static_cast<uint16_t>(byte < 128 ? byte : 0);
  }
  CPINFO info;
  if (!GetCPInfo(number, &info) || info.MaxCharSize != 1) return false;
  for (int byte = 0; byte < 256; ++byte) {
    char in = static_cast<char>(byte);
    WCHAR out = 0;
    bool one = MultiByteToWideChar(number, MB_ERR_INVALID_CHARS, &in, 1, &out, 1) == 1;
    table->characters[byte] = one ? static_cast<uint16_t>(out) : 0;
  }
  return true;
}

uint32_t SystemCodePage() {
  return GetACP();
}

}  // namespace kelvor
