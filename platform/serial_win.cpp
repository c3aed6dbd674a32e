// The serial port on Windows: synchronous file I/O on a COM handle opened without sharing.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/output_drain.h"
#include "platform/serial.h"
#include "platform/serial_mode.h"
#include "platform/text.h"

namespace kelvor {
namespace {

// The longest one WriteFile waits for the line to take bytes; the stall rule decides, over
// several such calls, when a write has waited long enough.
constexpr DWORD kWriteCallMs = 1000;
// How often a wait looks at the port's input count and the console: the port is opened
// without overlapped I/O, so nothing can be waited on while it is read at once.
constexpr uint32_t kWaitSlice = 15;  // ms

class WinSerialPort : public SerialPort {
 public:
  ~WinSerialPort() override { Close(); }

  bool Open(const char* name) override {
    Close();
    snprintf(name_, sizeof name_, "%s", name);
    char device[512];
    WindowsDeviceName(name, device, sizeof device);
    handle_ = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    SetTimeouts();
    return true;
  }

  // BuildCommDCB reads the text alone; whether the port takes what it names (a rate its
  // driver does not have, a framing a USB adapter refuses) only SetCommState tells, so it is
  // asked here, where a refusal can still be said with the port and the setting.
  bool BuildMode(const char* mode, char* error, size_t errorSize) override {
    memset(&dcb_, 0, sizeof dcb_);
    dcb_.DCBlength = sizeof dcb_;
    GetCommState(handle_, &dcb_);
    if (!BuildCommDCBA(mode, &dcb_)) {
      SystemText(GetLastError(), error, errorSize);
      return false;
    }
    if (SetCommState(handle_, &dcb_)) return true;
    char text[200];
    SystemText(GetLastError(), text, sizeof text);
    snprintf(error, errorSize, "%s does not take the setting %s: %s", name_, mode, text);
    return false;
  }

  // The line settings only: the time-outs were set when the port opened.
  void ApplyMode() override { SetCommState(handle_, &dcb_); }

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
  // pseudo-terminal under Wine) is waited for. A line that stops taking them (CTS held
  // low) fails the write once it has not moved for the stall time; FlushFileBuffers would
  // wait for ever, Ctrl-C included. What it still held is thrown away, as nobody will
  // want it once the dialogue has timed out.
  bool Write(const char* data, uint32_t length) override {
    StallWatch watch(kWriteStallMs);
    uint32_t done = 0;
    while (done < length) {
      DWORD written = 0;
      if (!WriteFile(handle_, data + done, length - done, &written, nullptr)) break;
      done += written;
      if (done < length && !watch.Moving(length - done, GetTickCount())) break;
    }
    if (done == length) {
      DriverOutput output(handle_);
      if (DrainOutput(output, SystemClock(), kWriteStallMs)) return true;
    }
    ClearError();
    PurgeComm(handle_, PURGE_TXCLEAR);
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

  // A handle that no longer reaches its device counts no bytes, so its wait lasts.
  WaitEnd WaitForInput(uint32_t milliseconds, Clock& clock, Keyboard& keyboard) override {
    const uint32_t end = clock.TickCount() + milliseconds;
    for (;;) {
      if (BytesWaiting()) return WaitEnd::kBytes;
      if (keyboard.KeyWaiting()) return WaitEnd::kKey;
      uint32_t left = TimeLeft(clock.TickCount(), end);
      if (left == 0) return WaitEnd::kTime;
      clock.Sleep(left < kWaitSlice ? left : kWaitSlice);
    }
  }

  void Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  // The bytes the driver holds, as ClearCommError tells them.
  class DriverOutput : public OutputQueue {
   public:
    explicit DriverOutput(HANDLE handle) : handle_(handle) {}
    bool Held(uint32_t* bytes) override {
      DWORD errors = 0;
      COMSTAT status{};
      if (!ClearCommError(handle_, &errors, &status)) return false;
      *bytes = status.cbOutQue;
      return true;
    }

   private:
    HANDLE handle_;
  };

  // Set on every port, with a mode or without one (which keeps the port's line settings):
  // a port's own time-outs, all zero on a freshly opened one, make ReadFile wait until the
  // whole buffer has arrived, which stops the loop for good. A read returns at once with
  // what has arrived; each WriteFile returns within kWriteCallMs, with what the line took.
  void SetTimeouts() {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;  // with the read totals 0: at once
    timeouts.WriteTotalTimeoutConstant = kWriteCallMs;
    SetCommTimeouts(handle_, &timeouts);
  }

  // The system's text for an error code, cut to `size`.
  static void SystemText(DWORD code, char* text, size_t size) {
    char* message = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&message), 0,
                   nullptr);
    snprintf(text, size, "%s", message != nullptr ? message : "");
    LocalFree(message);
  }

  bool BytesWaiting() {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(handle_, &errors, &status) != FALSE && status.cbInQue > 0;
  }

  // False on a handle that no longer reaches its device.
  bool ClearError() {
    DWORD errors = 0;
    COMSTAT status;
    return ClearCommError(handle_, &errors, &status) != FALSE;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  char name_[kPortTextSize] = {};
  DCB dcb_{};
};

}  // namespace

std::unique_ptr<SerialPort> NewSerialPort() {
  return std::make_unique<WinSerialPort>();
}

// As CreateFile reads them: a COM port by its number, any other name without regard to case.
bool SamePortDevice(const char* first, const char* second) {
  char a[512];
  char b[512];
  WindowsDeviceName(first, a, sizeof a);
  WindowsDeviceName(second, b, sizeof b);
  uint32_t firstCom = ComPortNumber(a);
  uint32_t secondCom = ComPortNumber(b);
  if (firstCom != 0 || secondCom != 0) return firstCom == secondCom;
  size_t i = 0;
  while (a[i] != '\0' && Upper(a[i]) == Upper(b[i])) ++i;
  return Upper(a[i]) == Upper(b[i]);
}

}  // namespace kelvor
