// The SMS waiting to be sent: a fixed ring of records, oldest first, each lent to one phone
// at a time. A phone borrows an SMS, sends it, then confirms it (it leaves the queue), gives
// it up, or returns it (it is lent again later). Which phones may borrow is the lending
// policy, set from above: today the main phone while it is well, else the standby. Among the
// SMS to one number, none is lent while an earlier one is, so that they keep their order
// whichever phones borrow them. Each confirmation, give-up and return becomes a modem event.
#pragma once

#include <cstdint>

#include "log/log.h"
#include "modem/modem_events.h"
#include "modem/sms_coding.h"
#include "modem/sms_outbox.h"

namespace kelvor {

class OutgoingQueue {
 public:
  OutgoingQueue(Log& log, ModemEvents& events) : log_(log), events_(events) {}

  // Copies the SMS in at the tail; returns its id (the last part's, for a text that goes as
  // several), or 0, with a console line, when it is refused: the queue is full, or the
  // number is empty, too long or holds a character that would break the command it goes
  // into. A text over 159 characters is cut; Ctrl-Z and ESC in it, which would end the text
  // at the modem early, become spaces. With a charset chosen, a text longer than one SMS of
  // its coding goes as several, each its own record, or not at all when the queue has no
  // room for them all.
  // An alarm SMS keeps its `urgency` (see OutgoingSms).
  uint32_t QueueMessage(const char* text, const char* number, SmsKind kind = SmsKind::kAlarm,
                        int8_t urgency = kMostUrgent);
  // How texts go (CHARSET=); as given until set.
  void SetCoding(const SmsCoding& coding) { coding_ = coding; }
  const SmsCoding& Coding() const { return coding_; }
  void SetSevenBitSets(uint8_t sets) { coding_.SetSevenBitSets(sets); }

  int Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  bool Full() const { return count_ >= kQueueCapacity; }
  // Room for every SMS `text` goes as in its coding.
  bool HasRoomFor(const char* text) const;
  // The record queued with `id`, or null once it has left the queue.
  const OutgoingSms* Find(uint32_t id) const;
  void Clear();

  // The lending policy: a bit (1 << phone) for each phone that may borrow; the main phone
  // alone until set. A loan to a phone that may no longer borrow is called back: the phone
  // finds it gone and sends nothing more of it.
  void LendTo(uint8_t phones);
  bool MayBorrow(uint8_t phone) const { return (borrowers_ >> phone & 1u) != 0; }
  // True when Lend would lend `phone` an SMS now.
  bool HasLendable(uint8_t phone) const { return Lendable(phone) >= 0; }
  // The SMS Lend would lend `phone` now, left unlent; null when none.
  const OutgoingSms* Next(uint8_t phone) const;
  // Lends `phone` the oldest SMS it may have: not lent, and no earlier SMS to its number
  // lent. Null when there is none. The record stays queued; its sendings change through
  // CountAttempt alone.
  const OutgoingSms* Lend(uint8_t phone);
  bool IsLentTo(uint32_t id, uint8_t phone) const;
  // The SMS lent to `phone` went: it leaves the queue, counted as sent. False, removing
  // nothing, when `id` is not lent to `phone` (unknown, returned, or another's).
  bool Confirm(uint32_t id, uint8_t phone, int32_t reference);
  // The SMS lent to `phone` goes back unsent, to be lent again; nothing when it is not lent
  // to `phone`.
  void Return(uint32_t id, uint8_t phone);
  // The SMS lent to `phone` leaves the queue unsent, counted as given up.
  void GiveUp(uint32_t id, uint8_t phone, GiveUpReason reason);

  const SmsTally& Tally() const { return tally_; }
  // Queues an SMS that was waiting before a restart, as QueueMessage does, keeping the
  // sendings it already had and its `id` (0, or one queued already: a new one).
  uint32_t Requeue(const char* text, const char* number, int32_t attempts,
                   SmsKind kind = SmsKind::kAlarm, int8_t urgency = kMostUrgent, uint32_t id = 0);
  // Ids given from now on are above `id`: one kept elsewhere across a restart names no new SMS.
  void IdsAbove(uint32_t id);
  // Counts one more sending of the SMS `id`, if it is still queued.
  void CountAttempt(uint32_t id);
  // Takes back the last sending of the SMS `id`, one the phone refused for a reason that is
  // not the SMS's (no network): it does not bring the SMS nearer to being given up.
  void TakeBackAttempt(uint32_t id);
  // The record `index` places after the head (0 is the head); index below Count().
  const OutgoingSms& At(int index) const { return Slot(index).sms; }
  // Grows by one at every change of the records: one queued, removed or sent again. A
  // copy of the queue kept elsewhere is up to date while this has not moved.
  uint32_t Changes() const { return changes_; }

 private:
  static constexpr uint8_t kNotLent = 0xFF;
  struct Loan {
    OutgoingSms sms;
    uint8_t borrower;  // the phone it is lent to, or kNotLent
  };

  bool Enqueue(const char* text, const char* number, SmsKind kind, int8_t urgency);
  void Add(const char* text, size_t length, const char* number, SmsKind kind, int8_t urgency);
  int PartsOf(const char* text, size_t length) const;
  int IndexOf(uint32_t id) const;
  int Lendable(uint8_t phone) const;
  bool EarlierLent(int index) const;
  int LentIndex(uint32_t id, uint8_t phone) const;
  ModemEvent* Tell(ModemEvent::Kind kind, int index, uint8_t phone);
  void RemoveAt(int index);
  Loan& Slot(int index) { return slots_[(head_ + index) % kQueueCapacity]; }
  const Loan& Slot(int index) const { return slots_[(head_ + index) % kQueueCapacity]; }

  Loan slots_[kQueueCapacity];
  int head_ = 0;
  int count_ = 0;
  uint32_t changes_ = 0;
  uint32_t lastId_ = 0;
  uint8_t borrowers_ = 1u << kMainPhone;
  Log& log_;
  ModemEvents& events_;
  SmsTally tally_{};
  SmsCoding coding_;
};

}  // namespace kelvor
