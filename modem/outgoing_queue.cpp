#include "modem/outgoing_queue.h"

#include <cstring>

namespace kelvor {

bool OutgoingQueue::QueueMessage(const char* text, const char* number, SmsKind kind,
                                 int8_t urgency) {
  bool taken = Take(text, number, kind, urgency);
  ++(taken ? tally_.queued : tally_.refused);
  return taken;
}

bool OutgoingQueue::Take(const char* text, const char* number, SmsKind kind, int8_t urgency) {
  char shown[kNumberSize];
  PrintableCopy(number, shown, sizeof shown);
  if (Full()) {
    // Refused SMS carry alarms: the operator has to see that they are lost.
    log_.LogMessage(Colour::kError, "Message queue full - SMS to %s lost\r\n", shown);
    return false;
  }
  if (number[0] == '\0') {
    log_.LogMessage(Colour::kError, "No Destination number");
    return false;
  }
  if (!FitsCommand(number)) {
    log_.LogMessage(Colour::kError, "Bad Destination number %s - SMS refused\r\n", shown);
    return false;
  }

  size_t length = strnlen(text, kSmsTextLimit + 1);
  if (length > kSmsTextLimit) {
    length = kSmsTextLimit;
    log_.LogMessage(Colour::kModem, "truncating message");
  }
  if (count_ + PartsOf(text, length) > kQueueCapacity) {
    log_.LogMessage(Colour::kError, "Message queue full - SMS to %s lost\r\n", shown);
    return false;
  }
  for (size_t at = 0; at < length;) {
    size_t part = coding_.FirstPart(text + at, length - at);
    Add(text + at, part, number, kind, urgency);
    at += part;
  }
  if (length == 0) Add(text, 0, number, kind, urgency);
  return true;
}

bool OutgoingQueue::HasRoomFor(const char* text) const {
  size_t length = strnlen(text, kSmsTextLimit);
  return count_ + PartsOf(text, length) <= kQueueCapacity;
}

int OutgoingQueue::PartsOf(const char* text, size_t length) const {
  int parts = 1;
  for (size_t at = coding_.FirstPart(text, length); at < length; ++parts) {
    at += coding_.FirstPart(text + at, length - at);
  }
  return parts;
}

void OutgoingQueue::Add(const char* text, size_t length, const char* number, SmsKind kind,
                        int8_t urgency) {
  OutgoingSms& record = records_[(head_ + count_) % kQueueCapacity];
  for (size_t i = 0; i < length; ++i) {
    record.text[i] = (text[i] == kCtrlZ || text[i] == kEscape) ? ' ' : text[i];
  }
  record.text[length] = '\0';
  memcpy(record.number, number, strlen(number) + 1);
  record.kind = kind;
  record.urgency = urgency;
  record.attempts = 0;
  if (++lastId_ == 0) ++lastId_;  // 0 names no SMS, even after the count wraps
  record.id = lastId_;
  ++count_;
  ++changes_;
}

int OutgoingQueue::IndexOf(uint32_t id) const {
  for (int index = 0; index < count_; ++index) {
    if (At(index).id == id) return index;
  }
  return -1;
}

const OutgoingSms* OutgoingQueue::Find(uint32_t id) const {
  int index = IndexOf(id);
  return index < 0 ? nullptr : &At(index);
}

// The records after it move up one place, so that the rest keep their order.
void OutgoingQueue::RemoveAt(int index) {
  for (int i = index; i + 1 < count_; ++i) {
    records_[(head_ + i) % kQueueCapacity] = At(i + 1);
  }
  --count_;
  ++changes_;
}

bool OutgoingQueue::RemoveSent(uint32_t id) {
  int index = IndexOf(id);
  if (index < 0) return false;
  ++tally_.sent;
  confirmed_ = At(index);
  hasConfirmed_ = true;
  RemoveAt(index);
  return true;
}

bool OutgoingQueue::TakeConfirmed(OutgoingSms* sms) {
  if (!hasConfirmed_) return false;
  *sms = confirmed_;
  hasConfirmed_ = false;
  return true;
}

void OutgoingQueue::RemoveGivenUp() {
  if (count_ == 0) return;
  ++tally_.givenUp;
  head_ = (head_ + 1) % kQueueCapacity;
  --count_;
  ++changes_;
}

void OutgoingQueue::Clear() {
  tally_.discarded += static_cast<uint32_t>(count_);
  head_ = 0;
  count_ = 0;
  ++changes_;
}

bool OutgoingQueue::Requeue(const char* text, const char* number, int32_t attempts, SmsKind kind,
                            int8_t urgency) {
  if (!QueueMessage(text, number, kind, urgency)) return false;
  records_[(head_ + count_ - 1) % kQueueCapacity].attempts = attempts;
  return true;
}

void OutgoingQueue::CountAttempt(uint32_t id) {
  int index = IndexOf(id);
  if (index < 0) return;
  ++records_[(head_ + index) % kQueueCapacity].attempts;
  ++changes_;
}

void OutgoingQueue::TakeBackAttempt(uint32_t id) {
  int index = IndexOf(id);
  if (index < 0 || At(index).attempts == 0) return;
  --records_[(head_ + index) % kQueueCapacity].attempts;
  ++changes_;
}

}  // namespace kelvor
