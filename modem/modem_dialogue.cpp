#include "modem/modem_dialogue.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace kelvor {
namespace {

constexpr size_t kSkippedBytes = 2;  // the CR LF that opens a modem answer
// "RX<<" and 251 characters fill the log's 255-character line exactly.
constexpr int kShownChunk = 251;

}  // namespace

int32_t SignalPercent(int32_t rssi) {
  if (rssi < 0 || rssi > 31) return 0;
  return rssi * 100 / 31;
}

ModemDialogue::ModemDialogue(SerialLink& link, OutgoingQueue& queue, IncomingSmsReader& reader,
                             Log& log, Clock& clock)
    : link_(link), queue_(queue), reader_(reader), log_(log), clock_(clock) {}

bool ModemDialogue::TakeIncoming(IncomingSms* sms) {
  if (!inboxFull_) return false;
  *sms = inbox_;
  inboxFull_ = false;
  return true;
}

void ModemDialogue::Start() {
  state_ = WaitReset;
  serviceNumber_[0] = '\0';
  accumulatedLength_ = 0;
  response_[0] = '\0';
  deadline_ = PassedDeadline(clock_.TickCount());
  lastError_ = 0;
  signalStrength_ = 0;
  hasBeenReady_ = false;
  pausing_ = false;
}

void ModemDialogue::SetServiceNumber(const char* number) {
  if (number != nullptr) {
    if (strlen(number) >= sizeof serviceNumber_) {
      log_.LogMessage(Colour::kError, "Service number longer than %d characters - ignored\r\n",
                      static_cast<int>(sizeof serviceNumber_ - 1));
    } else if (!SafeForCommand(number)) {
      log_.LogMessage(Colour::kError, "Bad Service number - ignored\r\n");
    } else {
      memcpy(serviceNumber_, number, strlen(number) + 1);
    }
  }
  log_.LogMessage(Colour::kModem, "Service number Set to %s\r\n", serviceNumber_);
}

void ModemDialogue::PollModem() {
  if (HeldByPause()) return;
  if (!TimedOut()) {
    Step();
    return;
  }
  state_ = WaitReset;
  log_.LogMessage(Colour::kModem, "Timeout\r\n");
  // A modem that stays silent may be one whose port has gone (unplugged, re-enumerated):
  // the reset command then goes out on a fresh handle. A working port is kept.
  link_.ReopenIfFailed();
  SendRaw("ATZ\r", 4);
  DiscardResponse();
}

NextStep ModemDialogue::WhenToStep() const {
  if (pausing_) {
    uint32_t left = PauseLeft();
    return left > 0 ? NextStep{NextStep::kAfterPause, left} : NextStep{NextStep::kNow, 0};
  }
  if (state_ != Ready) return {NextStep::kOnBytes, 0};
  return {queue_.Empty() ? NextStep::kIdle : NextStep::kNow, 0};
}

// Some phones need a rest after a confirmed SMS. Only the dialogue rests: it neither reads
// nor steps until the pause is over, then throws away the response and whatever arrived
// meanwhile, and goes on.
bool ModemDialogue::HeldByPause() {
  if (!pausing_) return false;
  if (PauseLeft() > 0) return true;
  pausing_ = false;
  DiscardResponse();
  return false;
}

// A clock that has jumped past the pause's end (or far beyond, across the tick's wrap) has
// ended it.
uint32_t ModemDialogue::PauseLeft() const {
  uint32_t left = pauseEnd_ - clock_.TickCount();
  return left <= kPauseAfterSend ? left : 0;
}

// Reads first; only a step that brought nothing new can time out, and never in Ready.
bool ModemDialogue::TimedOut() {
  bool received = ReceiveResponse();
  return !received && DeadlinePassed(clock_.TickCount(), deadline_) && state_ != Ready;
}

// The initialisation: in each of these states an "OK" logs a line, empties the response,
// moves on and sends the next command, if there is one.
namespace {

struct OkStep {
  ModemState state;
  const char* logLine;
  ModemState next;
  const char* command;
};
constexpr OkStep kOkSteps[] = {
    {WaitReset, "Going to CMEE\r\n", WaitErrorMode, "AT+CMEE=1\r"},
    {WaitErrorMode, "Going to ATE0\r\n", WaitEchoOff, "ATE0\r"},
    {WaitEchoOff, "Going to text\r\n", WaitTextMode, "AT+CMGF=1\r"},
    {WaitTextMode, "Query Service\r\n", WaitServiceQuery, "AT+CSCA?\r"},
    // The two ways to Ready differ in the case of the R, as operators' logs have them.
    {WaitServiceQuery, "Going to ready\r\n", Ready, nullptr},
    {WaitServiceSet, "Going to Ready\r\n", Ready, nullptr},
};

}  // namespace

void ModemDialogue::Step() {
  switch (state_) {
    case WaitReset:
      AdvanceOnOk();
      // A modem left waiting for SMS text takes every command as text; Ctrl-Z ends that
      // text. The ">" stays in the response, so Ctrl-Z goes out on every step until "OK".
      if (Contains(">")) SendCtrlZ();
      break;
    case WaitServiceQuery:
      if (!AdvanceOnOk() && Contains("ERROR")) {
        Advance("Query Service\r\n", WaitServiceSet);
        SendCommand("AT+CSCA=\"%s\"\r", serviceNumber_);
      }
      break;
    case Ready:
      StepReady();
      break;
    case WaitPrompt:
      StepPrompt();
      break;
    case WaitSendResult:
      StepSendResult();
      break;
    case WaitSignal:
      StepSignal();
      break;
    default:
      AdvanceOnOk();
      break;
  }
}

bool ModemDialogue::AdvanceOnOk() {
  if (!Contains("OK")) return false;
  for (const OkStep& step : kOkSteps) {
    if (step.state != state_) continue;
    Advance(step.logLine, step.next);
    if (step.command != nullptr) SendCommand("%s", step.command);
    return true;
  }
  return false;
}

void ModemDialogue::Advance(const char* logLine, ModemState next) {
  log_.LogMessage(Colour::kModem, "%s", logLine);
  DiscardResponse();
  state_ = next;
  if (next == Ready) hasBeenReady_ = true;
}

void ModemDialogue::StepReady() {
  DropExhausted();
  if (!queue_.Empty()) {
    SendCommand("AT+CMGS=\"%s\"\r", queue_.Head().number);
    state_ = WaitPrompt;
  } else if (DeadlinePassed(clock_.TickCount(), deadline_)) {
    SendCommand("AT+CSQ\r");
    state_ = WaitSignal;
  }
  TakeError("+CME");
  TakeError("+CMS");
}

// An SMS whose text has gone out four times is given up; the operator is told, since it
// carries alarms nobody will receive.
void ModemDialogue::DropExhausted() {
  while (!queue_.Empty() && queue_.Head().attempts >= kMaxAttempts) {
    log_.LogMessage(Colour::kError, "SMS to %s dropped after %d failed sendings\r\n",
                    queue_.Head().number, static_cast<int>(queue_.Head().attempts));
    queue_.RemoveGivenUp();
  }
}

void ModemDialogue::TakeError(const char* marker) {
  const char* found = strstr(response_, marker);
  const char* colon = found != nullptr ? strchr(found, ':') : nullptr;
  if (colon == nullptr || !LineEnded(colon)) return;
  lastError_ = ReadLeadingInteger(colon + 1);
  DiscardResponse();
}

void ModemDialogue::StepPrompt() {
  if (!Contains(">")) return;
  if (queue_.Empty()) {  // nothing to send after all: start over from Ready
    state_ = Ready;
    DiscardResponse();
    return;
  }
  SendCommand("%s%c", queue_.Head().text, kCtrlZ);
  state_ = WaitSendResult;
  queue_.CountAttempt();
  DiscardResponse();
}

void ModemDialogue::StepSendResult() {
  if (Contains("+CMGS")) {
    queue_.RemoveSent();
    state_ = Ready;
    log_.LogMessage(Colour::kModem, "Successfull send\r\n");  // spelt as operators know it
    pausing_ = true;
    pauseEnd_ = clock_.TickCount() + kPauseAfterSend;
    return;  // the response goes when the pause ends
  }
  RefusedSend("+CME");
  RefusedSend("+CMS");
}

// A refused SMS is sent again only after the time-out has reset the modem.
void ModemDialogue::RefusedSend(const char* marker) {
  const char* found = strstr(response_, marker);
  if (found == nullptr || strchr(found, ':') == nullptr) return;
  DiscardResponse();
  lastError_ = kSendFailed;
  RenewDeadline();
}

void ModemDialogue::StepSignal() {
  const char* found = strstr(response_, "+CSQ:");
  if (found == nullptr || !LineEnded(found)) return;
  signalStrength_ = SignalPercent(ReadLeadingInteger(found + 5));
  log_.LogMessage(Colour::kModem, "Signal Strength = %d %%\r\n", static_cast<int>(signalStrength_));
  state_ = Ready;
  DiscardResponse();
  RenewDeadline();
}

bool ModemDialogue::ReceiveResponse() {
  uint32_t count = link_.ReadAvailable();
  if (count == 0) return false;
  if (accumulatedLength_ + count >= kResponseSize) return false;
  const char* chunk = link_.ReceiveBuffer();
  // A chunk of one or two bytes shows nothing; its terminator is where the text starts.
  size_t skipped = count < kSkippedBytes ? count : kSkippedBytes;
  log_.LogMessage(Colour::kModem, "RX<<%.*s", kShownChunk, chunk + skipped);
  size_t held = strlen(response_);
  size_t length = strnlen(chunk, count);
  memcpy(response_ + held, chunk, length);
  response_[held + length] = '\0';
  accumulatedLength_ += count;
  return true;
}

void ModemDialogue::SendRaw(const char* data, uint32_t length) {
  link_.WriteBytes(data, length);
  RenewDeadline();
  log_.LogMessage(Colour::kCommand, "TX>>%s", data);
}

void ModemDialogue::SendCommand(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int length = vsnprintf(command_, sizeof command_, format, args);
  va_end(args);
  if (length < 0) length = 0;
  if (length >= static_cast<int>(sizeof command_)) length = sizeof command_ - 1;
  link_.WriteBytes(command_, static_cast<uint32_t>(length));
  RenewDeadline();
  log_.LogMessage(Colour::kCommand, "TX>>%s", command_);
}

// Ctrl-Z leaves the deadline alone: it goes out on every step, and a modem that answered
// each one with an error instead of "OK" would otherwise put the reset off for ever.
void ModemDialogue::SendCtrlZ() {
  link_.WriteBytes(&kCtrlZ, 1);
  log_.LogMessage(Colour::kCommand, "TX>>%c", kCtrlZ);
}

void ModemDialogue::DiscardResponse() {
  accumulatedLength_ = 0;
  response_[0] = '\0';
  link_.PurgePort();
}

// An answer split over several reads may stop inside its number: the number is read only
// once the line it stands on has ended.
bool ModemDialogue::LineEnded(const char* answer) const {
  return strpbrk(answer, "\r\n") != nullptr;
}

bool ModemDialogue::Contains(const char* text) const {
  return strstr(response_, text) != nullptr;
}

void ModemDialogue::RenewDeadline() {
  deadline_ = clock_.TickCount() + kAnswerTimeout;
}

}  // namespace kelvor
