// Stand-in FIXTOOLS.dll: the SCADA-running test (ordinal 72) answered by a SCADA node.
#include "scada/node_client.h"
#include "scada/scada_library_operations.h"

extern "C" int32_t KELVOR_SCADA_CALL KelvorFixRunning(void) {
  return kelvor::ConfiguredNode().ScadaRunning();
}
