// What the modem has to tell the program after a step, in the order it happened: an SMS
// confirmed, an SMS read, a call ended, a switch of phones. One bounded stream instead of a
// mailbox of one for each kind, so that two events of one kind in one step (an SMS read on
// each phone) both arrive.
#pragma once

#include <cstdint>

#include "modem/failover.h"
#include "modem/incoming_sms.h"
#include "modem/sms_outbox.h"
#include "modem/voice_call.h"

namespace kelvor {

struct ModemEvent {
  enum Kind : uint8_t {
    kConfirmed,  // `sms`: the phone confirmed it, and it left the queue
    kIncoming,   // `incoming`: an SMS read from a phone; its text is anyone's, data only
    kCallEnded,  // `call`: how a wake-up call ended
    kSwitched,   // `change`: the other phone sends from now on
  };
  Kind kind = kConfirmed;
  OutgoingSms sms{};
  IncomingSms incoming{};
  CallOutcome call{};
  PhoneSwitch change{};
};

// The events of one step, oldest first. A step gives at most one of each kind a phone and one
// switch, so the capacity holds two phones' steps with room to spare; the program takes them
// after every step.
class ModemEvents {
 public:
  static constexpr int kCapacity = 12;

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
