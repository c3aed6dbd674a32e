// The SIM's PIN: what Kelvor takes as one.
#pragma once

#include <cstddef>

namespace kelvor {

constexpr size_t kShortestPin = 4;  // digits of a SIM's PIN
constexpr size_t kLongestPin = 8;

// True when `text` is a PIN: 4 to 8 digits and nothing else.
bool IsPin(const char* text);

}  // namespace kelvor
