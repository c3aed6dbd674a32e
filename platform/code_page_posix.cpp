#include <errno.h>
#include <iconv.h>

#include <cstdio>

#include "platform/code_page.h"

namespace kelvor {
namespace {

// iconv knows the Windows code pages as "CP1252", the ISO 8859 parts by their own names.
void ConverterName(uint32_t number, char* name, size_t size) {
  if (number >= 28591 && number <= 28599) {
    snprintf(name, size, "ISO-8859-%u", static_cast<unsigned>(number - 28590));
  } else if (number == 28603 || number == 28605) {
    snprintf(name, size, "ISO-8859-%u", static_cast<unsigned>(number - 28590));
  } else if (number == 20127) {
    snprintf(name, size, "ASCII");
  } else {
    snprintf(name, size, "CP%u", static_cast<unsigned>(number));
  }
}

void AsAscii(CodePageTable* table) {
  for (int byte = 0; byte < 256; ++byte) {
    table->characters[byte] = static_cast<uint16_t>(byte < 128 ? byte : 0);
  }
}

// One byte through the converter: its character, 0 for none; false when the byte only
// begins a character of several bytes.
bool Convert(iconv_t converter, unsigned char byte, uint16_t* character) {
  char in[1] = {static_cast<char>(byte)};
  unsigned char out[4] = {};
  char* from = in;
  char* to = reinterpret_cast<char*>(out);
  size_t inLeft = 1;
  size_t outLeft = sizeof out;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  size_t done = iconv(converter, &from, &inLeft, &to, &outLeft);
  if (done == static_cast<size_t>(-1)) {
    *character = 0;
    return errno != EINVAL;
  }
  // Two bytes, little-endian, for a character of the first plane; a pair of surrogates is
  // no character an SMS of this program carries.
  *character = sizeof out - outLeft == 2 ? static_cast<uint16_t>(out[0] | out[1] << 8) : 0;
  return true;
}

}  // namespace

bool ReadCodePage(uint32_t number, CodePageTable* table) {
  AsAscii(table);
  char name[24];
  ConverterName(number, name, sizeof name);
  iconv_t converter = iconv_open("UTF-16LE", name);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  CodePageTable read;
  bool single = true;
  for (int byte = 0; byte < 256 && single; ++byte) {
    single = Convert(converter, static_cast<unsigned char>(byte), &read.characters[byte]);
  }
  iconv_close(converter);
  if (single) *table = read;
  return single;
}

uint32_t SystemCodePage() {
  return 1252;
}

}  // namespace kelvor
