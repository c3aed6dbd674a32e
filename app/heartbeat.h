// The heartbeat: an SMS that proves the path to the people on call, at start and then
// every so many minutes, with what the run did since the last one.
#pragma once

#include <cstdint>

#include "app/status.h"
#include "log/log.h"
#include "modem/sms_modem.h"
#include "modem/sms_outbox.h"
#include "platform/clock.h"

namespace kelvor {

constexpr uint32_t kLongestHeartbeatMinutes = 7 * 24 * 60;  // a week

// HEARTBEAT=number,minutes after its keyword, the minutes after the last comma. Refused 1 for
// a number that cannot go in a command (kept cut and printable), 2 for minutes not 1 to a
// week (kept 0).
struct HeartbeatValues {
  int refused = 0;
  char number[kNumberSize] = {};
  uint32_t minutes = 0;
};
HeartbeatValues ReadHeartbeatValues(const char* value);

class Heartbeat {
 public:
  // A heartbeat to `number` (at most kNumberSize - 1 characters) every `minutes`. Without
  // a call to Set there is no heartbeat.
  void Set(const char* number, uint32_t minutes);

  // Once a pass, after the modem's step, with the run's figures as they are now: queues the
  // "started" heartbeat when the modem has reached Ready for the first time, and a
  // heartbeat each period after that one; and an SMS when the standby phone takes over or
  // the main phone takes back. Without `room` (a place in the queue that no alarm waits for)
  // a heartbeat due waits, said once, and goes with the figures of the pass that finds room;
  // so does a switch's SMS.
  void Beat(SmsModem& modem, Clock& clock, Log& log, const StatusFigures& figures, bool room);
  // After each step of the modem: the latest switch between the phones tells where SMS go.
  void Heard(const ModemEvents& events);

 private:
  bool Due(const SmsModem& modem, uint32_t now);
  // Counts since the last heartbeat; unsigned, as they wrap.
  HeartbeatCounts Since(const SmsTally& tally, uint32_t alarmsRead) const;

  char number_[kNumberSize] = {};
  uint32_t period_ = 0;  // ms; 0 while there is no heartbeat
  bool started_ = false;
  uint32_t deadline_ = 0;
  bool waiting_ = false;        // a heartbeat is due and waits for room
  bool first_ = false;          // the one waiting is the first
  PhoneSwitch switched_{};      // the last switch between the phones...
  bool switchWaiting_ = false;  // ...whose SMS waits for room
  // The counts at the last heartbeat: the next one tells what happened since.
  uint32_t alarmsThen_ = 0;
  SmsTally tallyThen_{};
  SentSince sentSince_;  // each sharing phone's SMS
};

}  // namespace kelvor
