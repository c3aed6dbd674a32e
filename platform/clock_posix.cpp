#include <time.h>

#include "platform/clock.h"

namespace kelvor {
namespace {

class MonotonicClock : public Clock {
 public:
  uint32_t TickCount() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + now.tv_nsec / 1000000;
    return static_cast<uint32_t>(ms);  // wraps at 2^32, as the Windows tick does
  }

  void Sleep(uint32_t milliseconds) override {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
  }
};

}  // namespace

LocalTime Clock::Now() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

Clock& SystemClock() {
  static MonotonicClock clock;
  return clock;
}

}  // namespace kelvor
