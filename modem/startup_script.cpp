#include "modem/startup_script.h"

#include <cstring>

#include "platform/text.h"

namespace kelvor {
namespace {

constexpr int32_t kSimBusy = 14;  // +CME ERROR: the SIM is busy

// How a row's answer is taken.
enum class Answer : uint8_t {
  kOkAfterReset,   // "OK" goes on; a prompt left over from before gets Ctrl-Z until then
  kOk,             // "OK" goes on
  kOkOrError,      // any end goes on: a phone that will not do it goes on all the same
  kPinState,       // "+CPIN: <state>": the PIN goes only when the SIM asks for it
  kPin,            // "OK" asks the SIM again; a refusal is never tried again
  kServiceCentre,  // "OK" goes on; an error has the service number set first
  kCharsets,       // "+CSCS: (...)": the sets offered, and the one to select
  kCharset,        // "OK": the set is in force; an error: none is
  kRestart,        // "OK" goes on to the reset; an error turns the radio off and on instead
  kPushReports,    // "OK": reports are pushed (+CDS); an error: the phone stores them
  kReportService,  // "+CSMS: <service>": 1 wants AT+CNMA for each +CDS
  kReportCoding,   // "OK": SMS ask for reports, in the 7-bit coding
};

// When a row runs; a row whose condition does not hold is passed over.
enum class When : uint8_t {
  kAlways,
  kRestartRefused,  // the phone refused to restart its radio
  kPinGiven,
  kPinWanted,
  kAnnouncing,     // ... and no status report asked for
  kReporting,      // status reports asked for
  kReportsStored,  // ... and the phone refused to push them
  kCharsetChosen,
  kRestSet,
  kServiceUnknown,
};

// What a command carries besides its text.
enum class Fill : uint8_t { kNone, kPin, kServiceNumber, kCharset, kIndication, kValidity };

// A row's `line` is said as it begins; the script ends after the last row that runs, of the
// last two, saying its `ready`.
struct Row {
  const char* line;     // said as the row begins, before its command
  const char* command;  // a format, for a command that carries something
  Fill fill;
  When when;
  Answer answer;
  const char* ready;  // said when the script ends after this row
};

constexpr Row kRows[] = {
    // A hung radio's restart (RestartRadio) begins here; a reset begins at ATZ.
    {"Restarting the radio\r\n", "AT+CFUN=1,1\r", Fill::kNone, When::kAlways, Answer::kRestart,
     nullptr},
    {"Radio restart refused - turning the radio off and on\r\n", "AT+CFUN=0\r", Fill::kNone,
     When::kRestartRefused, Answer::kOkOrError, nullptr},
    {nullptr, "AT+CFUN=1\r", Fill::kNone, When::kRestartRefused, Answer::kOkOrError, nullptr},
    {nullptr, "ATZ\r", Fill::kNone, When::kAlways, Answer::kOkAfterReset, nullptr},
    {"Going to CMEE\r\n", "AT+CMEE=1\r", Fill::kNone, When::kAlways, Answer::kOk, nullptr},
    {"Going to ATE0\r\n", "ATE0\r", Fill::kNone, When::kAlways, Answer::kOk, nullptr},
    {"Query PIN\r\n", "AT+CPIN?\r", Fill::kNone, When::kPinGiven, Answer::kPinState, nullptr},
    {"Sending PIN\r\n", "AT+CPIN=\"%s\"\r", Fill::kPin, When::kPinWanted, Answer::kPin, nullptr},
    {"Going to text\r\n", "AT+CMGF=1\r", Fill::kNone, When::kAlways, Answer::kOk, nullptr},
    {"Going to CNMI\r\n", "AT+CNMI=2,1\r", Fill::kNone, When::kAnnouncing, Answer::kOkOrError,
     nullptr},
    // Status reports, with the SMS announced as well when replies are read.
    {"Going to CNMI\r\n", "AT+CNMI=2,%d,0,1\r", Fill::kIndication, When::kReporting,
     Answer::kPushReports, nullptr},
    {nullptr, "AT+CNMI=2,%d,0,2\r", Fill::kIndication, When::kReportsStored, Answer::kOkOrError,
     nullptr},
    {nullptr, "AT+CSMS?\r", Fill::kNone, When::kReporting, Answer::kReportService, nullptr},
    {"Going to CSMP\r\n", "AT+CSMP=49,%d,0,0\r", Fill::kValidity, When::kReporting,
     Answer::kReportCoding, nullptr},
    {"Query character sets\r\n", "AT+CSCS=?\r", Fill::kNone, When::kCharsetChosen,
     Answer::kCharsets, nullptr},
    {"Going to CSCS\r\n", "AT+CSCS=\"%s\"\r", Fill::kCharset, When::kRestSet, Answer::kCharset,
     nullptr},
    // The two ways to Ready differ in the case of the R, as operators' logs have them.
    {"Query Service\r\n", "AT+CSCA?\r", Fill::kNone, When::kAlways, Answer::kServiceCentre,
     "Going to ready\r\n"},
    {"Query Service\r\n", "AT+CSCA=\"%s\"\r", Fill::kServiceNumber, When::kServiceUnknown,
     Answer::kOk, "Going to Ready\r\n"},
};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];

constexpr int RowOf(Answer answer) {
  int row = 0;
  while (kRows[row].answer != answer) ++row;
  return row;
}
constexpr int kPinStateRow = RowOf(Answer::kPinState);
constexpr int kResetRow = RowOf(Answer::kOkAfterReset);

}  // namespace

StartupScript::StartupScript(AtChannel& channel, SimPin& sim, const SmsCoding& coding,
                             PhoneCharsets& charsets, Log& log, Clock& clock)
    : channel_(channel),
      sim_(sim),
      coding_(coding),
      charsets_(charsets),
      log_(log),
      clock_(clock) {}

void StartupScript::SetServiceNumber(const char* number) {
  if (number != nullptr) {
    if (strlen(number) >= sizeof serviceNumber_) {
      log_.LogMessage(Colour::kError, "Service number longer than %d characters - ignored\r\n",
                      static_cast<int>(sizeof serviceNumber_ - 1));
    } else if (!FitsCommand(number)) {
      log_.LogMessage(Colour::kError, "Bad Service number - ignored\r\n");
    } else {
      memcpy(serviceNumber_, number, strlen(number) + 1);
    }
  }
  log_.LogMessage(Colour::kModem, "Service number Set to %s\r\n", serviceNumber_);
}

// The reset command goes before the response is emptied, so that nothing the phone said
// before it is taken as its answer.
void StartupScript::Restart(bool radio) {
  row_ = radio ? 0 : kResetRow;
  if (radio) log_.LogMessage(Colour::kError, "%s", kRows[0].line);
  phase_ = Phase::kAnswer;
  pinWanted_ = false;
  serviceUnknown_ = false;
  restartRefused_ = false;
  charsets_.inForce = TextSet::kNone;  // ATZ brings back the phone's own set
  charsets_.coding = DataCoding::kNotKnown;
  sim_.Restart();
  SendCommand();
  channel_.Discard();
}

bool StartupScript::Step() {
  const AtAnswer& answer = channel_.Answer();
  switch (kRows[row_].answer) {
    case Answer::kOkAfterReset:
      if (answer.Ok()) return Next();
      // A phone left waiting for SMS text takes every command as text; Ctrl-Z ends that
      // text. The prompt stays in the answer, so Ctrl-Z goes out on every step until "OK".
      if (answer.Prompted()) channel_.SendCtrlZ();
      return false;
    case Answer::kOk:
      return answer.Ok() && Next();
    case Answer::kOkOrError:
      return answer.Ended() && Next();
    case Answer::kRestart:
      if (answer.Ok()) return Next();
      if (!answer.Refused()) return false;
      restartRefused_ = true;
      return Next();
    case Answer::kServiceCentre:
      if (answer.Ok()) return Next();
      if (!answer.Refused()) return false;
      serviceUnknown_ = true;
      return Next();
    case Answer::kPinState:
      return StepPinState();
    case Answer::kPin:
      return StepPin();
    case Answer::kCharsets:
      return StepCharsets();
    case Answer::kCharset:
      return StepCharsetSelected();
    case Answer::kPushReports:
    case Answer::kReportService:
    case Answer::kReportCoding:
      return StepReportCommand();
  }
  return false;
}

bool StartupScript::Holds(int row) const {
  switch (kRows[row].when) {
    case When::kAlways:
      return true;
    case When::kRestartRefused:
      return restartRefused_;
    case When::kPinGiven:
      return sim_.Given();
    case When::kPinWanted:
      return pinWanted_;
    case When::kAnnouncing:
      return announcing_ && !Reporting();
    case When::kReporting:
      return Reporting();
    case When::kReportsStored:
      return Reporting() && reports_->stored;
    case When::kCharsetChosen:
      return coding_.Chosen() != Charset::kAsGiven;
    case When::kRestSet:
      return charsets_.rest != TextSet::kNone;
    case When::kServiceUnknown:
      return serviceUnknown_;
  }
  return false;
}

// On to the next row whose condition holds; true when none is left and the script ends.
bool StartupScript::Next() {
  for (int next = row_ + 1; next < kRowCount; ++next) {
    if (!Holds(next)) continue;
    Enter(next, kRows[next].line);
    return false;
  }
  log_.LogMessage(Colour::kModem, "%s", kRows[row_].ready);
  channel_.Discard();
  return true;
}

void StartupScript::Enter(int row, const char* line) {
  if (line != nullptr) log_.LogMessage(Colour::kModem, "%s", line);
  channel_.Discard();
  row_ = row;
  phase_ = Phase::kAnswer;
  SendCommand();
}

void StartupScript::SendCommand() {
  const Row& row = kRows[row_];
  switch (row.fill) {
    case Fill::kNone:
      channel_.Send(row.command);
      break;
    case Fill::kPin:
      sim_.Send(channel_, row.command);
      break;
    case Fill::kServiceNumber:
      channel_.SendFormatted(row.command, serviceNumber_);
      break;
    case Fill::kCharset:
      channel_.SendFormatted(row.command, SetName(charsets_.rest));
      break;
    case Fill::kIndication:
      channel_.SendFormatted(row.command, announcing_ ? 1 : 0);
      break;
    case Fill::kValidity:
      channel_.SendFormatted(row.command, static_cast<int>(reports_->validity));
      break;
  }
}

// "READY", or a state this run has no answer to (a PUK, a PIN the SIM refused, no PIN),
// goes on without the PIN; the errors of the rows after it say in words what is wrong.
bool StartupScript::StepPinState() {
  if (phase_ == Phase::kSimBusy) {
    if (!DeadlinePassed(clock_.TickCount(), askAt_)) return false;
    phase_ = Phase::kAnswer;
    SendCommand();
    return false;
  }
  const AtAnswer& answer = channel_.Answer();
  const char* state = answer.Information("+CPIN:");
  if (state != nullptr) {
    if (!answer.Ok()) return false;
    pinWanted_ = sim_.ToSend(state);
    return Next();
  }
  int32_t code = 0;
  if (answer.ErrorCode(ErrorKind::kPhone, &code) && code == kSimBusy) {
    WaitForSim();
    return false;
  }
  // A phone that cannot say (a bare OK, an error) goes on as it would without a PIN.
  if (!answer.Ended()) return false;
  pinWanted_ = false;
  return Next();
}

// A PIN the SIM refuses is never sent again in this run. The script goes on without it
// (text mode will be refused), and the time-outs reset the phone as they would without one.
bool StartupScript::StepPin() {
  const AtAnswer& answer = channel_.Answer();
  if (answer.Ok()) {  // some SIMs are busy for a while after their PIN: asked again
    sim_.Answered();
    Enter(kPinStateRow, "PIN accepted\r\n");
    return false;
  }
  int32_t code = 0;
  if (answer.ErrorCode(ErrorKind::kPhone, &code) && code == kSimBusy) {  // the PIN was not tried
    sim_.Answered();
    WaitForSim();
    return false;
  }
  // Any other refusal may be a wrong PIN: a phone without numbered errors says only ERROR.
  if (!answer.Refused()) return false;
  sim_.Refused();
  pinWanted_ = false;
  return Next();
}

// A busy SIM is asked for its state again a few seconds later; a SIM busy for long is left
// to the time-out's reset.
void StartupScript::WaitForSim() {
  channel_.Discard();
  row_ = kPinStateRow;
  if (!sim_.Busy()) return;
  phase_ = Phase::kSimBusy;
  askAt_ = clock_.TickCount() + kSimBusyPause;
}

// The sets the phone lists; a phone that cannot say (an error) offers none.
bool StartupScript::StepCharsets() {
  const AtAnswer& answer = channel_.Answer();
  if (!answer.Ended()) return false;
  const char* listed = answer.Information("+CSCS:");
  charsets_.offered = listed != nullptr && answer.Ok() ? OfferedSets(listed) : 0;
  charsets_.rest = RestSet(charsets_.offered);
  charsets_.listed = true;
  if (charsets_.offered == 0) SayNoCharset();
  return Next();
}

// A set the phone listed but will not select is as good as none.
bool StartupScript::StepCharsetSelected() {
  if (channel_.Answer().Ok()) {
    charsets_.inForce = charsets_.rest;
    return Next();
  }
  if (!channel_.Answer().Refused()) return false;
  charsets_.offered = 0;
  charsets_.rest = TextSet::kNone;
  SayNoCharset();
  return Next();
}

// A phone that will not push reports stores them; one that cannot say its message service
// wants no acknowledgement. A refused AT+CSMP leaves the SMS without a report, each awaited
// until its time is up.
bool StartupScript::StepReportCommand() {
  const AtAnswer& answer = channel_.Answer();
  if (!answer.Ended()) return false;
  const char* service = answer.Information("+CSMS:");
  switch (kRows[row_].answer) {
    case Answer::kPushReports:
      reports_->stored = !answer.Ok();
      break;
    case Answer::kReportService:
      reports_->acknowledge = answer.Ok() && service != nullptr && ReadLeadingInteger(service) == 1;
      break;
    default:
      if (answer.Ok()) charsets_.coding = DataCoding::kSevenBit;
      break;
  }
  return Next();
}

// Said once a run: the texts go as their bytes, as without a charset, at every reset after.
void StartupScript::SayNoCharset() {
  if (charsets_.unusableSaid) return;
  charsets_.unusableSaid = true;
  log_.LogMessage(Colour::kError,
                  "The phone offers no character set Kelvor can use (GSM, IRA, 8859-1, UCS2) - "
                  "texts go as they are, as without CHARSET=\r\n");
}

}  // namespace kelvor
