// The destinations of a run, in the order they were given.
#pragma once

#include <optional>

#include "routing/alarm_destination.h"

namespace kelvor {

class DestinationList {
 public:
  static constexpr int kCapacity = 31;

  explicit DestinationList(Console& console) : console_(console) {}
  DestinationList(const DestinationList&) = delete;
  DestinationList& operator=(const DestinationList&) = delete;

  // Makes a destination from a specification and appends it. When the list is full the
  // specification is passed over, with a console line naming it, and the result is false.
  bool Add(char* specification);

  int Count() const { return count_; }
  AlarmDestination& operator[](int index) { return *slots_[index]; }

  // OfferAlarm, or FlushIfDue, on every destination in list order.
  void OfferAlarm(const AlarmRecord& record, RoutingContext& context);
  void FlushIfDue(RoutingContext& context);

 private:
  Console& console_;
  int count_ = 0;
  std::optional<AlarmDestination> slots_[kCapacity];  // fixed slots: no allocation
};

}  // namespace kelvor
