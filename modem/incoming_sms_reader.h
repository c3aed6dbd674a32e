// The SMS that reach the phone, as it reports them in text mode: the listings of unread
// and of read messages (AT+CMGL), one message read (AT+CMGR=<index>) and the announcement
// of a new one (+CMTI: "<mem>",<index>).
//
// The answers come in chunks of any size and may be far longer than the AT channel's
// response buffer, so they are read line by line as they arrive, keeping only what Kelvor
// needs: the indexes of the messages waiting, and of one message its sender and the first
// part of its text. A message's text is data from anyone who knows the SIM's number and may
// hold anything: quotes, CR and LF, lines that read "OK", "+CMGS: 5", "+CMGL: ..." or ">",
// control and 8-bit bytes. So:
// - Only the phone's own lines are read as answers: the "+CMGR:" header that opens a read
//   answer (its text comes after it, so a text cannot forge it), and the final "OK" or error.
// - An answer ends at a final line ("OK", "ERROR", "+CMS ERROR: n", "+CME ERROR: n") only
//   once it is the last line received, no line has begun after it, and the line has then
//   been quiet for a while (Quiet, which the inbox measures on the clock). A line "OK"
//   inside a text is followed by more bytes soon and is taken as text; the real one is
//   followed by quiet. Announcements (+CMTI) and an incoming call's lines (RING, +CLIP,
//   +CRING) between the final line and the quiet do not count.
// - In a listing, texts cannot be told from headers by their bytes: a text line that reads
//   "+CMGL: 7,..." is taken as an index. So a listing yields indexes only, as hints: each
//   message is read on its own with AT+CMGR, which names its sender, and is deleted only
//   after that read. A hint with no message behind it costs one read of an empty place.
// - Nothing of a sender or a text ever goes into a command: the commands hold an index the
//   reader took as digits (kept as a number), and a reply goes to the number configured,
//   never to the sender as the phone spelt it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modem/incoming_sms.h"

namespace kelvor {

constexpr int kIndexCapacity = 32;  // message indexes waiting to be read
constexpr size_t kLineKept = 168;   // bytes of a line looked at; the rest is counted

constexpr char kListUnreadCommand[] = "AT+CMGL=\"REC UNREAD\"\r";
// A phone marks what it lists as read. Messages listed but never read (their indexes beyond
// the cap, or a run stopped in between) are found again by listing those read: every
// message Kelvor reads it deletes, so a message read that stays is one not handled yet.
constexpr char kListReadCommand[] = "AT+CMGL=\"REC READ\"\r";
// "AT+CMGR=<index>\r" and "AT+CMGD=<index>\r": digits only between "=" and CR.
void FormatReadCommand(uint16_t index, char* command, size_t size);
void FormatDeleteCommand(uint16_t index, char* command, size_t size);
// True for a line (without its CR LF) an incoming call sends unasked while it rings: "RING",
// "+CRING: ..." or "+CLIP: ...".
bool IsIncomingCallLine(const char* line, size_t length);

class IncomingSmsReader {
 public:
  enum Answer {
    kNone,     // no command asked for
    kPending,  // the answer has not ended yet
    kDone,     // it ended with "OK"
    kFailed,   // it ended with an error
  };

  // After sending a listing (kListUnreadCommand, kListReadCommand): collect the indexes
  // listed.
  void ExpectListing();
  // After sending the read command for `index`: read that message.
  void ExpectMessage(uint16_t index);
  // After sending a command whose answer is only its final line (the delete command).
  void ExpectAnswer();
  // Takes a chunk, any bytes. In any state, an announcement (+CMTI) adds its index.
  void Take(const char* bytes, size_t length);
  // The line has been quiet long enough: an answer whose last line is final, with no line
  // begun after it, ends.
  void Quiet();

  Answer State() const { return answer_; }
  // True once a read ended "OK" with the message's whole header; a place with no message
  // answers "OK" alone.
  bool HasMessage() const { return answer_ == kDone && headerSeen_ && headerWhole_; }
  // True once a read ended "OK" with something other than a message or an empty place: a
  // header whose status or sender did not read, or lines and no header. Worth reading again.
  bool Garbled() const { return answer_ == kDone && (headerSeen_ ? !headerWhole_ : strayLine_); }
  const IncomingSms& Message() const { return message_; }

  // Takes the oldest index waiting; false when none waits.
  bool NextIndex(uint16_t* index);
  // Indexes not kept because kIndexCapacity were waiting: a listing of those read finds them.
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
  void ReadAnnouncement();
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
  // A final-looking line after a message's header, held back until it proves to be the
  // answer's end (quiet follows) or text (another line follows).
  static constexpr size_t kHeldSize = 24;
  char held_[kHeldSize] = {};
  size_t heldLength_ = 0;
  size_t textLength_ = 0;
  IncomingSms message_;
  uint16_t indexes_[kIndexCapacity] = {};
  int waiting_ = 0;
  uint32_t dropped_ = 0;
};

}  // namespace kelvor
