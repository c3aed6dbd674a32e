#include "log/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kelvor {
namespace {

// Formats into `line` (Log::kLineSize bytes); returns the length kept.
size_t Format(char* line, const char* format, va_list args) {
  int length = vsnprintf(line, Log::kLineSize, format, args);
  if (length < 0) {
    line[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(length) < Log::kLineSize ? static_cast<size_t>(length)
                                                      : Log::kLineSize - 1;
}

}  // namespace

void Log::LogMessage(Colour colour, const char* format, ...) {
  char line[kLineSize];
  va_list args;
  va_start(args, format);
  Format(line, format, args);
  va_end(args);
  size_t length = strcspn(line, "\r\n");
  line[length] = '\0';
  WriteLine(colour, line, length);
}

void Log::Print(const char* format, ...) {
  char line[kLineSize];
  va_list args;
  va_start(args, format);
  size_t length = Format(line, format, args);
  va_end(args);
  WritePlain(line, length);
}

}  // namespace kelvor
