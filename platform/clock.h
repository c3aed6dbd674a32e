// The system's millisecond tick, the program's sleep, and the local date and time.
#pragma once

#include <cstdint>

namespace kelvor {

// A date and time of day as the machine's clock shows it, in its own time zone.
struct LocalTime {
  int year;    // e.g. 2026
  int month;   // 1 to 12
  int day;     // 1 to 31
  int hour;    // 0 to 23
  int minute;  // 0 to 59
  int second;  // 0 to 59 (60 in a leap second)
};

// A 32-bit millisecond tick count that wraps at 2^32, and a sleep. The program uses the
// system clock; tests use a virtual one whose sleep advances the tick.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t TickCount() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
  // The local date and time, read from the system's clock unless a test clock gives its
  // own. Only the log file's line stamps use it: no deadline ever depends on it, since an
  // operator may set the wall clock back or forward at any time.
  virtual LocalTime Now();
};

// The one rule by which every deadline of the program is tested: a deadline has passed
// when the tick lies after it, so a deadline equal to the tick has not passed yet. The
// tick wraps, so "after" is taken on the circle of 2^32 ms: the tick lies after the
// deadline when it is less than half the circle (24.8 days) ahead of it. For a tick and a
// deadline on the same side of the wrap, that is the tick being greater as an unsigned
// number; across the wrap it stays right both ways, for a deadline set before the wrap and
// for one that lands past it. Every deadline of the program lies at most a week (the
// longest heartbeat period) from the tick that set it, well within half the circle.
inline bool DeadlinePassed(uint32_t tick, uint32_t deadline) {
  uint32_t ahead = tick - deadline;
  return ahead != 0 && ahead < 0x80000000u;
}

// A deadline that has passed at `tick` already.
inline uint32_t PassedDeadline(uint32_t tick) {
  return tick - 1;
}

// Milliseconds from `tick` until `deadline` while it lies ahead by the same rule; 0 once it
// has come or passed.
inline uint32_t TimeLeft(uint32_t tick, uint32_t deadline) {
  return DeadlinePassed(deadline, tick) ? deadline - tick : 0;
}

// Milliseconds from an earlier tick `since` to `tick`: right across the wrap for any span
// shorter than the circle.
inline uint32_t Elapsed(uint32_t tick, uint32_t since) {
  return tick - since;
}

constexpr uint32_t kMinute = 60000;  // ms

Clock& SystemClock();

}  // namespace kelvor
