#include "app/kelvor_main.h"

#include <cstring>
#include <optional>

#include "app/command_line.h"
#include "app/heartbeat.h"
#include "app/replies.h"
#include "app/service_status.h"
#include "app/spool.h"
#include "app/status.h"
#include "log/console_log.h"
#include "log/log_file.h"
#include "modem/sms_modem.h"
#include "platform/text.h"
#include "routing/destination_list.h"

namespace kelvor {
namespace {

constexpr uint32_t kPauseAfterRecord = 100;    // ms after an alarm record
constexpr uint32_t kPauseAfterNothing = 1000;  // ms after an empty or failed queue read
// A step taken on bytes is followed by this much sleep before the next wait for bytes, so
// that a modem that chatters costs a few steps a second, not a spinning loop.
constexpr uint32_t kStepGap = 20;  // ms

// The usage text, as operators know it ("SEVICE" included).
const char* const kUsage[] = {
    "Usage : Kelvor COMx=[baud,parity,bits,stopbits] SERVICE=+nnn DEST=+xxx,y,z,d,f\r\n",
    "COMx sets the serial port x, you can omit the parameters for an IR link\r\n",
    "SEVICE is the SMS service centre number, for most phones you can omit this\r\n",
    "       if the Number is programmed into the SIM card, for nokia always set this\r\n",
    "DEST is the alarm destination where\r\n",
    " xxx - is destination mobile number\r\n",
    " y - is a list of plant areas active for this destination eg ABC\r\n",
    " z - is the alarm priority active for this destination eg. H,M or L\r\n",
    "     the logic is :: if alarm priority greater than or equal to dest priority\r\n",
    " d - is the delay (s) before send, allowing >1 alarms per SMS to reduce SMS's\r\n",
    " f - If set to 'F' full alarm messages else description field only\r\n\r\n",
    "example - COM5=9600,n,8,1 SERVICE=+99912345 DEST=+99955501234,AD,H,30\r\n",
    "this sends all High priority alarms in Plant areas A&D to +99955501234\r\n",
    "The Message will be buffered for 30 sec, If another alarm arrives in this time\r\n",
    "It will be sent in the same SMS, this feature is limited to 160 chars per msg\r\n",
    "\r\nHit any Key to Exit\r\n",
};

// The run's log file, opened before the first line is logged so that it holds them all;
// null when there is no LOG= argument or it was refused (said at its turn).
LogFile* StartLogFile(LogFile& file, const std::optional<LogSetting>& log) {
  if (!log || log->outcome != LogSetting::kFine) return nullptr;
  file.Start(log->path, log->kbytes);
  return &file;
}

class Kelvor {
 public:
  Kelvor(Platform& platform, const Configuration& configuration)
      : platform_(platform),
        configuration_(configuration),
        logFile_(platform.clock),
        log_(platform.console, "Kelvor Startup", StartLogFile(logFile_, configuration.log)),
        spool_(log_) {}

  int Run();

 private:
  void TakeStep(const ArgumentStep& step);
  void MakeModem(const PortArgument& read, const char* argument);
  void AddDestination(const ParsedDestination& read);
  void ReportLog(const LogSetting& read, const char* argument);
  void StartHeartbeat(const HeartbeatSetting& read, const char* argument);
  void StartSpool(const SpoolSetting& read);
  void ReportPin(const PinSetting& read);
  void TakeReplies(const RepliesSetting& read, const char* argument);
  void AddEscalation(const EscalateArgument& read, const char* argument);
  void ReportBadEscalation(const EscalateArgument& read, const char* shown);
  void ListenForReplies();
  void Supervise();
  void WriteSpool();
  void PrintUsage();
  void ReportDiscarded();
  void RunLoop(RoutingContext& routing);
  bool Pass(RoutingContext& routing);
  bool TakeAlarm(RoutingContext& routing);
  void StepModem();
  void Sleep(uint32_t milliseconds);
  bool WaitForAnswer(uint32_t milliseconds);
  uint32_t Left(uint32_t end);
  void HandleKeys();
  StatusFigures Status() const { return TakeStatus(*modem_, alarmsRead_); }

  Platform& platform_;
  const Configuration& configuration_;
  // Members are destroyed in reverse order: the modem (closing its port), then the log and
  // its file, then the destinations with their unsent batches.
  DestinationList destinations_;
  LogFile logFile_;  // made before the log, which writes its title to it
  ConsoleLog log_;
  std::unique_ptr<SmsModem> modem_;
  int32_t running_ = 0;
  AlarmRecord record_{};
  Heartbeat heartbeat_;
  Replies replies_;
  uint32_t alarmsRead_ = 0;  // records read from the alarm queue since start
  ServiceStatus serviceStatus_;
  RunSpool spool_;
};

// Start-up reports what the command line gave, argument by argument, and builds the run
// from it; then the loop, then shutdown.
int Kelvor::Run() {
  log_.LogMessage(Colour::kNormal, "starting SMS Alarm Router %d\r\n", configuration_.argc);
  for (size_t i = 0; i < configuration_.steps.Count(); ++i) TakeStep(configuration_.steps[i]);

  if (configuration_.ShowsUsage()) {
    PrintUsage();
    return configuration_.ExitStatus();
  }

  ListenForReplies();
  spool_.Restore(*modem_, destinations_, replies_.Engine(), platform_.clock.TickCount());
  RoutingContext routing{log_, platform_.scada, platform_.clock, *modem_};
  running_ = platform_.scada.ScadaRunning();
  if (running_ != 0) RunLoop(routing);

  WriteSpool();
  ReportDiscarded();
  log_.LogMessage(Colour::kAlarmQueue, "Exiting ....\r\n");
  modem_.reset();
  return configuration_.ExitStatus();
}

void Kelvor::TakeStep(const ArgumentStep& step) {
  const Configuration& c = configuration_;
  switch (step.kind) {
    case ArgumentStep::kPort:
      MakeModem(c.ports[step.index], step.argument);
      break;
    case ArgumentStep::kService:
      modem_->SetServiceNumber(c.serviceNumbers[step.index]);
      break;
    case ArgumentStep::kDestination:
      AddDestination(c.destinations[step.index]);
      break;
    case ArgumentStep::kPassedOver:
      // Cut so that even a file line of 253 characters keeps its line end.
      log_.Print("Destination list full (%d), ignoring %.120s\r\n", DestinationList::kCapacity,
                 c.passedOver[step.index].text);
      break;
    case ArgumentStep::kLog:
      ReportLog(*c.log, step.argument);
      break;
    case ArgumentStep::kHeartbeat:
      StartHeartbeat(*c.heartbeat, step.argument);
      break;
    case ArgumentStep::kSpool:
      StartSpool(*c.spool);
      break;
    case ArgumentStep::kPin:
      ReportPin(*c.pin);
      break;
    case ArgumentStep::kReplies:
      TakeReplies(*c.replies, step.argument);
      break;
    case ArgumentStep::kEscalate:
      AddEscalation(c.escalations[step.index], step.argument);
      break;
    case ArgumentStep::kRepeated:
      log_.LogMessage(Colour::kError, "Second %.*s argument ignored - one %s per run: %.60s",
                      static_cast<int>(strlen(step.keyword) - 1), step.keyword, step.once,
                      step.argument);
      break;
  }
}

void Kelvor::MakeModem(const PortArgument& read, const char* argument) {
  modem_.reset();  // the earlier modem lets go of its port before the new one opens it
  if (read.tooLong) {
    // A cut argument could open the wrong port or set half a mode: nothing is opened.
    log_.LogMessage(Colour::kError, "COM argument too long - %.40s...\r\n", argument);
  }
  const PortSetting& port = read.port;
  modem_ = std::make_unique<SmsModem>(read.tooLong ? nullptr : port.name,
                                      port.hasMode ? port.mode : nullptr, platform_.newSerialPort(),
                                      log_, platform_.clock);
  const std::optional<PinSetting>& pin = configuration_.pin;
  if (pin && pin->fine) modem_->SetPin(pin->digits);
}

// A destination takes its place in the list, said or refused; a complete one is heard from.
void Kelvor::AddDestination(const ParsedDestination& read) {
  ReportDestination(read, log_);
  destinations_.Add(read);
  if (read.outcome == ParsedDestination::kComplete) replies_.Listen(read.specification.number);
}

// Neither the PIN nor the argument shows, refused or not: a PIN that is nearly right
// would give most of it away.
void Kelvor::ReportPin(const PinSetting& read) {
  if (read.fine) {
    log_.LogMessage(Colour::kNormal, "SIM PIN **** given - sent when the SIM asks for it\r\n");
  } else {
    log_.LogMessage(Colour::kError, "Bad PIN - PIN= takes %d to %d digits; no PIN sent\r\n",
                    static_cast<int>(kShortestPin), static_cast<int>(kLongestPin));
  }
}

// The file itself was opened before the first line (StartLogFile); here the operator is told,
// in the order of the arguments, what became of the LOG= argument.
void Kelvor::ReportLog(const LogSetting& read, const char* argument) {
  switch (read.outcome) {
    case LogSetting::kFine:
      log_.LogMessage(Colour::kNormal, "Log file %s, renamed to %s.1 at %u KB", read.path,
                      read.path, static_cast<unsigned>(read.kbytes));
      break;
    case LogSetting::kBadPath:
      log_.LogMessage(Colour::kError, "Bad log file path - 1 to %d characters: %.60s; no log file",
                      static_cast<int>(kLogPathSize - 1), argument);
      break;
    case LogSetting::kBadSize:
      log_.LogMessage(Colour::kError, "Bad log file size - 1 to %u KB: %.60s; no log file",
                      static_cast<unsigned>(kLargestLogKbytes), argument);
      break;
  }
}

void Kelvor::StartHeartbeat(const HeartbeatSetting& read, const char* argument) {
  switch (read.outcome) {
    case HeartbeatSetting::kFine:
      heartbeat_.Set(read.number, read.minutes);
      replies_.Listen(read.number);
      log_.LogMessage(Colour::kNormal, "Heartbeat SMS to %s every %u min", read.number,
                      static_cast<unsigned>(read.minutes));
      break;
    case HeartbeatSetting::kBadNumber:
      log_.LogMessage(Colour::kError,
                      "Bad heartbeat number %s - 1 to %d characters, no quote, CR, LF, Ctrl-Z or "
                      "ESC; no heartbeat",
                      read.number, static_cast<int>(kNumberSize - 1));
      break;
    case HeartbeatSetting::kBadMinutes:
      log_.LogMessage(Colour::kError,
                      "Bad heartbeat minutes - HEARTBEAT=number,minutes with 1 to %u minutes: "
                      "%.60s; no heartbeat",
                      static_cast<unsigned>(kLongestHeartbeatMinutes), argument);
      break;
  }
}

void Kelvor::StartSpool(const SpoolSetting& read) {
  switch (read.outcome) {
    case SpoolSetting::kPath:
      spool_.Start(read.path);  // the spool says when another run holds it
      break;
    case SpoolSetting::kEmpty:
      log_.LogMessage(Colour::kError, "Spool path missing - SPOOL ignored\r\n");
      break;
    case SpoolSetting::kTooLong:
      log_.LogMessage(Colour::kError, "Spool path longer than %d characters - SPOOL ignored\r\n",
                      static_cast<int>(kSpoolPathSize - 1 - kSpoolSuffixLength));
      break;
  }
}

void Kelvor::TakeReplies(const RepliesSetting& read, const char* argument) {
  if (read.on) {
    replies_.TurnOn();
    return;  // said once all arguments are in, with the numbers heard
  }
  log_.LogMessage(Colour::kError, "Bad replies argument - REPLIES=ON turns them on: %.60s; ignored",
                  argument);
}

// Each rule is said as it is taken, or why it is refused; a refused one escalates nothing.
// The argument shows only in printable characters.
void Kelvor::AddEscalation(const EscalateArgument& read, const char* argument) {
  char shown[61];
  PrintableCopy(argument, shown, sizeof shown);
  if (read.outcome != EscalateArgument::kFine) {
    ReportBadEscalation(read, shown);
    return;
  }
  switch (replies_.AddRule(read)) {
    case Escalation::kAdded:
      log_.LogMessage(Colour::kNormal,
                      "Escalation: alarm SMS to %s not answered in %u min go to %s", read.number,
                      static_cast<unsigned>(read.minutes), read.next);
      break;
    case Escalation::kSameNumber:
      log_.LogMessage(Colour::kError, "Bad escalation - %s to itself: %s; ignored", read.number,
                      shown);
      break;
    case Escalation::kDuplicate:
      log_.LogMessage(Colour::kError, "Second escalation for %s ignored - one per number: %s",
                      read.number, shown);
      break;
    default:  // kRulesFull; the argument's reader refused bad numbers and minutes already
      log_.LogMessage(Colour::kError, "Escalation list full (%d), ignoring %s",
                      kEscalationRuleCapacity, shown);
      break;
  }
}

void Kelvor::ReportBadEscalation(const EscalateArgument& read, const char* shown) {
  switch (read.outcome) {
    case EscalateArgument::kBadMinutes:
      log_.LogMessage(Colour::kError, "Bad escalation minutes - 1 to %u: %s; ignored",
                      static_cast<unsigned>(kLongestEscalationMinutes), shown);
      break;
    case EscalateArgument::kBadNumber:
    case EscalateArgument::kBadNext:
      log_.LogMessage(Colour::kError,
                      "Bad escalation number %s - digits, blanks and a leading +, at most %d "
                      "characters: %s; ignored",
                      read.outcome == EscalateArgument::kBadNumber ? read.number : read.next,
                      static_cast<int>(kNumberSize - 1), shown);
      break;
    default:
      log_.LogMessage(Colour::kError, "Bad escalation - ESCALATE=number,minutes,next: %s; ignored",
                      shown);
      break;
  }
}

// Once every argument is in: the phone is asked for the SMS it receives only when replies
// are on, so that a run without them sends the commands it always did.
void Kelvor::ListenForReplies() {
  if (!replies_.On()) return;
  modem_->ListenForReplies();
  log_.LogMessage(Colour::kNormal, "Replies by SMS read from the phone, heard from %d numbers",
                  replies_.Heard());
}

// After every step that may change what the spool keeps, before the loop pauses or the
// modem's step can stall.
void Kelvor::WriteSpool() {
  spool_.Write(*modem_, destinations_, replies_.Engine(), platform_.clock.TickCount());
}

// Nothing still on its way is dropped without a word: the operator learns how many SMS and
// batches of alarms the run ends without sending, or that the spool keeps them (not a
// heartbeat still waiting: the next run says its own).
void Kelvor::ReportDiscarded() {
  bool kept = spool_.Keeps();
  const char* fate = kept ? "keeps for the next start" : "discards";
  Colour colour = kept ? Colour::kNormal : Colour::kError;
  int sms = kept ? SpooledCount(*modem_) : modem_->QueuedCount();
  int batches = destinations_.PendingBatches();
  if (sms != 0 || batches != 0) {
    log_.LogMessage(colour, "Shutdown %s SMS queued: %d, alarm batches pending: %d\r\n", fate, sms,
                    batches);
  }
  int awaiting = replies_.Engine().Count();
  if (awaiting != 0) {
    log_.LogMessage(colour, "Shutdown %s alarm SMS awaiting an answer: %d\r\n", fate, awaiting);
  }
}

void Kelvor::PrintUsage() {
  for (const char* line : kUsage) log_.LogMessage(Colour::kAlarmQueue, "%s", line);
}

void Kelvor::RunLoop(RoutingContext& routing) {
  serviceStatus_.Ready(Status(), platform_.clock);
  while (Pass(routing)) {
  }
  serviceStatus_.Stopping();
}

// One pass of the loop; false when the loop is to end.
bool Kelvor::Pass(RoutingContext& routing) {
  running_ = platform_.scada.ScadaRunning();
  HandleKeys();
  if (!TakeAlarm(routing)) return false;
  destinations_.FlushIfDue(routing);
  WriteSpool();
  StepModem();
  Supervise();
  WriteSpool();  // a heartbeat may have been queued
  return running_ != 0;
}

// Every step of the modem, in a pass or within a sleep, comes here: a step that changed the
// SMS waiting is written to the spool at once.
void Kelvor::StepModem() {
  modem_->PollModem();
  if (replies_.On()) {
    replies_.AfterStep(*modem_, log_, platform_.clock.TickCount(), alarmsRead_);
  }
  WriteSpool();
}

// The loop's sleeps keep their length, but the modem does not wait for them: while its
// dialogue awaits an answer, bytes from the port end the wait, the dialogue steps at once,
// and the rest of the sleep follows; the pause after a confirmed SMS ends within a sleep
// the same way. A key pressed meanwhile is handled then. An idle modem sleeps through.
void Kelvor::Sleep(uint32_t milliseconds) {
  Clock& clock = platform_.clock;
  const uint32_t end = clock.TickCount() + milliseconds;
  bool stepped = false;  // the last wait ended with bytes, which the dialogue took
  for (uint32_t left = milliseconds; left > 0; left = Left(end)) {
    NextStep next = modem_->WhenToStep();
    switch (next.kind) {
      case NextStep::kIdle:
        clock.Sleep(left);
        return;
      case NextStep::kNow:
        StepModem();
        break;
      case NextStep::kAfterPause:
        clock.Sleep(next.milliseconds < left ? next.milliseconds : left);
        break;
      case NextStep::kOnBytes:
        if (stepped) {
          clock.Sleep(kStepGap < left ? kStepGap : left);
          stepped = false;
        } else {
          stepped = WaitForAnswer(left);
        }
        break;
    }
  }
}

// True when bytes ended the wait and the dialogue stepped on them.
bool Kelvor::WaitForAnswer(uint32_t milliseconds) {
  switch (modem_->WaitForAnswer(milliseconds, platform_.keyboard)) {
    case WaitEnd::kBytes:
      StepModem();
      return true;
    case WaitEnd::kKey:
      HandleKeys();
      return false;
    case WaitEnd::kTime:
      break;
  }
  return false;
}

// Milliseconds from now until `end`; 0 once it has come.
uint32_t Kelvor::Left(uint32_t end) {
  return TimeLeft(platform_.clock.TickCount(), end);
}

// What watches the run from outside: the heartbeat SMS and the service manager.
void Kelvor::Supervise() {
  heartbeat_.Beat(*modem_, platform_.clock, Status());
  serviceStatus_.Pass(Status(), platform_.clock);  // the heartbeat may have been queued
}

// Reads the alarm queue once and acts on its status; false when the SCADA system has
// shut down, which ends the loop at once.
bool Kelvor::TakeAlarm(RoutingContext& routing) {
  int16_t status = platform_.scada.ReadAlarmQueue(kAlarmQueueMode, record_);
  switch (status) {
    case kAlarmDelivered:
      ++alarmsRead_;
      log_.LogMessage(Colour::kAlarmQueue, "------------------------------------\r\n");
      if (record_.RoutingFlag() == 0 || record_.StatusCode() == 0) {
        // The whole text, then ".60": the line as operators' scripts know it, not a cut.
        log_.LogMessage(Colour::kAlarmQueue, "Prefilter Ignoring - %s.60",
                        record_.AlarmText().c_str());
      } else {
        destinations_.OfferAlarm(record_, routing);
        WriteSpool();  // the alarm is on the disk before the pause: the queue hands it out once
      }
      Sleep(kPauseAfterRecord);
      return true;
    case kShutDown:
    case kShutDown2:
    case kShutDown3:
      log_.LogMessage(Colour::kAlarmQueue, "FIX has been shut down\r\n");
      return false;
    case kQueueEmpty:
      Sleep(kPauseAfterNothing);
      return true;
    default:
      break;
  }
  if (status >= kIllegalStatusFirst && status <= kIllegalStatusLast) {
    log_.LogMessage(Colour::kError, "Illegal alarm status %d\r\n", status);
    return true;
  }
  log_.LogMessage(Colour::kError, "bad status = %d is WUSERQ1.EXE running ?\r\n", status);
  Sleep(kPauseAfterNothing);
  return true;
}

void Kelvor::HandleKeys() {
  while (platform_.keyboard.KeyWaiting()) {
    char key = Upper(static_cast<char>(platform_.keyboard.ReadKey() & 0xFF));
    if (key == 'Q') {
      running_ = 0;
      log_.LogMessage(Colour::kNormal, "Quitting...r\n");  // "...r" kept as operators know it
    } else if (key == 'S') {
      SayStatus(Status(), log_);
    }
  }
}

}  // namespace

int KelvorMain(int argc, char** argv, Platform& platform) {
  const Configuration configuration = ReadCommandLine(argc, argv);
  Kelvor kelvor(platform, configuration);
  return kelvor.Run();
}

}  // namespace kelvor
