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

// True when `tick` lies after `deadline`, compared as unsigned 32-bit numbers: a deadline
// equal to the tick count has not passed yet.
inline bool DeadlinePassed(uint32_t tick, uint32_t deadline) {
  return tick > deadline;
}

Clock& SystemClock();

}  // namespace kelvor
