// The console the log is written to.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvor {

// The colours of the log, named for what they mark. The values are the Windows console
// text attributes the log has always shown (foreground bits 0-3, background bits 4-7).
enum class Colour : uint16_t {
  kNormal = 7,         // light grey on black: start-up, port set-up, plain prints
  kModem = 23,         // grey on blue: the modem dialogue
  kStatusReport = 39,  // grey on green: the S key's report
  kWriteTimeout = 70,  // dark yellow on red: a write to the port that failed
  kCommand = 71,       // grey on red: what is sent to the modem, as it has always shown
  kError = 71,         // grey on red: refusals, alarm-queue errors, losses
  kAlarmQueue = 105,   // bright blue on dark yellow: alarm-queue events, usage, exit
};

// Standard output with a current colour. Text is written as given, in order; the colour
// applies to the text written after it is set.
class Console {
 public:
  virtual ~Console() = default;
  virtual void SetColour(Colour colour) = 0;
  virtual void Write(const char* text, size_t length) = 0;
};

Console& StandardConsole();

}  // namespace kelvor
