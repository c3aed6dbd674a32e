// What a service manager (systemd, with Type=notify) learns of the run: that it is ready
// when the loop starts, that the loop still passes, the modem's state in one line, and
// that the run is stopping. Without a service manager each call costs a test and nothing
// more.
#pragma once

#include <cstdint>

#include "app/status.h"
#include "platform/clock.h"

namespace kelvor {

class ServiceStatus {
 public:
  void Ready(const StatusFigures& figures, Clock& clock);
  // Every pass, with the run's figures as they are now. A loop that stops passing (a hung
  // SCADA read, a wedged port) stops the watchdog pings, and the service manager restarts
  // the program after its WatchdogSec.
  void Pass(const StatusFigures& figures, Clock& clock);
  void Stopping();

 private:
  void Publish(const StatusFigures& figures);

  uint32_t nextPing_ = 0;
  char status_[128] = {};  // the STATUS= message sent last
};

}  // namespace kelvor
