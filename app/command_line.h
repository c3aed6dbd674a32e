// The command line. Each kind of argument is a row (the text it is told apart by) and a
// reader, run twice: as the command line is read (a silent log, a RunSetup doing nothing) to
// keep its values in its step, then at its turn in start-up to say its lines and hand its
// values to the run. What it needs of another argument (the PIN for each modem) it finds
// among the steps. As command lines have always been read:
// - An argument that begins with a row's keyword is that kind, whatever else it holds (a path
//   may well contain "COM"). Any other is the kind of the first of "COM", "SER", "DEST=" and
//   "FILE=" it contains; with none, it is passed over silently.
// - Each COM argument makes a new modem in place of the last; PIN=, PAUSE= and the standby go
//   with each. A SERVICE argument sets the number of the modem made last, if there is one.
// - DEST arguments and FILE arguments' lines give at most 31 destinations, refused or not;
//   each one beyond is passed over with a line. Of a row with a `once` noun the first
//   argument is the one; a later one is ignored, said.
// - Without a COM argument or a destination the run is the usage text, exit status 0;
//   otherwise the exit status is the number of destinations.

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
#include "routing/duty_hours.h"
#include "routing/escalation.h"
#include "routing/wake_up_calls.h"

namespace kelvor {

// The keywords of the rows whose values other arguments look up.
constexpr char kLogKeyword[] = "LOG=";
constexpr char kPinKeyword[] = "PIN=";
constexpr char kPauseKeyword[] = "PAUSE=";
constexpr char kCharsetKeyword[] = "CHARSET=";
constexpr char kCodePageKeyword[] = "CODEPAGE=";
constexpr char kStandbyKeyword[] = "STANDBY=";
constexpr char kStandbyPinKeyword[] = "STANDBY_PIN=";
constexpr char kShareKeyword[] = "SHARE=";
constexpr size_t kShownPassedOver = 120;  // of a destination passed over, what its line shows

// A table that grows as the command line is read, at start-up only. (std::vector and
// std::string would bring the C++ library's exception classes into kelvor.exe: 100 KB.)
template <typename T>
class Table {
 public:
  T& Add() {
    if (count_ == capacity_) {
      capacity_ = capacity_ == 0 ? 8 : capacity_ * 2;
      std::unique_ptr<T[]> items(new T[capacity_]);
      for (size_t i = 0; i < count_; ++i) items[i] = std::move(items_[i]);
      items_ = std::move(items);
    }
    return items_[count_++];
  }
  const T& operator[](size_t index) const { return items_[index]; }
  size_t Count() const { return count_; }

 private:
  std::unique_ptr<T[]> items_;
  size_t count_ = 0;
  size_t capacity_ = 0;
};

// What start-up hands the run: values, never argument text. The first reading meets these
// bodies: nothing done, everything accepted ({} is each outcome's kAdded).
class RunSetup {
 public:
  // A modem on port `name` (null: it opens nothing) with `mode` (null: the port's own), in
  // place of the one made before; `pin` (null: none) goes to the SIM when it asks; the phone
  // rests `pause` ms after each SMS it confirms.
  virtual void MakeModem(const char*, const char*, const char*, uint32_t) {}
  // A standby for the modem made last: port `name`, `mode`, `pin` as above; `share`: SHARE=ON.
  virtual void AddStandby(const char*, const char*, const char*, bool) {}
  virtual void SetServiceNumber(const char*) {}  // for the modem made last; null: none
  virtual void AddDestination(const ParsedDestination&) {}
  virtual void StartHeartbeat(const char*, uint32_t) {}
  virtual void StartSpool(const char*) {}
  virtual void TurnOnReplies() {}
  // Texts read in `codePage` go as `charset` asks; false when the system cannot read that
  // code page, whose letters above 127 then go as '?'.
  virtual bool ChooseCharset(Charset, uint32_t) { return true; }
  virtual void AskReports(uint32_t) {}  // every SMS asks for a status report, valid minutes
  virtual Escalation::RuleOutcome AddEscalation(const char*, uint32_t, const char*) { return {}; }
  virtual WakeUpCalls::RuleOutcome AddRing(const char*, uint32_t, int) { return {}; }
  virtual DutyRoster::Outcome AddHours(const char*, const DutySchedule&) { return {}; }
  virtual DutyRoster::Outcome AddHoliday(int32_t) { return {}; }

 protected:
  ~RunSetup() = default;
};

// What a reader made of its argument: refused 0 (taken) or its reason, and its values.
struct ArgumentValue {
  int refused = 0;
  char text[256] = {};  // a path, a number, a PIN's digits
  char next[kNumberSize] = {};
  uint32_t amount = 0;  // minutes, KB, milliseconds, a code page
  int code = 0;         // a priority, a character set
};

struct ArgumentTurn;

struct ArgumentRow {
  const char* text;   // the keyword the argument begins with, or the text it contains
  const char* once;   // what a run has one of, as "log file"; null: as many as given
  const char* shown;  // a repeated one's argument as its line shows it; null: as given
  void (*read)(ArgumentTurn& turn);
};

// Rows told apart by their keywords, or (kContainedArguments) by the first text an argument holds.
struct ArgumentRows {
  const ArgumentRow* rows;
  size_t count;
};
template <size_t count>
constexpr ArgumentRows Rows(const ArgumentRow (&rows)[count]) {
  return {rows, count};
}
extern const ArgumentRows kLeadingArguments, kPhoneArguments, kReplyArguments, kContainedArguments;

// One argument's turn in start-up; a FILE argument has one for each line of its file.
struct ArgumentStep {
  enum Turn {
    kTaken,       // taken by its row
    kPassedOver,  // a destination beyond the 31st, its text in value.text
    kRepeated,    // a keyword argument a run takes once, given again: ignored
  };
  const ArgumentRow* row = nullptr;
  Turn turn = kTaken;
  const char* argument = nullptr;  // as given; kRepeated: as its line may show it
  size_t index = 0;                // a destination's place in the configuration
  ArgumentValue value;
};

struct Configuration {
  static constexpr size_t kDestinations = DestinationList::kCapacity;

  int argc = 0;               // the program's name included, as start-up counts its arguments
  Table<ArgumentStep> steps;  // in the order of the arguments
  ParsedDestination destinations[kDestinations];
  size_t destinationCount = 0;

  // The first step of the row `text` taken (or refused), or the last when `last`; or null.
  // A reader names another's row by its keyword constant, which the row is made of.
  const ArgumentStep* Find(const char* text, bool last = false) const;
  bool ShowsUsage() const { return Find("COM") == nullptr || destinationCount == 0; }
  int ExitStatus() const { return ShowsUsage() ? 0 : static_cast<int>(destinationCount); }
};

// An argument in its reader's hands, as the command line is read (`reading`) or at start-up.
struct ArgumentTurn {
  const ArgumentRow& row;
  const char* argument;
  const Configuration& c;    // at start-up, as the reading left it
  Configuration* reading;    // the configuration being read; null at start-up
  Log& log;                  // while reading, a log that prints nothing
  RunSetup& run;             // while reading, one that does nothing
  ArgumentValue value = {};  // kept in the step
  size_t index = 0;          // a destination's place; at start-up, the step's
  ArgumentStep::Turn turn = ArgumentStep::kTaken;
  bool stepless = false;  // the reader added its steps itself, or wants none

  const char* Value() const { return argument + strlen(row.text); }  // after the keyword
};

// For readers. The port STANDBY= gives the modem made last: false without one, when it was
// refused or names the last COM argument's port.
bool StandbyPort(const Configuration& c, PortSetting* standby);

// Reads argv, argv[0] being the program's name; then start-up takes each step in turn.
Configuration ReadCommandLine(int argc, const char* const* argv);
void ApplyArguments(const Configuration& c, Log& log, RunSetup& run);

// The usage text, "SEVICE" and all, of a run without a modem or a destination.
void SayUsage(Log& log);

}  // namespace kelvor
