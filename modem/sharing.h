// Two phones that share the SMS (SHARE=ON): while both are well both may borrow from the
// queue, which lends each SMS to one free phone and keeps the SMS to one number in order.
// When one fails the other takes all, said as a standby's takeover is; the queue calls back
// what the failed one held. The failed phone is looked at again every kRetryGap (at once when
// the other fails too), and once it answers and has said it is registered it shares again.
// A phone with an SMS on its way keeps its right to borrow until the SMS is answered, so that
// one SMS is never on both phones at once.
#pragma once

#include <cstdint>

#include "log/log.h"
#include "modem/failover.h"
#include "modem/modem_events.h"
#include "platform/clock.h"

namespace kelvor {

constexpr uint8_t kBothPhones = 1u << kMainPhone | 1u << kStandbyPhone;

class Sharing {
 public:
  Sharing(Log& log, Clock& clock) : log_(log), clock_(clock) {}

  void TurnOn() { on_ = true; }
  bool On() const { return on_; }
  // Once both phones have stepped, with their ports' names: the phones that may borrow, a
  // bit (1 << place) for each.
  uint8_t Pass(const PhoneView& main, const PhoneView& standby, const char* mainName,
               const char* standbyName);
  uint8_t Borrowers() const { return borrowers_; }
  // "both" while both send, else the phone that sends alone.
  const char* SendingPhone() const;
  // Counts the confirmations among the events from `from` on.
  void Heard(const ModemEvents& events, int from);
  // The SMS the phone `place` confirmed since the run started.
  uint32_t Sent(uint8_t place) const { return sent_[place]; }
  // The switch made last: a Pass that changed the borrowers made it.
  const PhoneSwitch& LastSwitch() const { return switched_; }

 private:
  bool Alone(uint8_t place, const PhoneView* views, const char* const* names);
  bool Again(uint8_t place, const PhoneView* views, const char* const* names);

  Log& log_;
  Clock& clock_;
  bool on_ = false;
  uint8_t borrowers_ = kBothPhones;
  uint32_t lookAt_ = 0;  // the next look at the failed phone
  PhoneSwitch switched_{};
  uint32_t sent_[kPhoneCount] = {};
};

}  // namespace kelvor
