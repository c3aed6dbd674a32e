// What the routing tests share: a destination's surroundings in virtual time.
#pragma once

#include <string>
#include <vector>

#include "routing/alarm_destination.h"
#include "support/fake_outbox.h"
#include "support/fakes.h"

namespace kelvor::test {

struct RoutingWorld {
  FakeConsole console;
  FakeScada scada;
  VirtualClock clock{100000};
  FakeOutbox outbox{&clock};
  RoutingContext context{console, scada, clock, outbox};

  // A destination made from a copy of `specification`, which creation cuts up.
  AlarmDestination Make(const std::string& specification) {
    std::vector<char> text(specification.begin(), specification.end());
    text.push_back('\0');
    return AlarmDestination(text.data(), console);
  }
};

}  // namespace kelvor::test
