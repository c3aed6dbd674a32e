// Small rules of text every layer shares: one upper-casing, one reader of decimal numbers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvor {

// 'a' to 'z' become 'A' to 'Z'; every other byte stays as it is, whatever the locale.
char Upper(char c);
bool IsDigit(char c);
// A byte as a console line shows a text from outside: a control byte (below 32, or DEL) as
// '?', so that no escape sequence reaches the console or a log file.
char ShownByte(char c);

// The one reader of decimal numbers: the run of digits that `text` begins with, within its
// first `length` bytes (a NUL ends it too). Returns how many digits there were; `value`
// receives their value, held at `ceiling` (at least 9) once it would pass it, so that no
// text overflows it.
size_t ReadDigits(const char* text, size_t length, uint64_t ceiling, uint64_t* value);

// A number written as digits alone, 1 to `maxDigits` of them and nothing else, as the
// program's own arguments, names and fields write one. False, `value` untouched, for any
// other text. A value beyond 32 bits is held at the largest one.
bool ReadNumber(const char* text, size_t length, size_t maxDigits, uint32_t* value);

// A number from `least` to `most` written as ReadNumber reads one, in at most as many digits
// as `most` has. False, `value` untouched, for any other text.
bool ReadInRange(const char* text, size_t length, uint32_t least, uint32_t most, uint32_t* value);

// A number in tenths: whole units as ReadInRange reads them, then at most one digit of
// tenths after a point ("0", "2.5", "60"), 0 to `most` tenths in all. False, `tenths`
// untouched, for any other text.
bool ReadTenths(const char* text, size_t length, uint32_t most, uint32_t* tenths);

// A number as atol reads it: leading white space skipped, an optional sign, then digits up
// to the first non-digit; no digits give 0. Values beyond 32 bits are held at the largest
// ones.
int32_t ReadLeadingInteger(const char* text);

}  // namespace kelvor
