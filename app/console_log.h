// The coloured console log.
#pragma once

#include <cstdint>

#include "platform/console.h"

namespace kelvor {

// One coloured console line per call. The colour covers the text only; the line end and
// everything after it are in attribute 7, so plain prints that follow show uncoloured.
class ConsoleLog {
 public:
  // Logs the title, when there is one, with attribute 7.
  ConsoleLog(Console& console, const char* title);

  // Formats one line into 256 bytes (a longer text is cut at 255 characters), keeps it up
  // to its first CR or LF, and prints it in `attribute`, then a line end.
  void LogMessage(uint16_t attribute, const char* format, ...) KELVOR_PRINTF(3, 4);

  Console& console() { return console_; }

 private:
  Console& console_;
};

}  // namespace kelvor
