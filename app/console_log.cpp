#include "app/console_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kelvor {

ConsoleLog::ConsoleLog(Console& console, const char* title) : console_(console) {
  if (title != nullptr) LogMessage(kNormal, "%s", title);
}

void ConsoleLog::LogMessage(uint16_t attribute, const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length < 0) length = 0;
  line[sizeof line - 1] = '\0';
  line[strcspn(line, "\r\n")] = '\0';

  // The text is written as it stands: a percent sign in it is never read as a directive.
  console_.SetAttribute(attribute);
  console_.Write(line, strlen(line));
  console_.SetAttribute(kNormal);
  console_.Write("\r\n", 2);
}

}  // namespace kelvor
