// A hung radio answers AT but refuses or never confirms every text until restarted. Two
// sendings so refused in a row find it hung; it is restarted (AT+CFUN) at most once in
// kRestartGap. Those two sendings are taken back, so no alarm is given up for a hung radio;
// but after a restart that did not help, refusals count, as the SMS itself may be at fault.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace kelvor {

constexpr uint32_t kRestartGap = 10 * kMinute;  // at most one restart of a radio in this time
constexpr int kRefusalsThatHang = 2;            // sendings refused in a row

class RadioWatch {
 public:
  explicit RadioWatch(Clock& clock) : clock_(clock) {}

  // Once a step: forgets a restart kRestartGap old, across the tick's wrap.
  void Pass();
  // A sending refused by the radio (or never answered): true when it finds the radio hung.
  bool Refused();
  // A sending confirmed: the radio works.
  void Confirmed();

  bool Hung() const { return hung_; }
  bool SendingsTakenBack() const { return takenBack_; }
  bool RestartDue() const { return !restartedRecently_; }
  // Hung again soon after a restart that helped: its SMS wait for the next restart.
  bool WaitsForRestart() const { return hung_ && takenBack_ && restartedRecently_; }
  // Restart the radio now, or wait for its restart.
  bool HaltsSending() const { return hung_ && (takenBack_ || !restartedRecently_); }
  // The restart goes out now.
  void Restarting();

 private:
  Clock& clock_;
  int inARow_ = 0;  // sendings refused since the last confirmed or the last restart
  bool hung_ = false;
  bool takenBack_ = false;
  bool restartedRecently_ = false;
  uint32_t restartedAt_ = 0;
  bool confirmedSinceRestart_ = true;  // true before the first restart
};

}  // namespace kelvor
