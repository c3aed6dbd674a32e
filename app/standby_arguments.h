// The standby phone's arguments, STANDBY=COMx=mode and STANDBY_PIN=nnnn, in their rows,
// and what the COM argument's take asks of them when it makes a modem.
#pragma once

#include <optional>

#include "app/command_line.h"

namespace kelvor {

extern const ArgumentRow kStandbyRow;
extern const ArgumentRow kStandbyPinRow;

// A PIN argument's text after its "=": taken when it is 4 to 8 digits.
void ReadPinDigits(PinSetting& read, const char* digits);
// The digits of a PIN taken; null without one.
const char* PinOf(const std::optional<PinSetting>& pin);
// A STANDBY= argument read whole, on a port other than the last COM argument's.
bool StandbyTaken(const Configuration& c);

}  // namespace kelvor
