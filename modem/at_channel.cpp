#include "modem/at_channel.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "modem/incoming_sms_reader.h"
#include "modem/phone_reports.h"
#include "modem/sms_outbox.h"
#include "platform/text.h"

namespace kelvor {
namespace {

constexpr size_t kSkippedBytes = 2;  // the CR LF that opens a modem answer
// "RX<<" and 251 characters fill the log's 255-character line exactly.
constexpr int kShownChunk = 251;
constexpr size_t kCommandSize = 256;
constexpr int kReadsBeforeDiscard = 8;

}  // namespace

AtChannel::AtChannel(SerialLink& link, Log& log, Clock& clock)
    : link_(link), log_(log), clock_(clock) {}

// As if the last command had gone a whole answer's time ago, and a tick more.
void AtChannel::Start() {
  ClearLines();
  answersTo_ = AnswersTo::kAnswer;
  activeAt_ = PassedDeadline(clock_.TickCount()) - kAnswerTimeout;
  errorSaid_ = false;
}

void AtChannel::Overhear(IncomingSmsReader* reader) {
  overheard_ = reader;
  if (reader != nullptr) reader->HearReports(reports_);
}

void AtChannel::HearReports(PhoneReports* reports) {
  reports_ = reports;
  if (overheard_ != nullptr) overheard_->HearReports(reports);
}

bool AtChannel::Receive() {
  uint32_t count = link_.ReadAvailable();
  if (count == 0) return false;
  commandUnread_ = false;
  const char* chunk = link_.ReceiveBuffer();
  if (answersTo_ == AnswersTo::kReader) return ReceiveReading(chunk, count);
  Show(chunk, count);
  return SortLines(chunk, count);
}

// A chunk counts as an answer only when it brings something new: a line that chatters, an
// error repeated or an answer beyond its room leaves the time-out to come.
bool AtChannel::SortLines(const char* chunk, uint32_t count) {
  bool news = false;
  bool grew = false;  // the line under way at the end of the chunk
  for (uint32_t i = 0; i < count; ++i) {
    char c = chunk[i];
    if (c == '\r' || c == '\n') {
      news = EndLine() || news;
      grew = false;
    } else if (c == '\0') {
      continue;
    } else if (lineLength_ < kLineSize - 1) {
      line_[lineLength_++] = c;
      grew = true;
    } else {
      lineCut_ = true;
    }
  }
  // The prompt comes without a line end.
  line_[lineLength_] = '\0';
  if (!answer_.Prompted() && SortLine(line_, lineLength_).kind == LineKind::kPrompt) {
    answer_.Prompt();
    news = true;
  }
  return news || grew;
}

// True when the line added to the answer or was heard.
bool AtChannel::EndLine() {
  if (lineLength_ == 0) return false;
  line_[lineLength_] = '\0';
  SortedLine sorted = SortLine(line_, lineLength_);
  bool news = true;
  int32_t code = 0;
  switch (sorted.kind) {
    case LineKind::kInformation:
      news = Information();
      break;
    case LineKind::kFinal:
      news = answer_.AddFinal(sorted.final, line_);
      if (ErrorNumber(line_, &code)) {
        SayError(sorted.final == FinalResult::kPhoneError ? ErrorKind::kPhone : ErrorKind::kSms,
                 code);
      }
      break;
    case LineKind::kPrompt:
      news = !answer_.Prompted();
      answer_.Prompt();
      break;
    case LineKind::kUnsolicited:
      Hear(sorted.heard);
      news = answer_.CountHeard();
      break;
  }
  lineLength_ = 0;
  lineCut_ = false;
  return news;
}

// The first line an answer has no room for is said; the answer's final result still comes.
bool AtChannel::Information() {
  if (answer_.AddInformation(line_, lineLength_)) return true;
  if (answer_.Dropped() == 1) {
    log_.LogMessage(Colour::kError, "Answer longer than %d bytes - its further lines dropped\r\n",
                    static_cast<int>(kInformationSize));
  }
  return false;
}

// Each unsolicited line becomes what it tells here, whatever the conversation under way.
void AtChannel::Hear(Heard heard) {
  switch (heard) {
    case Heard::kSmsArrived:
      if (overheard_ != nullptr) overheard_->Announced(line_, lineLength_, lineCut_);
      return;
    case Heard::kReport:
      if (reports_ != nullptr) reports_->Heard(line_);
      return;
    case Heard::kNone:
    case Heard::kCall:          // Kelvor never answers a call
    case Heard::kRegistration:  // the registration is asked for (AT+CREG?), never announced
    case Heard::kUssd:
      return;
  }
}

void AtChannel::ClearLines() {
  answer_.Clear();
  lineLength_ = 0;
  lineCut_ = false;
}

// A long listing on a slow line takes time, so each chunk puts the time-out off, up to
// kLongestReadAnswer bytes; a line that chatters beyond that has its chunks dropped, and the
// time-out resets the phone.
bool AtChannel::ReceiveReading(const char* chunk, uint32_t count) {
  if (count > kLongestReadAnswer - readBytes_) return false;
  readBytes_ += count;
  readAt_ = clock_.TickCount();
  overheard_->Feed(chunk, count);
  Show(chunk, count);
  Renew();
  return true;
}

void AtChannel::Send(const char* command) {
  Write(command, static_cast<uint32_t>(strlen(command)), command);
}

void AtChannel::SendFormatted(const char* format, ...) {
  char command[kCommandSize];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(command, sizeof command, format, args);
  va_end(args);
  if (length < 0) length = 0;
  if (length >= static_cast<int>(sizeof command)) length = sizeof command - 1;
  Write(command, static_cast<uint32_t>(length), command);
}

void AtChannel::SendMasked(const char* command, const char* shown) {
  Write(command, static_cast<uint32_t>(strlen(command)), shown);
}

void AtChannel::SendReading(const char* command) {
  readBytes_ = 0;
  readAt_ = clock_.TickCount();
  Send(command);
  answersTo_ = AnswersTo::kReader;
}

// Ctrl-Z leaves the deadline alone: it goes out on every step, and a phone that answered
// each one with an error instead of "OK" would otherwise put the reset off for ever.
void AtChannel::SendCtrlZ() {
  link_.WriteBytes(&kCtrlZ, 1);
  log_.LogMessage(Colour::kCommand, "TX>>%c", kCtrlZ);
}

void AtChannel::Write(const char* command, uint32_t length, const char* shown) {
  answersTo_ = AnswersTo::kAnswer;
  commandUnread_ = true;
  link_.WriteBytes(command, length);
  Renew();
  log_.LogMessage(Colour::kCommand, "TX>>%s", shown);
}

// A pushed status report comes once: with reports asked, what waits at the port is read
// before it is dropped, so that a report among those bytes is still heard; but not right
// after a command, whose answer may wait there already and must not be taken for read.
void AtChannel::Discard() {
  bool drain = reports_ != nullptr && reports_->Asked() && !commandUnread_;
  for (int reads = 0; drain && reads < kReadsBeforeDiscard && Receive(); ++reads) {
  }
  ClearLines();
  link_.PurgePort();
}

bool AtChannel::TimedOut() const {
  return IdleFor(kAnswerTimeout);
}

bool AtChannel::IdleFor(uint32_t milliseconds) const {
  return DeadlinePassed(clock_.TickCount(), activeAt_ + milliseconds);
}

void AtChannel::Renew() {
  activeAt_ = clock_.TickCount();
}

bool AtChannel::ReadingQuietFor(uint32_t milliseconds) const {
  return Elapsed(clock_.TickCount(), readAt_) >= milliseconds;
}

// What the phone sent as its line shows it, from the third byte on: a chunk of one or two
// bytes shows nothing, its terminator being where the text starts. Its control bytes show
// as '?': an SMS read holds whatever its sender wrote, and an escape sequence must not reach
// the console or the log file. A phone that echoes in spite of ATE0 would show the PIN: its
// digits are masked.
void AtChannel::Show(const char* chunk, uint32_t count) {
  char shown[kShownChunk + 1];
  snprintf(shown, sizeof shown, "%s", chunk + (count < kSkippedBytes ? count : kSkippedBytes));
  for (char* at = shown; *at != '\0'; ++at) {
    if (*at != '\r' && *at != '\n') *at = ShownByte(*at);
  }
  size_t length = strlen(secret_);
  for (char* at = length > 0 ? strstr(shown, secret_) : nullptr; at != nullptr;
       at = strstr(at + length, secret_)) {
    memset(at, '*', length);
  }
  log_.LogMessage(Colour::kModem, "RX<<%s", shown);
}

// The first time an error appears, and again when another came between: one line, the
// meaning and what to do, for the errors a site engineer must act on.
void AtChannel::SayError(ErrorKind kind, int32_t code) {
  if (IsSimError(kind, code)) simTrouble_ = true;
  if (errorSaid_ && kind == saidKind_ && code == saidCode_) return;
  errorSaid_ = true;
  saidKind_ = kind;
  saidCode_ = code;
  const ErrorWords* words = WordsForError(kind, code);
  if (words == nullptr) return;
  log_.LogMessage(Colour::kError, "%s %d means %s - %s\r\n",
                  kind == ErrorKind::kPhone ? "+CME ERROR:" : "+CMS ERROR:", static_cast<int>(code),
                  words->meaning, words->action);
}

}  // namespace kelvor
