#include "modem/delivery_watch.h"

#include <cstring>

namespace kelvor {
namespace {

void CopyNumber(char* to, const char* from) {
  size_t length = strnlen(from, kNumberSize - 1);
  memcpy(to, from, length);
  to[length] = '\0';
}

}  // namespace

void DeliveryWatch::Pass(ModemEvents& events, int from, uint32_t now, Log& log,
                         const char* const names[kPhoneCount]) {
  if (!On()) return;
  int end = events.Count();  // the outcomes added below are not taken again
  for (int i = from; i < end; ++i) {
    const ModemEvent& event = events.At(i);
    if (event.kind == ModemEvent::kConfirmed && event.reference >= 0) Await(event, now, log);
    if (event.kind == ModemEvent::kReport) Match(event, now, events, log);
  }
  TimeOut(now, events, log);
  WatchPhones(now, log, names);
}

void DeliveryWatch::Await(const ModemEvent& confirmed, uint32_t now, Log& log) {
  Awaited* slot = nullptr;
  for (Awaited& awaited : awaited_) {
    if (!awaited.used) slot = &awaited;
  }
  if (slot == nullptr) {
    log.LogMessage(Colour::kError, "Status reports awaited full (%d) - SMS to %s not followed\r\n",
                   kAwaitedCapacity, confirmed.sms.number);
    return;
  }
  *slot = Awaited{
      true, confirmed.sms.kind, confirmed.phone, confirmed.reference, confirmed.sms.id, now, {}};
  CopyNumber(slot->number, confirmed.sms.number);
  ++count_;
  ++changes_;
  if (!quiet_[confirmed.phone]) {
    quiet_[confirmed.phone] = true;
    quietSince_[confirmed.phone] = now;
  }
}

// A report of a status the network still works on ends nothing.
void DeliveryWatch::Match(const ModemEvent& report, uint32_t now, ModemEvents& events, Log& log) {
  quiet_[report.phone] = false;
  Awaited* awaited = Oldest(report, now);
  const StatusReport& said = report.report;
  if (awaited == nullptr) {
    char number[kNumberSize];
    PrintableCopy(said.number, number, sizeof number);
    log.LogMessage(Colour::kError,
                   "Status report for %s (reference %d, status %d) matches no SMS sent - "
                   "dropped\r\n",
                   number, static_cast<int>(said.reference), static_cast<int>(said.status));
    return;
  }
  if (said.status >= kFirstPending && said.status < kFirstFailed) return;
  if (said.status < kFirstPending) {
    log.LogMessage(Colour::kNormal, "SMS to %s delivered after %u s\r\n", awaited->number,
                   static_cast<unsigned>(Elapsed(now, awaited->confirmedAt) / 1000));
    ++counts_.delivered;
    End(*awaited, Delivery::kDelivered, events);
    return;
  }
  log.LogMessage(Colour::kError, "SMS to %s not delivered - %s\r\n", awaited->number,
                 UndeliveredReason(said.status));
  ++counts_.undelivered;
  End(*awaited, Delivery::kUndelivered, events);
}

DeliveryWatch::Awaited* DeliveryWatch::Oldest(const ModemEvent& report, uint32_t now) {
  Awaited* oldest = nullptr;
  for (Awaited& awaited : awaited_) {
    if (!awaited.used || awaited.phone != report.phone ||
        awaited.reference != report.report.reference ||
        !SameRecipient(report.report.number, awaited.number)) {
      continue;
    }
    if (oldest == nullptr ||
        Elapsed(now, awaited.confirmedAt) > Elapsed(now, oldest->confirmedAt)) {
      oldest = &awaited;
    }
  }
  return oldest;
}

// A few a pass: the rest end on the passes after.
void DeliveryWatch::TimeOut(uint32_t now, ModemEvents& events, Log& log) {
  int ended = 0;
  for (Awaited& awaited : awaited_) {
    if (ended == kOutcomesTimedOut) return;
    if (!awaited.used || Elapsed(now, awaited.confirmedAt) < wait_) continue;
    log.LogMessage(Colour::kError, "SMS to %s - no report in %u min\r\n", awaited.number,
                   static_cast<unsigned>(wait_ / kMinute));
    ++counts_.noReport;
    End(awaited, Delivery::kNoReport, events);
    ++ended;
  }
}

// Some modems never route reports: said once a run for each phone, by its port.
void DeliveryWatch::WatchPhones(uint32_t now, Log& log, const char* const names[kPhoneCount]) {
  for (int phone = 0; phone < kPhoneCount; ++phone) {
    if (!quiet_[phone] || quietSaid_[phone] || Elapsed(now, quietSince_[phone]) < kQuietPhoneWait) {
      continue;
    }
    quietSaid_[phone] = true;
    log.LogMessage(Colour::kError,
                   "No status report from the phone on %s in %u min - it may not route them; "
                   "its SMS end without one\r\n",
                   names[phone] != nullptr ? names[phone] : "?",
                   static_cast<unsigned>(kQuietPhoneWait / kMinute));
  }
}

void DeliveryWatch::End(Awaited& awaited, Delivery delivery, ModemEvents& events) {
  ModemEvent* event = events.Add(ModemEvent::kDelivery);
  event->phone = awaited.phone;
  event->delivery = delivery;
  event->reference = awaited.reference;
  event->sms.id = awaited.id;
  event->sms.kind = awaited.kind;
  CopyNumber(event->sms.number, awaited.number);
  awaited.used = false;
  --count_;
  ++changes_;
}

DeliveryCounts DeliveryWatch::Counts() const {
  DeliveryCounts counts = counts_;
  counts.awaiting = count_;
  return counts;
}

void DeliveryWatch::Save(uint32_t now, AwaitedReportSink& sink) const {
  for (const Awaited& awaited : awaited_) {
    if (!awaited.used) continue;
    AwaitedReport saved;
    saved.id = awaited.id;
    saved.kind = awaited.kind;
    saved.phone = awaited.phone;
    saved.reference = awaited.reference;
    saved.age = Elapsed(now, awaited.confirmedAt);
    CopyNumber(saved.number, awaited.number);
    sink.Take(saved);
  }
}

bool DeliveryWatch::Restore(const AwaitedReport& saved, uint32_t now) {
  for (Awaited& awaited : awaited_) {
    if (awaited.used) continue;
    uint32_t age = saved.age < wait_ ? saved.age : wait_;
    awaited = Awaited{true,
                      saved.kind,
                      saved.phone < kPhoneCount ? saved.phone : kMainPhone,
                      saved.reference,
                      saved.id,
                      now - age,
                      {}};
    CopyNumber(awaited.number, saved.number);
    ++count_;
    ++changes_;
    return true;
  }
  return false;
}

}  // namespace kelvor
