// A serial port, opened for exclusive use, with non-blocking reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "platform/keyboard.h"

namespace kelvor {

// What ended a wait for input at a serial port.
enum class WaitEnd { kTime, kBytes, kKey };

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens the port for exclusive use. A name COMn opens \\.\COMn on Windows and
  // /dev/ttyS(n-1) on Linux; a name COM:<path> opens the device at <path>. False when the
  // port cannot be had.
  virtual bool Open(const char* name) = 0;

  // Reads the port's current line settings and changes those that `mode` names; `mode`
  // has the syntax BuildCommDCB reads. When the text cannot be read (or names a setting
  // the port cannot take), copies the system's text for the error into `error`
  // (NUL-terminated, within `errorSize`) and returns false; the settings are then those
  // the port had, plus whatever the system changed before it gave up.
  virtual bool BuildMode(const char* mode, char* error, size_t errorSize) = 0;

  // Applies the settings BuildMode left, and time-outs under which a read returns at once
  // with what has arrived. Results are not reported.
  virtual void ApplyMode() = 0;

  // Reads what has arrived, at most `capacity` bytes, without waiting; `count` receives
  // how many. Nothing having arrived is no failure. False when the read failed or the line
  // has hung up (the device went away): the error state is then cleared, and `count` is
  // what the read delivered (normally 0).
  virtual bool Read(char* buffer, uint32_t capacity, uint32_t* count) = 0;

  // Writes all bytes and returns once they have gone out to the device, so a purge that
  // follows never discards them. False when the write failed, or when its bytes stopped
  // going out for kWriteStallMs (flow control holding the line; the error state is
  // cleared): a write never holds up the program for longer, however long the port has
  // been open with or without a mode.
  virtual bool Write(const char* data, uint32_t length) = 0;

  // Clears the error state and throws away what has arrived and was not read, and what
  // is still waiting to go out. False when the port refused it, as a dead handle does.
  virtual bool Purge() = 0;

  // Closes the port if it is open.
  virtual void Close() = 0;

  // Waits until bytes have arrived, a key is waiting at `keyboard`, or `milliseconds` have
  // passed on `clock`, whichever comes first, and says which. A port that cannot be waited
  // on (closed, or its line hung up) never ends a wait with bytes.
  virtual WaitEnd WaitForInput(uint32_t milliseconds, Clock& clock, Keyboard& keyboard) = 0;
};

// A port of this platform, not yet open.
std::unique_ptr<SerialPort> NewSerialPort();

// Whether two port names, as SerialPort::Open takes them, name one device. Any two Windows
// names of one COM port are (COM5, \\.\com05); otherwise, on Linux, the devices the paths
// lead to are compared (a /dev/serial/by-id link is its /dev/ttyUSBn), on Windows the names
// as the system reads them. Names of devices that are not there are compared as written.
bool SamePortDevice(const char* first, const char* second);

}  // namespace kelvor
