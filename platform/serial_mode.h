// The text of a COM argument: the port's name, the way each system finds the port it
// names, and the line-settings text, read with the syntax Windows' BuildCommDCB takes, so
// an operator's Windows command line means the same on every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvor {

// A COM argument, its port's name or its mode: at most 255 characters and a NUL.
constexpr size_t kPortTextSize = 256;

// A port and its mode as a COM argument gives them ("COM5=9600,n,8,1", "COM3",
// "COM:/dev/ttyUSB0=115200"): split at the first "=", upper-cased except the path of a
// COM:<path> name, which keeps its case (Linux names are case-sensitive).
struct PortSetting {
  char name[kPortTextSize];
  bool hasMode;  // there was an "="; the mode after it may be empty
  char mode[kPortTextSize];
};

// False, `setting` unusable, when `text` holds 256 characters or more: a cut text could
// open another port or set half a mode.
bool ReadPortSetting(const char* text, PortSetting* setting);

// What a port's name names: COMn (n from 1 to 9999, at most four digits) the n-th serial
// port; COM:<path> a device by its path (possibly empty); anything else is read by each
// system its own way.
struct PortAddress {
  enum Kind { kNumbered, kPath, kOther };
  Kind kind;
  uint32_t number;   // kNumbered: the n of COMn
  const char* path;  // kPath: within the name
};
PortAddress ReadPortName(const char* name);

// The n of a Windows name of the n-th serial port, of either case: COMn or \\.\COMn, n in
// digits alone from 1 to 9999 (leading zeros too: COM05 is COM5); 0 for any other name.
uint32_t ComPortNumber(const char* name);

// The name Windows opens the port by. COMn is opened through the device namespace, \\.\COMn,
// the only name under which ports above COM9 open, with n as read: COM05 is COM5, as there
// is no device \\.\COM05. COM:<name> opens <name> as written; anything else as it stands.
void WindowsDeviceName(const char* name, char* device, size_t size);

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
