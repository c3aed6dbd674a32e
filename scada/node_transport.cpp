#include "scada/node_transport.h"

#include <cstring>

namespace kelvor {

bool ParseNodeAddress(const char* address, char* host, size_t capacity, uint16_t* port) {
  if (!address) return false;
  const char* colon = strrchr(address, ':');
  if (!colon || colon == address) return false;
  const char* hostStart = address;
  const char* hostEnd = colon;
  if (*hostStart == '[') {  // [v6]:port
    if (hostEnd[-1] != ']' || hostEnd - hostStart < 3) return false;
    ++hostStart;
    --hostEnd;
  } else if (memchr(hostStart, ':', hostEnd - hostStart)) {
    return false;  // a bare IPv6 address: its port cannot be told apart
  }
  size_t hostLength = static_cast<size_t>(hostEnd - hostStart);
  if (hostLength + 1 > capacity) return false;
  const char* digits = colon + 1;
  size_t count = strlen(digits);
  if (count == 0 || count > 5) return false;
  uint32_t number = 0;
  for (size_t i = 0; i < count; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return false;
    number = number * 10 + static_cast<uint32_t>(digits[i] - '0');
  }
  if (number == 0 || number > 65535) return false;
  memcpy(host, hostStart, hostLength);
  host[hostLength] = '\0';
  *port = static_cast<uint16_t>(number);
  return true;
}

}  // namespace kelvor
