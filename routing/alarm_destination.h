// One SMS recipient: its filter, message form, delay and batch.
#pragma once

#include <cstdint>

#include "modem/sms_outbox.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "scada/scada.h"

namespace kelvor {

// What a destination needs while it handles alarms.
struct RoutingContext {
  Console& console;
  Scada& scada;
  Clock& clock;
  SmsOutbox& outbox;
};

class AlarmDestination {
 public:
  // Reads a destination specification; the text is cut up in place while it is read.
  // Echoes the destination, or prints the format error, as a plain console line.
  AlarmDestination(char* specification, Console& console);

  void OfferAlarm(const AlarmRecord& record, RoutingContext& context);
  void FlushIfDue(RoutingContext& context);
};

}  // namespace kelvor
