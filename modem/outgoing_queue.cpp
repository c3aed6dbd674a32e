#include "modem/outgoing_queue.h"

#include <cstring>

namespace kelvor {

uint32_t OutgoingQueue::QueueMessage(const char* text, const char* number, SmsKind kind,
                                     int8_t urgency) {
  bool taken = Enqueue(text, number, kind, urgency);
  ++(taken ? tally_.queued : tally_.refused);
  return taken ? lastId_ : 0;
}

bool OutgoingQueue::Enqueue(const char* text, const char* number, SmsKind kind, int8_t urgency) {
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
  Loan& slot = Slot(count_);
  slot.borrower = kNotLent;
  OutgoingSms& record = slot.sms;
  for (size_t i = 0; i < length; ++i) {
    record.text[i] = (text[i] == kCtrlZ || text[i] == kEscape) ? ' ' : text[i];
  }
  record.text[length] = '\0';
  memcpy(record.number, number, strlen(number) + 1);
  record.kind = kind;
  record.urgency = urgency;
  record.attempts = 0;
  // 0 names no SMS; after the count wraps, an id still queued (kept across a restart) is
  // skipped too.
  do {
    ++lastId_;
  } while (lastId_ == 0 || IndexOf(lastId_) >= 0);
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
    Slot(i) = Slot(i + 1);
  }
  --count_;
  ++changes_;
}

void OutgoingQueue::LendTo(uint8_t phones) {
  borrowers_ = phones;
  for (int index = 0; index < count_; ++index) {
    uint8_t borrower = Slot(index).borrower;
    if (borrower != kNotLent && !MayBorrow(borrower)) Return(At(index).id, borrower);
  }
}

// Oldest first: the policy only says who may borrow, never which SMS goes next.
int OutgoingQueue::Lendable(uint8_t phone) const {
  if (phone >= kPhoneCount || !MayBorrow(phone)) return -1;
  for (int index = 0; index < count_; ++index) {
    if (Slot(index).borrower == kNotLent && !EarlierLent(index)) return index;
  }
  return -1;
}

bool OutgoingQueue::EarlierLent(int index) const {
  for (int before = 0; before < index; ++before) {
    if (Slot(before).borrower != kNotLent && strcmp(At(before).number, At(index).number) == 0) {
      return true;
    }
  }
  return false;
}

const OutgoingSms* OutgoingQueue::Next(uint8_t phone) const {
  int index = Lendable(phone);
  return index < 0 ? nullptr : &At(index);
}

const OutgoingSms* OutgoingQueue::Lend(uint8_t phone) {
  int index = Lendable(phone);
  if (index < 0) return nullptr;
  Slot(index).borrower = phone;
  return &At(index);
}

int OutgoingQueue::LentIndex(uint32_t id, uint8_t phone) const {
  int index = IndexOf(id);
  return index >= 0 && Slot(index).borrower == phone ? index : -1;
}

bool OutgoingQueue::IsLentTo(uint32_t id, uint8_t phone) const {
  return LentIndex(id, phone) >= 0;
}

ModemEvent* OutgoingQueue::Tell(ModemEvent::Kind kind, int index, uint8_t phone) {
  ModemEvent* event = events_.Add(kind);
  event->sms = At(index);
  event->phone = phone;
  return event;
}

bool OutgoingQueue::Confirm(uint32_t id, uint8_t phone, int32_t reference) {
  int index = LentIndex(id, phone);
  if (index < 0) return false;
  ++tally_.sent;
  Tell(ModemEvent::kConfirmed, index, phone)->reference = reference;
  RemoveAt(index);
  return true;
}

void OutgoingQueue::Return(uint32_t id, uint8_t phone) {
  int index = LentIndex(id, phone);
  if (index < 0) return;
  Slot(index).borrower = kNotLent;
  Tell(ModemEvent::kReturned, index, phone);
}

void OutgoingQueue::GiveUp(uint32_t id, uint8_t phone, GiveUpReason reason) {
  int index = LentIndex(id, phone);
  if (index < 0) return;
  ++tally_.givenUp;
  Tell(ModemEvent::kGivenUp, index, phone)->reason = reason;
  RemoveAt(index);
}

void OutgoingQueue::Clear() {
  tally_.discarded += static_cast<uint32_t>(count_);
  head_ = 0;
  count_ = 0;
  ++changes_;
}

// A kept id is taken only by an SMS of one part: the parts of a longer one each need their own.
uint32_t OutgoingQueue::Requeue(const char* text, const char* number, int32_t attempts,
                                SmsKind kind, int8_t urgency, uint32_t id) {
  int before = count_;
  uint32_t given = QueueMessage(text, number, kind, urgency);
  if (given == 0) return 0;
  OutgoingSms& last = Slot(count_ - 1).sms;
  last.attempts = attempts;
  if (id == 0 || count_ != before + 1 || Find(id) != nullptr) return given;
  last.id = id;
  IdsAbove(id);
  return id;
}

void OutgoingQueue::IdsAbove(uint32_t id) {
  if (id > lastId_) lastId_ = id;
}

void OutgoingQueue::CountAttempt(uint32_t id) {
  int index = IndexOf(id);
  if (index < 0) return;
  ++Slot(index).sms.attempts;
  ++changes_;
}

void OutgoingQueue::TakeBackAttempt(uint32_t id) {
  int index = IndexOf(id);
  if (index < 0 || At(index).attempts == 0) return;
  --Slot(index).sms.attempts;
  ++changes_;
}

}  // namespace kelvor
