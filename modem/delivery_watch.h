// What became of each SMS sent, when DELIVERY= asks for status reports. Every SMS a phone
// confirms is awaited by its phone, its message reference, its number and the time it was
// confirmed. A report from that phone with that reference and number ends the wait of the
// SMS confirmed longest ago still awaited: references wrap at 255, and an SMS waits no longer
// than its validity period and ten minutes, so an older SMS of the same reference has left
// the list by the time its reference comes round again. A report that matches nothing is
// said and dropped. Each outcome is said and becomes a kDelivery event, so that an alarm
// not delivered escalates at once.
#pragma once

#include <cstdint>

#include "log/log.h"
#include "modem/modem_events.h"
#include "platform/clock.h"

namespace kelvor {

constexpr int kAwaitedCapacity = 64;
// How long after its validity period an SMS still waits for its report.
constexpr uint32_t kReportGrace = 10 * kMinute;
// A phone that gives no report at all for this long after an SMS it sent is said to.
constexpr uint32_t kQuietPhoneWait = 30 * kMinute;

// The counts since the run started, for the reports, and the SMS awaiting a report now.
struct DeliveryCounts {
  uint32_t delivered = 0;
  uint32_t undelivered = 0;
  uint32_t noReport = 0;
  int awaiting = 0;
};

// An SMS awaiting its report, as a spool keeps it.
struct AwaitedReport {
  uint32_t id = 0;
  SmsKind kind = SmsKind::kAlarm;
  uint8_t phone = kMainPhone;
  int32_t reference = 0;
  uint32_t age = 0;  // ms since the phone confirmed it
  char number[kNumberSize] = {};
};

class AwaitedReportSink {
 public:
  virtual void Take(const AwaitedReport& awaited) = 0;

 protected:
  ~AwaitedReportSink() = default;
};

class DeliveryWatch {
 public:
  // Reports are awaited from now on, each for a validity of `minutes` (a TP-VP's).
  void Start(uint32_t minutes) { wait_ = minutes * kMinute + kReportGrace; }
  bool On() const { return wait_ != 0; }

  // Takes the confirmations and reports among `events` from `from` on, and adds an event of
  // each SMS's outcome; `names` name the phones for the line about one that gives no report.
  void Pass(ModemEvents& events, int from, uint32_t now, Log& log,
            const char* const names[kPhoneCount]);
  DeliveryCounts Counts() const;

  // Grows by one at every change of what a spool would keep.
  uint32_t Changes() const { return changes_; }
  void Save(uint32_t now, AwaitedReportSink& sink) const;
  // Awaits again an SMS a spool kept, its age as it was; false when the list is full.
  bool Restore(const AwaitedReport& awaited, uint32_t now);

 private:
  struct Awaited {
    bool used;
    SmsKind kind;
    uint8_t phone;
    int32_t reference;
    uint32_t id;
    uint32_t confirmedAt;
    char number[kNumberSize];
  };

  void Await(const ModemEvent& confirmed, uint32_t now, Log& log);
  void Match(const ModemEvent& report, uint32_t now, ModemEvents& events, Log& log);
  Awaited* Oldest(const ModemEvent& report, uint32_t now);
  void TimeOut(uint32_t now, ModemEvents& events, Log& log);
  void WatchPhones(uint32_t now, Log& log, const char* const names[kPhoneCount]);
  void End(Awaited& awaited, Delivery delivery, ModemEvents& events);

  uint32_t wait_ = 0;  // ms an SMS awaits its report; 0: none asked
  Awaited awaited_[kAwaitedCapacity] = {};
  int count_ = 0;
  uint32_t changes_ = 0;
  DeliveryCounts counts_;
  // Per phone: since when it has an SMS awaited and has given no report, and whether that
  // was said.
  bool quiet_[kPhoneCount] = {};
  uint32_t quietSince_[kPhoneCount] = {};
  bool quietSaid_[kPhoneCount] = {};
};

}  // namespace kelvor
