// What the routing tests share: a destination's surroundings in virtual time.
#pragma once

#include <string>
#include <vector>

#include "log/console_log.h"
#include "routing/alarm_destination.h"
#include "support/fake_outbox.h"
#include "support/fakes.h"

namespace kelvor::test {

struct RoutingWorld {
  FakeConsole console;
  ConsoleLog log{console, nullptr};
  FakeScada scada;
  VirtualClock clock{100000};
  FakeOutbox outbox{&clock};
  RoutingContext context{log, scada, clock, outbox};

  // A destination made from a copy of `specification`, which reading cuts up; what became
  // of it is reported on the console, as at start-up.
  AlarmDestination Make(const std::string& specification) {
    std::vector<char> text(specification.begin(), specification.end());
    text.push_back('\0');
    ParsedDestination parsed = ParseDestination(text.data());
    ReportDestination(parsed, log);
    return AlarmDestination(parsed);
  }
};

}  // namespace kelvor::test
