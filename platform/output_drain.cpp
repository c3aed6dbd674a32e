#include "platform/output_drain.h"

namespace kelvor {
namespace {

// About a byte's time at 9600 baud.
constexpr uint32_t kDrainCheckMs = 1;

}  // namespace

bool DrainOutput(OutputQueue& queue, Clock& clock, uint32_t stallMs) {
  StallWatch watch(stallMs);
  uint32_t held = 0;
  while (queue.Held(&held)) {
    if (held == 0) return true;
    if (!watch.Moving(held, clock.TickCount())) return false;
    clock.Sleep(kDrainCheckMs);
  }
  return false;
}

}  // namespace kelvor
