// The command line: each argument is a row (the text it is told apart by) and a reader. The
// reader runs twice with the same code: once as the command line is read, before anything
// runs, with a log that prints nothing and a RunSetup that does nothing, to keep its values
// in its step; then at its turn in start-up (TakeArguments), to say the lines operators know
// and hand its values to the run. Values one argument needs of another (a PIN for each modem,
// the code page for the charset) come from the steps kept by the first reading.
//
// How the arguments are read, as command lines have always been read:
// - An argument that begins with a keyword of the rows in arguments.cpp (DEST=, FILE=, LOG=,
//   HEARTBEAT=, SPOOL=, PIN=, REPLIES=, ESCALATE=, RING=, CHARSET=, CODEPAGE=, PAUSE=,
//   STANDBY=, STANDBY_PIN=) is that kind, whatever else it holds: a path or a tag name may well
//   contain "COM" or "SER".
// - Any other argument is the kind of the first of "COM", "SER", "DEST=" and "FILE=" it
//   contains, case-sensitively; an argument with none of them is passed over silently.
// - Each COM argument makes a new modem, in place of the one an earlier COM argument
//   made. A SERVICE argument sets the service number of the modem made last; before any
//   COM argument it has no effect, and a COM argument after it makes a modem without it.
// - DEST arguments and the lines of the files FILE arguments name (read once, as the command
//   line is read) give at most 31 destinations; each one beyond is passed over with a line.
//   A destination whose specification is incomplete or refused still takes its place.
// - Of a row with a `once` noun the first argument is the one, whether it is taken or
//   refused; a later one is ignored with a line. ESCALATE= and RING= may come many times. The
//   standby and the PINs go with each modem made.
// - Without a COM argument or without a destination the run is the usage text, and its
//   exit status 0; otherwise the exit status is the number of destinations.
//
// A new argument is its row in a table of arguments.cpp and its reader; a reader that wants
// the run to do something new adds an entry to RunSetup.

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "log/log.h"
#include "modem/sms_coding.h"
#include "modem/sms_outbox.h"
#include "platform/serial_mode.h"
#include "routing/destination_list.h"
#include "routing/destination_specification.h"
#include "routing/escalation.h"
#include "routing/wake_up_calls.h"

namespace kelvor {

constexpr uint32_t kDefaultLogKbytes = 1024;
constexpr uint32_t kLongestHeartbeatMinutes = 7 * 24 * 60;  // a week
constexpr size_t kShownPassedOver = 120;  // of a destination passed over, what its line shows

// A table that grows as the command line is read, at start-up only. (std::vector and
// std::string would bring the C++ library's exception classes into kelvor.exe: 100 KB.)
template <typename T>
class Table {
 public:
  T& Add() {
    if (count_ == capacity_) Grow();
    return items_[count_++];
  }
  const T& operator[](size_t index) const { return items_[index]; }
  size_t Count() const { return count_; }

 private:
  void Grow() {
    size_t capacity = capacity_ == 0 ? 8 : capacity_ * 2;
    std::unique_ptr<T[]> items(new T[capacity]);
    for (size_t i = 0; i < count_; ++i) items[i] = std::move(items_[i]);
    items_ = std::move(items);
    capacity_ = capacity;
  }

  std::unique_ptr<T[]> items_;
  size_t count_ = 0;
  size_t capacity_ = 0;
};

// What start-up hands the run, argument by argument: values, never argument text. The run
// says nothing of them itself; each argument's lines are its reader's. The bodies here are
// what the first reading meets: nothing done, everything accepted.
class RunSetup {
 public:
  // A modem on port `name` (null: it opens nothing) with `mode` (null: the port's own), in
  // place of the one made before; `pin` (null: none) goes to the SIM when it asks; the phone
  // rests `pause` ms after each SMS it confirms.
  virtual void MakeModem(const char*, const char*, const char*, uint32_t) {}
  // A standby phone for the modem made last, on port `name` with `mode` and `pin` as above.
  virtual void AddStandby(const char*, const char*, const char*) {}
  virtual void SetServiceNumber(const char*) {}  // for the modem made last; null: none
  virtual void AddDestination(const ParsedDestination&) {}
  virtual void StartHeartbeat(const char*, uint32_t) {}
  virtual void StartSpool(const char*) {}
  virtual void TurnOnReplies() {}
  // Texts read in `codePage` go as `charset` asks; false when the system cannot read that
  // code page, whose letters above 127 then go as '?'.
  virtual bool ChooseCharset(Charset, uint32_t) { return true; }
  virtual Escalation::RuleOutcome AddEscalation(const char*, uint32_t, const char*) {
    return Escalation::kAdded;
  }
  virtual WakeUpCalls::RuleOutcome AddRing(const char*, uint32_t, int) {
    return WakeUpCalls::kAdded;
  }

 protected:
  ~RunSetup() = default;
};

// What a reader made of its argument: taken (refused 0) or the reader's reason for refusing
// it, and its values. Which fields hold what is the reader's to say.
struct ArgumentValue {
  int refused = 0;
  char text[256] = {};  // a path, a port with its mode, a number, a PIN's digits
  char next[kNumberSize] = {};
  uint32_t amount = 0;  // minutes, KB, milliseconds, a code page
  int code = 0;         // a priority, a character set
};

struct Configuration;
struct ArgumentTurn;

// One kind of argument: how it is told apart and its reader.
struct ArgumentRow {
  const char* text;   // the keyword the argument begins with, or the text it contains
  const char* once;   // what a run has one of, as "log file"; null: as many as given
  const char* shown;  // a repeated one's argument as its line shows it; null: as given
  void (*read)(ArgumentTurn& turn);
};

// A table of rows. An argument that begins with the keyword of a row of kLeadingArguments
// (arguments.cpp), kPhoneArguments (phone_arguments.cpp) or kReplyArguments
// (reply_arguments.cpp) is that kind; any other is the kind of the first row of
// kContainedArguments whose text it contains.
struct ArgumentRows {
  const ArgumentRow* rows;
  size_t count;
};
extern const ArgumentRows kLeadingArguments, kPhoneArguments, kReplyArguments, kContainedArguments;

// What start-up does at one argument's turn. A FILE argument has one step for each
// destination its file gives.
struct ArgumentStep {
  enum Turn {
    kTaken,       // taken by its row
    kPassedOver,  // a destination beyond the 31st: passedOver[index]
    kRepeated,    // a keyword argument a run takes once, given again: ignored
  };
  const ArgumentRow* row = nullptr;  // a FILE argument's lines are FILE= steps
  Turn turn = kTaken;
  const char* argument = nullptr;  // as given; kRepeated: as its line may show it
  size_t index = 0;                // a destination's place in the configuration
  ArgumentValue value;             // as its reader read it
};

// A destination beyond the 31st: its text, as far as its line shows it.
struct PassedOver {
  char text[kShownPassedOver + 1] = {};
};

struct Configuration {
  static constexpr size_t kDestinations = DestinationList::kCapacity;

  int argc = 0;               // the program's name included, as start-up counts its arguments
  Table<ArgumentStep> steps;  // in the order of the arguments
  ParsedDestination destinations[kDestinations];
  size_t destinationCount = 0;
  Table<PassedOver> passedOver;

  // The step of the first argument of the row `text` (taken or refused), or of the last when
  // `last`; null without one.
  const ArgumentStep* Find(const char* text, bool last = false) const;
  // No modem or no destination: the run is the usage text.
  bool ShowsUsage() const { return Find("COM") == nullptr || destinationCount == 0; }
  int ExitStatus() const { return ShowsUsage() ? 0 : static_cast<int>(destinationCount); }
};

// An argument in its reader's hands: the same reader reads it as the command line is read
// (`reading` set) and takes it at its turn in start-up.
struct ArgumentTurn {
  const ArgumentRow& row;
  const char* argument;
  const Configuration& c;    // at start-up, as the reading left it
  Configuration* reading;    // the configuration being read; null at start-up
  Log& log;                  // while reading, a log that prints nothing
  RunSetup& run;             // while reading, one that does nothing
  ArgumentValue value = {};  // what the reader reads; kept in the step
  size_t index = 0;          // a destination's place; at start-up, the step's
  ArgumentStep::Turn turn = ArgumentStep::kTaken;
  bool stepless = false;  // the reader added its steps itself, or none

  // The text after a leading keyword.
  const char* Value() const { return argument + strlen(row.text); }
};

// The port STANDBY= gives the modem made last: false without one, or when it was too long
// to be read whole or names the last COM argument's port.
bool StandbyPort(const Configuration& c, PortSetting* standby);

// For a reader: the port as its line shows it ("COM5=9600,N,8,1"), cut to fit.
void KeepPort(const PortSetting& port, ArgumentValue& value);

// For a reader: a step of `row` for `argument`, its destination at `index`.
ArgumentStep& AddStep(Configuration& c, const ArgumentRow& row, const char* argument,
                      size_t index = 0);

// For a reader: the field [begin, end) into `to`, one character more than a number's field
// holds, so that a long one is no number.
void CopyNumberField(const char* begin, const char* end, char (&to)[kNumberSize + 1]);

// Reads argv once, argv[0] being the program's name.
Configuration ReadCommandLine(int argc, const char* const* argv);

// Start-up: each step in the order of the arguments, said on the console as it always was
// and handed to the run.
void TakeArguments(const Configuration& c, Log& log, RunSetup& run);

// The usage text, "SEVICE" and all, of a run without a modem or a destination.
void SayUsage(Log& log);

}  // namespace kelvor
