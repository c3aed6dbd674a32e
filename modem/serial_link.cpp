#include "modem/serial_link.h"

#include <cstdio>
#include <cstring>

namespace kelvor {
namespace {

constexpr char kPathPrefix[] = "COM:";
constexpr size_t kPathPrefixLength = sizeof kPathPrefix - 1;

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool SplitComArgument(const char* argument, ComArgument* split) {
  size_t length = strlen(argument);
  if (length >= sizeof split->copy) return false;
  memcpy(split->copy, argument, length + 1);
  const char* equals = strchr(argument, '=');
  size_t portEnd = equals != nullptr ? static_cast<size_t>(equals - argument) : length;

  // A device path keeps its case: Linux names are case-sensitive.
  for (size_t i = 0; i < length; ++i) split->copy[i] = Upper(split->copy[i]);
  if (portEnd >= kPathPrefixLength && strncmp(split->copy, kPathPrefix, kPathPrefixLength) == 0) {
    memcpy(split->copy + kPathPrefixLength, argument + kPathPrefixLength,
           portEnd - kPathPrefixLength);
  }

  split->mode = nullptr;
  if (equals != nullptr) {
    split->copy[portEnd] = '\0';
    split->mode = split->copy + portEnd + 1;
  }
  return true;
}

SerialLink::SerialLink(std::unique_ptr<SerialPort> port, Log& log)
    : port_(std::move(port)), log_(log) {}

SerialLink::~SerialLink() {
  ClosePort();
}

void SerialLink::Create(const char* argument) {
  ComArgument split;
  if (!SplitComArgument(argument, &split)) {
    // A cut argument could open the wrong port or set half a mode: nothing is opened.
    log_.LogMessage(Colour::kError, "COM argument too long - %.40s...\r\n", argument);
    return;
  }
  OpenPort(split.copy, split.mode);
}

void SerialLink::OpenPort(const char* name, const char* mode) {
  snprintf(portName_, sizeof portName_, "%s", name);
  open_ = port_ != nullptr && port_->Open(portName_);
  if (!open_) {
    log_.LogMessage(Colour::kNormal, "Can't get a handle to %s driver\n", portName_);
    return;
  }
  log_.LogMessage(Colour::kNormal, "Retrieved valid handle for %s driver\n", portName_);
  if (mode != nullptr) {
    log_.LogMessage(Colour::kNormal, "now getting the mode=%s\r\n", mode);
    char error[256];
    if (!port_->BuildMode(mode, error, sizeof error)) {
      log_.LogMessage(Colour::kNormal, "Bad mode parameters - %s", error);
    }
    log_.LogMessage(Colour::kNormal, "now setting the mode - %s\r\n", mode);
    port_->ApplyMode();
  }
  bytesRead_ = 0;
}

void SerialLink::ClosePort() {
  if (open_) port_->Close();
  open_ = false;
}

uint32_t SerialLink::ReadAvailable() {
  bytesRead_ = 0;
  if (open_) port_->Read(receive_, kReceiveSize, &bytesRead_);
  if (bytesRead_ > kReceiveSize) bytesRead_ = kReceiveSize;
  receive_[bytesRead_] = '\0';
  return bytesRead_;
}

void SerialLink::WriteBytes(const char* data, uint32_t length) {
  if (!open_ || !port_->Write(data, length))
    log_.LogMessage(Colour::kWriteTimeout, "Write timeout");
}

void SerialLink::PurgePort() {
  bytesRead_ = 0;
  if (open_) port_->Purge();
}

}  // namespace kelvor
