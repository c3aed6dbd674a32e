// What a phone tells of itself: the figures the status report shows, kept by the
// conversations that learn them.
#pragma once

#include <cstdint>

namespace kelvor {

constexpr int32_t kRegistrationUnknown = -1;

struct PhoneHealth {
  bool hasBeenReady = false;  // the start-up script ended at least once
  int32_t signal = 0;         // percent, from the last AT+CSQ
  int32_t lastError = 0;      // the last +CME or +CMS number, or kSendFailed
  // The phone's last answer to AT+CREG? (0 to 5), or kRegistrationUnknown before the
  // first. It is asked only while an SMS waits for the network.
  int32_t registration = kRegistrationUnknown;
  // The phone said it is registered (or could not say) since its last reset: for a phone
  // whose registration is watched.
  bool registeredNow = false;
};

// Why a phone cannot send, worst first; kNone while nothing is known to be wrong.
enum class PhoneFault : uint8_t {
  kNone,
  kPortGone,    // its port did not open again
  kSilent,      // its reset command went unanswered
  kSimLocked,   // its SIM is missing, locked or failed
  kOffNetwork,  // a text refused for the network, or the phone not registered
  kRadioHung,   // two sendings in a row refused by the radio, not yet restarted
};

// The fault in words, as the console's switch lines and the heartbeat's SMS say it.
const char* FaultWords(PhoneFault fault);

// The registration state (+CREG <stat>) in words; null for kRegistrationUnknown.
const char* RegistrationWords(int32_t registration);

// The percentage of a +CSQ rssi: 0 to 31 scale to 0 to 100; 99 (not measurable) and
// anything else outside 0 to 31 give 0.
int32_t SignalPercent(int32_t rssi);

}  // namespace kelvor
