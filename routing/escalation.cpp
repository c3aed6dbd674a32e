#include "routing/escalation.h"

#include <cstdio>
#include <cstring>

#include "platform/clock.h"

namespace kelvor {
namespace {

// The longest wait a record can have: a restored one is held to it, whatever the file said.
constexpr uint32_t kLongestWait = kEscalationDeliveryWait + kLongestEscalationMinutes * kMinute;

uint64_t Bit(int index) {
  return uint64_t{1} << index;
}

void CopyText(char* to, const char* from) {
  size_t length = strnlen(from, kSmsTextLimit);
  memcpy(to, from, length);
  to[length] = '\0';
}

}  // namespace

RuleValues CheckRuleValues(const char* number, uint32_t minutes, const char* next) {
  if (!IsPhoneNumber(number)) return RuleValues::kBadNumber;
  if (minutes < 1 || minutes > kLongestEscalationMinutes) return RuleValues::kBadMinutes;
  if (!IsPhoneNumber(next)) return RuleValues::kBadNext;
  return RuleValues::kFine;
}

Escalation::Escalation() {
  for (int8_t& next : next_) next = kNone;
}

Escalation::RuleOutcome Escalation::AddRule(const char* number, uint32_t minutes,
                                            const char* next) {
  if (ruleCount_ >= kEscalationRuleCapacity) return kRulesFull;
  switch (CheckRuleValues(number, minutes, next)) {
    case RuleValues::kFine:
      break;
    case RuleValues::kBadMinutes:
      return kBadMinutes;
    default:  // either number: the tables below take phone numbers alone
      return kBadNumber;
  }
  if (SameNumber(number, next)) return kSameNumber;
  int from = numbers_.IndexOf(number);
  if (from != kNone && next_[from] != kNone) return kDuplicate;
  // Two numbers a rule at most: the list, and each mask, always has room.
  from = numbers_.Add(number);
  next_[from] = static_cast<int8_t>(numbers_.Add(next));
  minutes_[from] = static_cast<uint16_t>(minutes);
  ++ruleCount_;
  return kAdded;
}

Escalation::Taken Escalation::AlarmConfirmed(const char* number, uint32_t id, const char* text,
                                             uint32_t now) {
  int at = numbers_.IndexOf(number);
  if (at == kNone || next_[at] == kNone) return kNotEscalated;
  // The same SMS confirmed again is the same alarm: it is escalated once.
  for (const Record& record : records_) {
    if (record.used && id != 0 && record.alarmId == id) return kHeld;
  }
  Record* record = FreeRecord();
  if (record == nullptr) return kFull;
  *record = Record{};
  record->used = true;
  record->holder = static_cast<int8_t>(at);
  record->passedOver = kNone;
  record->delivered = true;
  record->reached = record->confirmed = Bit(at);
  record->deadline = now + minutes_[at] * kMinute;
  record->alarmId = id;
  CopyText(record->text, text);
  ++count_;
  ++changes_;
  return kHeld;
}

void Escalation::Queued(const EscalationSms& sms, uint32_t id) {
  if (sms.kind != EscalationSms::kEscalated || sms.record < 0 || sms.record >= kEscalationCapacity)
    return;
  Record& record = records_[sms.record];
  if (!record.used || record.delivered) return;
  record.sentId = id;
  ++changes_;
}

bool Escalation::EscalationConfirmed(uint32_t id, uint32_t now) {
  if (id == 0) return false;
  for (Record& record : records_) {
    if (!record.used || record.delivered || record.sentId != id) continue;
    int at = record.holder;
    // However late it came, the holder has its minutes from now.
    record.delivered = true;
    record.due = false;
    record.confirmed |= Bit(at);
    record.deadline = now + minutes_[at] * kMinute;
    ++changes_;
    if (Onward(record) == kNone) Release(record);  // the end of its chain: nothing to wait for
    return true;
  }
  return false;
}

// The alarm SMS itself, while its first holder holds it; else the escalated SMS sent last.
bool Escalation::Undelivered(uint32_t id, uint32_t now) {
  if (id == 0) return false;
  for (Record& record : records_) {
    bool first = record.alarmId == id && record.sentId == 0 && record.passedOver == kNone;
    if (!record.used || record.due || !(first || (record.delivered && record.sentId == id))) {
      continue;
    }
    record.deadline = now;
    ++changes_;
    return true;
  }
  return false;
}

int Escalation::Acknowledge(const char* number) {
  int at = numbers_.IndexOf(number);
  if (at == kNone) return 0;
  int count = 0;
  for (Record& record : records_) {
    if (!record.used || !(record.confirmed & Bit(at))) continue;
    Release(record);
    ++count;
  }
  uint32_t waiting = acknowledged_[at] + static_cast<uint32_t>(count);
  acknowledged_[at] = static_cast<uint16_t>(waiting < 0xFFFF ? waiting : 0xFFFF);
  return count;
}

// A record whose time is up is marked due, so that it waits for room in the queue however
// long that takes, without its deadline ageing past the reach of DeadlinePassed.
void Escalation::Pass(uint32_t now) {
  for (Record& record : records_) {
    if (!record.used || record.due || !DeadlinePassed(now, record.deadline)) continue;
    if (Onward(record) == kNone) {
      Release(record);
    } else {
      record.due = true;
    }
  }
}

bool Escalation::TakeDue(uint32_t now, EscalationSms* sms, bool confirmations,
                         const SmsOutbox* room) {
  Pass(now);
  if (Record* record = EarliestDue(now)) {
    Record moved = *record;
    moved.passedOver = record->holder;
    moved.passedMinutes = minutes_[record->holder];
    FormatEscalated(moved, sms->text, sizeof sms->text);
    if (room != nullptr && !room->HasRoomFor(sms->text)) return false;
    Escalate(*record, Onward(*record), now, sms);
    return true;
  }
  for (int at = 0; confirmations && at < numbers_.Count(); ++at) {
    if (acknowledged_[at] == 0) continue;
    sms->kind = EscalationSms::kAcknowledged;
    sms->record = -1;
    CopyText(sms->number, numbers_.At(at));
    snprintf(sms->text, sizeof sms->text, "Kelvor: %u alarm SMS acknowledged",
             static_cast<unsigned>(acknowledged_[at]));
    acknowledged_[at] = 0;
    return true;
  }
  return false;
}

bool Escalation::HasDue() const {
  for (const Record& record : records_) {
    if (record.used && record.due) return true;
  }
  return false;
}

Escalation::Record* Escalation::FreeRecord() {
  for (Record& record : records_) {
    if (!record.used) return &record;
  }
  return nullptr;
}

// The record longest overdue, so that escalations waiting for room keep their order.
Escalation::Record* Escalation::EarliestDue(uint32_t now) {
  Record* earliest = nullptr;
  for (Record& record : records_) {
    if (!record.used || !record.due) continue;
    bool longer =
        earliest == nullptr || Elapsed(now, record.deadline) > Elapsed(now, earliest->deadline);
    if (longer) earliest = &record;
  }
  return earliest;
}

// The number the text goes to if its holder does not answer: none when the holder has no
// rule or its next was reached already, so a text reaches each number once and never loops.
// A next off duty is skipped for its own next, the first on duty; with none on duty, the
// chain goes on as if no one had hours.
int Escalation::Onward(const Record& record) const {
  int next = next_[record.holder];
  if (next == kNone || (record.reached & Bit(next))) return kNone;
  uint64_t seen = record.reached;
  for (int at = next; duty_ != nullptr && at != kNone && !(seen & Bit(at)); at = next_[at]) {
    if (duty_->OnDuty(numbers_.At(at))) return at;
    seen |= Bit(at);
  }
  return next;
}

// The SMS's text is written already.
void Escalation::Escalate(Record& record, int next, uint32_t now, EscalationSms* sms) {
  record.passedOver = record.holder;
  record.passedMinutes = minutes_[record.holder];
  record.holder = static_cast<int8_t>(next);
  record.reached |= Bit(next);
  record.delivered = false;
  record.due = false;
  record.sentId = 0;  // until Queued says which SMS carries it
  // Until the phone confirms it, the wait is for the delivery and then the next's minutes.
  record.deadline = now + kEscalationDeliveryWait;
  if (Onward(record) != kNone) record.deadline += minutes_[next] * kMinute;
  ++changes_;
  sms->kind = EscalationSms::kEscalated;
  sms->record = static_cast<int>(&record - records_);
  CopyText(sms->number, numbers_.At(next));
}

// A line naming the number passed over (59 characters at most), then as much of the alarm
// text as fits in one SMS: the text is cut, never the line.
void Escalation::FormatEscalated(const Record& record, char* text, size_t size) const {
  text[0] = '\0';
  if (record.passedOver == kNone) return;
  int line = snprintf(text, size, "No answer from %s in %u min\n", numbers_.At(record.passedOver),
                      static_cast<unsigned>(record.passedMinutes));
  if (line < 0 || static_cast<size_t>(line) >= size) return;
  snprintf(text + line, size - static_cast<size_t>(line), "%.*s",
           static_cast<int>(size - 1 - static_cast<size_t>(line)), record.text);
}

void Escalation::Release(Record& record) {
  record.used = false;
  --count_;
  ++changes_;
}

void Escalation::Save(uint32_t now, EscalationRecordSink& sink) const {
  EscalationRecord saved;
  for (const Record& record : records_) {
    if (!record.used) continue;
    saved = EscalationRecord{};
    CopyText(saved.text, record.text);
    CopyText(saved.holder, numbers_.At(record.holder));
    if (record.passedOver != kNone) CopyText(saved.passedOver, numbers_.At(record.passedOver));
    saved.passedMinutes = record.passedMinutes;
    saved.delivered = record.delivered;
    saved.wait = record.due ? 0 : TimeLeft(now, record.deadline);
    saved.alarmId = record.alarmId;
    saved.sentId = record.sentId;
    for (int at = 0; at < numbers_.Count(); ++at) {
      if (!(record.reached & Bit(at))) continue;
      EscalationRecord::Reached& reached = saved.reached[saved.reachedCount++];
      CopyText(reached.number, numbers_.At(at));
      reached.confirmed = (record.confirmed & Bit(at)) != 0;
    }
    sink.Take(saved);
  }
}

Escalation::Restored Escalation::Restore(const EscalationRecord& saved, uint32_t now) {
  int holder = numbers_.IndexOf(saved.holder);
  if (holder == kNone) return kNoLongerConfigured;
  Record* record = FreeRecord();
  if (record == nullptr) return kNoRoom;
  *record = Record{};
  record->used = true;
  record->holder = static_cast<int8_t>(holder);
  record->passedOver = static_cast<int8_t>(numbers_.IndexOf(saved.passedOver));
  record->passedMinutes = static_cast<uint16_t>(saved.passedMinutes < kLongestEscalationMinutes
                                                    ? saved.passedMinutes
                                                    : kLongestEscalationMinutes);
  record->delivered = saved.delivered;
  record->reached = Bit(holder);
  int count = saved.reachedCount < kEscalationNumberCapacity ? saved.reachedCount
                                                             : kEscalationNumberCapacity;
  for (int i = 0; i < count; ++i) {
    int at = numbers_.IndexOf(saved.reached[i].number);
    if (at == kNone) continue;
    record->reached |= Bit(at);
    if (saved.reached[i].confirmed) record->confirmed |= Bit(at);
  }
  record->deadline = now + (saved.wait < kLongestWait ? saved.wait : kLongestWait);
  record->alarmId = saved.alarmId;
  record->sentId = saved.delivered ? 0 : saved.sentId;
  CopyText(record->text, saved.text);
  ++count_;
  ++changes_;
  return kRestored;
}

}  // namespace kelvor
