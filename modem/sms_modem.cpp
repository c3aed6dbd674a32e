#include "modem/sms_modem.h"

#include <cstring>
#include <initializer_list>

namespace kelvor {
namespace {

// ms of one wait at each phone's port while both await an answer.
constexpr uint32_t kWaitSlice = 20;

PhoneView View(const Phone& phone) {
  return {phone.Fault(), phone.Answers(), phone.Health().registeredNow, phone.InFlight()};
}

// The step worth taking first of two phones' next steps.
NextStep Sooner(NextStep a, NextStep b) {
  if (a.kind == NextStep::kAfterPause && b.kind == NextStep::kAfterPause) {
    return a.milliseconds < b.milliseconds ? a : b;
  }
  for (NextStep::Kind kind : {NextStep::kNow, NextStep::kOnBytes, NextStep::kAfterPause}) {
    if (a.kind == kind) return a;
    if (b.kind == kind) return b;
  }
  return a;
}

}  // namespace

SmsModem::SmsModem(const char* portName, const char* mode, std::unique_ptr<SerialPort> port,
                   Log& log, Clock& clock)
    : log_(log),
      clock_(clock),
      queue_(log, events_),
      phone_(portName, mode, std::move(port), queue_, events_, kMainPhone, log, clock),
      failover_(log, clock),
      sharing_(log, clock) {}

SmsModem::~SmsModem() {
  queue_.Clear();
}

uint32_t SmsModem::QueueMessage(const char* text, const char* number) {
  return queue_.QueueMessage(text, number);
}

uint32_t SmsModem::QueueAlarms(const char* text, const char* number, int8_t urgency) {
  return queue_.QueueMessage(text, number, SmsKind::kAlarm, urgency);
}

uint32_t SmsModem::QueueServiceMessage(const char* text, const char* number) {
  return queue_.QueueMessage(text, number, SmsKind::kService);
}

uint32_t SmsModem::QueueEscalatedMessage(const char* text, const char* number) {
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

void SmsModem::AddStandby(const char* portName, const char* mode, std::unique_ptr<SerialPort> port,
                          const char* pin) {
  standbyLog_ = std::make_unique<PrefixedLog>(log_, "Standby ");
  standby_ = std::make_unique<Phone>(portName, mode, std::move(port), queue_, events_,
                                     kStandbyPhone, *standbyLog_, clock_);
  standby_->SetPin(pin);
  standby_->SetPause(pause_);
  standby_->WatchRegistration();
  if (listening_) standby_->ListenForReplies();
  if (reportMinutes_ != 0) standby_->AskReports(reportMinutes_);
  phone_.WatchRegistration();
}

void SmsModem::ShareLoad() {
  if (!standby_) return;
  sharing_.TurnOn();
  queue_.LendTo(sharing_.Borrowers());
}

const char* SmsModem::SendingPhone() const {
  if (!standby_) return nullptr;
  if (sharing_.On()) return sharing_.SendingPhone();
  return failover_.StandbySends() ? "standby" : "main";
}

// Of sharing phones, the main one while both send.
bool SmsModem::StandbySends() const {
  if (!standby_) return false;
  return sharing_.On() ? sharing_.Borrowers() == 1u << kStandbyPhone : failover_.StandbySends();
}

const Phone& SmsModem::Sender() const {
  return StandbySends() ? *standby_ : phone_;
}

Phone& SmsModem::Sender() {
  return StandbySends() ? *standby_ : phone_;
}

void SmsModem::SetPause(uint32_t milliseconds) {
  pause_ = milliseconds;
  phone_.SetPause(milliseconds);
  if (standby_) standby_->SetPause(milliseconds);
}

void SmsModem::PollModem() {
  int before = events_.Count();
  phone_.Poll();
  uint8_t sets = phone_.SevenBitSets();
  if (standby_) {
    standby_->Poll();
    sets = static_cast<uint8_t>(sets | standby_->SevenBitSets());
    Arbitrate();
  }
  // A text fits one SMS as either phone will send it.
  queue_.SetSevenBitSets(sets);
  // So old a call that its age would pass the tick's reach shows as a week old.
  uint32_t now = clock_.TickCount();
  if (callMade_ && Elapsed(now, callAt_) > kLongestCallAge) callAt_ = now - kLongestCallAge;
  NoteCallEnds(before);
  sharing_.Heard(events_, before);
  const char* names[kPhoneCount] = {phone_.PortName(), standby_ ? standby_->PortName() : nullptr};
  deliveries_.Pass(events_, watched_ < events_.Count() ? watched_ : events_.Count(), now, log_,
                   names);
  watched_ = events_.Count();
}

// The watch awaits the validity the phone codes, which may be a little longer than asked.
void SmsModem::AskReports(uint32_t minutes) {
  reportMinutes_ = minutes;
  phone_.AskReports(minutes);
  if (standby_) standby_->AskReports(minutes);
  deliveries_.Start(ValidityMinutes(ValidityCode(minutes)));
}

// The call that ended last, kept for the status.
void SmsModem::NoteCallEnds(int from) {
  for (int i = from; i < events_.Count(); ++i) {
    if (events_.At(i).kind == ModemEvent::kCallEnded) callEnd_ = events_.At(i).call.end;
  }
}

bool SmsModem::StartCall(const char* number) {
  if (Calling() || !CallerStarts(number)) return false;
  callMade_ = true;
  callAt_ = clock_.TickCount();
  callEnd_ = CallEnd::kNone;
  return true;
}

// While both sharing phones send, a call waits for no SMS: one phone calls while the other,
// past its start-up, sends.
bool SmsModem::CallerStarts(const char* number) {
  if (!sharing_.On() || sharing_.Borrowers() != kBothPhones) {
    return queue_.Empty() && Sender().StartCall(number);
  }
  if ((queue_.Empty() || standby_->Answers()) && phone_.StartCall(number)) return true;
  return (queue_.Empty() || phone_.Answers()) && standby_->StartCall(number);
}

bool SmsModem::Calling() const {
  return phone_.Calling() || (standby_ && standby_->Calling());
}

SmsModem::LastCall SmsModem::LastCallMade() const {
  LastCall last;
  last.made = callMade_;
  last.minutesAgo = callMade_ ? Elapsed(clock_.TickCount(), callAt_) / kMinute : 0;
  last.end = callEnd_;
  return last;
}

// The failover's choice is the queue's lending policy: the queue lends to one phone only.
void SmsModem::Arbitrate() {
  if (sharing_.On()) {
    Share();
    return;
  }
  bool before = failover_.StandbySends();
  bool standby =
      failover_.Pass(View(phone_), View(*standby_), phone_.PortName(), standby_->PortName());
  queue_.LendTo(static_cast<uint8_t>(1u << (standby ? kStandbyPhone : kMainPhone)));
  if (standby != before) events_.Add(ModemEvent::kSwitched)->change = failover_.LastSwitch();
}

// Sharing phones: the queue lends to both while both are well.
void SmsModem::Share() {
  uint8_t before = sharing_.Borrowers();
  queue_.LendTo(
      sharing_.Pass(View(phone_), View(*standby_), phone_.PortName(), standby_->PortName()));
  if (sharing_.Borrowers() != before) {
    events_.Add(ModemEvent::kSwitched)->change = sharing_.LastSwitch();
  }
}

NextStep SmsModem::WhenToStep() const {
  if (!standby_) return phone_.WhenToStep();
  return Sooner(phone_.WhenToStep(), standby_->WhenToStep());
}

// With two phones, the wait is at the port whose answer is awaited, and ends when the other
// phone's pause does; while both await one, it goes from port to port a slice at a time.
WaitEnd SmsModem::WaitForAnswer(uint32_t milliseconds, Keyboard& keyboard) {
  if (!standby_) return phone_.WaitForAnswer(milliseconds, keyboard);
  NextStep main = phone_.WhenToStep();
  NextStep standby = standby_->WhenToStep();
  if (main.kind == NextStep::kOnBytes && standby.kind == NextStep::kOnBytes) {
    uint32_t slice = milliseconds < kWaitSlice ? milliseconds : kWaitSlice;
    WaitEnd end = phone_.WaitForAnswer(slice, keyboard);
    return end != WaitEnd::kTime ? end : standby_->WaitForAnswer(slice, keyboard);
  }
  bool mainWaits = main.kind == NextStep::kOnBytes;
  const NextStep& other = mainWaits ? standby : main;
  if (other.kind == NextStep::kAfterPause && other.milliseconds < milliseconds) {
    milliseconds = other.milliseconds;
  }
  return (mainWaits ? phone_ : *standby_).WaitForAnswer(milliseconds, keyboard);
}

const char* SmsModem::Registration() const {
  return RegistrationWords(Sender().Health().registration);
}

int SmsModem::SignalStrength() const {
  return Sender().Health().signal;
}

int SmsModem::LastError() const {
  return Sender().Health().lastError;
}

bool SmsModem::HasBeenReady() const {
  return phone_.Health().hasBeenReady || (standby_ && standby_->Health().hasBeenReady);
}

const SmsTally& SmsModem::Tally() const {
  return queue_.Tally();
}

void SmsModem::ListenForReplies() {
  listening_ = true;
  phone_.ListenForReplies();
  if (standby_) standby_->ListenForReplies();
}

const OutgoingSms& SmsModem::Queued(int index) const {
  return queue_.At(index);
}

uint32_t SmsModem::QueueChanges() const {
  return queue_.Changes();
}

uint32_t SmsModem::Requeue(const char* text, const char* number, int32_t attempts, SmsKind kind,
                           int8_t urgency, uint32_t id) {
  return queue_.Requeue(text, number, attempts, kind, urgency, id);
}

uint32_t SmsModem::Borrowed(uint8_t phone) const {
  if (phone == kMainPhone) return phone_.Borrowed();
  return standby_ && phone == kStandbyPhone ? standby_->Borrowed() : 0;
}

}  // namespace kelvor
