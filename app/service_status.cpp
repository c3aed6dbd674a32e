#include "app/service_status.h"

#include <cstring>

#include "platform/service_manager.h"

namespace kelvor {
namespace {

// A ping a second at most: a loop that passes ten times a second would otherwise send ten,
// and the service manager's WatchdogSec is a minute.
constexpr uint32_t kPingInterval = 1000;  // ms

}  // namespace

void ServiceStatus::Ready(const StatusFigures& figures, Clock& clock) {
  if (!ServiceManagerListening()) return;
  NotifyServiceManager("READY=1");
  Publish(figures);
  nextPing_ = PassedDeadline(clock.TickCount());
}

void ServiceStatus::Pass(const StatusFigures& figures, Clock& clock) {
  if (!ServiceManagerListening()) return;
  uint32_t now = clock.TickCount();
  if (!DeadlinePassed(now, nextPing_)) return;
  nextPing_ = now + kPingInterval;
  NotifyServiceManager("WATCHDOG=1");
  Publish(figures);
}

void ServiceStatus::Stopping() {
  NotifyServiceManager("STOPPING=1");
}

// The status line systemctl shows: the S key's report on one line, sent when it changes.
void ServiceStatus::Publish(const StatusFigures& figures) {
  char next[sizeof status_];
  FormatServiceStatus(figures, next, sizeof next);
  if (strcmp(next, status_) == 0) return;
  memcpy(status_, next, sizeof status_);
  NotifyServiceManager(status_);
}

}  // namespace kelvor
