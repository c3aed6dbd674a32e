#include <cstdarg>
#include <cstdio>

#include "platform/console.h"

namespace kelvor {

void ConsolePrint(Console& console, const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length < 0) return;
  if (static_cast<size_t>(length) >= sizeof line) length = sizeof line - 1;
  console.Write(line, static_cast<size_t>(length));
}

}  // namespace kelvor
