// The characters of a code page of one byte a character (Windows 1250, 1251, 1252...), as
// the system's own converter gives them: read once at start-up into a table, so that no text
// needs the converter afterwards.
#pragma once

#include <cstdint>

namespace kelvor {

// The Unicode character of each byte; 0 where the code page has none.
struct CodePageTable {
  uint16_t characters[256];
};

// Fills `table` for code page `number` (1252, 1250...); false, the table as ASCII (no
// character above 127), when the system cannot convert that code page or it takes more than
// one byte for a character.
bool ReadCodePage(uint32_t number, CodePageTable* table);

// The code page of the texts of this node: the ANSI code page on Windows, 1252 elsewhere.
uint32_t SystemCodePage();

}  // namespace kelvor
