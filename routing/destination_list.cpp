#include "routing/destination_list.h"

#include <cstring>

namespace kelvor {

bool DestinationList::Add(const ParsedDestination& parsed) {
  if (count_ >= kCapacity) return false;
  slots_[count_].emplace(parsed);
  ++count_;
  return true;
}

int DestinationList::PendingBatches() const {
  int pending = 0;
  for (int i = 0; i < count_; ++i) pending += slots_[i]->BatchPending() ? 1 : 0;
  return pending;
}

uint32_t DestinationList::Changes() const {
  uint32_t changes = 0;
  for (int i = 0; i < count_; ++i) changes += slots_[i]->Changes();
  return changes;
}

bool DestinationList::RestoreBatch(const char* number, const char* text, uint32_t now) {
  for (int i = 0; i < count_; ++i) {
    AlarmDestination& destination = *slots_[i];
    if (destination.BatchPending() || strcmp(destination.Number(), number) != 0) continue;
    if (destination.RestoreBatch(text, now)) return true;
  }
  return false;
}

void DestinationList::OfferAlarm(const AlarmRecord& record, RoutingContext& context) {
  for (int i = 0; i < count_; ++i) slots_[i]->OfferAlarm(record, context);
}

void DestinationList::FlushIfDue(RoutingContext& context) {
  for (int i = 0; i < count_; ++i) slots_[i]->FlushIfDue(context);
}

}  // namespace kelvor
