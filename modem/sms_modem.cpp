#include "modem/sms_modem.h"

#include <cstring>

namespace kelvor {

SmsModem::SmsModem(const char* portName, const char* mode, std::unique_ptr<SerialPort> port,
                   Log& log, Clock& clock)
    : queue_(log), phone_(portName, mode, std::move(port), queue_, log, clock) {}

SmsModem::~SmsModem() {
  queue_.Clear();
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

bool SmsModem::FitsOneSms(const char* text) const {
  return queue_.Coding().FitsOne(text, strnlen(text, kSmsTextLimit + 1));
}

void SmsModem::SetCoding(Charset charset, const CodePageTable& table) {
  SmsCoding coding;
  coding.Set(charset, table);
  queue_.SetCoding(coding);
}

int SmsModem::QueuedCount() const {
  return queue_.Count();
}

void SmsModem::SetServiceNumber(const char* number) {
  phone_.SetServiceNumber(number);
}

bool SmsModem::SetPin(const char* pin) {
  return phone_.SetPin(pin);
}

void SmsModem::SetPause(uint32_t milliseconds) {
  phone_.SetPause(milliseconds);
}

void SmsModem::PollModem() {
  phone_.Poll();
}

NextStep SmsModem::WhenToStep() const {
  return phone_.WhenToStep();
}

WaitEnd SmsModem::WaitForAnswer(uint32_t milliseconds, Keyboard& keyboard) {
  return phone_.WaitForAnswer(milliseconds, keyboard);
}

const char* SmsModem::Registration() const {
  return RegistrationWords(phone_.Health().registration);
}

int SmsModem::SignalStrength() const {
  return phone_.Health().signal;
}

int SmsModem::LastError() const {
  return phone_.Health().lastError;
}

bool SmsModem::HasBeenReady() const {
  return phone_.Health().hasBeenReady;
}

const SmsTally& SmsModem::Tally() const {
  return queue_.Tally();
}

bool SmsModem::TakeConfirmed(OutgoingSms* sms) {
  return queue_.TakeConfirmed(sms);
}

void SmsModem::ListenForReplies() {
  phone_.ListenForReplies();
}

bool SmsModem::TakeIncoming(IncomingSms* sms) {
  return phone_.TakeIncoming(sms);
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
