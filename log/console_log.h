// The log on the console.
#pragma once

#include "log/log.h"
#include "platform/console.h"

namespace kelvor {

// One coloured console line per LogMessage. The colour covers the text only; the line end
// and everything after it are normal, so plain prints that follow show uncoloured.
class ConsoleLog : public Log {
 public:
  // Logs the title, when there is one, in the normal colour.
  ConsoleLog(Console& console, const char* title);

 protected:
  void WriteLine(Colour colour, const char* text, size_t length) override;
  void WritePlain(const char* text, size_t length) override;

 private:
  Console& console_;
};

}  // namespace kelvor
