// The modems, destinations, log file, heartbeat and spool: each a row (at the end) and its
// reader (command_line.h); the phone's settings in phone_arguments.cpp, replies in reply_*.
#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "app/heartbeat.h"
#include "app/spool.h"
#include "log/log_file.h"
#include "modem/phone_number.h"
#include "platform/text.h"
#include "routing/destination_file.h"

namespace kelvor {
namespace {

const char* PinOf(const ArgumentStep* pin) {
  return pin != nullptr && pin->value.refused == 0 ? pin->value.text : nullptr;
}

// COMx=mode: a modem on that port, in place of any made before, with PIN=, PAUSE= and the
// standby with its PIN wherever they stand.
void ReadPort(ArgumentTurn& t) {
  PortSetting port = {};
  t.value.refused = !ReadPortSetting(t.argument, &port);
  if (t.value.refused) {
    // A cut argument could open the wrong port or set half a mode: nothing is opened.
    t.log.LogMessage(Colour::kError, "COM argument too long - %.40s...\r\n", t.argument);
  }
  const ArgumentStep* pause = t.c.Find(kPauseKeyword);
  t.run.MakeModem(t.value.refused ? nullptr : port.name, port.hasMode ? port.mode : nullptr,
                  PinOf(t.c.Find(kPinKeyword)),
                  pause ? pause->value.amount : kDefaultPauseAfterSend);
  if (!StandbyPort(t.c, &port)) return;
  const ArgumentStep* share = t.c.Find(kShareKeyword);
  t.run.AddStandby(port.name, port.hasMode ? port.mode : nullptr,
                   PinOf(t.c.Find(kStandbyPinKeyword)), share && !share->value.refused);
}

// SERVICE=+nnn: the service centre's number, from its "+" on (refused 1 without).
void ReadService(ArgumentTurn& t) {
  t.stepless = t.reading != nullptr && t.c.Find("COM") == nullptr;  // no modem to take it
  const char* number = strchr(t.argument, '+');
  t.value.refused = number == nullptr;
  snprintf(t.value.text, sizeof t.value.text, "%s", number != nullptr ? number : "");
  t.run.SetServiceNumber(number);  // the modem says what it holds
}

// A destination from a DEST argument or a file line, read in place from `text`; 31 at most.
void AddDestination(ArgumentTurn& t, char* text) {
  Configuration& c = *t.reading;
  bool full = c.destinationCount >= Configuration::kDestinations;
  t.turn = full ? ArgumentStep::kPassedOver : ArgumentStep::kTaken;
  if (full) snprintf(t.value.text, kShownPassedOver + 1, "%s", text);
  if (!full) c.destinations[t.index = c.destinationCount++] = ParseDestination(text);
}

// DEST=specification: read from a copy from its first "=" on, as it is cut up in place.
// FILE=path: each line of the file a step of its own. At its turn a destination takes its
// place, said or refused.
void ReadDestinations(ArgumentTurn& t) {
  struct Lines : SpecificationSink {
    explicit Lines(ArgumentTurn& turn) : t(turn) {}
    void Take(char* line) override {
      AddDestination(t, line);
      t.reading->steps.Add() = {&t.row, t.turn, t.argument, t.index, t.value};
    }
    ArgumentTurn& t;
  };
  const char* from = strchr(t.argument, '=');
  if (t.reading != nullptr && strcmp(t.row.text, "FILE=") == 0) {
    Lines lines(t);
    ReadDestinationFile(from + 1, lines);
    t.stepless = true;
  } else if (t.reading != nullptr) {
    std::unique_ptr<char[]> text(new char[strlen(from) + 1]);
    memcpy(text.get(), from, strlen(from) + 1);
    AddDestination(t, text.get());
  } else if (t.turn == ArgumentStep::kPassedOver) {
    // Cut so that even a file line of 253 characters keeps its line end.
    t.log.Print("Destination list full (%d), ignoring %.120s\r\n", DestinationList::kCapacity,
                t.value.text);
  } else {
    ReportDestination(t.c.destinations[t.index], t.log);
    t.run.AddDestination(t.c.destinations[t.index]);
  }
}

// LOG=path[,kbytes], opened before the first line (kelvor_main.cpp).
void ReadLog(ArgumentTurn& t) {
  LogArgument read = ReadLogArgument(t.Value());
  ArgumentValue& v = t.value;
  v = {read.refused, {}, {}, read.kbytes, 0};
  snprintf(v.text, sizeof v.text, "%s", read.path);
  if (v.refused == 1) {
    t.log.LogMessage(Colour::kError, "Bad log file path - 1 to %d characters: %.60s; no log file",
                     static_cast<int>(kLogPathSize - 1), t.argument);
  } else if (v.refused == 2) {
    t.log.LogMessage(Colour::kError, "Bad log file size - 1 to %u KB: %.60s; no log file",
                     kLargestLogKbytes, t.argument);
  } else {
    t.log.LogMessage(Colour::kNormal, "Log file %s, renamed to %s.1 at %u KB", v.text, v.text,
                     v.amount);
  }
}

// HEARTBEAT=number,minutes: a number as a destination's, 1 to 10080 minutes.
void ReadHeartbeat(ArgumentTurn& t) {
  HeartbeatValues read = ReadHeartbeatValues(t.Value());
  ArgumentValue& v = t.value;
  v = {read.refused, {}, {}, read.minutes, 0};
  memcpy(v.text, read.number, sizeof read.number);
  if (v.refused == 1) {
    t.log.LogMessage(Colour::kError,
                     "Bad heartbeat number %s - 1 to %d characters, no quote, CR, LF, Ctrl-Z or "
                     "ESC; no heartbeat",
                     v.text, static_cast<int>(kNumberSize - 1));
  } else if (v.refused == 2) {
    t.log.LogMessage(Colour::kError,
                     "Bad heartbeat minutes - HEARTBEAT=number,minutes with 1 to %u minutes: "
                     "%.60s; no heartbeat",
                     kLongestHeartbeatMinutes, t.argument);
  } else {
    t.run.StartHeartbeat(v.text, v.amount);
    t.log.LogMessage(Colour::kNormal, "Heartbeat SMS to %s every %u min", v.text, v.amount);
  }
}

// SPOOL=path: refused 1 when empty, 2 when too long.
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
    {"DEST=", nullptr, nullptr, ReadDestinations},
    {"FILE=", nullptr, nullptr, ReadDestinations},
    {kLogKeyword, "log file", nullptr, ReadLog},
    {"HEARTBEAT=", "heartbeat", nullptr, ReadHeartbeat},
    {"SPOOL=", "spool", nullptr, ReadSpool},
};
const ArgumentRows kLeadingArguments = Rows(kLeadingRows);

// Any other argument is the kind of the first of these texts it contains, as command lines
// have always been read.
const ArgumentRow kContainedRows[] = {
    {"COM", nullptr, nullptr, ReadPort},
    {"SER", nullptr, nullptr, ReadService},
    {"DEST=", nullptr, nullptr, ReadDestinations},
    {"FILE=", nullptr, nullptr, ReadDestinations},
};
const ArgumentRows kContainedArguments = Rows(kContainedRows);

}  // namespace kelvor
