#include "modem/failover.h"

namespace kelvor {

bool Failover::Pass(const PhoneView& main, const PhoneView& standby, const char* mainName,
                    const char* standbyName) {
  if (standbySends_) {
    if (!TakeBack(main, standby)) return true;
    standbySends_ = false;
    switched_ = {false, PhoneFault::kNone};
    log_.LogMessage(Colour::kModem,
                    "Main phone %s takes back from the standby - it answers and is registered",
                    mainName);
    return false;
  }
  if (main.fault == PhoneFault::kNone || main.inFlight || !CanSend(standby)) return false;
  standbySends_ = true;
  lookAt_ = clock_.TickCount() + kRetryGap;
  switched_ = {true, main.fault};
  log_.LogMessage(Colour::kError, "Standby phone %s takes over - main phone %s %s", standbyName,
                  mainName, FaultWords(main.fault));
  return true;
}

// Before its look, the main phone takes back only from a standby that cannot send; a main
// phone not back yet is looked at again a gap later.
bool Failover::TakeBack(const PhoneView& main, const PhoneView& standby) {
  uint32_t now = clock_.TickCount();
  bool looking = DeadlinePassed(now, lookAt_) || !CanSend(standby);
  if (!looking) return false;
  if (!CanSend(main) || !main.registered) {
    if (DeadlinePassed(now, lookAt_)) lookAt_ = now + kRetryGap;
    return false;
  }
  return !standby.inFlight;
}

}  // namespace kelvor
