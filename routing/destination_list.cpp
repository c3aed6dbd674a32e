#include "routing/destination_list.h"

namespace kelvor {

bool DestinationList::Add(char* specification) {
  if (count_ >= kCapacity) {
    // Cut so that even a file line of 253 characters keeps its line end.
    ConsolePrint(console_, "Destination list full (%d), ignoring %.120s\r\n", kCapacity,
                 specification);
    return false;
  }
  slots_[count_].emplace(specification, console_);
  ++count_;
  return true;
}

void DestinationList::OfferAlarm(const AlarmRecord& record, RoutingContext& context) {
  for (int i = 0; i < count_; ++i) slots_[i]->OfferAlarm(record, context);
}

void DestinationList::FlushIfDue(RoutingContext& context) {
  for (int i = 0; i < count_; ++i) slots_[i]->FlushIfDue(context);
}

}  // namespace kelvor
