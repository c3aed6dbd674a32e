#include "routing/destination_list.h"

#include <cstdio>
#include <cstring>

#include "modem/phone_number.h"

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

bool DestinationList::WaitingForRoom() const {
  for (int i = 0; i < count_; ++i) {
    if (slots_[i]->WaitingForRoom() && slots_[i]->BatchPending()) return true;
  }
  return false;
}

uint32_t DestinationList::Changes() const {
  uint32_t changes = 0;
  for (int i = 0; i < count_; ++i) changes += slots_[i]->Changes();
  return changes;
}

bool DestinationList::RestoreBatch(const char* number, const char* text, uint32_t now,
                                   const BatchAlarms* alarms) {
  for (int i = 0; i < count_; ++i) {
    AlarmDestination& destination = *slots_[i];
    if (destination.BatchPending() || strcmp(destination.Number(), number) != 0) continue;
    if (destination.RestoreBatch(text, now, alarms)) return true;
  }
  return false;
}

void DestinationList::OfferAlarm(const AlarmRecord& record, RoutingContext& context) {
  int order[kCapacity];
  TurnOrder(context.clock.TickCount(), order);
  if (context.duty != nullptr && context.duty->Active()) return OfferOnDuty(record, context, order);
  for (int i = 0; i < count_; ++i) slots_[order[i]]->OfferAlarm(record, context);
}

// Every destination filters first, so that those off duty learn whether anyone on duty takes
// the alarm; a schedule never drops one.
void DestinationList::OfferOnDuty(const AlarmRecord& record, RoutingContext& context,
                                  const int* order) {
  bool takes[kCapacity];
  bool onDuty = false;  // a destination on duty takes it
  for (int i = 0; i < count_; ++i) {
    AlarmDestination& destination = *slots_[order[i]];
    takes[i] = destination.Accepts(record, context);
    onDuty = onDuty || (takes[i] && context.duty->OnDuty(destination.Number()));
  }
  char sentTo[200] = {};  // the numbers of the line that says so, cut as it fills
  for (int i = 0; i < count_; ++i) {
    AlarmDestination& destination = *slots_[order[i]];
    if (!takes[i]) continue;
    if (onDuty && !context.duty->OnDuty(destination.Number())) {
      context.log.Print("Off duty %s - ignoring alm %.60s\r\n", destination.Number(),
                        record.AlarmText().c_str());
      continue;
    }
    bool listed = onDuty;  // or named already, for a destination with the same number
    for (int k = 0; k < i && !listed; ++k) {
      listed = takes[k] && SameNumber(slots_[order[k]]->Number(), destination.Number());
    }
    size_t length = strlen(sentTo);
    if (!listed) {
      snprintf(sentTo + length, sizeof sentTo - length, "%s%s", length > 0 ? "," : "",
               destination.Number());
    }
    destination.TakeAlarm(record, context);
  }
  if (!onDuty && sentTo[0] != '\0') {
    context.log.Print("no one on duty for %s - sent to %s\r\n", record.TagName().c_str(), sentTo);
  }
}

void DestinationList::FlushIfDue(RoutingContext& context) {
  int order[kCapacity];
  TurnOrder(context.clock.TickCount(), order);
  for (int i = 0; i < count_; ++i) slots_[order[i]]->FlushIfDue(context);
}

// While the queue is full, a place it frees goes to whichever destination comes first
// with a batch to hand over, at its deadline or when the next text would not fit. The
// list order would give it to the first destination every time, so that in a long burst
// the later ones wait, and overflow, the most: those waiting for room come first, the one
// that has waited longest at the head, then the others in list order.
void DestinationList::TurnOrder(uint32_t now, int* order) const {
  uint32_t waited[kCapacity];
  for (int i = 0; i < count_; ++i) {
    const AlarmDestination& destination = *slots_[i];
    // Waits are far below 2^32 ms; one that waited 0 ms still comes before the others.
    uint32_t wait = destination.WaitingForRoom() ? Elapsed(now, destination.WaitingSince()) + 1 : 0;
    int at = i;  // insertion, keeping the list order among equal waits
    for (; at > 0 && waited[at - 1] < wait; --at) {
      order[at] = order[at - 1];
      waited[at] = waited[at - 1];
    }
    order[at] = i;
    waited[at] = wait;
  }
}

}  // namespace kelvor
