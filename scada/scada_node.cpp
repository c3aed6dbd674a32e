// Placeholder until the SCADA node client lands: the SCADA system reads as not running.
#include "scada/scada.h"

namespace kelvor {
namespace {

class NoScada : public Scada {
 public:
  int32_t ScadaRunning() override { return 0; }
  int16_t ReadAlarmQueue(int32_t, AlarmRecord&) override { return -1; }
  int16_t ReadTagText(const char*, const char*, const char*, char*) override { return -1; }
  int16_t ReadTagNumber(const char*, const char*, const char*, float*) override { return -1; }
};

}  // namespace

Scada& SystemScada() {
  static NoScada scada;
  return scada;
}

}  // namespace kelvor
