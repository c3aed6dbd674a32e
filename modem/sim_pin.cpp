#include "modem/sim_pin.h"

#include <cstdio>
#include <cstring>

#include "log/log.h"
#include "modem/at_channel.h"
#include "platform/text.h"

namespace kelvor {
namespace {

constexpr int kSimBusyAsks = 10;     // busy answers waited out before the time-out may reset
constexpr size_t kCommandSize = 32;  // the PIN command, "AT+CPIN=\"12345678\"\r", and room

}  // namespace

bool IsPin(const char* text) {
  size_t length = strnlen(text, kLongestPin + 1);
  uint32_t value = 0;
  return length >= kShortestPin && ReadNumber(text, length, kLongestPin, &value);
}

bool SimPin::Set(const char* pin) {
  pin_[0] = '\0';
  if (pin == nullptr) return true;
  if (!IsPin(pin)) return false;
  memcpy(pin_, pin, strlen(pin) + 1);
  return true;
}

// "SIM PIN2" is not the PIN Kelvor holds; "READY", a PUK and the rest have no PIN to send.
bool SimPin::ToSend(const char* state) {
  while (*state == ' ') ++state;
  bool wanted = strncmp(state, "SIM PIN", 7) == 0 && state[7] != '2';
  if (wanted && unanswered_) {
    Refused();
    return false;
  }
  return wanted && !refused_ && Given();
}

// The buffer the command was written in is wiped, through a volatile pointer so that the
// wipe is not left out as a store nobody reads.
void SimPin::Send(AtChannel& channel, const char* format) {
  char command[kCommandSize];
  char shown[kCommandSize];
  snprintf(command, sizeof command, format, pin_);
  snprintf(shown, sizeof shown, format, "****");
  channel.SendMasked(command, shown);
  volatile char* wipe = command;
  for (size_t i = 0; i < sizeof command; ++i) wipe[i] = '\0';
  unanswered_ = true;
}

void SimPin::Refused() {
  refused_ = true;
  unanswered_ = false;
  log_.LogMessage(Colour::kError,
                  "PIN refused by the SIM - not sent again in this run (three wrong PINs block "
                  "the SIM): check PIN= and restart Kelvor\r\n");
}

bool SimPin::Busy() {
  if (busyAnswers_++ == 0) log_.LogMessage(Colour::kModem, "SIM busy - waiting for it\r\n");
  return busyAnswers_ <= kSimBusyAsks;
}

}  // namespace kelvor
