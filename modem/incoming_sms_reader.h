// The SMS received, as the phone reports them in text mode: listings (AT+CMGL), one message
// read (AT+CMGR=<index>) and announcements (+CMTI: "<mem>",<index>). A text comes from anyone
// and may hold any bytes, lines that read "OK" or "+CMGL: 7" included. Invariants:
// - An answer ends at a final line only once the line has then been quiet (Quiet): a final
//   line followed by more bytes is text. Call lines and announcements after it do not count.
// - A listing yields indexes only, as hints; a message is handed over only from its own read,
//   whose "+CMGR:" header comes before its text and so cannot be forged by it.
// - No byte of a sender or a text goes into a command: indexes are kept as numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modem/incoming_sms.h"

namespace kelvor {

class PhoneReports;

constexpr int kIndexCapacity = 32;  // message indexes waiting to be read
constexpr size_t kLineKept = 168;   // bytes of a line looked at; the rest is counted

constexpr char kListUnreadCommand[] = "AT+CMGL=\"REC UNREAD\"\r";
// Every message read is deleted: one listed as read is one not handled yet.
constexpr char kListReadCommand[] = "AT+CMGL=\"REC READ\"\r";
// "AT+CMGR=<index>\r" and "AT+CMGD=<index>\r": digits only between "=" and CR.
void FormatReadCommand(uint16_t index, char* command, size_t size);
void FormatDeleteCommand(uint16_t index, char* command, size_t size);
// "RING", "+CRING: ..." or "+CLIP: ..." (without its CR LF).
bool IsIncomingCallLine(const char* line, size_t length);

class IncomingSmsReader {
 public:
  enum Answer { kNone, kPending, kDone, kFailed };  // kDone: ended "OK"; kFailed: an error

  // Each after its command: a listing, the read of `index`, a command answered by OK alone.
  void ExpectListing();
  void ExpectMessage(uint16_t index);
  void ExpectAnswer();
  // A chunk of the answer, any bytes; an announcement among them adds its index.
  void Feed(const char* bytes, size_t length);
  // `reports` (null: none) hears a status report line that comes during an answer.
  void HearReports(PhoneReports* reports) { reports_ = reports; }
  // An announcement line heard outside an answer (without its line end; `cut`: not whole).
  void Announced(const char* line, size_t length, bool cut);
  // The line has been quiet long enough for an answer whose last line is final to end.
  void Quiet();

  Answer State() const { return answer_; }
  // A read ended "OK" with the message's whole header (an empty place answers "OK" alone).
  bool HasMessage() const { return answer_ == kDone && headerSeen_ && headerWhole_; }
  // A read ended "OK" with neither a whole message nor an empty place: worth reading again.
  bool Garbled() const { return answer_ == kDone && (headerSeen_ ? !headerWhole_ : strayLine_); }
  const IncomingSms& Message() const { return message_; }

  // Takes the oldest index waiting; false when none waits.
  bool NextIndex(uint16_t* index);
  // Indexes beyond kIndexCapacity, not kept: a listing of those read finds them.
  uint32_t Dropped() const { return dropped_; }

 private:
  enum Mode { kIdle, kListing, kMessage, kPlain };
  enum Final { kNotFinal, kOk, kError };

  void Begin(Mode mode);
  void EndLine();
  void Line();
  void TextLine(Final final);
  void AppendText(const char* line, size_t length, bool cut);
  void ReadHeader();
  void AddIndex(uint16_t index);
  bool StartsWith(const char* prefix) const;
  Final FinalKind() const;

  Mode mode_ = kIdle;
  Answer answer_ = kNone;
  Final last_ = kNotFinal;  // what the last line that counts was
  char line_[kLineKept] = {};
  size_t lineLength_ = 0;
  bool lineCut_ = false;
  bool headerSeen_ = false;
  bool headerWhole_ = false;  // its status and its sender read
  bool strayLine_ = false;    // a line before the header that was neither it nor final
  // A final-looking line after the header, until quiet or another line says which it is.
  static constexpr size_t kHeldSize = 24;
  char held_[kHeldSize] = {};
  size_t heldLength_ = 0;
  size_t textLength_ = 0;
  IncomingSms message_;
  uint16_t indexes_[kIndexCapacity] = {};
  int waiting_ = 0;
  uint32_t dropped_ = 0;
  PhoneReports* reports_ = nullptr;
};

}  // namespace kelvor
