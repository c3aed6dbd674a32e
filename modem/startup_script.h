// The start-up script: from the reset command (or a hung radio's restart) to Ready, one row
// a command. Its rows are one list (startup_script.cpp); a row whose condition does not
// hold is passed over. The
// SIM is asked for its state only when a PIN is given, and gets the PIN only when it asks;
// the phone is asked to announce the SMS it receives only when the program reads them; the
// phone is asked for its character sets, and one is selected, only when a charset is chosen
// (ATZ brings back the phone's own, so after every reset); the service centre is set only
// when the phone cannot say it.
#pragma once

#include <cstdint>

#include "log/log.h"
#include "modem/at_channel.h"
#include "modem/sim_pin.h"
#include "modem/sms_coding.h"
#include "modem/sms_outbox.h"
#include "modem/status_report.h"
#include "platform/clock.h"

namespace kelvor {

constexpr uint32_t kSimBusyPause = 3000;  // ms before a busy SIM is asked again

class StartupScript {
 public:
  StartupScript(AtChannel& channel, SimPin& sim, const SmsCoding& coding, PhoneCharsets& charsets,
                Log& log, Clock& clock);

  // Takes the service-centre number and logs the number held. A null `number` takes
  // nothing; one that does not fit 31 characters or holds a character that would break the
  // AT+CSCA command is refused with a console line: the number held stays as it was.
  void SetServiceNumber(const char* number);
  // From now on the phone is asked to announce the SMS it receives.
  void Announce() { announcing_ = true; }
  // Status reports as `settings` asks: given by the phone, and asked by every SMS.
  void AskReports(ReportSettings* settings) { reports_ = settings; }

  // The reset: sends the reset command (ATZ) and begins the script there; with `radio`, the
  // radio's restart goes first (AT+CFUN=1,1; refused, AT+CFUN=0 and AT+CFUN=1).
  void Restart(bool radio = false);
  // One step on the response; true once the script has ended, its last line said.
  bool Step();

 private:
  enum class Phase : uint8_t {
    kAnswer,   // the row's command awaits its answer
    kSimBusy,  // the SIM was busy: its state is asked again at askAt_
  };

  bool Holds(int row) const;
  bool Next();
  void Enter(int row, const char* line);
  void SendCommand();
  bool StepPinState();
  bool StepPin();
  void WaitForSim();
  bool StepCharsets();
  bool StepCharsetSelected();
  void SayNoCharset();
  bool StepReportCommand();
  bool Reporting() const { return reports_ != nullptr && reports_->asked; }

  AtChannel& channel_;
  SimPin& sim_;
  const SmsCoding& coding_;
  PhoneCharsets& charsets_;
  Log& log_;
  Clock& clock_;
  int row_ = 0;  // of the list, whose command awaits its answer
  Phase phase_ = Phase::kAnswer;
  uint32_t askAt_ = 0;
  bool pinWanted_ = false;       // the SIM asked for the PIN, and it goes
  bool serviceUnknown_ = false;  // the phone could not say its service centre
  bool restartRefused_ = false;  // the phone refused AT+CFUN=1,1
  bool announcing_ = false;
  char serviceNumber_[kNumberSize] = {};
  ReportSettings* reports_ = nullptr;
};

}  // namespace kelvor
