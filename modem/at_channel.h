// The AT channel to one phone. Every command shows as a TX>> line and every chunk received
// outside a reading as an RX<< line. The phone's lines are sorted once (at_lines.h): the
// answer holds information, final results and the prompt; unsolicited lines never enter it.
// During a reading command (AT+CMGL, AT+CMGR) every byte goes to the reader alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log.h"
#include "modem/at_lines.h"
#include "modem/modem_errors.h"
#include "modem/serial_link.h"
#include "platform/clock.h"
#include "platform/keyboard.h"
#include "platform/serial.h"

namespace kelvor {

class IncomingSmsReader;
class PhoneReports;

constexpr uint32_t kAnswerTimeout = 10000;  // ms the phone has to answer a command
// Bytes of one reading answer taken (80 SMS of 160 characters); the rest is dropped.
constexpr uint32_t kLongestReadAnswer = 20000;

class AtChannel {
 public:
  AtChannel(SerialLink& link, Log& log, Clock& clock);

  // An empty answer and a deadline passed: the first step without an answer resets the phone.
  void Start();
  // `reader` (null: none) hears the announcements (+CMTI) and the answers to readings.
  void Overhear(IncomingSmsReader* reader);
  // `reports` (null: none) hears the status reports (+CDS, +CDSI), within readings too.
  void HearReports(PhoneReports* reports);
  // `secret`, while it holds text, is masked wherever a received line would show it.
  void Mask(const char* secret) { secret_ = secret; }

  // Reads once. True when the bytes brought something new: a line kept or heard, a line
  // growing, the prompt.
  bool Receive();
  WaitEnd WaitForBytes(uint32_t milliseconds, Keyboard& keyboard) {
    return link_.WaitForInput(milliseconds, clock_, keyboard);
  }
  // The lines taken since the last Discard.
  const AtAnswer& Answer() const { return answer_; }

  // Each command renews the answer's deadline.
  void Send(const char* command);
  void SendFormatted(const char* format, ...) KELVOR_PRINTF(2, 3);
  // `shown` stands for `command` on the console (the PIN).
  void SendMasked(const char* command, const char* shown);
  // Its answer goes to the reader alone, until EndReading or another command.
  void SendReading(const char* command);
  void EndReading() { answersTo_ = AnswersTo::kAnswer; }
  void SendCtrlZ();
  // Empties the answer and drops what waits at the port (with status reports asked, once
  // their lines among it are heard).
  void Discard();

  // No command or answer within kAnswerTimeout.
  bool TimedOut() const;
  bool IdleFor(uint32_t milliseconds) const;
  // An answer taken counts as the line's activity, as a command does.
  void Renew();
  bool ReadingQuietFor(uint32_t milliseconds) const;
  // The next error is said in words even if it is the one said last.
  void ForgetErrorSaid() { errorSaid_ = false; }
  // One of the SIM's errors came since ClearSimTrouble.
  bool SimTrouble() const { return simTrouble_; }
  void ClearSimTrouble() { simTrouble_ = false; }

 private:
  enum class AnswersTo : uint8_t { kAnswer, kReader };

  bool ReceiveReading(const char* chunk, uint32_t count);
  bool SortLines(const char* chunk, uint32_t count);
  bool EndLine();
  bool Information();
  void Hear(Heard heard);
  void ClearLines();
  void Write(const char* command, uint32_t length, const char* shown);
  void Show(const char* chunk, uint32_t count);
  void SayError(ErrorKind kind, int32_t code);

  SerialLink& link_;
  Log& log_;
  Clock& clock_;
  IncomingSmsReader* overheard_ = nullptr;
  PhoneReports* reports_ = nullptr;
  const char* secret_ = "";
  AnswersTo answersTo_ = AnswersTo::kAnswer;
  AtAnswer answer_;
  char line_[kLineSize] = {};  // the line under way, NUL-ended
  size_t lineLength_ = 0;
  bool lineCut_ = false;    // bytes beyond kLineSize were dropped
  uint32_t readBytes_ = 0;  // of the answer to the reading command under way
  uint32_t readAt_ = 0;     // when its last bytes (or the command) went by
  uint32_t activeAt_ = 0;   // the last command sent or answer taken
  // An error is said again only when another came between, or after ForgetErrorSaid.
  bool errorSaid_ = false;
  ErrorKind saidKind_ = ErrorKind::kPhone;
  int32_t saidCode_ = 0;
  bool simTrouble_ = false;
  bool commandUnread_ = false;  // a command went, and nothing was read since
};

}  // namespace kelvor
