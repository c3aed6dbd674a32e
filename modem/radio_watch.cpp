#include "modem/radio_watch.h"

namespace kelvor {

void RadioWatch::Pass() {
  if (restartedRecently_ && Elapsed(clock_.TickCount(), restartedAt_) >= kRestartGap) {
    restartedRecently_ = false;
  }
}

bool RadioWatch::Refused() {
  if (hung_ || ++inARow_ < kRefusalsThatHang) return false;
  hung_ = true;
  takenBack_ = confirmedSinceRestart_;
  return true;
}

void RadioWatch::Confirmed() {
  inARow_ = 0;
  hung_ = false;
  confirmedSinceRestart_ = true;
}

void RadioWatch::Restarting() {
  inARow_ = 0;
  hung_ = false;
  restartedRecently_ = true;
  restartedAt_ = clock_.TickCount();
  confirmedSinceRestart_ = false;
}

}  // namespace kelvor
