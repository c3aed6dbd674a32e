#include "app/status.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kelvor {
namespace {

// A text built piece by piece into a fixed buffer, cut where one snprintf of the whole
// would cut it; so that each figure is one line of its format.
class TextBuilder {
 public:
  TextBuilder(char* text, size_t size) : text_(text), size_(size) { text_[0] = '\0'; }
  void Add(const char* format, ...) KELVOR_PRINTF(2, 3);
  // ", standby phone sends", or ", phones share" while both sharing phones send.
  void AddPhone(const StatusFigures& figures) {
    if (figures.phone == nullptr) return;
    if (strcmp(figures.phone, "both") == 0) {
      Add(", phones share");
    } else {
      Add(", %s phone sends", figures.phone);
    }
  }
  // ", last call 12 min ago: busy", after the first call only.
  void AddCall(const StatusFigures& figures) {
    if (figures.lastCall == nullptr) return;
    Add(", last call %u min ago: %s", static_cast<unsigned>(figures.callMinutesAgo),
        figures.lastCall);
  }
  // ", delivered 5, not delivered 1, awaiting 2" (`brief`: "failed 1"), with DELIVERY= only.
  void AddDeliveries(const StatusFigures& figures, bool brief = false) {
    const DeliveryCounts& d = figures.deliveries;
    if (!figures.reports) return;
    Add(brief ? ", delivered %u, failed %u, awaiting %d"
              : ", delivered %u, not delivered %u, awaiting %d",
        static_cast<unsigned>(d.delivered), static_cast<unsigned>(d.undelivered), d.awaiting);
  }

 private:
  char* text_;
  size_t size_;
  size_t length_ = 0;
};

void TextBuilder::Add(const char* format, ...) {
  if (length_ + 1 >= size_) return;
  va_list args;
  va_start(args, format);
  int written = vsnprintf(text_ + length_, size_ - length_, format, args);
  va_end(args);
  if (written <= 0) return;
  size_t room = size_ - 1 - length_;
  length_ += static_cast<size_t>(written) < room ? static_cast<size_t>(written) : room;
}

}  // namespace

StatusFigures GatherStatus(const SmsModem& modem, uint32_t alarmsRead, const DutyRoster* duty) {
  StatusFigures figures;
  if (duty != nullptr && duty->Active()) duty->FormatOnDuty(figures.onDuty, sizeof figures.onDuty);
  figures.signal = modem.SignalStrength();
  figures.waiting = modem.QueuedCount();
  figures.lastError = modem.LastError();
  figures.network = modem.Registration();
  figures.alarmsRead = alarmsRead;
  figures.phone = modem.SendingPhone();
  figures.reports = modem.Deliveries().On();
  figures.deliveries = modem.Deliveries().Counts();
  figures.sharing = modem.Shares();
  for (uint8_t place = 0; place < kPhoneCount; ++place) figures.sentBy[place] = modem.SentBy(place);
  SmsModem::LastCall call = modem.LastCallMade();
  if (call.made) {
    figures.lastCall = CallEndWords(call.end);
    figures.callMinutesAgo = call.minutesAgo;
  }
  return figures;
}

StatusFigures SentSince::Take(const StatusFigures& figures) {
  StatusFigures since = figures;
  for (int place = 0; place < kPhoneCount; ++place) {
    since.sentBy[place] = figures.sentBy[place] - then_[place];
    then_[place] = figures.sentBy[place];
  }
  return since;
}

void SayStatus(const StatusFigures& figures, Log& log) {
  log.LogMessage(Colour::kStatusReport, "Signal Strength = %d %%\r\n", figures.signal);
  log.LogMessage(Colour::kStatusReport, "Messages in Que = %d \r\n", figures.waiting);
  log.LogMessage(Colour::kStatusReport, "Last Error      = %d \r\n", figures.lastError);
  if (figures.network != nullptr) {
    log.LogMessage(Colour::kStatusReport, "Network         = %s \r\n", figures.network);
  }
  if (figures.phone != nullptr) {
    log.LogMessage(Colour::kStatusReport, "Sending phone   = %s \r\n", figures.phone);
  }
  if (figures.sharing) {
    log.LogMessage(Colour::kStatusReport,
                   "Phones share    = main sent %u, standby sent %u since "
                   "the last report \r\n",
                   figures.sentBy[kMainPhone], figures.sentBy[kStandbyPhone]);
  }
  if (figures.lastCall != nullptr) {
    log.LogMessage(Colour::kStatusReport, "Last call       = %u min ago, %s \r\n",
                   static_cast<unsigned>(figures.callMinutesAgo), figures.lastCall);
  }
  if (figures.onDuty[0] != '\0') {
    log.LogMessage(Colour::kStatusReport, "On duty         = %s \r\n", figures.onDuty);
  }
  const DeliveryCounts& d = figures.deliveries;
  if (figures.reports) {
    log.LogMessage(
        Colour::kStatusReport, "Delivered       = %u, not delivered %u, awaiting %d \r\n",
        static_cast<unsigned>(d.delivered), static_cast<unsigned>(d.undelivered), d.awaiting);
  }
}

void FormatServiceStatus(const StatusFigures& figures, char* text, size_t size) {
  TextBuilder status(text, size);
  status.Add("STATUS=Signal %d %%", figures.signal);
  status.Add(", SMS waiting %d", figures.waiting);
  status.Add(", last error %d", figures.lastError);
  if (figures.network != nullptr) status.Add(", network %s", figures.network);
  status.AddPhone(figures);
  if (figures.sharing) {
    status.Add(", sent by main %u, by standby %u since start", figures.sentBy[kMainPhone],
               figures.sentBy[kStandbyPhone]);
  }
  status.AddCall(figures);
  status.AddDeliveries(figures);
  if (figures.onDuty[0] != '\0') status.Add(", on duty %s", figures.onDuty);
}

void FormatStatusAnswer(const StatusFigures& figures, char* text, size_t size) {
  TextBuilder answer(text, size);
  answer.Add("Kelvor status.");
  answer.Add(" Signal %d%%", figures.signal);
  answer.Add(", SMS waiting %d", figures.waiting);
  answer.Add(", last error %d", figures.lastError);
  answer.Add(", alarms read %lu since start", static_cast<unsigned long>(figures.alarmsRead));
  answer.AddPhone(figures);
  answer.AddCall(figures);
  answer.AddDeliveries(figures);
  if (figures.onDuty[0] != '\0') answer.Add(", on duty %s", figures.onDuty);
  answer.Add(".");
}

namespace {

// Sharing phones: the later heartbeats count each phone's SMS, and say whether both send.
// Within 159 characters with ten-digit counts, up to the SMS waiting.
void FormatSharedHeartbeat(bool first, const HeartbeatCounts& counts, const StatusFigures& figures,
                           char* text, size_t size) {
  TextBuilder beat(text, size);
  const char* who = strcmp(figures.phone, "both") == 0   ? "phones share"
                    : strcmp(figures.phone, "main") == 0 ? "main sends"
                                                         : "standby sends";
  if (first) {
    beat.Add("Kelvor started. Alarms read %u, SMS sent %u, SMS lost %u", counts.alarms, counts.sent,
             counts.lost);
    beat.Add(", SMS waiting %d", figures.waiting);
    beat.Add(", %s", who);
    beat.AddDeliveries(figures, true);
    beat.Add(".");
    return;
  }
  beat.Add("Kelvor alive, %s. ", who);
  beat.Add("Since last: alarms read %u, SMS sent main %u standby %u, SMS lost %u.", counts.alarms,
           figures.sentBy[kMainPhone], figures.sentBy[kStandbyPhone], counts.lost);
  beat.Add(" Signal %d%%, SMS waiting %d", figures.signal, figures.waiting);
  if (figures.network != nullptr) beat.Add(", network %s", figures.network);
  beat.AddCall(figures);
  beat.AddDeliveries(figures, true);
  beat.Add(".");
}

}  // namespace

void FormatHeartbeat(bool first, const HeartbeatCounts& counts, const StatusFigures& figures,
                     char* text, size_t size) {
  TextBuilder beat(text, size);
  bool standby = figures.phone != nullptr && strcmp(figures.phone, "standby") == 0;
  if (figures.sharing) return FormatSharedHeartbeat(first, counts, figures, text, size);
  if (first) {
    beat.Add("Kelvor started. Alarms read %u, SMS sent %u, SMS lost %u", counts.alarms, counts.sent,
             counts.lost);
  } else {
    // The counts of reports take the room of the longer head.
    beat.Add(standby           ? "Kelvor alive, standby sends. Since last: "
             : figures.reports ? "Kelvor alive. Since last: "
                               : "Kelvor alive. Since the last heartbeat: ");
    beat.Add("alarms read %u, SMS sent %u, SMS lost %u.", counts.alarms, counts.sent, counts.lost);
    beat.Add(" Signal %d%%", figures.signal);
  }
  beat.Add(", SMS waiting %d", figures.waiting);
  if (!first && figures.network != nullptr) beat.Add(", network %s", figures.network);
  if (!first) beat.AddCall(figures);
  beat.AddDeliveries(figures, true);
  if (first && standby) beat.Add(", standby sends");
  beat.Add(".");
}

}  // namespace kelvor
