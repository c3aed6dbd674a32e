#include "app/standby_arguments.h"

#include <cstring>

#include "modem/sim_pin.h"

namespace kelvor {
namespace {

// --- STANDBY=COMx=mode and STANDBY_PIN=nnnn: handed to each modem made (TakePort) -------

void ReadStandby(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument);
  StandbySetting& read = c.standby.emplace();
  read.tooLong = !ReadPortSetting(argument + strlen(row.text), &read.port);
}

void TakeStandby(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup&) {
  if (StandbyTaken(c)) {
    log.LogMessage(Colour::kNormal, "Standby phone on %s - sends while the main phone has failed",
                   c.standby->port.name);
  } else if (c.standby->tooLong) {
    log.LogMessage(Colour::kError, "STANDBY argument too long - %.40s...; no standby\r\n",
                   step.argument);
  } else {
    log.LogMessage(Colour::kError, "Standby phone on the main phone's port %s - no standby",
                   c.standby->port.name);
  }
}

void ReadStandbyPin(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument);
  ReadPinDigits(c.standbyPin.emplace(), argument + strlen(row.text));
}

void TakeStandbyPin(const Configuration& c, const ArgumentStep&, Log& log, RunSetup&) {
  if (c.standbyPin->fine) {
    log.LogMessage(Colour::kNormal, "Standby SIM PIN **** given - sent when that SIM asks for it");
  } else {
    log.LogMessage(Colour::kError, "Bad PIN - STANDBY_PIN= takes %d to %d digits; no PIN sent",
                   static_cast<int>(kShortestPin), static_cast<int>(kLongestPin));
  }
}

}  // namespace

void ReadPinDigits(PinSetting& read, const char* digits) {
  if (!IsPin(digits)) return;
  read.fine = true;
  memcpy(read.digits, digits, strlen(digits) + 1);
}

const char* PinOf(const std::optional<PinSetting>& pin) {
  return pin && pin->fine ? pin->digits : nullptr;
}

bool StandbyTaken(const Configuration& c) {
  if (!c.standby || c.standby->tooLong) return false;
  size_t ports = c.ports.Count();
  return ports == 0 || strcmp(c.ports[ports - 1].port.name, c.standby->port.name) != 0;
}

const ArgumentRow kStandbyRow = {"STANDBY=", "standby phone", nullptr, ReadStandby, TakeStandby};
const ArgumentRow kStandbyPinRow = {"STANDBY_PIN=", "standby PIN", "STANDBY_PIN=****",
                                    ReadStandbyPin, TakeStandbyPin};

}  // namespace kelvor
