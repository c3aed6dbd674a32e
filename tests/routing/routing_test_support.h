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

  // `specification` read from a copy, which reading cuts up; what became of it is reported
  // on the console, as at start-up.
  ParsedDestination Parse(const std::string& specification) {
    std::vector<char> text(specification.begin(), specification.end());
    text.push_back('\0');
    ParsedDestination parsed = ParseDestination(text.data());
    ReportDestination(parsed, log);
    return parsed;
  }
  // The destination made from it.
  AlarmDestination Make(const std::string& specification) {
    return AlarmDestination(Parse(specification));
  }
};

}  // namespace kelvor::test
