#include "app/kelvor_main.h"

#include "app/command_line.h"
#include "app/heartbeat.h"
#include "app/replies.h"
#include "app/service_status.h"
#include "app/spool.h"
#include "app/status.h"
#include "log/console_log.h"
#include "log/log_file.h"
#include "modem/sms_modem.h"
#include "platform/code_page.h"
#include "platform/text.h"
#include "routing/destination_list.h"

namespace kelvor {
namespace {

constexpr uint32_t kPauseAfterRecord = 100;    // ms after an alarm record
constexpr uint32_t kPauseAfterNothing = 1000;  // ms after an empty or failed queue read
// A step taken on bytes is followed by this much sleep before the next wait for bytes, so
// that a modem that chatters costs a few steps a second, not a spinning loop.
constexpr uint32_t kStepGap = 20;  // ms

// The run's log file, opened before the first line is logged so that it holds them all;
// null when there is no LOG= argument or it was refused (said at its turn).
LogFile* StartLogFile(LogFile& file, const Configuration& c) {
  const ArgumentStep* log = c.Find(kLogKeyword);
  if (log == nullptr || log->value.refused != 0) return nullptr;
  file.Start(log->value.text, log->value.amount);
  return &file;
}

// The run: start-up builds it from the values of the command line (RunSetup), then the
// loop keeps the alarm queue's pace, steps the modem within the sleeps, handles keys and
// takes the parts in their order each pass, then shutdown says what is left unsent.
class Kelvor : private RunSetup {
 public:
  Kelvor(Platform& platform, const Configuration& configuration)
      : platform_(platform),
        configuration_(configuration),
        logFile_(platform.clock),
        log_(platform.console, "Kelvor Startup", StartLogFile(logFile_, configuration)),
        spool_(log_) {}

  int Run();

 private:
  void MakeModem(const char* name, const char* mode, const char* pin, uint32_t pause) override;
  void AddStandby(const char* name, const char* mode, const char* pin, bool share) override {
    modem_->AddStandby(name, mode, platform_.newSerialPort(), pin);
    if (share) modem_->ShareLoad();
  }
  void SetServiceNumber(const char* number) override { modem_->SetServiceNumber(number); }
  void AddDestination(const ParsedDestination& read) override;
  void StartHeartbeat(const char* number, uint32_t minutes) override;
  void StartSpool(const char* path) override { spool_.Start(path); }
  void TurnOnReplies() override { replies_.TurnOn(); }
  bool ChooseCharset(Charset charset, uint32_t codePage) override;
  void AskReports(uint32_t minutes) override;
  Escalation::RuleOutcome AddEscalation(const char* number, uint32_t minutes,
                                        const char* next) override {
    return replies_.AddRule(number, minutes, next);
  }
  WakeUpCalls::RuleOutcome AddRing(const char* number, uint32_t minutes, int priority) override {
    return replies_.AddRing(number, minutes, priority);
  }
  DutyRoster::Outcome AddHours(const char* number, const DutySchedule& hours) override {
    return duty_.Add(number, hours);
  }
  DutyRoster::Outcome AddHoliday(int32_t day) override { return duty_.AddHoliday(day); }
  StatusFigures Status() const { return GatherStatus(*modem_, alarmsRead_, &duty_); }
  bool RoomForOwnSms() const;
  void WriteSpool();
  void ReportDiscarded();
  void RunLoop(RoutingContext& routing);
  bool Pass(RoutingContext& routing);
  bool TakeAlarm(RoutingContext& routing);
  void StepModem();
  void Sleep(uint32_t milliseconds);
  bool WaitForAnswer(uint32_t milliseconds);
  uint32_t Left(uint32_t end);
  void Supervise();
  void HandleKeys();

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
  ModemEvents stepEvents_;   // what the modem's last step had to tell
  uint32_t alarmsRead_ = 0;  // records read from the alarm queue since start
  ServiceStatus serviceStatus_;
  SentSince reported_;  // each sharing phone's SMS since the last S report
  RunSpool spool_;
  DutyRoster duty_;                      // HOURS= and HOLIDAYS=
  Charset charset_ = Charset::kAsGiven;  // CHARSET=, for every modem made
  uint32_t reportMinutes_ = 0;           // DELIVERY=, for every modem made; 0: none
  CodePageTable codePage_{};
};

// Start-up takes what the command line gave, argument by argument; then the parts that need
// them all, the loop, and shutdown.
int Kelvor::Run() {
  log_.LogMessage(Colour::kNormal, "starting SMS Alarm Router %d\r\n", configuration_.argc);
  ApplyArguments(configuration_, log_, *this);

  if (configuration_.ShowsUsage()) {
    SayUsage(log_);
    return configuration_.ExitStatus();
  }

  replies_.SetDuty(&duty_);
  replies_.Start(*modem_, log_);
  spool_.Restore(*modem_, destinations_, replies_.Escalations(), replies_.Calls(),
                 platform_.clock.TickCount());
  RoutingContext routing{log_, platform_.scada, platform_.clock, *modem_, &duty_};
  running_ = platform_.scada.ScadaRunning();
  if (running_ != 0) RunLoop(routing);

  spool_.Finish(*modem_, destinations_, replies_.Escalations(), replies_.Calls(),
                platform_.clock.TickCount());
  ReportDiscarded();
  log_.LogMessage(Colour::kAlarmQueue, "Exiting ....\r\n");
  modem_.reset();
  return configuration_.ExitStatus();
}

void Kelvor::MakeModem(const char* name, const char* mode, const char* pin, uint32_t pause) {
  modem_.reset();  // the earlier modem lets go of its port before the new one opens it
  modem_ = std::make_unique<SmsModem>(name, mode, platform_.newSerialPort(), log_, platform_.clock);
  if (pin != nullptr) modem_->SetPin(pin);
  modem_->SetPause(pause);
  if (charset_ != Charset::kAsGiven) modem_->SetCoding(charset_, codePage_);
  if (reportMinutes_ != 0) modem_->AskReports(reportMinutes_);
}

void Kelvor::AskReports(uint32_t minutes) {
  reportMinutes_ = minutes;
  if (modem_) modem_->AskReports(minutes);
}

// The code page is read once, here: no text needs the system's converter after start-up.
bool Kelvor::ChooseCharset(Charset charset, uint32_t codePage) {
  charset_ = charset;
  bool read = ReadCodePage(codePage, &codePage_);
  if (modem_) modem_->SetCoding(charset_, codePage_);
  return read;
}

// A destination takes its place in the list, complete or not; a complete one is heard from.
void Kelvor::AddDestination(const ParsedDestination& read) {
  destinations_.Add(read);
  if (read.outcome == ParsedDestination::kComplete) replies_.Listen(read.specification.number);
}

void Kelvor::StartHeartbeat(const char* number, uint32_t minutes) {
  heartbeat_.Set(number, minutes);
  replies_.Listen(number);
}

// After every step that may change what the spool keeps, before the loop pauses or the
// modem's step can stall.
void Kelvor::WriteSpool() {
  spool_.Write(*modem_, destinations_, replies_.Escalations(), replies_.Calls(),
               platform_.clock.TickCount());
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
  int awaiting = replies_.Escalations().Count();
  if (awaiting != 0) {
    log_.LogMessage(colour, "Shutdown %s alarm SMS awaiting an answer: %d\r\n", fate, awaiting);
  }
  int calls = replies_.Calls().Waiting();
  if (calls != 0) {
    log_.LogMessage(colour, "Shutdown %s wake-up calls waited for: %d\r\n", fate, calls);
  }
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
  if (duty_.Active()) duty_.Pass(platform_.clock.Now(), log_);  // before S asks who is on duty
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
  modem_->TakeEvents(&stepEvents_);
  heartbeat_.Heard(stepEvents_);
  if (replies_.On()) {
    replies_.AfterStep(*modem_, stepEvents_, log_, platform_.clock.TickCount(), alarmsRead_,
                       destinations_.WaitingForRoom());
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

// What Kelvor says of itself takes a place in the queue only while no alarm waits for one:
// a destination's batch the full queue left waiting, or an escalation due.
bool Kelvor::RoomForOwnSms() const {
  return !modem_->Full() && !destinations_.WaitingForRoom() && !replies_.EscalationWaiting();
}

// What watches the run from outside: the heartbeat SMS and the service manager.
void Kelvor::Supervise() {
  heartbeat_.Beat(*modem_, platform_.clock, log_, Status(), RoomForOwnSms());
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
      SayStatus(reported_.Take(Status()), log_);
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
