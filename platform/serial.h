// A serial port, opened for exclusive use, with non-blocking reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kelvor {

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens the port for exclusive use. On Windows a name COMn opens \\.\COMn; on Linux COMn
  // names /dev/ttyS(n-1) and any other name is a device path. False when it cannot be had.
  virtual bool Open(const char* name) = 0;

  // Applies a line-settings text, in the syntax BuildCommDCB reads, to the port's current
  // settings, and sets time-outs under which a read returns at once with what has arrived.
  // When the text cannot be read, copies the system's text for the error into `error`
  // (NUL-terminated, within `errorSize`) and returns false; the settings as they were and
  // the time-outs are applied all the same.
  virtual bool SetMode(const char* mode, char* error, size_t errorSize) = 0;

  // Reads what has arrived, at most `capacity` bytes, without waiting. A failed read clears
  // the port's error state and returns what it delivered (normally 0).
  virtual uint32_t Read(char* buffer, uint32_t capacity) = 0;

  // Writes all bytes and returns once they have gone out to the device, so a purge that
  // follows never discards them. False when the write failed (the error state is cleared).
  virtual bool Write(const char* data, uint32_t length) = 0;

  // Clears the error state and throws away both driver buffers.
  virtual void Purge() = 0;

  // Closes the port if it is open.
  virtual void Close() = 0;
};

// A port of this platform, not yet open.
std::unique_ptr<SerialPort> NewSerialPort();

}  // namespace kelvor
