// Which of two phones sends the SMS queued. The main phone sends while it is well. Once it
// has failed (its port gone, silent, its SIM locked, off the network, its radio hung) and
// the standby can send, the standby takes over, the SMS at the head of the queue first. The
// main phone is looked at again every kRetryGap, and at once when the standby fails: once
// it answers and has said it is registered, it takes back. A switch waits until the phone
// that sends has no SMS on its way, so that one SMS is never on both phones at once; an SMS
// whose confirmation never came stays at the head, and the other phone sends it (at least
// once, never lost). Each switch is said, with its reason, and kept for the program to tell
// the heartbeat's number. The phone that sends is the one the queue lends SMS to.
#pragma once

#include <cstdint>

#include "log/log.h"
#include "modem/phone_health.h"
#include "platform/clock.h"

namespace kelvor {

constexpr uint32_t kRetryGap = 30000;  // ms between two looks at a failed main phone

// What the rule sees of a phone.
struct PhoneView {
  PhoneFault fault;
  bool answers;     // it answered its start-up since its last reset
  bool registered;  // it said it is registered since then
  bool inFlight;    // an SMS is on its way through it
};

// A switch from one phone to the other.
struct PhoneSwitch {
  bool toStandby;
  PhoneFault reason;  // the main phone's fault, when the standby takes over
  // Between sharing phones (SHARE=ON): `toStandby` names the phone that takes all, the other
  // failed for `reason`; or, with kNone, the phone that sent alone, the other shares again.
  bool shared = false;
};

class Failover {
 public:
  Failover(Log& log, Clock& clock) : log_(log), clock_(clock) {}

  // Once both phones have stepped, with their ports' names for the lines: true while the
  // standby sends.
  bool Pass(const PhoneView& main, const PhoneView& standby, const char* mainName,
            const char* standbyName);
  bool StandbySends() const { return standbySends_; }
  // The switch made last: a Pass whose answer differs from the one before made it.
  const PhoneSwitch& LastSwitch() const { return switched_; }

 private:
  static bool CanSend(const PhoneView& phone) {
    return phone.answers && phone.fault == PhoneFault::kNone;
  }
  bool TakeBack(const PhoneView& main, const PhoneView& standby);

  Log& log_;
  Clock& clock_;
  bool standbySends_ = false;
  uint32_t lookAt_ = 0;  // the next look at the failed main phone
  PhoneSwitch switched_{};
};

}  // namespace kelvor
