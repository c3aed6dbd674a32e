// Every argument of the command line in one row: the text it is told apart by and its
// reader (command_line.h), which keeps its values and, at its turn in start-up, says the
// lines operators know and hands them to the run. The rows are at the end. The phone's own
// settings (PIN=, PAUSE=, CHARSET=, CODEPAGE=, STANDBY=) are in phone_arguments.cpp, the
// phone answering back (REPLIES=, ESCALATE=, RING=) in reply_arguments.cpp.
#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "app/spool.h"
#include "log/log_file.h"
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

const char* PinOf(const ArgumentStep* pin) {
  return pin != nullptr && pin->value.refused == 0 ? pin->value.text : nullptr;
}

// PIN=, PAUSE= and the standby with its PIN go with each modem, wherever they stand.
void ReadPort(ArgumentTurn& t) {
  PortSetting port = {};
  t.value.refused = !ReadPortSetting(t.argument, &port);
  KeepPort(port, t.value);
  if (t.value.refused) {
    // A cut argument could open the wrong port or set half a mode: nothing is opened.
    t.log.LogMessage(Colour::kError, "COM argument too long - %.40s...\r\n", t.argument);
  }
  const ArgumentStep* pause = t.c.Find("PAUSE=");
  t.run.MakeModem(t.value.refused ? nullptr : port.name, port.hasMode ? port.mode : nullptr,
                  PinOf(t.c.Find("PIN=")),
                  pause != nullptr ? pause->value.amount : kDefaultPauseAfterSend);
  PortSetting standby = {};
  if (!StandbyPort(t.c, &standby)) return;
  t.run.AddStandby(standby.name, standby.hasMode ? standby.mode : nullptr,
                   PinOf(t.c.Find("STANDBY_PIN=")));
}

// --- SERVICE=+nnn: the service centre's number, from its "+" on ------------------------

void ReadService(ArgumentTurn& t) {
  t.stepless = t.reading != nullptr && t.c.Find("COM") == nullptr;  // no modem to take it
  const char* number = strchr(t.argument, '+');
  t.value.refused = number == nullptr;
  snprintf(t.value.text, sizeof t.value.text, "%s", number != nullptr ? number : "");
  t.run.SetServiceNumber(number);  // the modem says what it holds
}

// --- DEST=specification, and FILE=path of specifications, 31 at most -------------------

// A destination from a DEST argument or a file line, read in place from `text`.
void AddDestination(ArgumentTurn& t, char* text) {
  Configuration& c = *t.reading;
  if (c.destinationCount >= Configuration::kDestinations) {
    t.index = c.passedOver.Count();
    t.turn = ArgumentStep::kPassedOver;
    snprintf(c.passedOver.Add().text, sizeof(PassedOver::text), "%s", text);
    return;
  }
  t.index = c.destinationCount;
  c.destinations[c.destinationCount++] = ParseDestination(text);
}

// Taking: a destination takes its place in the list, said or refused.
void TakeDestination(const ArgumentTurn& t) {
  if (t.turn == ArgumentStep::kPassedOver) {
    // Cut so that even a file line of 253 characters keeps its line end.
    t.log.Print("Destination list full (%d), ignoring %.120s\r\n", DestinationList::kCapacity,
                t.c.passedOver[t.index].text);
    return;
  }
  const ParsedDestination& read = t.c.destinations[t.index];
  ReportDestination(read, t.log);
  t.run.AddDestination(read);
}

// The destination's text starts at the argument's first "=", which it keeps. It is cut up
// in place while it is read, so it is read from a copy.
void ReadDestinationArgument(ArgumentTurn& t) {
  if (t.reading == nullptr) return TakeDestination(t);
  const char* from = strchr(t.argument, '=');
  size_t size = strlen(from) + 1;
  std::unique_ptr<char[]> text(new char[size]);
  memcpy(text.get(), from, size);
  AddDestination(t, text.get());
}

// The file's path follows the argument's first "="; each line is a step of its own.
void ReadFile(ArgumentTurn& t) {
  if (t.reading == nullptr) return TakeDestination(t);
  class Lines : public SpecificationSink {
   public:
    explicit Lines(ArgumentTurn& t) : t_(t) {}
    void Take(char* specification) override {
      AddDestination(t_, specification);
      AddStep(*t_.reading, t_.row, t_.argument, t_.index).turn = t_.turn;
    }

   private:
    ArgumentTurn& t_;
  } lines(t);
  ReadDestinationFile(strchr(t.argument, '=') + 1, lines);
  t.stepless = true;
}

// --- LOG=path[,kbytes]: the file itself is opened before the first line ----------------
// The size is the text after the last comma, so a path that holds a comma must give the size
// as well. Refused: 1 a bad path, 2 a bad size.

void ReadLog(ArgumentTurn& t) {
  ArgumentValue& v = t.value;
  const char* path = t.Value();
  size_t length = 0;
  const char* comma = LastComma(path, &length);
  v.amount = kDefaultLogKbytes;
  bool sized = comma == nullptr ||
               ReadInRange(comma + 1, strlen(comma + 1), 1, kLargestLogKbytes, &v.amount);
  v.refused = length == 0 || length >= kLogPathSize ? 1 : sized ? 0 : 2;
  if (v.refused == 0) snprintf(v.text, sizeof v.text, "%.*s", static_cast<int>(length), path);
  if (v.refused == 0) {
    t.log.LogMessage(Colour::kNormal, "Log file %s, renamed to %s.1 at %u KB", v.text, v.text,
                     static_cast<unsigned>(v.amount));
  } else if (v.refused == 1) {
    t.log.LogMessage(Colour::kError, "Bad log file path - 1 to %d characters: %.60s; no log file",
                     static_cast<int>(kLogPathSize - 1), t.argument);
  } else {
    t.log.LogMessage(Colour::kError, "Bad log file size - 1 to %u KB: %.60s; no log file",
                     static_cast<unsigned>(kLargestLogKbytes), t.argument);
  }
}

// --- HEARTBEAT=number,minutes ------------------------------------------------------------
// The number passes the checks of a destination's number; the minutes, after the last comma,
// are 1 to 10080. Refused: 1 a bad number (kept cut and printable), 2 bad minutes.

void SayHeartbeat(const ArgumentTurn& t) {
  const ArgumentValue& v = t.value;
  if (v.refused == 0) {
    t.run.StartHeartbeat(v.text, v.amount);
    t.log.LogMessage(Colour::kNormal, "Heartbeat SMS to %s every %u min", v.text,
                     static_cast<unsigned>(v.amount));
  } else if (v.refused == 1) {
    t.log.LogMessage(Colour::kError,
                     "Bad heartbeat number %s - 1 to %d characters, no quote, CR, LF, Ctrl-Z or "
                     "ESC; no heartbeat",
                     v.text, static_cast<int>(kNumberSize - 1));
  } else {
    t.log.LogMessage(Colour::kError,
                     "Bad heartbeat minutes - HEARTBEAT=number,minutes with 1 to %u minutes: "
                     "%.60s; no heartbeat",
                     static_cast<unsigned>(kLongestHeartbeatMinutes), t.argument);
  }
}

void ReadHeartbeat(ArgumentTurn& t) {
  ArgumentValue& v = t.value;
  const char* number = t.Value();
  size_t length = 0;
  const char* comma = LastComma(number, &length);
  char copy[kNumberSize + 1];
  CopyNumberField(number, number + length, copy);
  if (length == 0 || !FitsCommand(copy)) {
    v.refused = 1;
    PrintableCopy(copy, v.text, kNumberSize);
  } else {
    memcpy(v.text, copy, length + 1);
    bool timed = comma != nullptr &&
                 ReadInRange(comma + 1, strlen(comma + 1), 1, kLongestHeartbeatMinutes, &v.amount);
    if (!timed) v.amount = 0;
    v.refused = timed ? 0 : 2;
  }
  SayHeartbeat(t);
}

// --- SPOOL=path -------------------------------------------------------------------------
// Refused: 1 an empty path, 2 one too long.

constexpr size_t kLongestSpoolPath = kSpoolPathSize - 1 - kSpoolSuffixLength;
static_assert(kLongestSpoolPath < sizeof(ArgumentValue::text), "a spool path is kept whole");

void ReadSpool(ArgumentTurn& t) {
  size_t length = strlen(t.Value());
  t.value.refused = length == 0 ? 1 : length > kLongestSpoolPath ? 2 : 0;
  if (t.value.refused == 0) {
    memcpy(t.value.text, t.Value(), length + 1);
    t.run.StartSpool(t.value.text);  // the spool says when another run holds it
  } else if (t.value.refused == 1) {
    t.log.LogMessage(Colour::kError, "Spool path missing - SPOOL ignored\r\n");
  } else {
    t.log.LogMessage(Colour::kError, "Spool path longer than %d characters - SPOOL ignored\r\n",
                     static_cast<int>(kLongestSpoolPath));
  }
}

}  // namespace

// An argument that begins with one of these keywords is that kind, whatever else it holds.
const ArgumentRow kLeadingRows[] = {
    {"DEST=", nullptr, nullptr, ReadDestinationArgument},
    {"FILE=", nullptr, nullptr, ReadFile},
    {"LOG=", "log file", nullptr, ReadLog},
    {"HEARTBEAT=", "heartbeat", nullptr, ReadHeartbeat},
    {"SPOOL=", "spool", nullptr, ReadSpool},
};
const ArgumentRows kLeadingArguments = {kLeadingRows, sizeof kLeadingRows / sizeof kLeadingRows[0]};

// Any other argument is the kind of the first of these texts it contains, as command lines
// have always been read.
const ArgumentRow kContainedRows[] = {
    {"COM", nullptr, nullptr, ReadPort},
    {"SER", nullptr, nullptr, ReadService},
    {"DEST=", nullptr, nullptr, ReadDestinationArgument},
    {"FILE=", nullptr, nullptr, ReadFile},
};
const ArgumentRows kContainedArguments = {kContainedRows,
                                          sizeof kContainedRows / sizeof kContainedRows[0]};

void KeepPort(const PortSetting& port, ArgumentValue& value) {
  size_t length = strnlen(port.name, sizeof value.text - 1);
  memcpy(value.text, port.name, length);
  if (port.hasMode && length + 1 < sizeof value.text) {
    value.text[length++] = '=';
    size_t mode = strnlen(port.mode, sizeof value.text - 1 - length);
    memcpy(value.text + length, port.mode, mode);
    length += mode;
  }
  value.text[length] = '\0';
}

void CopyNumberField(const char* begin, const char* end, char (&to)[kNumberSize + 1]) {
  snprintf(to, sizeof to, "%.*s", static_cast<int>(end - begin), begin);
}

}  // namespace kelvor
