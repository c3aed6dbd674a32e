// The modem's serial link: the COM argument, the port, and the bytes of the last read.
#pragma once

#include <cstdint>
#include <memory>

#include "log/log.h"
#include "platform/serial.h"

namespace kelvor {

// Capacities. The port name and the working copy are larger than a COMn name needs, so
// that a device path (COM:/dev/ttyUSB0) and its line settings fit.
constexpr uint32_t kReceiveSize = 512;
constexpr size_t kComArgumentSize = 256;  // working copy of the COM argument
constexpr size_t kPortNameSize = 256;

// A COM argument split at its first "=": the port name and, when there is an "=", the
// mode after it (possibly empty). Upper-cased, except the path of a COM:<path> port name.
struct ComArgument {
  char copy[kComArgumentSize];  // the port name, ended where the "=" was
  const char* mode;             // inside `copy`, or nullptr when there is no "="
};

// False when the argument does not fit the working copy; `split` is then unusable.
bool SplitComArgument(const char* argument, ComArgument* split);

class SerialLink {
 public:
  // `port` may be null: the link then behaves as a port that failed to open.
  SerialLink(std::unique_ptr<SerialPort> port, Log& log);
  ~SerialLink();
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  // Splits the COM argument and opens the port it names with its mode.
  void Create(const char* argument);
  // Opens the port and keeps its name and mode, for ReopenIfFailed.
  void OpenPort(const char* name, const char* mode);
  void ClosePort();

  // Reads what has arrived into the receive buffer, followed by a zero byte; 0 to 512.
  uint32_t ReadAvailable();
  void WriteBytes(const char* data, uint32_t length);
  void PurgePort();

  // A port that failed since the last call (a read, write or purge the system refused, a
  // line that hung up, a port that did not open) is closed and opened again, by the same
  // name and with the same mode, so that a device unplugged and plugged in again is found.
  // Logs the failure and the reopen, or the open that failed again; a working port is left
  // alone, without a line.
  void ReopenIfFailed();

  const char* ReceiveBuffer() const { return receive_; }
  const char* PortName() const { return portName_; }
  bool IsOpen() const { return open_; }

 private:
  bool OpenHandle();
  void SetMode(bool announce);

  char receive_[kReceiveSize + 1] = {};
  char portName_[kPortNameSize] = {};
  char mode_[kComArgumentSize] = {};
  bool hasMode_ = false;
  std::unique_ptr<SerialPort> port_;
  bool open_ = false;
  bool failed_ = false;  // since the last ReopenIfFailed
  uint32_t bytesRead_ = 0;
  Log& log_;
};

}  // namespace kelvor
