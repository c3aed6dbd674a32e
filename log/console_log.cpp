#include "log/console_log.h"

namespace kelvor {

ConsoleLog::ConsoleLog(Console& console, const char* title) : console_(console) {
  if (title != nullptr) LogMessage(Colour::kNormal, "%s", title);
}

void ConsoleLog::WriteLine(Colour colour, const char* text, size_t length) {
  console_.SetColour(colour);
  console_.Write(text, length);
  console_.SetColour(Colour::kNormal);
  console_.Write("\r\n", 2);
}

void ConsoleLog::WritePlain(const char* text, size_t length) {
  console_.Write(text, length);
}

}  // namespace kelvor
