// A radio that hangs: the phone answers AT but refuses every text, with an error that is
// neither the network's nor the SIM's, or never confirms it, until it is restarted. Two
// sendings in a row so refused, the reset between them included, find it hung; it is then
// restarted (AT+CFUN), at most once in kRestartGap.
//
// The two sendings that found the radio hung are the radio's fault, not the SMS's: they
// are taken back, so that an alarm is never given up because the radio hung. A radio
// found hung again sooner than kRestartGap after a restart that worked (an SMS went since)
// holds its SMS until its next restart, unless another phone sends them. One that refuses
// twice again after a restart before it confirmed anything was not helped by it: what is
// refused may be the SMS (a number the network will not take), so those sendings count, and
// such an SMS is still given up after four and cannot hold up the queue for ever.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace kelvor {

constexpr uint32_t kRestartGap = 10 * kMinute;  // at most one restart of a radio in this time
constexpr int kRefusalsThatHang = 2;            // sendings refused in a row

class RadioWatch {
 public:
  explicit RadioWatch(Clock& clock) : clock_(clock) {}

  // Once a step: a restart kRestartGap old is forgotten, whatever the tick does later.
  void Pass();
  // A sending refused by the radio (or never answered): true when it finds the radio hung.
  bool Refused();
  // A sending confirmed: the radio works.
  void Confirmed();

  bool Hung() const { return hung_; }
  // The sendings that found the radio hung are taken back (see above).
  bool SendingsTakenBack() const { return excuses_; }
  // No restart in the last kRestartGap: a hung radio is restarted now.
  bool RestartDue() const { return !restartedRecently_; }
  // Hung, its sendings taken back, its restart not due yet: the phone sends nothing.
  bool WaitsForRestart() const { return hung_ && excuses_ && restartedRecently_; }
  // The phone stops sending at once: to restart the radio, or to hold its SMS.
  bool HaltsSending() const { return hung_ && (excuses_ || !restartedRecently_); }
  // The restart goes out now.
  void Restarting();

 private:
  Clock& clock_;
  int inARow_ = 0;  // sendings refused since the last confirmed or the last restart
  bool hung_ = false;
  bool excuses_ = false;
  bool restartedRecently_ = false;
  uint32_t restartedAt_ = 0;
  bool confirmedSinceRestart_ = true;  // true before the first restart
};

}  // namespace kelvor
