#include "modem/serial_link.h"

#include <cstdio>
#include <cstring>

namespace kelvor {

SerialLink::SerialLink(std::unique_ptr<SerialPort> port, Log& log)
    : port_(std::move(port)), log_(log) {}

SerialLink::~SerialLink() {
  ClosePort();
}

void SerialLink::OpenPort(const char* name, const char* mode) {
  snprintf(portName_, sizeof portName_, "%s", name);
  hasMode_ = mode != nullptr;
  snprintf(mode_, sizeof mode_, "%s", hasMode_ ? mode : "");
  if (!OpenHandle()) return;
  log_.LogMessage(Colour::kNormal, "Retrieved valid handle for %s driver\n", portName_);
  SetMode(true);
}

// The mode's lines, a bad mode's included, showed when the port first opened, and the same
// text gets the same answer again: a reopen applies it quietly, so that a port that keeps
// failing costs one pair of lines a reset.
void SerialLink::ReopenIfFailed() {
  if (!failed_) return;
  log_.LogMessage(Colour::kError, "Port %s failed - reopening\r\n", portName_);
  ClosePort();
  if (!OpenHandle()) return;
  log_.LogMessage(Colour::kNormal, "Port %s reopened\r\n", portName_);
  SetMode(false);
}

// A port that does not open counts as failed, so that the next reset tries it again.
bool SerialLink::OpenHandle() {
  open_ = port_ != nullptr && port_->Open(portName_);
  failed_ = !open_;
  if (!open_) {
    log_.LogMessage(Colour::kNormal, "Can't get a handle to %s driver\n", portName_);
    return false;
  }
  bytesRead_ = 0;
  return true;
}

void SerialLink::SetMode(bool announce) {
  if (!hasMode_) return;
  if (announce) log_.LogMessage(Colour::kNormal, "now getting the mode=%s\r\n", mode_);
  char error[256];
  if (!port_->BuildMode(mode_, error, sizeof error) && announce) {
    log_.LogMessage(Colour::kNormal, "Bad mode parameters - %s", error);
  }
  if (announce) log_.LogMessage(Colour::kNormal, "now setting the mode - %s\r\n", mode_);
  port_->ApplyMode();
}

void SerialLink::ClosePort() {
  if (open_) port_->Close();
  open_ = false;
}

uint32_t SerialLink::ReadAvailable() {
  bytesRead_ = 0;
  if (open_ && !port_->Read(receive_, kReceiveSize, &bytesRead_)) failed_ = true;
  if (bytesRead_ > kReceiveSize) bytesRead_ = kReceiveSize;
  receive_[bytesRead_] = '\0';
  return bytesRead_;
}

void SerialLink::WriteBytes(const char* data, uint32_t length) {
  if (open_ && port_->Write(data, length)) return;
  if (open_) failed_ = true;
  log_.LogMessage(Colour::kWriteTimeout, "Write timeout");
}

WaitEnd SerialLink::WaitForInput(uint32_t milliseconds, Clock& clock, Keyboard& keyboard) {
  if (open_) return port_->WaitForInput(milliseconds, clock, keyboard);
  clock.Sleep(milliseconds);
  return WaitEnd::kTime;
}

void SerialLink::PurgePort() {
  bytesRead_ = 0;
  if (open_ && !port_->Purge()) failed_ = true;
}

}  // namespace kelvor
