// The GSM 7-bit default alphabet and its extension table, the characters every handset
// shows from an SMS of 7-bit data coding.
#pragma once

#include <cstdint>

namespace kelvor {

constexpr uint8_t kGsmNone = 0xFF;       // no code: the character is not in the alphabet
constexpr uint8_t kGsmExtension = 0x1B;  // the escape to the extension table

// The alphabet's code of `character` (a Unicode character of the first plane), or kGsmNone.
uint8_t GsmCode(uint16_t character);
// The extension table's code of `character` (^ { } \ [ ~ ] | and the euro), or kGsmNone;
// it takes two of an SMS's 160 septets, the escape and this code.
uint8_t GsmExtensionCode(uint16_t character);
// Septets `character` takes: 1 in the alphabet, 2 in the extension table, 0 in neither.
int GsmSeptets(uint16_t character);

}  // namespace kelvor
