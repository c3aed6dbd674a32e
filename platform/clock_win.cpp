#include <windows.h>

#include "platform/clock.h"

namespace kelvor {
namespace {

class TickClock : public Clock {
 public:
  uint32_t TickCount() override { return GetTickCount(); }
  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace

Clock& SystemClock() {
  static TickClock clock;
  return clock;
}

}  // namespace kelvor
