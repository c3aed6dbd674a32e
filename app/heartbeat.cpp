#include "app/heartbeat.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace kelvor {

HeartbeatValues ReadHeartbeatValues(const char* value) {
  HeartbeatValues read;
  const char* comma = strrchr(value, ',');
  size_t length = comma != nullptr ? static_cast<size_t>(comma - value) : strlen(value);
  char number[kNumberSize + 1];  // one more than a number holds: a long one is none
  snprintf(number, sizeof number, "%.*s", static_cast<int>(length), value);
  if (length == 0 || !FitsCommand(number)) {
    read.refused = 1;
    PrintableCopy(number, read.number, sizeof read.number);
    return read;
  }
  memcpy(read.number, number, strlen(number) + 1);
  if (!comma ||
      !ReadInRange(comma + 1, strlen(comma + 1), 1, kLongestHeartbeatMinutes, &read.minutes)) {
    read.refused = 2;
  }
  return read;
}
namespace {

// The heartbeat's number hears of each switch between the phones, sharing or not.
void FormatSwitch(const PhoneSwitch& change, char* text, size_t size) {
  const char* taker = change.toStandby ? "standby" : "main";
  const char* other = change.toStandby ? "main" : "standby";
  if (change.shared && change.reason == PhoneFault::kNone) {
    snprintf(text, size, "Kelvor: %s phone shares again, both phones send.", other);
  } else if (change.toStandby || change.shared) {
    snprintf(text, size, "Kelvor: %s phone takes over, %s phone %s.", taker, other,
             FaultWords(change.reason));
  } else {
    snprintf(text, size, "Kelvor: main phone sends again, standby phone stands by.");
  }
}

}  // namespace

void Heartbeat::Set(const char* number, uint32_t minutes) {
  snprintf(number_, sizeof number_, "%s", number);
  period_ = minutes * kMinute;
}

// Everything is queued, never sent from here: the heartbeat takes its turn in the queue
// behind the alarms, and the dialogue sends it as any other SMS. A period that comes round
// while one waits adds none: the one that goes tells all since the last. A switch between
// the phones waits for room as a heartbeat does, and goes first.
void Heartbeat::Beat(SmsModem& modem, Clock& clock, Log& log, const StatusFigures& figures,
                     bool room) {
  if (period_ == 0) return;
  if (switchWaiting_ && room) {
    char text[kSmsTextLimit + 1];
    FormatSwitch(switched_, text, sizeof text);
    modem.QueueServiceMessage(text, number_);
    switchWaiting_ = false;
    return;  // one SMS of Kelvor's own a pass: a heartbeat due goes at the next
  }
  bool first = !started_;
  if (Due(modem, clock.TickCount()) && !waiting_) {
    waiting_ = true;
    first_ = first;
    if (!room) {
      log.LogMessage(Colour::kNormal, "Heartbeat to %s waits - alarms come first in the SMS queue",
                     number_);
    }
  }
  if (!waiting_ || !room) return;
  char text[kSmsTextLimit + 1];
  FormatHeartbeat(first_, Since(modem.Tally(), figures.alarmsRead), sentSince_.Take(figures), text,
                  sizeof text);
  // The counts are taken before the heartbeat is queued: if the queue refuses it, that
  // loss is in the next heartbeat's count.
  alarmsThen_ = figures.alarmsRead;
  tallyThen_ = modem.Tally();
  modem.QueueServiceMessage(text, number_);
  waiting_ = false;
}

void Heartbeat::Heard(const ModemEvents& events) {
  for (int i = 0; i < events.Count(); ++i) {
    if (events.At(i).kind != ModemEvent::kSwitched) continue;
    switched_ = events.At(i).change;
    switchWaiting_ = true;
  }
}

// The first when the modem is first ready; then each period, measured from the first.
bool Heartbeat::Due(const SmsModem& modem, uint32_t now) {
  if (!started_) {
    if (!modem.HasBeenReady()) return false;
    started_ = true;
    deadline_ = now + period_;
    return true;
  }
  if (!DeadlinePassed(now, deadline_)) return false;
  // The next one keeps to the period, unless a pass took so long that it is due already.
  deadline_ += period_;
  if (DeadlinePassed(now, deadline_)) deadline_ = now + period_;
  return true;
}

HeartbeatCounts Heartbeat::Since(const SmsTally& tally, uint32_t alarmsRead) const {
  HeartbeatCounts counts;
  counts.alarms = alarmsRead - alarmsThen_;
  counts.sent = tally.sent - tallyThen_.sent;
  counts.lost = (tally.refused - tallyThen_.refused) + (tally.givenUp - tallyThen_.givenUp) +
                (tally.discarded - tallyThen_.discarded);
  return counts;
}

}  // namespace kelvor
