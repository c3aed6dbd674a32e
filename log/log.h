// The program's one log: every line that the application, the modem and alarm routing
// write goes through it.
#pragma once

#include <cstddef>

#include "platform/console.h"

#if defined(__GNUC__)
#define KELVOR_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KELVOR_PRINTF(fmt, args)
#endif

namespace kelvor {

// Formats log lines and hands them to a sink. Both operations format into a 256-byte line:
// a longer text is cut at 255 characters, never overrun.
class Log {
 public:
  static constexpr size_t kLineSize = 256;

  virtual ~Log() = default;

  // One coloured line: the text up to its first CR or LF (most formats end in "\r\n",
  // which this drops), in `colour`, then a line end. A percent sign in the formatted text
  // is printed as it stands.
  void LogMessage(Colour colour, const char* format, ...) KELVOR_PRINTF(3, 4);

  // A plain print, as printf would write it to standard output: no colour of its own, the
  // text exactly as formatted, its line ends included. Alarm routing reports this way.
  void Print(const char* format, ...) KELVOR_PRINTF(2, 3);

 protected:
  virtual void WriteLine(Colour colour, const char* text, size_t length) = 0;
  virtual void WritePlain(const char* text, size_t length) = 0;
};

}  // namespace kelvor
