// The phone answering back, as the application sees it: the ESCALATE= argument, which
// messages are status requests, the status answer and how often a number may have one, and
// what the main loop does with what each modem step brings (Replies).
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log.h"
#include "modem/incoming_sms.h"
#include "modem/phone_number.h"
#include "modem/sms_modem.h"
#include "modem/sms_outbox.h"
#include "platform/clock.h"
#include "routing/escalation.h"

namespace kelvor {

// An ESCALATE=number,minutes,next argument.
struct EscalateArgument {
  enum Outcome { kFine, kBadNumber, kBadMinutes, kBadNext, kBadFields };
  Outcome outcome = kBadFields;
  // As the argument gives them, cut to fit; shown with control bytes and quotes as '?'
  // when refused.
  char number[kNumberSize] = {};
  uint32_t minutes = 0;
  char next[kNumberSize] = {};
};

// Reads the argument, which begins with "ESCALATE=": exactly three fields; each number a
// phone number (digits, a leading "+" and blanks) of at most 31 characters, the minutes a
// whole number from 1 to 1440.
EscalateArgument ParseEscalateArgument(const char* argument);

// "S" or "STATUS", in any case, blanks around it ignored: a status request, never an
// acknowledgement. A text the reader had to cut is longer than either: pass `cut` as it said.
bool IsStatusRequest(const char* text, bool cut);

// At most one status answer per number per minute, for up to 32 numbers answered in the
// same minute; a 33rd waits for a place.
class StatusAnswerRate {
 public:
  static constexpr int kCapacity = 32;
  static constexpr uint32_t kGap = kMinute;

  // True when `number` may have an answer at `now`; Answered counts one given.
  bool Allows(const char* number, uint32_t now);
  void Answered(const char* number, uint32_t now);
  // Once a pass: forgets answers a minute old, so none ages past the tick's wrap.
  void Pass(uint32_t now);

 private:
  struct Answer {
    bool used;
    uint32_t at;
    char number[kNumberSize];
  };
  Answer* Place(const char* number);

  Answer answered_[kCapacity] = {};
};

// The replies of a run. Start-up names the numbers heard and the rules; then, after every
// step of the modem, the loop hands it what the step brought:
// - an alarm SMS the phone confirmed goes to the escalation, which holds it while its
//   number has a rule; an escalated one confirmed starts its holder's minutes;
// - a message read from the phone: from a number not on the command line, it is logged
//   and nothing more; "S" or "STATUS" is answered with the status, at most once a minute a
//   number; anything else acknowledges every alarm SMS sent to that number;
// - then the escalations and confirmations due are queued while the queue has room.
// Every SMS it queues goes to a number as configured, never to a sender as a phone spelt it.
class Replies {
 public:
  // A destination's or the heartbeat's number, heard from now on; ignored when it is no
  // phone number (see SameNumber).
  void Listen(const char* number) { heard_.Add(number); }
  // An ESCALATE= argument read fine: a rule of the escalation, and both numbers heard.
  Escalation::RuleOutcome AddRule(const EscalateArgument& rule);
  // REPLIES=ON.
  void TurnOn() { on_ = true; }
  // Replies are read with REPLIES=ON or any rule taken.
  bool On() const { return on_ || escalation_.Active(); }
  int Heard() const { return heard_.Count(); }
  Escalation& Engine() { return escalation_; }
  const Escalation& Engine() const { return escalation_; }

  // After each step of the modem, with the alarms read from the SCADA system since start.
  void AfterStep(SmsModem& modem, Log& log, uint32_t now, uint32_t alarmsRead);

 private:
  void Confirmed(const OutgoingSms& sms, Log& log, uint32_t now);
  void Answer(const IncomingSms& message, SmsModem& modem, Log& log, uint32_t now,
              uint32_t alarmsRead);
  void QueueDue(SmsModem& modem, Log& log, uint32_t now);

  bool on_ = false;
  NumberList heard_;
  Escalation escalation_;
  StatusAnswerRate rate_;
};

}  // namespace kelvor
