// The figures of the run's state, taken in one place and said four ways: the S key's report
// on the console, the service manager's STATUS= line, the answer to a status request by SMS
// and the heartbeat. A new figure is a field, a line in GatherStatus, and a line in each way
// that shows it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log.h"
#include "modem/sms_modem.h"
#include "routing/duty_hours.h"

namespace kelvor {

struct StatusFigures {
  int signal = 0;     // the signal strength, in percent
  int waiting = 0;    // SMS in the queue
  int lastError = 0;  // the modem's last error code
  // The phone's registration in words; null until the phone was asked, after a sending
  // refused for the network.
  const char* network = nullptr;
  uint32_t alarmsRead = 0;  // records read from the alarm queue since start
  // The phone that sends, "main" or "standby"; null without a standby. The other figures
  // of the phone are that phone's.
  const char* phone = nullptr;
  // The last wake-up call: how it ended in words ("busy", "ringing" while it rings) and how
  // many minutes ago it was made; null before the first.
  const char* lastCall = nullptr;
  uint32_t callMinutesAgo = 0;
  // With SHARE=ON, true, and the SMS each phone (by its place) sent since the run started,
  // or since the last report for the reports that take them from a SentSince.
  bool sharing = false;
  uint32_t sentBy[kPhoneCount] = {};
  // With HOURS=, the numbers with hours on duty now ("+111 +222" or "none"); else empty.
  char onDuty[72] = {};
  // With DELIVERY=, the SMS delivered and not delivered since start, and awaiting a report.
  bool reports = false;
  DeliveryCounts deliveries;
};

// The SMS each sharing phone sent from one report of a kind to the next.
class SentSince {
 public:
  // `figures` with their counts since the last call.
  StatusFigures Take(const StatusFigures& figures);

 private:
  uint32_t then_[kPhoneCount] = {};
};

StatusFigures GatherStatus(const SmsModem& modem, uint32_t alarmsRead,
                           const DutyRoster* duty = nullptr);

// The S key's report: a line a figure, "Que" and the blank before each line end included.
void SayStatus(const StatusFigures& figures, Log& log);
// "STATUS=Signal 48 %, SMS waiting 0, last error 0", as systemctl shows it.
void FormatServiceStatus(const StatusFigures& figures, char* text, size_t size);
// "Kelvor status. Signal 48%, SMS waiting 0, last error 0, alarms read 12 since start.":
// digits and plain words only (and the numbers on duty, "+" and digits), within 159
// characters.
void FormatStatusAnswer(const StatusFigures& figures, char* text, size_t size);

// What a heartbeat counts since the one before.
struct HeartbeatCounts {
  unsigned alarms = 0;
  unsigned sent = 0;
  unsigned lost = 0;
};
// The first heartbeat leaves out what the modem has not been asked yet (the signal, the
// network); the later ones end with them. While the standby sends, each says so, and the
// later ones make room for it ("Since last:"). Of sharing phones, the later ones count each
// phone's SMS sent, from `figures` (see SentSince), and each says whether the phones share. Within
// 159 characters, with ten-digit counts.
void FormatHeartbeat(bool first, const HeartbeatCounts& counts, const StatusFigures& figures,
                     char* text, size_t size);

}  // namespace kelvor
