// The modem's serial link: the port, and the bytes of the last read.
#pragma once

#include <cstdint>
#include <memory>

#include "log/log.h"
#include "platform/serial.h"
#include "platform/serial_mode.h"

namespace kelvor {

constexpr uint32_t kReceiveSize = 512;

class SerialLink {
 public:
  // `port` may be null: the link then behaves as a port that failed to open.
  SerialLink(std::unique_ptr<SerialPort> port, Log& log);
  ~SerialLink();
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  // Opens the port by its name (kPortTextSize at most) with its mode, or with the settings
  // it has when `mode` is null, and keeps both for ReopenIfFailed.
  void OpenPort(const char* name, const char* mode);
  void ClosePort();

  // Reads what has arrived into the receive buffer, followed by a zero byte; 0 to 512.
  uint32_t ReadAvailable();
  void WriteBytes(const char* data, uint32_t length);
  void PurgePort();
  // Waits up to `milliseconds` for bytes from the modem or a key at `keyboard`; a port that
  // is not open only sleeps.
  WaitEnd WaitForInput(uint32_t milliseconds, Clock& clock, Keyboard& keyboard);

  // A port that failed since the last call (a read, write or purge the system refused, a
  // line that hung up, a port that did not open) is closed and opened again, by the same
  // name and with the same mode, so that a device unplugged and plugged in again is found.
  // Logs the failure and the reopen, or the open that failed again; a working port is left
  // alone, without a line.
  void ReopenIfFailed();

  const char* ReceiveBuffer() const { return receive_; }
  // The port's name as given; whether it is open (false after a reopen that failed).
  const char* PortName() const { return portName_; }
  bool IsOpen() const { return open_; }

 private:
  bool OpenHandle();
  void SetMode(bool announce);

  char receive_[kReceiveSize + 1] = {};
  char portName_[kPortTextSize] = {};
  char mode_[kPortTextSize] = {};
  bool hasMode_ = false;
  std::unique_ptr<SerialPort> port_;
  bool open_ = false;
  bool failed_ = false;  // since the last ReopenIfFailed
  uint32_t bytesRead_ = 0;
  Log& log_;
};

}  // namespace kelvor
