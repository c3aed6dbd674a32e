// What the modem has to tell the program after a step, in the order it happened: an SMS
// confirmed, given up or returned to the queue, an SMS read, a call ended, a switch of
// phones. One bounded stream instead of a mailbox of one for each kind, so that two events of
// one kind in one step (an SMS read on each phone) both arrive.
#pragma once

#include <cstdint>

#include "modem/failover.h"
#include "modem/incoming_sms.h"
#include "modem/sms_outbox.h"
#include "modem/status_report.h"
#include "modem/voice_call.h"

namespace kelvor {

// The phones that borrow SMS from the queue, each by its place.
constexpr uint8_t kMainPhone = 0;
constexpr uint8_t kStandbyPhone = 1;
constexpr int kPhoneCount = 2;
// Status reports taken from one phone's step; and SMS found without a report, in one pass.
constexpr int kReportsPerStep = 8;
constexpr int kOutcomesTimedOut = 4;

// Why an SMS left the queue unsent.
enum class GiveUpReason : uint8_t { kSendings };  // its text went out kMaxAttempts times

// What a status report, or its absence, says of an SMS sent.
enum class Delivery : uint8_t { kDelivered, kUndelivered, kNoReport };

struct ModemEvent {
  enum Kind : uint8_t {
    kConfirmed,  // `sms`: `phone` confirmed it with message `reference`; it left the queue
    kGivenUp,    // `sms`: it left the queue unsent, for `reason`
    kReturned,   // `sms`: `phone` gave it back unsent; the queue lends it again
    kIncoming,   // `incoming`: an SMS read from a phone; its text is anyone's, data only
    kCallEnded,  // `call`: how a wake-up call ended
    kSwitched,   // `change`: the other phone sends from now on
    kReport,     // `report`: a status report `phone` gave
    kDelivery,   // `sms`: what became of it, `delivery`, as its report (or none) says
  };
  Kind kind = kConfirmed;
  uint8_t phone = kMainPhone;
  GiveUpReason reason = GiveUpReason::kSendings;
  int32_t reference = 0;
  Delivery delivery = Delivery::kDelivered;
  StatusReport report{};
  OutgoingSms sms{};
  IncomingSms incoming{};
  CallOutcome call{};
  PhoneSwitch change{};
};

// The events of some steps, oldest first; the program takes them after every step.
class ModemEvents {
 public:
  // One step may give up every SMS queued; each phone adds at most a confirmation or return,
  // an SMS read, a call's end and its reports, and there is one switch; the reports matched
  // and the deliveries given up add their outcomes.
  static constexpr int kCapacity =
      kQueueCapacity + (3 + 2 * kReportsPerStep) * kPhoneCount + 1 + kOutcomesTimedOut;

  // The slot of a new event of `kind`; a full stream (never one taken after every step)
  // drops its oldest for it.
  ModemEvent* Add(ModemEvent::Kind kind);
  int Count() const { return count_; }
  const ModemEvent& At(int index) const { return events_[index]; }
  // Moves the events into `taken`, which loses what it held, and leaves this one empty.
  void MoveTo(ModemEvents* taken);

 private:
  ModemEvent events_[kCapacity];
  int count_ = 0;
};

}  // namespace kelvor
