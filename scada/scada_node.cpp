// The SCADA system on Linux: a SCADA node reached over TCP.
#include "scada/node_client.h"
#include "scada/scada.h"

namespace kelvor {

Scada& SystemScada() {
  return ConfiguredNode();
}

}  // namespace kelvor
