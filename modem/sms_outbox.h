// Where finished alarm batches are handed for sending, the rules of what an SMS and its
// number may hold, which every layer that names a number checks, and an SMS as it waits to
// be sent.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvor {

// The most characters one SMS text carries.
constexpr size_t kSmsTextLimit = 159;
// A number an SMS goes to: at most 31 characters and a NUL.
constexpr size_t kNumberSize = 32;
// Ctrl-Z ends an SMS text at the modem's prompt; ESC abandons it.
constexpr char kCtrlZ = 26;
constexpr char kEscape = 27;

// SMS the queue holds, and the sendings of one SMS text before it is given up.
constexpr int kQueueCapacity = 21;
constexpr int32_t kMaxAttempts = 4;

// ms the phone rests after each SMS it confirms, unless the run gives another pause: some
// networks block a SIM that sends fast, others let a burst go at the phone's own pace.
constexpr uint32_t kDefaultPauseAfterSend = 1000;
constexpr uint32_t kLongestPauseAfterSend = 60000;

// What an SMS carries: alarms; an alarm passed on to the next on call because the number
// it went to did not answer (escalated); or what Kelvor says about itself (a heartbeat, a
// status answer, an acknowledgement's confirmation), which is worth nothing once that run
// has ended.
enum class SmsKind : uint8_t { kAlarm, kService, kEscalated };

// The priority of the most urgent alarm an SMS carries: 0 high, 1 medium, 2 low; -1 when it
// is not known (a batch kept before a restart by a Kelvor that did not keep it), which counts
// as more urgent than any, so that no wake-up call is missed for it.
constexpr int8_t kMostUrgent = 0;
constexpr int8_t kUrgencyNotKnown = -1;

struct OutgoingSms {
  uint32_t id;  // given when queued, never 0, never the same twice in a run, kept by a spool
  SmsKind kind;
  int8_t urgency;    // of an alarm SMS: its most urgent alarm's priority; -1 not known
  int32_t attempts;  // times the text went out at the modem's prompt
  char text[256];
  char number[kNumberSize];
};

// What became of the SMS offered to the queue since the run started. Each count wraps at
// 2^32; the difference of two readings stays right across the wrap.
struct SmsTally {
  uint32_t queued;     // taken in by QueueMessage
  uint32_t refused;    // refused by QueueMessage: a full queue or a bad number
  uint32_t sent;       // confirmed by the phone
  uint32_t givenUp;    // dropped after kMaxAttempts sendings
  uint32_t discarded;  // still waiting when the queue was cleared
};

// True when `number` may go between the quotes of an AT command: no double quote, CR, LF,
// Ctrl-Z or ESC.
bool SafeForCommand(const char* number);
// True when `number` fits a number's field (at most 31 characters) and is safe for a command:
// the one test of a number every layer that takes one makes.
bool FitsCommand(const char* number);

// Copies `text` into `printable` (at most size-1 characters), any control character or
// quote shown as '?', so that a refused number can be named on the console.
void PrintableCopy(const char* text, char* printable, size_t size);
// Copies `text` into `to` as it is, at most size-1 characters.
void BoundedCopy(const char* text, char* to, size_t size);

class SmsOutbox {
 public:
  virtual ~SmsOutbox() = default;
  // Queues an SMS; both texts are copied. Returns the SMS's id (never 0; of a text that goes
  // as several SMS, the last one's), or 0 when it was refused.
  virtual uint32_t QueueMessage(const char* text, const char* number) = 0;
  // The same for a batch of alarms whose most urgent has priority `urgency`, which a
  // wake-up call's rule looks at once the SMS is confirmed.
  virtual uint32_t QueueAlarms(const char* text, const char* number, int8_t urgency) {
    static_cast<void>(urgency);
    return QueueMessage(text, number);
  }
  // True while no further SMS would be taken: a caller that can wait may offer it later.
  virtual bool Full() const = 0;
  // True when `text` would be taken now: a text of several SMS needs room for them all.
  virtual bool HasRoomFor(const char* text) const {
    static_cast<void>(text);
    return !Full();
  }
  // True when `text` goes as one SMS: 159 characters, or fewer where the coding chosen
  // holds fewer (70 of UCS-2). A longer one is cut, or sent as several.
  virtual bool FitsOneSms(const char* text) const;
};

}  // namespace kelvor
