// The SMS waiting to be sent: a fixed ring of records, oldest first.
#pragma once

#include <cstdint>

#include "log/log.h"
#include "modem/sms_coding.h"
#include "modem/sms_outbox.h"

namespace kelvor {

class OutgoingQueue {
 public:
  explicit OutgoingQueue(Log& log) : log_(log) {}

  // Copies the SMS in at the tail; false, with a console line, when it is refused: the
  // queue is full, or the number is empty, too long or holds a character that would break
  // the command it goes into. A text over 159 characters is cut; Ctrl-Z and ESC in it,
  // which would end the text at the modem early, become spaces. With a charset chosen, a
  // text longer than one SMS of its coding goes as several, each its own record, or not at
  // all when the queue has no room for them all.
  // An alarm SMS keeps its `urgency` (see OutgoingSms).
  bool QueueMessage(const char* text, const char* number, SmsKind kind = SmsKind::kAlarm,
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
  // The oldest record; only while the queue is not empty. Its sendings change through
  // CountAttempt alone.
  const OutgoingSms& Head() const { return records_[head_]; }
  // The record queued with `id`, or null once it has left the queue.
  const OutgoingSms* Find(uint32_t id) const;
  void Clear();

  // Removes the SMS `id`, wherever it stands, counting it as confirmed by the phone: false,
  // removing nothing, when it is no longer queued. The SMS confirmed last is kept until
  // TakeConfirmed takes it.
  bool RemoveSent(uint32_t id);
  // Removes the oldest SMS, counting it as given up; nothing on an empty queue.
  void RemoveGivenUp();
  // The SMS the phone confirmed last, once: false when none was confirmed since the last
  // call.
  bool TakeConfirmed(OutgoingSms* sms);
  const SmsTally& Tally() const { return tally_; }
  // Queues an SMS that was waiting before a restart, as QueueMessage does, keeping the
  // sendings it already had.
  bool Requeue(const char* text, const char* number, int32_t attempts,
               SmsKind kind = SmsKind::kAlarm, int8_t urgency = kMostUrgent);
  // Counts one more sending of the SMS `id`, if it is still queued.
  void CountAttempt(uint32_t id);
  // Takes back the last sending of the SMS `id`, one the phone refused for a reason that is
  // not the SMS's (no network): it does not bring the SMS nearer to being given up.
  void TakeBackAttempt(uint32_t id);
  // The record `index` places after the head (0 is the head); index below Count().
  const OutgoingSms& At(int index) const { return records_[(head_ + index) % kQueueCapacity]; }
  // Grows by one at every change of the records: one queued, removed or sent again. A
  // copy of the queue kept elsewhere is up to date while this has not moved.
  uint32_t Changes() const { return changes_; }

 private:
  bool Take(const char* text, const char* number, SmsKind kind, int8_t urgency);
  void Add(const char* text, size_t length, const char* number, SmsKind kind, int8_t urgency);
  int PartsOf(const char* text, size_t length) const;
  int IndexOf(uint32_t id) const;
  void RemoveAt(int index);

  OutgoingSms records_[kQueueCapacity];
  int head_ = 0;
  int count_ = 0;
  uint32_t changes_ = 0;
  uint32_t lastId_ = 0;
  OutgoingSms confirmed_{};
  bool hasConfirmed_ = false;
  Log& log_;
  SmsTally tally_{};
  SmsCoding coding_;
};

}  // namespace kelvor
