#include "modem/sim_pin.h"

#include <cstring>

#include "platform/text.h"

namespace kelvor {

bool IsPin(const char* text) {
  size_t length = strnlen(text, kLongestPin + 1);
  uint32_t value = 0;
  return length >= kShortestPin && ReadNumber(text, length, kLongestPin, &value);
}

}  // namespace kelvor
