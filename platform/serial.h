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

  // COMn is \\.\COMn on Windows, /dev/ttyS(n-1) on Linux; COM:<path> is the device at <path>.
  virtual bool Open(const char* name) = 0;

  // `mode` in BuildCommDCB's syntax changes the settings it names. False: the system's words
  // are in `error` (bounded, NUL-terminated) and the settings are partly changed.
  virtual bool BuildMode(const char* mode, char* error, size_t errorSize) = 0;

  // The settings BuildMode left, and reads that never wait. Results are not reported.
  virtual void ApplyMode() = 0;

  // Never waits; nothing arrived is no failure. False: the read failed or the device went
  // away (error state cleared, `count` what came, normally 0).
  virtual bool Read(char* buffer, uint32_t capacity, uint32_t* count) = 0;

  // Returns once every byte has gone out (a purge after it discards none). False: the write
  // failed, or flow control held it for kWriteStallMs, the longest a write ever takes.
  virtual bool Write(const char* data, uint32_t length) = 0;

  // Clears the error state and drops bytes unread and unsent. False on a dead handle.
  virtual bool Purge() = 0;

  virtual void Close() = 0;

  // Whichever comes first. A closed or hung-up port never ends a wait with bytes.
  virtual WaitEnd WaitForInput(uint32_t milliseconds, Clock& clock, Keyboard& keyboard) = 0;
};

// A port of this platform, not yet open.
std::unique_ptr<SerialPort> NewSerialPort();

// Two names Open takes for one device: COM5 and \\.\com05; on Linux a link and its device.
// Names of absent devices compare as written.
bool SamePortDevice(const char* first, const char* second);

}  // namespace kelvor
