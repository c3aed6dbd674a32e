// The SCADA system on Linux: a SCADA node reached over TCP, at the address SCADA_NODE gives
// (host:port), else the default one.
#include <cstdlib>
#include <memory>

#include "scada/node_client.h"
#include "scada/scada.h"

namespace kelvor {

Scada& SystemScada() {
  static const char* address = [] {
    const char* configured = getenv("SCADA_NODE");
    return configured && *configured ? configured : kDefaultNodeAddress;
  }();
  static std::unique_ptr<LineTransport> transport = NewSocketTransport(address, SystemClock());
  static NodeClient client(*transport);
  return client;
}

}  // namespace kelvor
