#include "platform/service_manager.h"

namespace kelvor {

// A Windows service is a program of another shape; a console program run on a SCADA node
// has no service manager to tell.
bool ServiceManagerListening() {
  return false;
}

void NotifyServiceManager(const char*) {}

}  // namespace kelvor
