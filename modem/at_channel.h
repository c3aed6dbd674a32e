// The AT channel to one phone: what goes out on its port and what comes back. It owns the
// response the conversations read, the deadline of the answer awaited, and the lines that
// show what went by (TX>>, RX<<); it says in words the errors a site engineer must act on.
// The answers to reading commands carry texts anyone may have sent: they go to the reader
// of the SMS received alone, never into the response.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log.h"
#include "modem/modem_errors.h"
#include "modem/serial_link.h"
#include "platform/clock.h"
#include "platform/keyboard.h"
#include "platform/serial.h"

namespace kelvor {

class IncomingSmsReader;

constexpr uint32_t kAnswerTimeout = 10000;  // ms the phone has to answer a command
constexpr size_t kResponseSize = 256;
// Bytes of one answer to a reading command taken before the rest is dropped and the
// time-out may come: a listing of 80 SMS of 160 characters, not a line that chatters.
constexpr uint32_t kLongestReadAnswer = 20000;

class AtChannel {
 public:
  AtChannel(SerialLink& link, Log& log, Clock& clock);

  // An empty response and a deadline that has passed, so that the first step without an
  // answer resets the phone.
  void Start();
  // `reader` (null: none) hears every chunk from now on, announcements among them.
  void Overhear(IncomingSmsReader* reader) { overheard_ = reader; }
  // `secret`, while it holds text, is masked wherever a received line would show it.
  void Mask(const char* secret) { secret_ = secret; }

  // Reads once. True when bytes came that the conversation under way takes: into the
  // response while they fit, or to the reader while a reading command is answered.
  bool Receive();
  // Waits up to `milliseconds` for bytes from the phone or a key at `keyboard`.
  WaitEnd WaitForBytes(uint32_t milliseconds, Keyboard& keyboard) {
    return link_.WaitForInput(milliseconds, clock_, keyboard);
  }

  // Each command renews the answer's deadline and shows as a TX>> line.
  void Send(const char* command);
  void SendFormatted(const char* format, ...) KELVOR_PRINTF(2, 3);
  // A command that must not show (the PIN): `shown` stands for it on the console.
  void SendMasked(const char* command, const char* shown);
  // A reading command: its answer goes to the overhearing reader alone, until EndReading
  // or another command.
  void SendReading(const char* command);
  void EndReading() { answersTo_ = AnswersTo::kResponse; }
  void SendCtrlZ();
  // Empties the response and drops what waits at the port.
  void Discard();

  bool Contains(const char* text) const { return Find(text) != nullptr; }
  // A line that reads `line` and nothing else, ended.
  bool HasLine(const char* line) const;
  const char* Find(const char* text) const;
  // An answer split over several reads may stop inside its number: what stands on a line
  // is read only once the line has ended.
  static bool LineEnded(const char* at);
  // The number after the first `marker` ("+CME", "+CMS") and the colon that follows it,
  // once its line has ended.
  bool ErrorCode(const char* marker, int32_t* code) const;
  // An "ERROR" of any kind whose line has ended.
  bool EndedError() const;

  // The answer awaited has not come within kAnswerTimeout of the last command or answer.
  bool TimedOut() const;
  // Nothing went out or was answered for `milliseconds`: an idle phone may be asked again.
  bool IdleFor(uint32_t milliseconds) const;
  // An answer taken counts as the line's activity, as a command does.
  void Renew();
  // The answer to a reading command has brought nothing for `milliseconds`.
  bool ReadingQuietFor(uint32_t milliseconds) const;
  // The next error is said in words even if it is the one said last.
  void ForgetErrorSaid() { errorSaid_ = false; }
  // One of the SIM's errors (missing, locked, failed) came since ClearSimTrouble.
  bool SimTrouble() const { return simTrouble_; }
  void ClearSimTrouble() { simTrouble_ = false; }

 private:
  enum class AnswersTo : uint8_t { kResponse, kReader };

  bool ReceiveReading(const char* chunk, uint32_t count);
  size_t DropCallLines(size_t from);
  void Write(const char* command, uint32_t length, const char* shown);
  void Show(const char* chunk, uint32_t count);
  void SayErrors(size_t from);
  void SayError(ErrorKind kind, int32_t code);

  SerialLink& link_;
  Log& log_;
  Clock& clock_;
  IncomingSmsReader* overheard_ = nullptr;
  const char* secret_ = "";
  AnswersTo answersTo_ = AnswersTo::kResponse;
  char response_[kResponseSize] = {};
  uint32_t accumulated_ = 0;  // bytes taken into the response since it was emptied
  uint32_t readBytes_ = 0;    // of the answer to the reading command under way
  uint32_t readAt_ = 0;       // when its last bytes (or the command) went by
  uint32_t activeAt_ = 0;     // the last command sent or answer taken
  // The error said last; an error is said again only when another came between, or
  // ForgetErrorSaid.
  bool errorSaid_ = false;
  ErrorKind saidKind_ = ErrorKind::kPhone;
  int32_t saidCode_ = 0;
  bool simTrouble_ = false;
};

}  // namespace kelvor
