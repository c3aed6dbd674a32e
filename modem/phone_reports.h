// The status reports one phone gives, when DELIVERY= asks for them: each +CDS pushed is read
// from its line and acknowledged (AT+CNMA) where the phone's message service wants that; each
// +CDSI names a report stored in "SR", which is read and deleted there, the SIM's own
// storage selected again after. Every report read becomes an event.
#pragma once

#include <cstdint>

#include "modem/at_channel.h"
#include "modem/modem_events.h"
#include "modem/status_report.h"

namespace kelvor {

// Reports taken from one step's bytes (kReportsPerStep); more in one step are dropped, and said.
// Stored reports named and not read yet; more are left in "SR".
constexpr int kStoredReportsNamed = 16;

class PhoneReports {
 public:
  PhoneReports(AtChannel& channel, const ReportSettings& settings, ModemEvents& events,
               uint8_t phone, Log& log);

  // A +CDS or +CDSI line (NUL-ended, without its line end) came.
  void Heard(const char* line);
  bool Asked() const { return settings_.asked; }
  // A new step: its bytes may bring kReportsPerStep reports again.
  void NewStep() { heardThisStep_ = 0; }
  // Work for Ready: an acknowledgement owed, or a stored report named.
  bool HasWork() const { return Owed() || storedCount_ > 0; }
  // In Ready: true when AT+CNMA went. It goes before anything else, as the phone waits for it.
  bool StartAcknowledging();
  // In Ready with nothing to send: true when the reading of a stored report began.
  bool StartReading();
  // One step on the answer; false once the phone is back in Ready.
  bool Step();
  // The phone is reset: acknowledgements owed lapse with it.
  void Reset();

 private:
  enum class Stage : uint8_t { kNone, kAcknowledge, kSelect, kRead, kDelete, kRestore };

  bool Owed() const { return owed_ > 0 && settings_.acknowledge; }
  void Tell(const StatusReport& report);
  void TakeStored(const char* fields);
  void ReadNext();
  bool Done();

  AtChannel& channel_;
  const ReportSettings& settings_;
  ModemEvents& events_;
  uint8_t phone_;
  Log& log_;
  Stage stage_ = Stage::kNone;
  int owed_ = 0;  // +CDS not acknowledged yet
  int heardThisStep_ = 0;
  int32_t stored_[kStoredReportsNamed] = {};  // indexes in "SR", oldest first
  int storedCount_ = 0;
};

}  // namespace kelvor
