// The rule by which a write to the serial port gives up, on both systems: the bytes still
// to go out must keep going. A write that takes longer in all than any limit is fine (a
// slow line, a long SMS); one whose output has not shrunk for five seconds is held by the
// line (hardware flow control with CTS low) and fails, so that the loop goes on.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace kelvor {

constexpr uint32_t kWriteStallMs = 5000;

// Watches the bytes still to go out of one write.
class StallWatch {
 public:
  explicit StallWatch(uint32_t stallMs) : stallMs_(stallMs) {}

  // `left` bytes are still to go at `now`: false once they have not shrunk for the stall
  // time. The first look only notes them.
  bool Moving(uint32_t left, uint32_t now) {
    if (!looked_ || left < smallest_) {
      looked_ = true;
      smallest_ = left;
      since_ = now;
      return true;
    }
    return !DeadlinePassed(now, since_ + stallMs_);
  }

 private:
  uint32_t stallMs_;
  uint32_t since_ = 0;
  uint32_t smallest_ = 0;
  bool looked_ = false;
};

// The port's output queue: the bytes written that the line has not sent yet.
class OutputQueue {
 public:
  // False when the system cannot tell (the line has hung up).
  virtual bool Held(uint32_t* bytes) = 0;

 protected:
  ~OutputQueue() = default;
};

// Waits until `queue` is empty, looking every millisecond or so. False when it has not
// shrunk for `stallMs` or cannot be asked.
bool DrainOutput(OutputQueue& queue, Clock& clock, uint32_t stallMs);

}  // namespace kelvor
