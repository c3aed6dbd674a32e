// Every argument of the command line in one row: the text it is told apart by, its reader
// (argument text into values, printing nothing) and its take (at its turn in start-up, the
// lines operators know, taken or refused, and its values handed to the run). A reader and
// its take stand side by side; the rows are at the end. The rows of the phone's own
// settings (PIN=, PAUSE=, CHARSET=, CODEPAGE=, STANDBY=) are in phone_arguments.cpp, those of
// the phone answering back (REPLIES=, ESCALATE=, RING=) in reply_arguments.cpp.
#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "modem/phone_number.h"
#include "platform/text.h"
#include "routing/destination_file.h"

namespace kelvor {
namespace {

// The last comma of `text`, or null; `length` is what stands before it (all of `text`
// without one). A value after the last comma lets a path or number before it hold commas.
const char* LastComma(const char* text, size_t* length) {
  const char* comma = strrchr(text, ',');
  *length = comma != nullptr ? static_cast<size_t>(comma - text) : strlen(text);
  return comma;
}

// --- COMx=mode: a modem on that port, in place of any made before -----------------------

const char* PinOf(const std::optional<PinSetting>& pin) {
  return pin && pin->fine ? pin->digits : nullptr;
}

void ReadPort(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument, c.ports.Count());
  PortArgument& read = c.ports.Add();
  read.tooLong = !ReadPortSetting(argument, &read.port);
}

void TakePort(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup& run) {
  const PortArgument& read = c.ports[step.index];
  if (read.tooLong) {
    // A cut argument could open the wrong port or set half a mode: nothing is opened.
    log.LogMessage(Colour::kError, "COM argument too long - %.40s...\r\n", step.argument);
  }
  const PortSetting& port = read.port;
  run.MakeModem(read.tooLong ? nullptr : port.name, port.hasMode ? port.mode : nullptr,
                PinOf(c.pin), c.pause ? c.pause->milliseconds : kDefaultPauseAfterSend);
  const PortSetting* standby = StandbyPort(c);
  if (standby == nullptr) return;
  run.AddStandby(standby->name, standby->hasMode ? standby->mode : nullptr, PinOf(c.standbyPin));
}

// --- SERVICE=+nnn: the service centre's number, from its "+" on ------------------------

void ReadService(const ArgumentRow& row, const char* argument, Configuration& c) {
  if (c.ports.Count() == 0) return;  // no modem yet to take the number
  AddStep(c, row, argument, c.serviceNumbers.Count());
  c.serviceNumbers.Add() = strchr(argument, '+');
}

void TakeService(const Configuration& c, const ArgumentStep& step, Log&, RunSetup& run) {
  run.SetServiceNumber(c.serviceNumbers[step.index]);  // the modem says what it holds
}

// --- DEST=specification, and FILE=path of specifications, 31 at most -------------------

// A destination from a DEST argument or a file line; the text is read in place.
void AddDestination(const ArgumentRow& row, char* text, const char* argument, Configuration& c) {
  if (c.destinationCount >= Configuration::kDestinations) {
    AddStep(c, row, argument, c.passedOver.Count()).turn = ArgumentStep::kPassedOver;
    PassedOver& passed = c.passedOver.Add();
    snprintf(passed.text, sizeof passed.text, "%s", text);
    return;
  }
  AddStep(c, row, argument, c.destinationCount);
  c.destinations[c.destinationCount++] = ParseDestination(text);
}

// The destination's text starts at the argument's first "=", which it keeps. It is cut up
// in place while it is read, so it is read from a copy.
void ReadDestination(const ArgumentRow& row, const char* argument, Configuration& c) {
  const char* from = strchr(argument, '=');
  size_t size = strlen(from) + 1;
  std::unique_ptr<char[]> text(new char[size]);
  memcpy(text.get(), from, size);
  AddDestination(row, text.get(), argument, c);
}

// The file's path follows the argument's first "=".
void ReadFile(const ArgumentRow& row, const char* argument, Configuration& c) {
  class Lines : public SpecificationSink {
   public:
    Lines(const ArgumentRow& row, const char* argument, Configuration& c)
        : row_(row), argument_(argument), c_(c) {}
    void Take(char* specification) override { AddDestination(row_, specification, argument_, c_); }

   private:
    const ArgumentRow& row_;
    const char* argument_;
    Configuration& c_;
  } lines(row, argument, c);
  ReadDestinationFile(strchr(argument, '=') + 1, lines);
}

// A destination takes its place in the list, said or refused.
void TakeDestination(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup& run) {
  if (step.turn == ArgumentStep::kPassedOver) {
    // Cut so that even a file line of 253 characters keeps its line end.
    log.Print("Destination list full (%d), ignoring %.120s\r\n", DestinationList::kCapacity,
              c.passedOver[step.index].text);
    return;
  }
  const ParsedDestination& read = c.destinations[step.index];
  ReportDestination(read, log);
  run.AddDestination(read);
}

// --- LOG=path[,kbytes]: the file itself is opened before the first line ----------------

void ReadLog(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument);
  LogSetting& read = c.log.emplace();
  const char* path = argument + strlen(row.text);
  size_t length = 0;
  const char* comma = LastComma(path, &length);
  bool sized = comma == nullptr ||
               ReadInRange(comma + 1, strlen(comma + 1), 1, kLargestLogKbytes, &read.kbytes);
  if (length == 0 || length >= kLogPathSize) {
    read.outcome = LogSetting::kBadPath;
  } else if (!sized) {
    read.outcome = LogSetting::kBadSize;
  } else {
    memcpy(read.path, path, length);
    read.path[length] = '\0';
  }
}

void TakeLog(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup&) {
  const LogSetting& read = *c.log;
  switch (read.outcome) {
    case LogSetting::kFine:
      log.LogMessage(Colour::kNormal, "Log file %s, renamed to %s.1 at %u KB", read.path, read.path,
                     static_cast<unsigned>(read.kbytes));
      break;
    case LogSetting::kBadPath:
      log.LogMessage(Colour::kError, "Bad log file path - 1 to %d characters: %.60s; no log file",
                     static_cast<int>(kLogPathSize - 1), step.argument);
      break;
    case LogSetting::kBadSize:
      log.LogMessage(Colour::kError, "Bad log file size - 1 to %u KB: %.60s; no log file",
                     static_cast<unsigned>(kLargestLogKbytes), step.argument);
      break;
  }
}

// --- HEARTBEAT=number,minutes ------------------------------------------------------------

void ReadHeartbeat(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument);
  HeartbeatSetting& read = c.heartbeat.emplace();
  const char* number = argument + strlen(row.text);
  size_t length = 0;
  const char* comma = LastComma(number, &length);
  char copy[kNumberSize + 1];
  CopyNumberField(number, number + length, copy);
  if (length == 0 || !FitsCommand(copy)) {
    read.outcome = HeartbeatSetting::kBadNumber;
    PrintableCopy(copy, read.number, sizeof read.number);
    return;
  }
  memcpy(read.number, copy, length + 1);
  if (comma == nullptr ||
      !ReadInRange(comma + 1, strlen(comma + 1), 1, kLongestHeartbeatMinutes, &read.minutes)) {
    read.outcome = HeartbeatSetting::kBadMinutes;
  }
}

void TakeHeartbeat(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup& run) {
  const HeartbeatSetting& read = *c.heartbeat;
  switch (read.outcome) {
    case HeartbeatSetting::kFine:
      run.StartHeartbeat(read.number, read.minutes);
      log.LogMessage(Colour::kNormal, "Heartbeat SMS to %s every %u min", read.number,
                     static_cast<unsigned>(read.minutes));
      break;
    case HeartbeatSetting::kBadNumber:
      log.LogMessage(Colour::kError,
                     "Bad heartbeat number %s - 1 to %d characters, no quote, CR, LF, Ctrl-Z or "
                     "ESC; no heartbeat",
                     read.number, static_cast<int>(kNumberSize - 1));
      break;
    case HeartbeatSetting::kBadMinutes:
      log.LogMessage(Colour::kError,
                     "Bad heartbeat minutes - HEARTBEAT=number,minutes with 1 to %u minutes: "
                     "%.60s; no heartbeat",
                     static_cast<unsigned>(kLongestHeartbeatMinutes), step.argument);
      break;
  }
}

// --- SPOOL=path -------------------------------------------------------------------------

constexpr size_t kLongestSpoolPath = kSpoolPathSize - 1 - kSpoolSuffixLength;

void ReadSpool(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument);
  SpoolSetting& read = c.spool.emplace();
  const char* path = argument + strlen(row.text);
  size_t length = strlen(path);
  if (length == 0) {
    read.outcome = SpoolSetting::kEmpty;
  } else if (length > kLongestSpoolPath) {
    read.outcome = SpoolSetting::kTooLong;
  } else {
    read.outcome = SpoolSetting::kPath;
    memcpy(read.path, path, length + 1);
  }
}

void TakeSpool(const Configuration& c, const ArgumentStep&, Log& log, RunSetup& run) {
  switch (c.spool->outcome) {
    case SpoolSetting::kPath:
      run.StartSpool(c.spool->path);  // the spool says when another run holds it
      break;
    case SpoolSetting::kEmpty:
      log.LogMessage(Colour::kError, "Spool path missing - SPOOL ignored\r\n");
      break;
    case SpoolSetting::kTooLong:
      log.LogMessage(Colour::kError, "Spool path longer than %d characters - SPOOL ignored\r\n",
                     static_cast<int>(kLongestSpoolPath));
      break;
  }
}

// --- The rows ---------------------------------------------------------------------------

constexpr ArgumentRow kPort = {"COM", nullptr, nullptr, ReadPort, TakePort};
constexpr ArgumentRow kService = {"SER", nullptr, nullptr, ReadService, TakeService};
constexpr ArgumentRow kDestination = {"DEST=", nullptr, nullptr, ReadDestination, TakeDestination};
constexpr ArgumentRow kFile = {"FILE=", nullptr, nullptr, ReadFile, TakeDestination};
constexpr ArgumentRow kLog = {"LOG=", "log file", nullptr, ReadLog, TakeLog};
constexpr ArgumentRow kHeartbeat = {"HEARTBEAT=", "heartbeat", nullptr, ReadHeartbeat,
                                    TakeHeartbeat};
constexpr ArgumentRow kSpool = {"SPOOL=", "spool", nullptr, ReadSpool, TakeSpool};

// An argument that begins with one of these keywords is that kind, whatever else it holds.
// The phone's own settings are rows of phone_arguments.cpp.
constexpr const ArgumentRow* kLeading[] = {&kDestination,
                                           &kFile,
                                           &kLog,
                                           &kHeartbeat,
                                           &kSpool,
                                           &kPinArgument,
                                           &kRepliesArgument,
                                           &kEscalateArgument,
                                           &kRingArgument,
                                           &kCharsetArgument,
                                           &kCodePageArgument,
                                           &kPauseArgument,
                                           &kStandbyArgument,
                                           &kStandbyPinArgument};
// Any other argument is the kind of the first of these texts it contains, as command lines
// have always been read.
constexpr const ArgumentRow* kContained[] = {&kPort, &kService, &kDestination, &kFile};

}  // namespace

void CopyNumberField(const char* begin, const char* end, char (&to)[kNumberSize + 1]) {
  snprintf(to, sizeof to, "%.*s", static_cast<int>(end - begin), begin);
}

ArgumentRows LeadingKeywords() {
  return {kLeading, sizeof kLeading / sizeof kLeading[0]};
}

ArgumentRows ContainedTexts() {
  return {kContained, sizeof kContained / sizeof kContained[0]};
}

}  // namespace kelvor
