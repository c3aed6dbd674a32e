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

LocalTime Clock::Now() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

Clock& SystemClock() {
  static TickClock clock;
  return clock;
}

}  // namespace kelvor
