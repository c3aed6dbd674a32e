// The phone answering back, as the application sees it: which messages are status
// requests, how often a number may have an answer, and what the main loop does with what
// each modem step brings (Replies).
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
#include "routing/wake_up_calls.h"

namespace kelvor {

// "S" or "STATUS", in any case, blanks around it ignored: a status request, never an
// acknowledgement. A text the reader had to cut is longer than either: pass `cut` as it said.
bool IsStatusRequest(const char* text, bool cut);

// At most one status answer per number per minute, for up to 32 numbers answered in the
// same minute or owed an answer; a 33rd waits for a place.
class StatusAnswerRate {
 public:
  static constexpr int kCapacity = 32;
  static constexpr uint32_t kGap = kMinute;

  // True when `number` may have an answer at `now`; Answered counts one given.
  bool Allows(const char* number, uint32_t now);
  void Answered(const char* number, uint32_t now);
  // A request whose answer waits for room in the queue: the number is owed it, and asks in
  // vain meanwhile. False, owing nothing, when no place is free.
  bool Owe(const char* number);
  bool Owes(const char* number) const;
  // A number owed an answer, or null.
  const char* Owed() const;
  // Once a pass: forgets answers a minute old, so none ages past the tick's wrap.
  void Pass(uint32_t now);

 private:
  struct Answer {
    bool used;
    bool owed;  // not answered yet
    uint32_t at;
    char number[kNumberSize];
  };
  Answer* Place(const char* number);
  int IndexOf(const char* number) const;  // of its place, or -1

  Answer answered_[kCapacity] = {};
};

// The replies of a run. Start-up names the numbers heard and the rules; then, after every
// step of the modem, the loop hands it what the step brought:
// - an alarm SMS the phone confirmed goes to the escalation, which holds it while its
//   number has a rule; an escalated one confirmed starts its holder's minutes;
// - a message read from the phone: from a number not on the command line, it is logged
//   and nothing more; "S" or "STATUS" is answered with the status, at most once a minute a
//   number; anything else acknowledges every alarm SMS sent to that number;
// - then the escalations due are queued while the queue has room, and what Kelvor says of
//   itself (confirmations, status answers that waited) while it has room no alarm waits for;
// - and a wake-up call due is made once no SMS waits to be sent.
// Every SMS it queues goes to a number as configured, never to a sender as a phone spelt it.
class Replies {
 public:
  // A destination's or the heartbeat's number, heard from now on; ignored when it is no
  // phone number (see SameNumber).
  void Listen(const char* number) { heard_.Add(number); }
  // A rule of the escalation (see Escalation::AddRule); both its numbers are heard once it
  // is added.
  Escalation::RuleOutcome AddRule(const char* number, uint32_t minutes, const char* next);
  // A rule of the wake-up calls (see WakeUpCalls::AddRule); its number is heard once added.
  WakeUpCalls::RuleOutcome AddRing(const char* number, uint32_t minutes, int priority);
  // REPLIES=ON.
  void TurnOn() { on_ = true; }
  // Hours on duty, for the escalation, the wake-up calls and the status answer.
  void SetDuty(const DutyRoster* duty) {
    duty_ = duty;
    escalation_.SetDuty(duty);
    calls_.SetDuty(duty);
  }
  // Replies are read with REPLIES=ON or any rule taken.
  bool On() const { return on_ || escalation_.Active() || calls_.Active(); }
  // Once every argument is in: when replies are on, the phone is asked for the SMS it
  // receives, and the line says from how many numbers they are heard. A run without them
  // sends the commands it always did.
  void Start(SmsModem& modem, Log& log);
  Escalation& Escalations() { return escalation_; }
  const Escalation& Escalations() const { return escalation_; }
  WakeUpCalls& Calls() { return calls_; }
  const WakeUpCalls& Calls() const { return calls_; }

  // After each step of the modem, with its `events`, the alarms read from the SCADA system
  // since start, and `alarmsWaiting` while a destination's batch waits for a place in the full
  // queue.
  void AfterStep(SmsModem& modem, const ModemEvents& events, Log& log, uint32_t now,
                 uint32_t alarmsRead, bool alarmsWaiting);
  // True while an escalated alarm SMS is due and waits for a place in the queue.
  bool EscalationWaiting() const { return escalation_.HasDue(); }

 private:
  void Confirmed(const OutgoingSms& sms, Log& log, uint32_t now);
  void Delivered(const ModemEvent& event, uint32_t now);
  void Answer(const IncomingSms& message, SmsModem& modem, Log& log, uint32_t now,
              uint32_t alarmsRead, bool room);
  void QueueDue(SmsModem& modem, Log& log, uint32_t now, bool alarmsWaiting);
  void CallDue(SmsModem& modem, Log& log);
  void AnswerOwed(SmsModem& modem, Log& log, uint32_t now, uint32_t alarmsRead);
  void SendAnswer(const char* number, SmsModem& modem, Log& log, uint32_t now, uint32_t alarmsRead);
  // Room in the queue for what Kelvor says of itself: a place no alarm waits for.
  bool RoomForOwn(const SmsModem& modem, bool alarmsWaiting) const;

  bool on_ = false;
  NumberList heard_;
  Escalation escalation_;
  WakeUpCalls calls_;
  StatusAnswerRate rate_;
  const DutyRoster* duty_ = nullptr;
};

}  // namespace kelvor
