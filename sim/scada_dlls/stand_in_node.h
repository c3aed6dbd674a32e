// The SCADA node a stand-in library answers from.
#pragma once

#include "scada/scada.h"

namespace kelvor {

// The node at SCADA_NODE (host:port), else the default address, reached over one connection
// of this library's own, opened at the first call.
Scada& StandInNode();

}  // namespace kelvor
