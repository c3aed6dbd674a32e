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

constexpr int32_t kSimBusy = 14;           // +CME ERROR: the SIM is busy
constexpr size_t kErrorMarkerLength = 11;  // "+CME ERROR:", "+CMS ERROR:"

// The states of +CREG, 0 to 5.
const char* const kRegistrationWords[] = {"not registered", "registered", "searching",
                                          "denied",         "unknown",    "roaming"};
constexpr int32_t kRegisteredHome = 1;
constexpr int32_t kRegisteredRoaming = 5;
constexpr int32_t kRegistrationOther = 4;  // "unknown", for a state outside 0 to 5

}  // namespace

const char* RegistrationWords(int32_t registration) {
  if (registration < 0 || registration > kRegisteredRoaming) return nullptr;
  return kRegistrationWords[registration];
}

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
  pin_[0] = '\0';
  pinRefused_ = false;
  pinUnanswered_ = false;
  askPinLater_ = false;
  networkAway_ = false;
  registration_ = kRegistrationUnknown;
  errorSeen_ = false;
}

void ModemDialogue::SetServiceNumber(const char* number) {
  if (number != nullptr) {
    if (strlen(number) >= sizeof serviceNumber_) {
      log_.LogMessage(Colour::kError, "Service number longer than %d characters - ignored\r\n",
                      static_cast<int>(sizeof serviceNumber_ - 1));
    } else if (!FitsCommand(number)) {
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
  // SMS held for the network are not addressed: Ready is as idle as with none.
  return {queue_.Empty() || networkAway_ ? NextStep::kIdle : NextStep::kNow, 0};
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
  uint32_t left = TimeLeft(clock_.TickCount(), pauseEnd_);
  return left <= kPauseAfterSend ? left : 0;
}

// Reads first; only a step that brought nothing new can time out, and never in Ready.
bool ModemDialogue::TimedOut() {
  received_ = ReceiveResponse();
  return !received_ && DeadlinePassed(clock_.TickCount(), deadline_) && state_ != Ready;
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
    case WaitEchoOff:
      StepEchoOff();
      break;
    case WaitTextMode:
      StepTextMode();
      break;
    case WaitIndication:
      StepIndication();
      break;
    case WaitList:
    case WaitRead:
    case WaitDelete:
      StepReading();
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
    case WaitPinQuery:
      StepPinQuery();
      break;
    case WaitPin:
      StepPin();
      break;
    case WaitRegistration:
      StepRegistration();
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
  if (next != Ready) return;
  hasBeenReady_ = true;
  listReadNext_ = listening_;  // a reset may have cut a read short
  errorSeen_ = false;          // whatever kept the modem from Ready is over
}

void ModemDialogue::StepReady() {
  DropExhausted();
  if (!queue_.Empty() && !networkAway_) {
    SendCommand("AT+CMGS=\"%s\"\r", queue_.Head().number);
    state_ = WaitPrompt;
  } else if (listening_ && StartReading()) {
    // a reading command went out; the signal query waits for Ready
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
  if (ErrorCode(marker, &lastError_)) DiscardResponse();
}

// The number after the first `marker` ("+CME", "+CMS") of the response and the colon that
// follows it, once its line has ended.
bool ModemDialogue::ErrorCode(const char* marker, int32_t* code) const {
  const char* found = strstr(response_, marker);
  const char* colon = found != nullptr ? strchr(found, ':') : nullptr;
  if (colon == nullptr || !LineEnded(colon)) return false;
  *code = ReadLeadingInteger(colon + 1);
  return true;
}

void ModemDialogue::StepPrompt() {
  if (!Contains(">")) {
    PromptRefused("+CME", ErrorKind::kPhone);
    PromptRefused("+CMS", ErrorKind::kSms);
    return;
  }
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
    errorSeen_ = false;
    pausing_ = true;
    pauseEnd_ = clock_.TickCount() + kPauseAfterSend;
    return;  // the response goes when the pause ends
  }
  RefusedSend("+CME", ErrorKind::kPhone);
  RefusedSend("+CMS", ErrorKind::kSms);
}

// A refused SMS is sent again only after the time-out has reset the modem; one refused for
// the network or for the SIM's PIN waits without losing a sending (HoldHead).
void ModemDialogue::RefusedSend(const char* marker, ErrorKind kind) {
  int32_t code = 0;
  if (!ErrorCode(marker, &code)) return;
  DiscardResponse();
  lastError_ = kSendFailed;
  RenewDeadline();
  Refusal refusal = RefusalFor(kind, code);
  if (refusal == Refusal::kCounts) return;
  queue_.TakeBackAttempt();
  HoldHead(refusal);
}

// A phone off the network may refuse AT+CMGS itself. Any other error there is left to the
// time-out, which addresses the same SMS again.
void ModemDialogue::PromptRefused(const char* marker, ErrorKind kind) {
  int32_t code = 0;
  if (!ErrorCode(marker, &code) || RefusalFor(kind, code) != Refusal::kWaitsNetwork) return;
  DiscardResponse();
  lastError_ = kSendFailed;
  RenewDeadline();
  HoldHead(Refusal::kWaitsNetwork);
}

// The head SMS keeps its place and its sendings. Waiting for the network, the dialogue
// goes back to Ready, which addresses it again once AT+CREG? says the phone is registered;
// waiting for the PIN, the time-out's reset gives the SIM its PIN first.
void ModemDialogue::HoldHead(Refusal refusal) {
  bool network = refusal == Refusal::kWaitsNetwork;
  log_.LogMessage(Colour::kModem, "SMS to %s waits for %s - not counted as a sending\r\n",
                  queue_.Empty() ? "" : queue_.Head().number,
                  network ? "the network" : "the SIM's PIN");
  if (!network) return;
  networkAway_ = true;
  state_ = Ready;
}

void ModemDialogue::StepSignal() {
  const char* found = strstr(response_, "+CSQ:");
  if (found == nullptr || !LineEnded(found)) return;
  signalStrength_ = SignalPercent(ReadLeadingInteger(found + 5));
  log_.LogMessage(Colour::kModem, "Signal Strength = %d %%\r\n", static_cast<int>(signalStrength_));
  if (networkAway_) {  // an SMS waits for the network: is the phone back on it?
    DiscardResponse();
    state_ = WaitRegistration;
    SendCommand("AT+CREG?\r");
    return;
  }
  state_ = Ready;
  DiscardResponse();
  RenewDeadline();
}

// A phone that cannot say where it is (an ERROR) lets the SMS waiting try again; its
// refusal, if the network is still away, holds it once more.
void ModemDialogue::StepRegistration() {
  const char* found = strstr(response_, "+CREG:");
  if (found != nullptr && LineEnded(found)) {
    TakeRegistration(found + 6);
  } else if (Contains("ERROR")) {
    networkAway_ = false;
  } else {
    return;
  }
  state_ = Ready;
  DiscardResponse();
  RenewDeadline();
}

// "+CREG: <n>,<stat>[,<lac>,<ci>]" as the query answers, or "+CREG: <stat>" unasked.
void ModemDialogue::TakeRegistration(const char* fields) {
  int32_t stat = ReadLeadingInteger(fields);
  const char* comma = strchr(fields, ',');
  if (comma != nullptr && comma < strpbrk(fields, "\r\n")) stat = ReadLeadingInteger(comma + 1);
  if (RegistrationWords(stat) == nullptr) stat = kRegistrationOther;
  bool registered = stat == kRegisteredHome || stat == kRegisteredRoaming;
  if (registered) networkAway_ = false;
  if (stat == registration_) return;
  registration_ = stat;
  log_.LogMessage(registered ? Colour::kModem : Colour::kError, "Network registration: %s\r\n",
                  RegistrationWords(stat));
}

// With a PIN given, the initialisation asks the SIM whether it wants it before text mode.
void ModemDialogue::StepEchoOff() {
  if (pin_[0] == '\0' || !Contains("OK")) {
    AdvanceOnOk();
    return;
  }
  simBusyAnswers_ = 0;
  askPinLater_ = false;
  Advance("Query PIN\r\n", WaitPinQuery);
  SendCommand("AT+CPIN?\r");
}

void ModemDialogue::StepPinQuery() {
  if (askPinLater_) {
    if (!DeadlinePassed(clock_.TickCount(), askPinAt_)) return;
    askPinLater_ = false;
    SendCommand("AT+CPIN?\r");
    return;
  }
  const char* answer = strstr(response_, "+CPIN:");
  if (answer != nullptr) {
    if (LineEnded(answer) && strstr(answer, "OK") != nullptr) TakePinState(answer + 6);
    return;
  }
  int32_t code = 0;
  if (ErrorCode("+CME", &code) && code == kSimBusy) {
    WaitForSim();
    return;
  }
  // A phone that cannot say (a bare OK, an error) goes on as it would without a PIN.
  if (Contains("OK") || LineEndedError()) GoToTextMode();
}

// "READY", or a state this run has no answer to (a PUK, a PIN the SIM refused, no PIN),
// goes on to text mode; the errors there say in words what is wrong. A SIM that wants its
// PIN after one went out unanswered (the time-out's reset came first) may have counted it
// wrong: that counts as a refusal.
void ModemDialogue::TakePinState(const char* state) {
  while (*state == ' ') ++state;
  bool wantsPin = strncmp(state, "SIM PIN", 7) == 0 && state[7] != '2';
  if (wantsPin && pinUnanswered_) {
    RefusePin();
    return;
  }
  if (!wantsPin || pinRefused_ || pin_[0] == '\0') {
    GoToTextMode();
    return;
  }
  Advance("Sending PIN\r\n", WaitPin);
  SendPin();
}

// A PIN the SIM refuses is never sent again in this run: three wrong ones block the SIM
// for good. The initialisation goes on without it (text mode will be refused), and the
// time-outs reset the modem as they would without a PIN.
void ModemDialogue::StepPin() {
  if (Contains("OK")) {  // some SIMs are busy for a while after their PIN: asked again
    pinUnanswered_ = false;
    Advance("PIN accepted\r\n", WaitPinQuery);
    SendCommand("AT+CPIN?\r");
    return;
  }
  int32_t code = 0;
  if (ErrorCode("+CME", &code) && code == kSimBusy) {  // the PIN was not tried
    pinUnanswered_ = false;
    WaitForSim();
    return;
  }
  // Any other refusal may be a wrong PIN: a phone without numbered errors says only ERROR.
  if (LineEndedError()) RefusePin();
}

void ModemDialogue::RefusePin() {
  pinRefused_ = true;
  pinUnanswered_ = false;
  log_.LogMessage(Colour::kError,
                  "PIN refused by the SIM - not sent again in this run (three wrong PINs block "
                  "the SIM): check PIN= and restart Kelvor\r\n");
  GoToTextMode();
}

// An "ERROR" of any kind whose line has ended.
bool ModemDialogue::LineEndedError() const {
  const char* error = strstr(response_, "ERROR");
  return error != nullptr && LineEnded(error);
}

// A busy SIM is asked again a few seconds later; a SIM busy for long is left to the
// time-out's reset.
void ModemDialogue::WaitForSim() {
  DiscardResponse();
  state_ = WaitPinQuery;
  if (simBusyAnswers_++ == 0) log_.LogMessage(Colour::kModem, "SIM busy - waiting for it\r\n");
  if (simBusyAnswers_ > kSimBusyAsks) return;
  askPinLater_ = true;
  askPinAt_ = clock_.TickCount() + kSimBusyPause;
}

void ModemDialogue::GoToTextMode() {
  Advance("Going to text\r\n", WaitTextMode);
  SendCommand("AT+CMGF=1\r");
}

// The PIN never shows: its line is masked, and the buffer it was written in wiped.
void ModemDialogue::SendPin() {
  int length = snprintf(command_, sizeof command_, "AT+CPIN=\"%s\"\r", pin_);
  link_.WriteBytes(command_, static_cast<uint32_t>(length));
  memset(command_, 0, sizeof command_);
  pinUnanswered_ = true;
  RenewDeadline();
  log_.LogMessage(Colour::kCommand, "TX>>AT+CPIN=\"****\"\r");
}

// --- Replies: reading the SMS that reach the phone ------------------------------------

bool ModemDialogue::Reading() const {
  return state_ == WaitList || state_ == WaitRead || state_ == WaitDelete;
}

// The answers to reading commands carry texts anyone may have sent: they go to the reader
// alone, never into the response. A long listing on a slow line takes time, so each chunk
// puts the time-out off, up to kLongestReadAnswer bytes; a line that chatters beyond that
// has its chunks dropped, and the time-out resets the modem.
bool ModemDialogue::ReceiveReading(const char* chunk, uint32_t count) {
  if (count > kLongestReadAnswer - readBytes_) return false;
  readBytes_ += count;
  readBytesAt_ = clock_.TickCount();
  reader_.Take(chunk, count);
  ShowReceived(chunk, count);
  RenewDeadline();
  return true;
}

// After text mode, a phone asked to announce each SMS it receives (+CMTI).
void ModemDialogue::StepTextMode() {
  if (!listening_ || !Contains("OK")) {
    AdvanceOnOk();
    return;
  }
  Advance("Going to CNMI\r\n", WaitIndication);
  SendCommand("AT+CNMI=2,1\r");
}

// A phone that will not announce SMS goes on all the same: the listings find them.
void ModemDialogue::StepIndication() {
  if (!Contains("OK") && !LineEndedError()) return;
  Advance("Query Service\r\n", WaitServiceQuery);
  SendCommand("AT+CSCA?\r");
}

// One reading command from Ready with nothing to send: an SMS announced or listed is read;
// otherwise, at most every kListingGap, a listing of the SMS unread finds those not
// announced. A phone marks what it lists or shows as read, so the SMS read but not yet
// deleted (a read cut short by a reset, a run stopped in between, a listing longer than
// the reader keeps) are listed once the initialisation is over, and after such a listing.
// An index comes from the reader as a number, never as text.
bool ModemDialogue::StartReading() {
  if (inboxFull_) return false;  // the program has not taken the last one yet
  uint16_t index = 0;
  if (NextRead(&index)) {
    char command[sizeof "AT+CMGR=65535\r"];
    FormatReadCommand(index, command, sizeof command);
    reader_.ExpectMessage(index);
    BeginReading(WaitRead, command);
    return true;
  }
  uint32_t now = clock_.TickCount();
  bool listRead = listReadNext_;
  if (!listRead && listed_ && Elapsed(now, listedAt_) < kListingGap) return false;
  if (listRead) {
    listReadNext_ = false;
  } else {
    listed_ = true;
    listedAt_ = now;
  }
  droppedBefore_ = reader_.Dropped();
  reader_.ExpectListing();
  BeginReading(WaitList, listRead ? kListReadCommand : kListUnreadCommand);
  return true;
}

bool ModemDialogue::NextRead(uint16_t* index) {
  if (!readAgain_) return reader_.NextIndex(index);
  readAgain_ = false;
  *index = rereadIndex_;
  return true;
}

void ModemDialogue::BeginReading(ModemState state, const char* command) {
  state_ = state;
  readBytes_ = 0;
  readBytesAt_ = clock_.TickCount();
  SendCommand("%s", command);
}

// A reading answer ends at a final line followed by kAnswerQuiet without new bytes.
void ModemDialogue::StepReading() {
  if (!received_ && Elapsed(clock_.TickCount(), readBytesAt_) >= kAnswerQuiet) reader_.Quiet();
  if (reader_.State() == IncomingSmsReader::kPending) return;
  if (state_ == WaitList && reader_.Dropped() != droppedBefore_) listReadNext_ = true;
  bool read = state_ == WaitRead && reader_.HasMessage();
  if (state_ == WaitRead) ReadAgainIfGarbled();
  state_ = Ready;
  DiscardResponse();
  if (read) TakeMessage();
}

// A read whose answer came garbled is read again next, kReadTries times in a row at most;
// the SMS stays on the SIM, marked read, for the listing of those read to find.
void ModemDialogue::ReadAgainIfGarbled() {
  if (!reader_.Garbled()) {
    garbledReads_ = 0;
    return;
  }
  readAgain_ = ++garbledReads_ < kReadTries;
  if (!readAgain_) garbledReads_ = 0;
  rereadIndex_ = reader_.Message().index;
}

// An SMS received is handed to the program and deleted at once, so that the SIM never
// fills. One stored to be sent (which a forged listing line could point at) is neither.
void ModemDialogue::TakeMessage() {
  const IncomingSms& message = reader_.Message();
  if (message.status != SmsStatus::kUnread && message.status != SmsStatus::kRead) return;
  inbox_ = message;
  inboxFull_ = true;
  char command[sizeof "AT+CMGD=65535\r"];
  FormatDeleteCommand(message.index, command, sizeof command);
  reader_.ExpectAnswer();
  BeginReading(WaitDelete, command);
}

bool ModemDialogue::SetPin(const char* pin) {
  pin_[0] = '\0';
  if (pin == nullptr) return true;
  if (!IsPin(pin)) return false;
  memcpy(pin_, pin, strlen(pin) + 1);
  return true;
}

bool ModemDialogue::ReceiveResponse() {
  uint32_t count = link_.ReadAvailable();
  if (count == 0) return false;
  const char* chunk = link_.ReceiveBuffer();
  if (Reading()) return ReceiveReading(chunk, count);
  // The reader hears announcements (+CMTI) in every state, a full response or not.
  if (listening_) reader_.Take(chunk, count);
  if (accumulatedLength_ + count >= kResponseSize) return false;
  ShowReceived(chunk, count);
  size_t held = strlen(response_);
  size_t length = strnlen(chunk, count);
  memcpy(response_ + held, chunk, length);
  response_[held + length] = '\0';
  accumulatedLength_ += count;
  SayErrors(held);
  return true;
}

// What the phone sent as its line shows it, from the third byte on: a chunk of one or two
// bytes shows nothing, its terminator being where the text starts. Its control bytes show
// as '?': an SMS read holds whatever its sender wrote, and an escape sequence must not reach
// the console or the log file. A phone that echoes in spite of ATE0 would show the PIN: its
// digits are masked.
void ModemDialogue::ShowReceived(const char* chunk, uint32_t count) {
  char shown[kShownChunk + 1];
  snprintf(shown, sizeof shown, "%s", chunk + (count < kSkippedBytes ? count : kSkippedBytes));
  for (char* at = shown; *at != '\0'; ++at) {
    if (*at != '\r' && *at != '\n') *at = ShownByte(*at);
  }
  size_t length = strlen(pin_);
  for (char* at = length > 0 ? strstr(shown, pin_) : nullptr; at != nullptr;
       at = strstr(at + length, pin_)) {
    memset(at, '*', length);
  }
  log_.LogMessage(Colour::kModem, "RX<<%s", shown);
}

// Each error line ended by the text that came in from `from` on (the line it began in
// included) is said in words, whatever the state.
void ModemDialogue::SayErrors(size_t from) {
  while (from > 0 && response_[from - 1] != '\n') --from;
  for (const char* at = strstr(response_ + from, "+CM"); at != nullptr;
       at = strstr(at + 1, "+CM")) {
    bool phone = strncmp(at, "+CME ERROR:", kErrorMarkerLength) == 0;
    if (!phone && strncmp(at, "+CMS ERROR:", kErrorMarkerLength) != 0) continue;
    if (!LineEnded(at)) return;
    SayError(phone ? ErrorKind::kPhone : ErrorKind::kSms,
             ReadLeadingInteger(at + kErrorMarkerLength));
  }
}

// The first time an error appears, and again when another came between: one line, the
// meaning and what to do, for the errors a site engineer must act on.
void ModemDialogue::SayError(ErrorKind kind, int32_t code) {
  if (errorSeen_ && kind == seenKind_ && code == seenCode_) return;
  errorSeen_ = true;
  seenKind_ = kind;
  seenCode_ = code;
  const ErrorWords* words = WordsForError(kind, code);
  if (words == nullptr) return;
  log_.LogMessage(Colour::kError, "%s %d means %s - %s\r\n",
                  kind == ErrorKind::kPhone ? "+CME ERROR:" : "+CMS ERROR:", static_cast<int>(code),
                  words->meaning, words->action);
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
