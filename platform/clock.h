// The system's millisecond tick and the program's sleep.
#pragma once

#include <cstdint>

namespace kelvor {

// A 32-bit millisecond tick count that wraps at 2^32, and a sleep. The program uses the
// system clock; tests use a virtual one whose sleep advances the tick.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t TickCount() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
};

// The one rule by which every deadline of the program is tested: a deadline has passed
// when the tick lies after it, so a deadline equal to the tick has not passed yet. The
// tick wraps, so "after" is taken on the circle of 2^32 ms: the tick lies after the
// deadline when it is less than half the circle (24.8 days) ahead of it. For a tick and a
// deadline on the same side of the wrap, that is the tick being greater as an unsigned
// number; across the wrap it stays right both ways, for a deadline set before the wrap and
// for one that lands past it. Every deadline of the program lies at most an hour from the
// tick that set it, well within half the circle.
inline bool DeadlinePassed(uint32_t tick, uint32_t deadline) {
  uint32_t ahead = tick - deadline;
  return ahead != 0 && ahead < 0x80000000u;
}

// A deadline that has passed at `tick` already.
inline uint32_t PassedDeadline(uint32_t tick) {
  return tick - 1;
}

Clock& SystemClock();

}  // namespace kelvor
