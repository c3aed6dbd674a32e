#include "modem/sms_modem.h"

namespace kelvor {

SmsModem::SmsModem(const char* portName, const char* mode, std::unique_ptr<SerialPort> port,
                   Log& log, Clock& clock)
    : clock_(clock),
      link_(std::move(port), log),
      queue_(log),
      dialogue_(link_, queue_, reader_, log, clock) {
  if (portName != nullptr) link_.OpenPort(portName, mode);
  dialogue_.Start();
  link_.PurgePort();
}

SmsModem::~SmsModem() {
  queue_.Clear();
  link_.ClosePort();
}

bool SmsModem::QueueMessage(const char* text, const char* number) {
  return queue_.QueueMessage(text, number);
}

bool SmsModem::QueueServiceMessage(const char* text, const char* number) {
  return queue_.QueueMessage(text, number, SmsKind::kService);
}

bool SmsModem::QueueEscalatedMessage(const char* text, const char* number) {
  return queue_.QueueMessage(text, number, SmsKind::kEscalated);
}

bool SmsModem::Full() const {
  return queue_.Full();
}

int SmsModem::QueuedCount() const {
  return queue_.Count();
}

void SmsModem::SetServiceNumber(const char* number) {
  dialogue_.SetServiceNumber(number);
}

void SmsModem::PollModem() {
  dialogue_.PollModem();
}

NextStep SmsModem::WhenToStep() const {
  return dialogue_.WhenToStep();
}

WaitEnd SmsModem::WaitForAnswer(uint32_t milliseconds, Keyboard& keyboard) {
  return link_.WaitForInput(milliseconds, clock_, keyboard);
}

bool SmsModem::SetPin(const char* pin) {
  return dialogue_.SetPin(pin);
}

const char* SmsModem::Registration() const {
  return RegistrationWords(dialogue_.Registration());
}

int SmsModem::SignalStrength() const {
  return dialogue_.SignalStrength();
}

int SmsModem::LastError() const {
  return dialogue_.LastError();
}

bool SmsModem::HasBeenReady() const {
  return dialogue_.HasBeenReady();
}

const SmsTally& SmsModem::Tally() const {
  return queue_.Tally();
}

bool SmsModem::TakeConfirmed(OutgoingSms* sms) {
  return queue_.TakeConfirmed(sms);
}

void SmsModem::ListenForReplies() {
  dialogue_.ListenForReplies();
}

bool SmsModem::TakeIncoming(IncomingSms* sms) {
  return dialogue_.TakeIncoming(sms);
}

const OutgoingSms& SmsModem::Queued(int index) const {
  return queue_.At(index);
}

uint32_t SmsModem::QueueChanges() const {
  return queue_.Changes();
}

bool SmsModem::Requeue(const char* text, const char* number, int32_t attempts, SmsKind kind) {
  return queue_.Requeue(text, number, attempts, kind);
}

}  // namespace kelvor
