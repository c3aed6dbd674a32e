#include "modem/phone_health.h"

namespace kelvor {
namespace {

// The states of +CREG, 0 to 5.
const char* const kRegistrationWords[] = {"not registered", "registered", "searching",
                                          "denied",         "unknown",    "roaming"};

}  // namespace

const char* RegistrationWords(int32_t registration) {
  if (registration < 0 || registration > 5) return nullptr;
  return kRegistrationWords[registration];
}

const char* FaultWords(PhoneFault fault) {
  switch (fault) {
    case PhoneFault::kNone:
      break;
    case PhoneFault::kPortGone:
      return "port gone";
    case PhoneFault::kSilent:
      return "silent";
    case PhoneFault::kSimLocked:
      return "SIM locked";
    case PhoneFault::kOffNetwork:
      return "off the network";
    case PhoneFault::kRadioHung:
      return "radio hung";
  }
  return "well";
}

int32_t SignalPercent(int32_t rssi) {
  if (rssi < 0 || rssi > 31) return 0;
  return rssi * 100 / 31;
}

}  // namespace kelvor
