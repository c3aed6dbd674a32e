#include "app/heartbeat.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace kelvor {
namespace {

constexpr uint32_t kMinute = 60000;  // ms

// A whole number from 1 to `largest`, digits only; 0 when the text is anything else.
uint32_t ReadMinutes(const char* text, uint32_t largest) {
  uint32_t value = 0;
  if (!ReadNumber(text, strlen(text), 5, &value) || value > largest) return 0;
  return value;
}

}  // namespace

HeartbeatArgument ParseHeartbeatArgument(const char* argument) {
  HeartbeatArgument read{HeartbeatArgument::kFine, {}, 0};
  const char* number = argument + strlen("HEARTBEAT=");
  const char* comma = strrchr(number, ',');
  size_t length = comma != nullptr ? static_cast<size_t>(comma - number) : strlen(number);
  char copy[kNumberSize];
  snprintf(copy, sizeof copy, "%.*s", static_cast<int>(length), number);
  if (length == 0 || length >= kNumberSize || !SafeForCommand(copy)) {
    read.outcome = HeartbeatArgument::kBadNumber;
    PrintableCopy(copy, read.number, sizeof read.number);
    return read;
  }
  memcpy(read.number, copy, length + 1);
  read.minutes = comma != nullptr ? ReadMinutes(comma + 1, kLongestHeartbeatMinutes) : 0;
  if (read.minutes == 0) read.outcome = HeartbeatArgument::kBadMinutes;
  return read;
}

void Heartbeat::Set(const HeartbeatArgument& argument) {
  memcpy(number_, argument.number, sizeof number_);
  period_ = argument.minutes * kMinute;
}

// Everything is queued, never sent from here: the heartbeat takes its turn in the queue
// behind the alarms, and the dialogue sends it as any other SMS.
void Heartbeat::Beat(SmsModem& modem, Clock& clock) {
  if (period_ == 0) return;
  uint32_t now = clock.TickCount();
  char text[kSmsTextLimit + 1];
  if (!started_) {
    if (!modem.HasBeenReady()) return;
    started_ = true;
    deadline_ = now + period_;
    // No signal strength: the modem is asked for it only once it is ready, so at this
    // point it has not been measured.
    snprintf(text, sizeof text,
             "Kelvor started. Alarms read %u, SMS sent %u, SMS lost %u, SMS waiting %d.", Alarms(),
             Sent(modem.Tally()), Lost(modem.Tally()), modem.QueuedCount());
  } else {
    if (!DeadlinePassed(now, deadline_)) return;
    // The next one keeps to the period, unless a pass took so long that it is due already.
    deadline_ += period_;
    if (DeadlinePassed(now, deadline_)) deadline_ = now + period_;
    snprintf(text, sizeof text,
             "Kelvor alive. Since the last heartbeat: alarms read %u, SMS sent %u, SMS lost %u. "
             "Signal %d%%, SMS waiting %d.",
             Alarms(), Sent(modem.Tally()), Lost(modem.Tally()), modem.SignalStrength(),
             modem.QueuedCount());
  }
  Queue(modem, text);
}

// The counts are taken before the heartbeat is queued: if the queue refuses it, that loss
// is in the next heartbeat's count.
void Heartbeat::Queue(SmsModem& modem, const char* text) {
  alarmsThen_ = alarms_;
  tallyThen_ = modem.Tally();
  modem.QueueMessage(text, number_);
}

unsigned Heartbeat::Alarms() const {
  return alarms_ - alarmsThen_;
}

unsigned Heartbeat::Sent(const SmsTally& now) const {
  return now.sent - tallyThen_.sent;
}

unsigned Heartbeat::Lost(const SmsTally& now) const {
  return (now.refused - tallyThen_.refused) + (now.givenUp - tallyThen_.givenUp) +
         (now.discarded - tallyThen_.discarded);
}

}  // namespace kelvor
