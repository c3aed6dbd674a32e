// Wake-up calls: when an alarm SMS confirmed to a number that has a rule gets no answer
// from it within the rule's minutes, the number is called. One call for the unanswered SMS
// of a number, however many they are, and never a second for the same SMS; any SMS from the
// number before then means no call.
//
// It lives in routing/ beside the escalation, and like it reads no argument text and calls
// no one itself: the main loop asks it each pass which number is due, and has the phone call
// it when the phone has nothing to send. Every wait is at most a day, well within the
// wrap-safe reach of DeadlinePassed, provided Pass is called every pass.
#pragma once

#include <cstdint>

#include "modem/phone_number.h"
#include "modem/sms_outbox.h"
#include "routing/duty_hours.h"

namespace kelvor {

constexpr int kRingRuleCapacity = 31;
constexpr uint32_t kLongestRingMinutes = 1440;  // a day

// The values a rule takes, checked here alone, for the command line's reader and for
// AddRule: a phone number (see IsPhoneNumber), minutes 1 to 1440, a priority 0 (H) to 2
// (L); the first that breaks it, in the order RING= gives them.
enum class RingValues { kFine, kBadNumber, kBadMinutes, kBadPriority };
RingValues CheckRingValues(const char* number, uint32_t minutes, int priority);

// A call due or waited for, as a spool keeps it: the number as configured, the SMS it is
// for, and the time left until it is due.
struct RingRecord {
  char number[kNumberSize] = {};
  uint32_t unanswered = 0;
  uint32_t wait = 0;  // ms; 0 when due already
};

class RingRecordSink {
 public:
  virtual void Take(const RingRecord& record) = 0;

 protected:
  ~RingRecordSink() = default;
};

class WakeUpCalls {
 public:
  enum RuleOutcome { kAdded, kBadValues, kDuplicate, kRulesFull };
  // RING=number,minutes,priority as values; a number has one rule (the first).
  RuleOutcome AddRule(const char* number, uint32_t minutes, int priority);
  bool Active() const { return count_ > 0; }
  // Hours on duty: a call that comes due to a number off duty, or is due when it goes off
  // duty, ends unmade.
  void SetDuty(const DutyRoster* duty) { duty_ = duty; }
  // Numbers whose SMS wait for an answer, their call due or not.
  int Waiting() const;

  // An SMS the phone confirmed to `number` that carries alarms up to `urgency` (its most
  // urgent alarm's priority): its number's minutes start, unless they run already for an
  // SMS before it.
  void AlarmConfirmed(const char* number, int8_t urgency, uint32_t now);
  // An SMS from `number`: no call for the SMS sent to it so far. True when one was waited for.
  bool Answered(const char* number);
  // An SMS to `number` was not delivered: a call waited for is due now.
  void Undelivered(const char* number, uint32_t now);
  // Once a pass: marks the calls whose time is up as due, so that a call waiting for the
  // phone never ages past the tick's reach.
  void Pass(uint32_t now);
  // The number whose call is due, the longest due first, with the unanswered SMS it is for
  // and its minutes; null when none is due.
  const char* Due(uint32_t* unanswered, uint32_t* minutes) const;
  // The call to `number` has begun: it is for every SMS confirmed to the number so far.
  void Called(const char* number);

  // Grows by one at every change of what a spool would keep.
  uint32_t Changes() const { return changes_; }
  void Save(uint32_t now, RingRecordSink& sink) const;
  // Puts a call back after a restart, its wait starting at `now`; false when no rule names
  // its number now.
  bool Restore(const RingRecord& record, uint32_t now);

 private:
  struct Rule {
    char number[kNumberSize];
    uint16_t minutes;
    int8_t priority;
    bool waiting;  // an SMS to the number waits for its answer
    bool due;      // ... and its time is up
    uint32_t deadline;
    uint32_t dueOrder;    // its place among the calls due: the lowest was due first
    uint32_t unanswered;  // SMS it waits for
  };
  Rule* Find(const char* number);
  const Rule* Find(const char* number) const;

  Rule rules_[kRingRuleCapacity] = {};
  int count_ = 0;
  uint32_t changes_ = 0;
  uint32_t dueCount_ = 0;  // calls marked due so far
  const DutyRoster* duty_ = nullptr;
};

}  // namespace kelvor
