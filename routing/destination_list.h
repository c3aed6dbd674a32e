// The destinations of a run, in the order they were given.
#pragma once

#include <cstdint>
#include <optional>

#include "routing/alarm_destination.h"
#include "routing/destination_specification.h"

namespace kelvor {

// A batch waiting at its destination, as a copy kept elsewhere needs it.
struct PendingBatch {
  const char* number;
  const char* text;
  uint32_t since;             // the tick at which it took its first alarm
  const BatchAlarms* alarms;  // the alarms it names and those it counts
};

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

  // Destinations holding alarm text not yet handed to the modem.
  int PendingBatches() const;
  // True while a destination's batch waits for a place in the full queue (WaitingForRoom):
  // the next place the queue frees is an alarm's.
  bool WaitingForRoom() const;
  // The sum of the destinations' Changes(): moves whenever any batch changes.
  uint32_t Changes() const;

  // Calls `visit(const PendingBatch&)` for each destination's pending batch, in list order.
  template <typename Visit>
  void ForEachPendingBatch(Visit visit) const {
    for (int i = 0; i < count_; ++i) {
      const AlarmDestination& destination = *slots_[i];
      if (!destination.BatchPending()) continue;
      visit(PendingBatch{destination.Number(), destination.Batch(), destination.PendingSince(),
                         &destination.BatchContents()});
    }
  }
  // Gives a batch kept from before a restart, with its alarms if they are known, back to the
  // first destination with its number that takes alarms and has no batch pending; its delay
  // starts at `now`. False when there is none.
  bool RestoreBatch(const char* number, const char* text, uint32_t now,
                    const BatchAlarms* alarms = nullptr);

  // OfferAlarm, or FlushIfDue, on every destination: in list order, except that those
  // waiting for room in the queue come first, the longest waiting at the head. With hours
  // on duty (context.duty), an alarm goes only to the destinations on duty that take it; when
  // only destinations off duty take it, it goes to them all the same, and says so.
  void OfferAlarm(const AlarmRecord& record, RoutingContext& context);
  void FlushIfDue(RoutingContext& context);

 private:
  // The destinations' indexes in the order they take their turn.
  void TurnOrder(uint32_t now, int* order) const;
  void OfferOnDuty(const AlarmRecord& record, RoutingContext& context, const int* order);

  int count_ = 0;
  std::optional<AlarmDestination> slots_[kCapacity];  // fixed slots: no allocation
};

}  // namespace kelvor
