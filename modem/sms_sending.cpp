#include "modem/sms_sending.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace kelvor {
namespace {

// ms an idle phone waits before its signal is asked: as long as an answer may take, so that
// a phone that has stopped answering is reset within twice that.
constexpr uint32_t kSignalGap = kAnswerTimeout;

constexpr int32_t kRegisteredHome = 1;
constexpr int32_t kRegisteredRoaming = 5;
constexpr int32_t kRegistrationOther = 4;  // "unknown", for a state outside 0 to 5

// 0 to 255, or -1 for a number outside.
int MessageReference(const char* fields) {
  int32_t reference = ReadLeadingInteger(fields);
  return reference >= 0 && reference <= 255 ? static_cast<int>(reference) : -1;
}

DataCoding CodingFor(TextSet set) {
  return set == TextSet::kUcs2 ? DataCoding::kUcs2 : DataCoding::kSevenBit;
}

}  // namespace

SmsSending::SmsSending(AtChannel& channel, OutgoingQueue& queue, uint8_t phone, PhoneHealth& health,
                       RadioWatch& radio, PhoneCharsets& charsets, Log& log, Clock& clock)
    : channel_(channel),
      queue_(queue),
      phone_(phone),
      health_(health),
      radio_(radio),
      charsets_(charsets),
      log_(log),
      clock_(clock) {}

bool SmsSending::Start() {
  DropExhausted();
  if (!HasWork()) return false;
  held_ = *queue_.Lend(phone_);
  lent_ = true;
  form_ = queue_.Coding().SetFor(held_.text, strlen(held_.text), charsets_.offered, charsets_.rest);
  return Address();
}

// The set and the data coding the SMS needs go first, one command a step, each only when it
// is not in force; without a charset chosen neither ever goes. Under UCS2 the phone takes the
// number in hex too.
bool SmsSending::Address() {
  const SmsCoding& coding = queue_.Coding();
  bool ucs2 = form_ == TextSet::kUcs2;
  restoring_ = false;
  if (form_ != TextSet::kNone && form_ != charsets_.inForce) {
    wanted_ = form_;
    channel_.SendFormatted("AT+CSCS=\"%s\"\r", SetName(form_));
    stage_ = Stage::kSelect;
  } else if (form_ != TextSet::kNone && CodingFor(form_) != charsets_.coding) {
    wanted_ = form_;
    ReportSettings plain;
    const ReportSettings& reports = reports_ != nullptr ? *reports_ : plain;
    channel_.SendFormatted("AT+CSMP=%d,%d,0,%d\r", reports.FirstOctet(), reports.Validity(),
                           ucs2 ? 8 : 0);
    stage_ = Stage::kCoding;
  } else {
    char number[kNumberSize * 4 + 1];
    if (ucs2) coding.Encode(held_.number, strlen(held_.number), TextSet::kUcs2, number);
    channel_.SendFormatted("AT+CMGS=\"%s\"\r", ucs2 ? number : held_.number);
    stage_ = Stage::kPrompt;
  }
  return true;
}

bool SmsSending::RestoreSet() {
  if (charsets_.inForce != TextSet::kUcs2 || charsets_.rest == TextSet::kNone) return false;
  wanted_ = charsets_.rest;
  restoring_ = true;
  channel_.SendFormatted("AT+CSCS=\"%s\"\r", SetName(wanted_));
  stage_ = Stage::kSelect;
  return true;
}

bool SmsSending::AskSignal() {
  if (!channel_.IdleFor(kSignalGap)) return false;
  channel_.Send("AT+CSQ\r");
  stage_ = Stage::kSignal;
  return true;
}

bool SmsSending::Step(bool sends) {
  switch (stage_) {
    case Stage::kPrompt:
      return StepPrompt(sends);
    case Stage::kResult:
      return StepResult();
    case Stage::kEscape:
      return StepEscape();
    case Stage::kSignal:
      return StepSignal();
    case Stage::kRegistration:
      return StepRegistration();
    case Stage::kSelect:
      return StepSelect(sends);
    case Stage::kCoding:
      return StepCoding(sends);
    case Stage::kPause:
    case Stage::kNone:
      break;
  }
  return Done();
}

bool SmsSending::Done() {
  GiveBack();
  stage_ = Stage::kNone;
  return false;
}

// An SMS the phone borrowed and did not send goes back, for whichever phone borrows next.
void SmsSending::GiveBack() {
  if (lent_) queue_.Return(held_.id, phone_);
  lent_ = false;
}

// An SMS whose text has gone out four times is given up; the operator is told, since it
// carries alarms nobody will receive.
void SmsSending::DropExhausted() {
  for (const OutgoingSms* next = queue_.Next(phone_);
       next != nullptr && next->attempts >= kMaxAttempts; next = queue_.Next(phone_)) {
    log_.LogMessage(Colour::kError, "SMS to %s dropped after %d failed sendings\r\n", next->number,
                    static_cast<int>(next->attempts));
    queue_.GiveUp(queue_.Lend(phone_)->id, phone_, GiveUpReason::kSendings);
  }
}

bool SmsSending::StepPrompt(bool sends) {
  if (!channel_.Answer().Prompted()) {
    bool held = PromptRefused(ErrorKind::kPhone) || PromptRefused(ErrorKind::kSms);
    return held ? Done() : true;
  }
  channel_.Discard();
  if (!sends || !StillLent()) {  // the SMS went another way meanwhile: the text is abandoned
    GiveBack();
    channel_.SendFormatted("%c", kEscape);
    stage_ = Stage::kEscape;
    return true;
  }
  SendText();
  stage_ = Stage::kResult;
  refused_ = false;
  queue_.CountAttempt(held_.id);
  channel_.Discard();
  return true;
}

// The phone's answer to ESC ends the SMS it abandoned; an answer that never comes is left to
// the time-out.
bool SmsSending::StepEscape() {
  if (!channel_.Answer().Ended()) return true;
  channel_.Discard();
  channel_.Renew();
  return Done();
}

// The text as the phone takes it in the set chosen for it; the console shows it as written.
void SmsSending::SendText() {
  const char* text = held_.text;
  if (form_ == TextSet::kNone) {
    channel_.SendFormatted("%s%c", text, kCtrlZ);
    return;
  }
  char wire[kWireTextSize + 1];
  size_t length = queue_.Coding().Encode(text, strlen(text), form_, wire);
  wire[length] = kCtrlZ;
  wire[length + 1] = '\0';
  char shown[sizeof held_.text + 1];
  snprintf(shown, sizeof shown, "%s%c", text, kCtrlZ);
  channel_.SendMasked(wire, shown);
}

bool SmsSending::StepSelect(bool sends) {
  if (channel_.Answer().Ok()) {
    charsets_.inForce = wanted_;
    channel_.Discard();
    channel_.Renew();
    if (restoring_ || !sends || !StillLent()) return Done();
    return Address();
  }
  return CodingRefused("AT+CSCS");
}

bool SmsSending::StepCoding(bool sends) {
  if (channel_.Answer().Ok()) {
    charsets_.coding = CodingFor(wanted_);
    channel_.Discard();
    channel_.Renew();
    if (!sends || !StillLent()) return Done();
    return Address();
  }
  return CodingRefused("AT+CSMP");
}

// A phone that refuses UCS-2 after offering it gets the SMS in its 7-bit set, '?' for what
// that lacks; one that refuses its 7-bit set gets the bytes as they are. Said at each
// refusal, which the next reset may mend.
bool SmsSending::CodingRefused(const char* command) {
  if (!channel_.Answer().Refused()) return true;
  channel_.Discard();
  channel_.Renew();
  if (wanted_ == TextSet::kUcs2) {
    charsets_.offered = static_cast<uint8_t>(charsets_.offered & ~static_cast<uint8_t>(wanted_));
  } else {
    charsets_.rest = TextSet::kNone;
  }
  log_.LogMessage(Colour::kError, "The phone refused %s for %s - SMS go without it\r\n", command,
                  SetName(wanted_));
  return Done();
}

bool SmsSending::StepResult() {
  const char* confirmed = channel_.Answer().Information("+CMGS:");
  if (confirmed != nullptr) {
    // "+CMGS: <mr>": the reference the SMS's status report will bear (-1: none given).
    queue_.Confirm(held_.id, phone_, MessageReference(confirmed));
    lent_ = false;
    radio_.Confirmed();
    log_.LogMessage(Colour::kModem, "Successfull send\r\n");  // spelt as operators know it
    channel_.ForgetErrorSaid();
    stage_ = Stage::kPause;
    pauseEnd_ = clock_.TickCount() + pause_;
    return true;  // the response goes when the pause ends
  }
  bool held = Refused(ErrorKind::kPhone) || Refused(ErrorKind::kSms);
  return held ? Done() : true;
}

// A refused SMS is sent again only after the time-out has reset the phone; one refused for
// the network or for the SIM's PIN waits without losing a sending (Hold). True when the
// phone goes back to Ready.
bool SmsSending::Refused(ErrorKind kind) {
  int32_t code = 0;
  if (!channel_.Answer().ErrorCode(kind, &code)) return false;
  channel_.Discard();
  health_.lastError = kSendFailed;
  channel_.Renew();
  Refusal refusal = RefusalFor(kind, code);
  if (refusal == Refusal::kCounts) {
    refused_ = true;
    if (IsRadioError(kind, code)) RadioRefused();
    if (IsNetworkAnswer(kind, code)) radio_.Confirmed();  // the radio reached the network
    return radio_.HaltsSending();  // a hung radio is restarted, or held, from Ready at once
  }
  queue_.TakeBackAttempt(held_.id);
  return Hold(refusal);
}

void SmsSending::Abandon() {
  if (stage_ == Stage::kResult && !refused_) RadioRefused();
  Done();
}

// The refusal that finds the radio hung says what becomes of the sendings it refused.
void SmsSending::RadioRefused() {
  if (!radio_.Refused()) return;
  if (!radio_.SendingsTakenBack()) {
    log_.LogMessage(Colour::kError,
                    "Radio hung again before it sent anything since its "
                    "restart - its sendings count\r\n");
    return;
  }
  for (int i = 0; i < kRefusalsThatHang; ++i) queue_.TakeBackAttempt(held_.id);
  log_.LogMessage(
      Colour::kError, "Radio hung: %d sendings in a row refused, not counted - %s\r\n",
      kRefusalsThatHang,
      radio_.RestartDue() ? "restarting it" : "the SMS wait for its restart, one in ten minutes");
}

// A phone off the network may refuse AT+CMGS itself. Any other error there is left to the
// time-out, which addresses the same SMS again.
bool SmsSending::PromptRefused(ErrorKind kind) {
  int32_t code = 0;
  if (!channel_.Answer().ErrorCode(kind, &code) ||
      RefusalFor(kind, code) != Refusal::kWaitsNetwork) {
    return false;
  }
  channel_.Discard();
  health_.lastError = kSendFailed;
  channel_.Renew();
  return Hold(Refusal::kWaitsNetwork);
}

// The head SMS keeps its place and its sendings. Waiting for the network, the phone goes
// back to Ready, which addresses it again once AT+CREG? says the phone is registered;
// waiting for the PIN, the time-out's reset gives the SIM its PIN first.
bool SmsSending::Hold(Refusal refusal) {
  bool network = refusal == Refusal::kWaitsNetwork;
  log_.LogMessage(Colour::kModem, "SMS to %s waits for %s - not counted as a sending\r\n",
                  held_.number, network ? "the network" : "the SIM's PIN");
  if (network) network_ = Network::kAway;
  return network;
}

bool SmsSending::StepSignal() {
  const char* found = channel_.Answer().Information("+CSQ:");
  if (found == nullptr) return true;
  health_.signal = SignalPercent(ReadLeadingInteger(found));
  log_.LogMessage(Colour::kModem, "Signal Strength = %d %%\r\n", static_cast<int>(health_.signal));
  // An SMS waits for the network, or the phone is watched: is the phone on it?
  if (network_ == Network::kAway || watching_) {
    channel_.Discard();
    stage_ = Stage::kRegistration;
    channel_.Send("AT+CREG?\r");
    return true;
  }
  channel_.Discard();
  channel_.Renew();
  return Done();
}

// A phone that cannot say where it is (an ERROR) lets the SMS waiting try again; its
// refusal, if the network is still away, holds it once more.
bool SmsSending::StepRegistration() {
  const char* found = channel_.Answer().Information("+CREG:");
  if (found != nullptr) {
    TakeRegistration(found);
  } else if (channel_.Answer().Refused()) {
    network_ = Network::kUsable;
    health_.registeredNow = true;
  } else {
    return true;
  }
  channel_.Discard();
  channel_.Renew();
  return Done();
}

// "+CREG: <n>,<stat>[,<lac>,<ci>]" as the query answers.
void SmsSending::TakeRegistration(const char* fields) {
  int32_t stat = ReadLeadingInteger(fields);
  const char* comma = strchr(fields, ',');
  if (comma != nullptr) stat = ReadLeadingInteger(comma + 1);
  if (RegistrationWords(stat) == nullptr) stat = kRegistrationOther;
  bool registered = stat == kRegisteredHome || stat == kRegisteredRoaming;
  if (registered) network_ = Network::kUsable;
  health_.registeredNow = registered;
  if (stat == health_.registration) return;
  health_.registration = stat;
  log_.LogMessage(registered ? Colour::kModem : Colour::kError, "Network registration: %s\r\n",
                  RegistrationWords(stat));
}

void SmsSending::SetPause(uint32_t milliseconds) {
  pause_ = milliseconds < kLongestPauseAfterSend ? milliseconds : kLongestPauseAfterSend;
}

uint32_t SmsSending::PauseLeft() const {
  // A clock that has jumped past the pause's end (or far beyond, across the tick's wrap)
  // has ended it.
  uint32_t left = TimeLeft(clock_.TickCount(), pauseEnd_);
  return left <= pause_ ? left : 0;
}

bool SmsSending::PauseOver() {
  if (PauseLeft() > 0) return false;
  stage_ = Stage::kNone;
  channel_.Discard();
  return true;
}

}  // namespace kelvor
