#include "modem/at_channel.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "modem/incoming_sms_reader.h"
#include "modem/sms_outbox.h"
#include "platform/text.h"

namespace kelvor {
namespace {

constexpr size_t kSkippedBytes = 2;  // the CR LF that opens a modem answer
// "RX<<" and 251 characters fill the log's 255-character line exactly.
constexpr int kShownChunk = 251;
constexpr size_t kErrorMarkerLength = 11;  // "+CME ERROR:", "+CMS ERROR:"

}  // namespace

AtChannel::AtChannel(SerialLink& link, Log& log, Clock& clock)
    : link_(link), log_(log), clock_(clock) {}

// As if the last command had gone a whole answer's time ago, and a tick more.
void AtChannel::Start() {
  accumulated_ = 0;
  response_[0] = '\0';
  answersTo_ = AnswersTo::kResponse;
  activeAt_ = PassedDeadline(clock_.TickCount()) - kAnswerTimeout;
  errorSaid_ = false;
}

bool AtChannel::Receive() {
  uint32_t count = link_.ReadAvailable();
  if (count == 0) return false;
  const char* chunk = link_.ReceiveBuffer();
  if (answersTo_ == AnswersTo::kReader) return ReceiveReading(chunk, count);
  // The reader hears announcements (+CMTI) whatever is under way, a full response or not.
  if (overheard_ != nullptr) overheard_->Take(chunk, count);
  if (accumulated_ + count >= kResponseSize) return false;
  Show(chunk, count);
  size_t held = strlen(response_);
  size_t length = strnlen(chunk, count);
  memcpy(response_ + held, chunk, length);
  response_[held + length] = '\0';
  accumulated_ += count;
  SayErrors(DropCallLines(held));
  return true;
}

// An incoming call's lines ("RING", "+CRING: ...", "+CLIP: ...") come unasked every few
// seconds while it rings, whatever command awaits its answer. Kelvor never answers a call:
// each line is taken out of the response once whole, so that the lines neither fill it nor
// read as part of an answer (a caller's name from the phone book could hold "OK" or an
// error's words).
// Returns where the line `from` lies in begins, which the lines dropped leave in place.
size_t AtChannel::DropCallLines(size_t from) {
  while (from > 0 && response_[from - 1] != '\n' && response_[from - 1] != '\r') --from;
  char* line = response_ + from;
  for (char* end = strpbrk(line, "\r\n"); end != nullptr; end = strpbrk(line, "\r\n")) {
    if (!IsIncomingCallLine(line, static_cast<size_t>(end - line))) {
      line = end + 1;
      continue;
    }
    end += strspn(end, "\r\n");
    size_t dropped = static_cast<size_t>(end - line);
    memmove(line, end, strlen(end) + 1);
    accumulated_ -= dropped < accumulated_ ? static_cast<uint32_t>(dropped) : accumulated_;
  }
  return from;
}

// A long listing on a slow line takes time, so each chunk puts the time-out off, up to
// kLongestReadAnswer bytes; a line that chatters beyond that has its chunks dropped, and the
// time-out resets the phone.
bool AtChannel::ReceiveReading(const char* chunk, uint32_t count) {
  if (count > kLongestReadAnswer - readBytes_) return false;
  readBytes_ += count;
  readAt_ = clock_.TickCount();
  overheard_->Take(chunk, count);
  Show(chunk, count);
  Renew();
  return true;
}

void AtChannel::Send(const char* command) {
  Write(command, static_cast<uint32_t>(strlen(command)), command);
}

void AtChannel::SendFormatted(const char* format, ...) {
  char command[kResponseSize];
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
  answersTo_ = AnswersTo::kResponse;
  link_.WriteBytes(command, length);
  Renew();
  log_.LogMessage(Colour::kCommand, "TX>>%s", shown);
}

void AtChannel::Discard() {
  accumulated_ = 0;
  response_[0] = '\0';
  link_.PurgePort();
}

const char* AtChannel::Find(const char* text) const {
  return strstr(response_, text);
}

bool AtChannel::HasLine(const char* line) const {
  size_t length = strlen(line);
  for (const char* at = strstr(response_, line); at != nullptr; at = strstr(at + 1, line)) {
    bool starts = at == response_ || at[-1] == '\n' || at[-1] == '\r';
    if (starts && (at[length] == '\r' || at[length] == '\n')) return true;
  }
  return false;
}

bool AtChannel::LineEnded(const char* at) {
  return strpbrk(at, "\r\n") != nullptr;
}

bool AtChannel::ErrorCode(const char* marker, int32_t* code) const {
  const char* found = Find(marker);
  const char* colon = found != nullptr ? strchr(found, ':') : nullptr;
  if (colon == nullptr || !LineEnded(colon)) return false;
  *code = ReadLeadingInteger(colon + 1);
  return true;
}

bool AtChannel::EndedError() const {
  const char* error = Find("ERROR");
  return error != nullptr && LineEnded(error);
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

// Each error line ended by the text that came in from `from` on (the line it began in
// included) is said in words, whatever is under way.
void AtChannel::SayErrors(size_t from) {
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
