// The serial port on Windows: synchronous file I/O on a COM handle opened without sharing.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/serial.h"
#include "platform/serial_mode.h"

namespace kelvor {
namespace {

// COMn is opened through the device namespace, \\.\COMn, the only name under which
// ports above COM9 open; COM:<name> opens <name> as written; anything else as it stands.
void DeviceName(const char* name, char* device, size_t size) {
  PortAddress port = ReadPortName(name);
  if (port.kind == PortAddress::kPath) {
    snprintf(device, size, "%s", port.path);
  } else if (port.kind == PortAddress::kNumbered) {
    snprintf(device, size, "\\\\.\\%s", name);
  } else {
    snprintf(device, size, "%s", name);
  }
}

class WinSerialPort : public SerialPort {
 public:
  ~WinSerialPort() override { Close(); }

  bool Open(const char* name) override {
    Close();
    char device[512];
    DeviceName(name, device, sizeof device);
    handle_ = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle_ != INVALID_HANDLE_VALUE;
  }

  bool BuildMode(const char* mode, char* error, size_t errorSize) override {
    memset(&dcb_, 0, sizeof dcb_);
    dcb_.DCBlength = sizeof dcb_;
    GetCommState(handle_, &dcb_);
    if (BuildCommDCBA(mode, &dcb_)) return true;
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                   GetLastError(), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<char*>(&text), 0, nullptr);
    snprintf(error, errorSize, "%s", text != nullptr ? text : "");
    LocalFree(text);
    return false;
  }

  void ApplyMode() override {
    SetCommState(handle_, &dcb_);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;  // with the rest 0: reads return at once
    SetCommTimeouts(handle_, &timeouts);
  }

  // A handle whose device went away (a USB adapter unplugged) stays dead even once the
  // device is back: its reads, writes and ClearCommError fail, and the caller learns it
  // from the results.
  bool Read(char* buffer, uint32_t capacity, uint32_t* count) override {
    DWORD got = 0;
    bool read = ReadFile(handle_, buffer, capacity, &got, nullptr) != FALSE;
    if (!read) {
      ClearError();
      if (got >= capacity) PurgeComm(handle_, PURGE_RXCLEAR);
    }
    *count = got;
    return read;
  }

  // Returns once the bytes have gone out: a driver that buffers writes (a USB adapter, a
  // pseudo-terminal under Wine) is waited for, so the purge that follows a command or an
  // SMS text cannot throw it away.
  bool Write(const char* data, uint32_t length) override {
    DWORD written = 0;
    if (WriteFile(handle_, data, length, &written, nullptr)) {
      FlushFileBuffers(handle_);
      return true;
    }
    ClearError();
    return false;
  }

  // Throws away what has arrived and not been read. Every write has gone out by now, so
  // the transmit side holds nothing of ours: clearing it as well could only lose a command
  // a driver reports as written but still holds.
  bool Purge() override {
    bool cleared = ClearError();
    PurgeComm(handle_, PURGE_RXCLEAR);
    return cleared;
  }

  void Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  // False on a handle that no longer reaches its device.
  bool ClearError() {
    DWORD errors = 0;
    COMSTAT status;
    return ClearCommError(handle_, &errors, &status) != FALSE;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DCB dcb_{};
};

}  // namespace

std::unique_ptr<SerialPort> NewSerialPort() {
  return std::make_unique<WinSerialPort>();
}

}  // namespace kelvor
