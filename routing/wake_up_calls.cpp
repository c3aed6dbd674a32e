#include "routing/wake_up_calls.h"

#include <cstring>

#include "platform/clock.h"

namespace kelvor {

RingValues CheckRingValues(const char* number, uint32_t minutes, int priority) {
  if (!IsPhoneNumber(number)) return RingValues::kBadNumber;
  if (minutes < 1 || minutes > kLongestRingMinutes) return RingValues::kBadMinutes;
  if (priority < 0 || priority > 2) return RingValues::kBadPriority;
  return RingValues::kFine;
}

WakeUpCalls::RuleOutcome WakeUpCalls::AddRule(const char* number, uint32_t minutes, int priority) {
  if (CheckRingValues(number, minutes, priority) != RingValues::kFine) return kBadValues;
  if (Find(number) != nullptr) return kDuplicate;
  if (count_ >= kRingRuleCapacity) return kRulesFull;
  Rule& rule = rules_[count_++];
  rule = Rule{};
  memcpy(rule.number, number, strlen(number) + 1);
  rule.minutes = static_cast<uint16_t>(minutes);
  rule.priority = static_cast<int8_t>(priority);
  return kAdded;
}

int WakeUpCalls::Waiting() const {
  int waiting = 0;
  for (int i = 0; i < count_; ++i) waiting += rules_[i].waiting ? 1 : 0;
  return waiting;
}

void WakeUpCalls::AlarmConfirmed(const char* number, int8_t urgency, uint32_t now) {
  Rule* rule = Find(number);
  if (rule == nullptr || urgency > rule->priority) return;
  if (!rule->waiting) {
    rule->waiting = true;
    rule->deadline = now + rule->minutes * kMinute;
    rule->unanswered = 0;
  }
  ++rule->unanswered;
  ++changes_;
}

bool WakeUpCalls::Answered(const char* number) {
  Rule* rule = Find(number);
  if (rule == nullptr || !rule->waiting) return false;
  rule->waiting = false;
  rule->due = false;
  ++changes_;
  return true;
}

void WakeUpCalls::Undelivered(const char* number, uint32_t now) {
  Rule* rule = Find(number);
  if (rule == nullptr || !rule->waiting || rule->due) return;
  rule->deadline = now;
  ++changes_;
}

void WakeUpCalls::Pass(uint32_t now) {
  for (int i = 0; i < count_; ++i) {
    Rule& rule = rules_[i];
    if (!rule.waiting || !(rule.due || DeadlinePassed(now, rule.deadline))) continue;
    if (duty_ != nullptr && !duty_->OnDuty(rule.number)) {
      Answered(rule.number);  // no one is woken off duty: the call ends unmade
      continue;
    }
    if (rule.due) continue;
    rule.due = true;
    rule.dueOrder = dueCount_++;
    ++changes_;
  }
}

const char* WakeUpCalls::Due(uint32_t* unanswered, uint32_t* minutes) const {
  const Rule* first = nullptr;
  for (int i = 0; i < count_; ++i) {
    const Rule& rule = rules_[i];
    bool earlier = first == nullptr || rule.dueOrder - dueCount_ < first->dueOrder - dueCount_;
    if (rule.due && earlier) first = &rule;
  }
  if (first == nullptr) return nullptr;
  *unanswered = first->unanswered;
  *minutes = first->minutes;
  return first->number;
}

// The SMS confirmed from now on start the minutes again.
void WakeUpCalls::Called(const char* number) {
  Answered(number);
}

void WakeUpCalls::Save(uint32_t now, RingRecordSink& sink) const {
  for (int i = 0; i < count_; ++i) {
    const Rule& rule = rules_[i];
    if (!rule.waiting) continue;
    RingRecord record;
    memcpy(record.number, rule.number, strlen(rule.number) + 1);
    record.unanswered = rule.unanswered;
    record.wait = rule.due ? 0 : TimeLeft(now, rule.deadline);
    sink.Take(record);
  }
}

// A wait longer than a rule allows (a damaged or forged file) is held to the rule's minutes.
bool WakeUpCalls::Restore(const RingRecord& record, uint32_t now) {
  Rule* rule = Find(record.number);
  if (rule == nullptr) return false;
  uint32_t longest = rule->minutes * kMinute;
  rule->waiting = true;
  rule->due = false;
  rule->deadline = now + (record.wait < longest ? record.wait : longest);
  rule->unanswered = record.unanswered > 0 ? record.unanswered : 1;
  ++changes_;
  return true;
}

WakeUpCalls::Rule* WakeUpCalls::Find(const char* number) {
  return const_cast<Rule*>(static_cast<const WakeUpCalls*>(this)->Find(number));
}

const WakeUpCalls::Rule* WakeUpCalls::Find(const char* number) const {
  for (int i = 0; i < count_; ++i) {
    if (SameNumber(rules_[i].number, number)) return &rules_[i];
  }
  return nullptr;
}

}  // namespace kelvor
