// Placeholder until routing lands: takes every specification, routes nothing.
#include "routing/alarm_destination.h"

namespace kelvor {

AlarmDestination::AlarmDestination(char* specification, Console& console) {
  ConsolePrint(console, "New dest = %s\r\n", specification);
}

void AlarmDestination::OfferAlarm(const AlarmRecord& record, RoutingContext& context) {
  (void)record;
  (void)context;
}

void AlarmDestination::FlushIfDue(RoutingContext& context) {
  (void)context;
}

}  // namespace kelvor
