#include "modem/phone_reports.h"

#include <cstring>

#include "modem/modem_events.h"

namespace kelvor {

PhoneReports::PhoneReports(AtChannel& channel, const ReportSettings& settings, ModemEvents& events,
                           uint8_t phone, Log& log)
    : channel_(channel), settings_(settings), events_(events), phone_(phone), log_(log) {}

// A line that cannot be read is still owed its acknowledgement: the phone waits for it all
// the same.
void PhoneReports::Heard(const char* line) {
  if (!settings_.asked) return;
  constexpr size_t kPushed = sizeof "+CDS:" - 1;
  if (strncmp(line, "+CDS:", kPushed) == 0) {
    ++owed_;
    StatusReport report;
    if (ReadStatusReport(line + kPushed, false, &report)) Tell(report);
    return;
  }
  int32_t index = StoredReportIndex(line + sizeof "+CDSI:" - 1);
  if (index < 0 || storedCount_ == kStoredReportsNamed) return;
  stored_[storedCount_++] = index;
}

void PhoneReports::Tell(const StatusReport& report) {
  if (++heardThisStep_ > kReportsPerStep) {
    if (heardThisStep_ == kReportsPerStep + 1) {
      log_.LogMessage(Colour::kError, "More than %d status reports at once - the rest dropped\r\n",
                      kReportsPerStep);
    }
    return;
  }
  ModemEvent* event = events_.Add(ModemEvent::kReport);
  event->phone = phone_;
  event->report = report;
}

bool PhoneReports::StartAcknowledging() {
  if (!Owed()) return false;
  channel_.Send("AT+CNMA\r");
  stage_ = Stage::kAcknowledge;
  return true;
}

bool PhoneReports::StartReading() {
  if (storedCount_ == 0) return false;
  channel_.Send("AT+CPMS=\"SR\"\r");
  stage_ = Stage::kSelect;
  return true;
}

// A storage the phone will not select keeps its reports: they are named again by the phone's
// next +CDSI, not read in a loop now.
bool PhoneReports::Step() {
  const AtAnswer& answer = channel_.Answer();
  if (!answer.Ended()) return true;
  bool ok = answer.Ok();
  switch (stage_) {
    case Stage::kAcknowledge:
      if (owed_ > 0) --owed_;
      return Done();
    case Stage::kSelect:
      if (!ok) storedCount_ = 0;
      if (!ok) return Done();
      ReadNext();
      return true;
    case Stage::kRead:
      TakeStored(ok ? answer.Information("+CMGR:") : nullptr);
      channel_.SendFormatted("AT+CMGD=%d\r", static_cast<int>(stored_[0]));
      stage_ = Stage::kDelete;
      return true;
    case Stage::kDelete:
      --storedCount_;
      memmove(stored_, stored_ + 1, sizeof stored_[0] * static_cast<size_t>(storedCount_));
      ReadNext();
      return true;
    case Stage::kRestore:
    case Stage::kNone:
      break;
  }
  return Done();
}

void PhoneReports::TakeStored(const char* fields) {
  StatusReport report;
  if (fields != nullptr && ReadStatusReport(fields, true, &report)) Tell(report);
  channel_.Discard();
}

// The next stored report, or the SIM's storage back once none is left.
void PhoneReports::ReadNext() {
  channel_.Discard();
  if (storedCount_ > 0) {
    channel_.SendFormatted("AT+CMGR=%d\r", static_cast<int>(stored_[0]));
    stage_ = Stage::kRead;
  } else {
    channel_.Send("AT+CPMS=\"SM\"\r");
    stage_ = Stage::kRestore;
  }
}

bool PhoneReports::Done() {
  channel_.Discard();
  channel_.Renew();
  stage_ = Stage::kNone;
  return false;
}

void PhoneReports::Reset() {
  owed_ = 0;
  stage_ = Stage::kNone;
}

}  // namespace kelvor
