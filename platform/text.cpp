#include "platform/text.h"

#include <cstring>

namespace kelvor {

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

char ShownByte(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return (byte < 32 || byte == 127) ? '?' : c;
}

size_t ReadDigits(const char* text, size_t length, uint64_t ceiling, uint64_t* value) {
  uint64_t number = 0;
  size_t count = 0;
  for (; count < length && IsDigit(text[count]); ++count) {
    uint64_t digit = static_cast<uint64_t>(text[count] - '0');
    number = number > (ceiling - digit) / 10 ? ceiling : number * 10 + digit;
  }
  *value = number;
  return count;
}

bool ReadNumber(const char* text, size_t length, size_t maxDigits, uint32_t* value) {
  uint64_t number = 0;
  if (length == 0 || length > maxDigits) return false;
  if (ReadDigits(text, length, UINT32_MAX, &number) != length) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

bool ReadInRange(const char* text, size_t length, uint32_t least, uint32_t most, uint32_t* value) {
  size_t digits = 1;
  for (uint32_t rest = most; rest >= 10; rest /= 10) ++digits;
  uint32_t number = 0;
  if (!ReadNumber(text, length, digits, &number) || number < least || number > most) return false;
  *value = number;
  return true;
}

bool ReadTenths(const char* text, size_t length, uint32_t most, uint32_t* tenths) {
  const void* point = memchr(text, '.', length);
  size_t whole =
      point != nullptr ? static_cast<size_t>(static_cast<const char*>(point) - text) : length;
  uint32_t units = 0, tenth = 0;
  if (!ReadInRange(text, whole, 0, most / 10, &units)) return false;
  if (point != nullptr && !ReadInRange(text + whole + 1, length - whole - 1, 0, 9, &tenth)) {
    return false;
  }
  if (units * 10 + tenth > most) return false;
  *tenths = units * 10 + tenth;
  return true;
}

int32_t ReadLeadingInteger(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  const uint64_t largest = negative ? uint64_t{INT32_MAX} + 1 : uint64_t{INT32_MAX};
  uint64_t magnitude = 0;
  ReadDigits(text, SIZE_MAX, largest, &magnitude);  // the NUL ends the digits
  return negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                  : static_cast<int32_t>(magnitude);
}

}  // namespace kelvor
