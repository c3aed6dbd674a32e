// The destinations of a run, in the order they were given.
#pragma once

#include <optional>

#include "log/log.h"
#include "routing/alarm_destination.h"
#include "routing/destination_specification.h"

namespace kelvor {

class DestinationList {
 public:
  static constexpr int kCapacity = 31;

  DestinationList() = default;
  DestinationList(const DestinationList&) = delete;
  DestinationList& operator=(const DestinationList&) = delete;

  // Appends a destination made from `parsed`; false, appending nothing, when the list is
  // full. Every destination given takes a slot, complete or not, as operators' configurations
  // have always counted them (the exit status is the number of slots taken); one that is
  // incomplete or refused takes no alarm.
  bool Add(const ParsedDestination& parsed);

  bool Full() const { return count_ >= kCapacity; }
  int Count() const { return count_; }
  // Destinations holding alarm text not yet handed to the modem.
  int PendingBatches() const;
  AlarmDestination& operator[](int index) { return *slots_[index]; }
  const AlarmDestination& operator[](int index) const { return *slots_[index]; }
  // The sum of the destinations' Changes(): moves whenever any batch changes.
  uint32_t Changes() const;

  // OfferAlarm, or FlushIfDue, on every destination: in list order, except that those
  // waiting for room in the queue come first, the longest waiting at the head.
  void OfferAlarm(const AlarmRecord& record, RoutingContext& context);
  void FlushIfDue(RoutingContext& context);

 private:
  // The destinations' indexes in the order they take their turn.
  void TurnOrder(uint32_t now, int* order) const;

  int count_ = 0;
  std::optional<AlarmDestination> slots_[kCapacity];  // fixed slots: no allocation
};

// Reads a destination's text (cut up in place), says on the console what became of it,
// and appends the destination to `list`. A full list passes the text over with a
// line naming it.
void AddDestination(char* text, DestinationList& list, Log& log);

}  // namespace kelvor
