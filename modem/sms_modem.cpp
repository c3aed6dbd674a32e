// Placeholder until the modem lands: holds a count, sends nothing.
#include "modem/sms_modem.h"

namespace kelvor {

SmsModem::SmsModem(const char* argument, std::unique_ptr<SerialPort> port, ConsoleLog& log,
                   Clock& clock)
    : port_(std::move(port)), log_(log), clock_(clock) {
  (void)argument;
}

SmsModem::~SmsModem() = default;

bool SmsModem::QueueMessage(const char* text, const char* number) {
  (void)text;
  (void)number;
  if (queued_ >= 21) return false;
  ++queued_;
  return true;
}

int SmsModem::QueuedCount() const {
  return queued_;
}
bool SmsModem::SetServiceNumber(const char* argument) {
  (void)argument;
  return true;
}
bool SmsModem::PollModem() {
  return true;
}
int SmsModem::SignalStrength() const {
  return 0;
}
int SmsModem::LastError() const {
  return 0;
}

}  // namespace kelvor
