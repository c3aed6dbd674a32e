// The line-settings text of a COM argument, read with the syntax Windows' BuildCommDCB
// takes, so an operator's Windows command line means the same on every build.
#pragma once

#include <cstdint>

namespace kelvor {

// The state a keyword switch is set to; kUnset leaves the port as it is.
enum class LineSwitch : uint8_t { kUnset, kOff, kOn, kHandshake, kToggle };

enum class StopBits : uint8_t { kUnset, kOne, kOnePointFive, kTwo };

// The handshake suffix of the comma form: ",X" or ",P".
enum class Handshake : uint8_t { kUnset, kXonXoff, kHardware };

// What a mode text names. Every field left at its default leaves the port as it is.
struct SerialSettings {
  uint32_t baud = 0;     // bits per second; 0 unset
  char parity = 0;       // 'N', 'O', 'E', 'M' or 'S'; 0 unset
  uint8_t dataBits = 0;  // 5 to 8; 0 unset
  StopBits stopBits = StopBits::kUnset;
  Handshake handshake = Handshake::kUnset;
  LineSwitch timeout = LineSwitch::kUnset;  // TO=: infinite time-out
  LineSwitch xon = LineSwitch::kUnset;      // XON=: XON/XOFF both ways
  LineSwitch outDsr = LineSwitch::kUnset;   // ODSR=: output waits for DSR
  LineSwitch outCts = LineSwitch::kUnset;   // OCTS=: output waits for CTS
  LineSwitch dtr = LineSwitch::kUnset;      // DTR=ON, OFF or HS
  LineSwitch rts = LineSwitch::kUnset;      // RTS=ON, OFF, HS or TG
  LineSwitch inDsr = LineSwitch::kUnset;    // IDSR=: input only while DSR is on
};

// Reads a mode text: an optional leading "COMn:" or "COMn ", then either the comma form
// "baud,parity,data,stop[,X|,P]" (trailing fields may be left out) or the keyword form
// "BAUD=9600 PARITY=N DATA=8 STOP=1 ...", never both. Letters may be of either case.
// A text that names nothing (empty, blanks, a bare "COMn:") is read and sets nothing.
// Returns false, leaving `settings` untouched, when any part of the text cannot be read.
bool ParseSerialMode(const char* text, SerialSettings* settings);

}  // namespace kelvor
