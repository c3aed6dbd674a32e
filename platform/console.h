// The console the log is written to.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__)
#define KELVOR_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KELVOR_PRINTF(fmt, args)
#endif

namespace kelvor {

// Console text attributes, as the Windows console defines them.
enum ConsoleAttribute : uint16_t {
  kNormal = 7,         // light grey on black
  kModem = 23,         // grey on blue
  kStatusReport = 39,  // grey on green
  kWriteTimeout = 70,  // dark yellow on red
  kError = 71,         // grey on red
  kAlarmQueue = 105,   // bright blue on dark yellow
};

// Standard output with a current text attribute. Text is written as given, in order;
// the attribute applies to the text written after it is set.
class Console {
 public:
  virtual ~Console() = default;
  virtual void SetAttribute(uint16_t attribute) = 0;
  virtual void Write(const char* text, size_t length) = 0;
};

// A plain formatted print to the console, as printf would write it to standard output:
// no colour of its own. Formats into a 256-byte line; a longer text is cut.
void ConsolePrint(Console& console, const char* format, ...) KELVOR_PRINTF(2, 3);

Console& StandardConsole();

}  // namespace kelvor
