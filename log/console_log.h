// The log on the console, and in a log file when the run has one.
#pragma once

#include "log/log.h"
#include "log/log_file.h"
#include "platform/console.h"

namespace kelvor {

// One coloured console line per LogMessage. The colour covers the text only; the line end
// and everything after it are normal, so plain prints that follow show uncoloured.
// Every line and plain print also goes to the log file, if there is one.
class ConsoleLog : public Log {
 public:
  // Logs the title, when there is one, in the normal colour. `file` may be null: no log
  // file. A file given here has every line of the run, the title included.
  ConsoleLog(Console& console, const char* title, LogFile* file = nullptr);

 protected:
  void WriteLine(Colour colour, const char* text, size_t length) override;
  void WritePlain(const char* text, size_t length) override;

 private:
  void ConsoleLine(Colour colour, const char* text, size_t length);
  void ReportFile();

  Console& console_;
  LogFile* file_;
};

}  // namespace kelvor
