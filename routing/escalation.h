// Acknowledgement and escalation: an alarm SMS that the number it went to does not answer
// within its minutes goes on to the next number on call; any answer from a number stops the
// escalation of every alarm SMS it was sent, and is confirmed by an SMS.
//
// It lives in routing/ beside the batches: it decides which number an alarm text goes to
// next, and needs no more than routing sees (numbers, texts, SMS ids, the tick). An SMS is
// known by its id, never by its text: two alarm SMS of one text are two alarms, and an
// escalated SMS is matched to its record whatever became of its text on the way. It reads no
// argument text (the command line gives it values) and queues nothing itself: the main loop asks it
// each pass what to queue, so the modem's queue, the spool and the console stay the loop's.
//
// Time is the tick: every wait is at most a day and a half, well within the wrap-safe
// reach of DeadlinePassed, provided Pass is called every pass.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modem/phone_number.h"
#include "modem/sms_outbox.h"
#include "platform/clock.h"
#include "routing/duty_hours.h"

namespace kelvor {

constexpr int kEscalationRuleCapacity = 31;
// The numbers the rules name: two each at most.
constexpr int kEscalationNumberCapacity = 2 * kEscalationRuleCapacity;
constexpr uint32_t kLongestEscalationMinutes = 1440;  // a day
// Alarm texts waiting for an answer or on their way down a chain. A text whose alarm SMS
// is confirmed while all of them are in use is not escalated, and AlarmConfirmed says so.
constexpr int kEscalationCapacity = 64;
// How long an escalated SMS may take to be confirmed by the phone before the chain goes on
// as if it had been and was not answered: one the queue gives up must not hold it for ever.
constexpr uint32_t kEscalationDeliveryWait = 30 * kMinute;

// The values an escalation rule takes, checked here alone, for the command line's reader and
// for AddRule: both numbers phone numbers (see IsPhoneNumber), the minutes 1 to 1440. The
// first value that breaks it, in the order ESCALATE= gives them.
enum class RuleValues { kFine, kBadNumber, kBadMinutes, kBadNext };
RuleValues CheckRuleValues(const char* number, uint32_t minutes, const char* next);

// An SMS the engine wants queued: an escalated alarm or an acknowledgement's confirmation.
// The number is one of the rules' numbers as configured: never a sender as a phone spelt it.
struct EscalationSms {
  enum Kind { kEscalated, kAcknowledged };
  Kind kind = kEscalated;
  char number[kNumberSize] = {};
  char text[kSmsTextLimit + 1] = {};
  int record = -1;  // of a kEscalated: the record it is for, which Queued tells its id
};

// One alarm text held, as a spool keeps it: numbers as configured, and the time it still
// has to wait.
struct EscalationRecord {
  char text[kSmsTextLimit + 1] = {};  // the alarm text as first confirmed
  char holder[kNumberSize] = {};      // the number whose answer it waits for
  char passedOver[kNumberSize] = {};  // the number passed over to reach the holder, or ""
  uint32_t passedMinutes = 0;         // that number's minutes, for the line naming it
  bool delivered = false;             // the phone confirmed the SMS to the holder
  uint32_t wait = 0;                  // ms until the holder's time is up
  uint32_t alarmId = 0;               // the alarm SMS whose confirmation began it; 0 not known
  uint32_t sentId = 0;                // the escalated SMS to the holder; 0 none or not known
  // Every number the text was sent to, and whether the phone confirmed each.
  struct Reached {
    char number[kNumberSize];
    bool confirmed;
  };
  Reached reached[kEscalationNumberCapacity] = {};
  int reachedCount = 0;
};

class EscalationRecordSink {
 public:
  virtual void Take(const EscalationRecord& record) = 0;

 protected:
  ~EscalationRecordSink() = default;
};

class Escalation {
 public:
  Escalation();

  enum RuleOutcome { kAdded, kBadNumber, kBadMinutes, kSameNumber, kDuplicate, kRulesFull };
  // ESCALATE=number,minutes,next as values, which CheckRuleValues must find fine; a number
  // has one rule (the first), and a rule to itself could never escalate.
  RuleOutcome AddRule(const char* number, uint32_t minutes, const char* next);
  bool Active() const { return ruleCount_ > 0; }
  // Hours on duty: a chain skips a number off duty, to that number's own next.
  void SetDuty(const DutyRoster* duty) { duty_ = duty; }

  enum Taken { kNotEscalated, kHeld, kFull };
  // The alarm SMS `id` with `text` the phone confirmed to `number`: held while `number` has
  // a rule, the same SMS once. kFull when it has one but no record is free: the caller says
  // that it will not be escalated.
  Taken AlarmConfirmed(const char* number, uint32_t id, const char* text, uint32_t now);
  // The SMS that TakeDue handed out as kEscalated was queued as `id` (0: refused).
  void Queued(const EscalationSms& sms, uint32_t id);
  // The escalated SMS `id` was confirmed: its holder's time starts. False when no record
  // waits for it (acknowledged meanwhile, or gone on already).
  bool EscalationConfirmed(uint32_t id, uint32_t now);
  // The SMS `id` to a holder was not delivered: its holder's time is up now. False when no
  // record waits on that SMS.
  bool Undelivered(uint32_t id, uint32_t now);
  // A message from `number` that is not a status request: every alarm text confirmed to
  // it so far stops escalating. Returns how many; when any, a confirmation SMS follows
  // through TakeDue. None means no confirmation, so a phone that answers every SMS by
  // itself cannot start an endless exchange.
  int Acknowledge(const char* number);

  // Once a pass: marks the records whose time is up as due, and ends those whose chain has
  // run out.
  void Pass(uint32_t now);
  // The next SMS to queue, if any: escalations due first, then confirmations unless
  // `confirmations` is false. Call it while the queue has room; an escalation whose text
  // `room` has no place for (it goes as several SMS) is not taken, and stays due.
  bool TakeDue(uint32_t now, EscalationSms* sms, bool confirmations = true,
               const SmsOutbox* room = nullptr);
  // True while an escalation is due: marked by Pass, not yet taken.
  bool HasDue() const;

  int Count() const { return count_; }
  // Grows by one at every change of what a spool would keep.
  uint32_t Changes() const { return changes_; }
  // Hands `sink` every record held, with the time it still has at `now`. Confirmations not
  // queued yet are not records: a stop loses them, and the acknowledgement stands.
  void Save(uint32_t now, EscalationRecordSink& sink) const;
  enum Restored { kRestored, kNoLongerConfigured, kNoRoom };
  // Puts a record back after a restart (its texts NUL-terminated within their fields), its
  // wait starting at `now`. A holder the rules no longer name is kNoLongerConfigured;
  // numbers it reached that they no longer name are forgotten, as it can reach them no more.
  Restored Restore(const EscalationRecord& record, uint32_t now);

 private:
  static constexpr int kNone = -1;
  struct Record {
    bool used;
    int8_t holder;
    int8_t passedOver;
    uint16_t passedMinutes;
    bool delivered;
    bool due;  // its time is up: it goes to its next as soon as the queue has room
    uint32_t deadline;
    uint64_t reached;    // bit n: the text was queued to number n
    uint64_t confirmed;  // bit n: the phone confirmed it to number n
    uint32_t alarmId;    // the alarm SMS that began it
    uint32_t sentId;     // the escalated SMS on its way to the holder
    char text[kSmsTextLimit + 1];
  };

  Record* FreeRecord();
  Record* EarliestDue(uint32_t now);
  int Onward(const Record& record) const;
  void Escalate(Record& record, int next, uint32_t now, EscalationSms* sms);
  void FormatEscalated(const Record& record, char* text, size_t size) const;
  void Release(Record& record);

  NumberList numbers_;
  // The rule of each number: its next, or kNone, and its minutes.
  int8_t next_[kEscalationNumberCapacity];
  uint16_t minutes_[kEscalationNumberCapacity] = {};
  int ruleCount_ = 0;
  Record records_[kEscalationCapacity] = {};
  int count_ = 0;
  uint16_t acknowledged_[kEscalationNumberCapacity] = {};  // confirmations waiting to be queued
  uint32_t changes_ = 0;
  const DutyRoster* duty_ = nullptr;
};

}  // namespace kelvor
