#include "app/heartbeat.h"

#include <cstdio>

namespace kelvor {

void Heartbeat::Set(const char* number, uint32_t minutes) {
  snprintf(number_, sizeof number_, "%s", number);
  period_ = minutes * kMinute;
}

// Everything is queued, never sent from here: the heartbeat takes its turn in the queue
// behind the alarms, and the dialogue sends it as any other SMS.
void Heartbeat::Beat(SmsModem& modem, Clock& clock, uint32_t alarmsRead) {
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
             "Kelvor started. Alarms read %u, SMS sent %u, SMS lost %u, SMS waiting %d.",
             Alarms(alarmsRead), Sent(modem.Tally()), Lost(modem.Tally()), modem.QueuedCount());
  } else {
    if (!DeadlinePassed(now, deadline_)) return;
    // The next one keeps to the period, unless a pass took so long that it is due already.
    deadline_ += period_;
    if (DeadlinePassed(now, deadline_)) deadline_ = now + period_;
    // The network's registration, once known, ends it: at most ", network not registered",
    // which with ten-digit counts still fits 159 characters.
    const char* registration = modem.Registration();
    snprintf(text, sizeof text,
             "Kelvor alive. Since the last heartbeat: alarms read %u, SMS sent %u, SMS lost %u. "
             "Signal %d%%, SMS waiting %d%s%s.",
             Alarms(alarmsRead), Sent(modem.Tally()), Lost(modem.Tally()), modem.SignalStrength(),
             modem.QueuedCount(), registration != nullptr ? ", network " : "",
             registration != nullptr ? registration : "");
  }
  Queue(modem, text, alarmsRead);
}

// The counts are taken before the heartbeat is queued: if the queue refuses it, that loss
// is in the next heartbeat's count.
void Heartbeat::Queue(SmsModem& modem, const char* text, uint32_t alarmsRead) {
  alarmsThen_ = alarmsRead;
  tallyThen_ = modem.Tally();
  modem.QueueServiceMessage(text, number_);
}

unsigned Heartbeat::Alarms(uint32_t alarmsRead) const {
  return alarmsRead - alarmsThen_;
}

unsigned Heartbeat::Sent(const SmsTally& now) const {
  return now.sent - tallyThen_.sent;
}

unsigned Heartbeat::Lost(const SmsTally& now) const {
  return (now.refused - tallyThen_.refused) + (now.givenUp - tallyThen_.givenUp) +
         (now.discarded - tallyThen_.discarded);
}

}  // namespace kelvor
