#include <cstdlib>
#include <memory>

#include "scada/node_client.h"

namespace kelvor {

Scada& ConfiguredNode() {
  static const char* address = [] {
    const char* configured = getenv("SCADA_NODE");
    return configured && *configured ? configured : kDefaultNodeAddress;
  }();
  static std::unique_ptr<LineTransport> transport = NewSocketTransport(address, SystemClock());
  static NodeClient client(*transport);
  return client;
}

}  // namespace kelvor
