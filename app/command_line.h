// The command line, read once into a configuration before anything runs: what each
// argument asks for, with its values or the reason it is refused, in the order the
// arguments came. Reading prints nothing; start-up then takes each argument at its turn
// (TakeArguments): its row says the lines operators know and hands its values to the run.
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
// - DEST arguments and the lines of the files FILE arguments name (read here, in the order
//   of the arguments) give at most 31 destinations; each one beyond is passed over with a
//   line. A destination whose specification is incomplete or refused still takes its place.
// - Of LOG=, HEARTBEAT=, SPOOL=, PIN=, REPLIES=, CHARSET=, CODEPAGE=, PAUSE=, STANDBY= and
//   STANDBY_PIN= the first argument is the one, whether it is taken or refused; a later one
//   is ignored with a line. ESCALATE= and RING= may come many times. The standby and its PIN go
//   with each modem made, as PIN= does.
// - Without a COM argument or without a destination the run is the usage text, and its
//   exit status 0; otherwise the exit status is the number of destinations.
//
// A new argument is its value here (a setting and its field of the Configuration), its row
// in arguments.cpp with its reader and its take, and, when the run is to do something new
// with the value, a call of RunSetup.

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "app/spool.h"
#include "log/log.h"
#include "log/log_file.h"
#include "modem/sim_pin.h"
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

// A COM argument: the port and its mode, unless it is too long to be read whole.
struct PortArgument {
  bool tooLong = false;
  PortSetting port = {};
};

// LOG=path[,kbytes]. The size is the text after the last comma, so a path that holds a
// comma must give the size as well. The path holds 1 to 253 characters, the size is a whole
// number of KB from 1 to 1048576.
struct LogSetting {
  enum Outcome { kFine, kBadPath, kBadSize };
  Outcome outcome = kFine;
  char path[kLogPathSize] = {};  // empty unless kFine
  uint32_t kbytes = kDefaultLogKbytes;
};

// HEARTBEAT=number,minutes. The number passes the checks of a destination's number (not
// empty, at most 31 characters, nothing that would break the AT command); the minutes,
// after the last comma, are a whole number from 1 to 10080.
struct HeartbeatSetting {
  enum Outcome { kFine, kBadNumber, kBadMinutes };
  Outcome outcome = kFine;
  char number[kNumberSize] = {};  // kFine: as given; kBadNumber: cut to fit, printable
  uint32_t minutes = 0;
};

// A destination beyond the 31st: its text, as far as its line shows it.
struct PassedOver {
  char text[kShownPassedOver + 1] = {};
};

// SPOOL=path, the path of at most 255 characters.
struct SpoolSetting {
  enum Outcome { kPath, kEmpty, kTooLong };
  Outcome outcome = kEmpty;
  char path[kSpoolPathSize] = {};
};

// STANDBY=COMx=mode: the standby phone's port and its mode, read as a COM argument's.
struct StandbySetting {
  bool tooLong = false;
  PortSetting port = {};
};

// PIN=nnnn (and STANDBY_PIN=nnnn), a SIM's PIN: 4 to 8 digits. No line ever shows it, nor
// the argument.
struct PinSetting {
  bool fine = false;
  char digits[kLongestPin + 1] = {};  // empty unless fine
};

// PAUSE=seconds: the phone's rest after each SMS it confirms, 0 to 60 seconds with at most
// one digit of tenths ("0", "0.5", "60"). Refused, the pause stays a second.
struct PauseSetting {
  bool fine = false;
  uint32_t milliseconds = kDefaultPauseAfterSend;  // kDefaultPauseAfterSend unless fine
};

// REPLIES=ON: the SMS that reach the phone are read (as with any ESCALATE= rule taken).
// Anything else after the "=" is refused.
struct RepliesSetting {
  bool on = false;
};

// CHARSET=AUTO, GSM or UCS2, in any case: how texts go to the phone. Anything else is
// refused, and texts go as they are, as without it.
struct CharsetSetting {
  bool fine = false;
  Charset charset = Charset::kAsGiven;
};

// CODEPAGE=number: the code page of the texts of the SCADA database, 1 to 65535; without it
// the node's own (SystemCodePage). It counts only with CHARSET=.
struct CodePageSetting {
  bool fine = false;
  uint32_t number = 0;
};

// An ESCALATE=number,minutes,next argument: exactly three fields, its values as the
// escalation's rule takes them (CheckRuleValues).
struct EscalateArgument {
  enum Outcome { kFine, kBadNumber, kBadMinutes, kBadNext, kBadFields };
  Outcome outcome = kBadFields;
  // As the argument gives them, cut to fit; shown with control bytes and quotes as '?'
  // when refused.
  char number[kNumberSize] = {};
  uint32_t minutes = 0;
  char next[kNumberSize] = {};
};

// A RING=+number,minutes[,priority] argument: two or three fields, its values as the wake-up
// calls' rule takes them (CheckRingValues); the priority H, M or L, L when not given.
struct RingArgument {
  enum Outcome { kFine, kBadNumber, kBadMinutes, kBadPriority, kBadFields };
  Outcome outcome = kBadFields;
  char number[kNumberSize] = {};  // as EscalateArgument's
  uint32_t minutes = 0;
  int priority = -1;  // 0 high, 1 medium, 2 low; -1 when not H, M or L
};

// What start-up hands the run, argument by argument: values, never argument text. The run
// says nothing of them itself; each argument's lines are its row's (arguments.cpp).
class RunSetup {
 public:
  // A modem on port `name` (null: it opens nothing) with `mode` (null: the port's own), in
  // place of the one made before; `pin` (null: none) goes to the SIM when it asks; the phone
  // rests `pause` ms after each SMS it confirms.
  virtual void MakeModem(const char* name, const char* mode, const char* pin, uint32_t pause) = 0;
  // A standby phone for the modem made last, on port `name` with `mode` and `pin` as above;
  // it rests as the main phone does.
  virtual void AddStandby(const char* name, const char* mode, const char* pin) = 0;
  // For the modem made last; null: none given.
  virtual void SetServiceNumber(const char* number) = 0;
  virtual void AddDestination(const ParsedDestination& read) = 0;
  virtual void StartHeartbeat(const char* number, uint32_t minutes) = 0;
  virtual void StartSpool(const char* path) = 0;
  virtual void TurnOnReplies() = 0;
  // Texts read in `codePage` go as `charset` asks; false when the system cannot read that
  // code page, whose letters above 127 then go as '?'.
  virtual bool ChooseCharset(Charset charset, uint32_t codePage) = 0;
  virtual Escalation::RuleOutcome AddEscalation(const char* number, uint32_t minutes,
                                                const char* next) = 0;
  virtual WakeUpCalls::RuleOutcome AddRing(const char* number, uint32_t minutes, int priority) = 0;

 protected:
  ~RunSetup() = default;
};

struct Configuration;
struct ArgumentStep;

// One kind of argument: how it is told apart, its reader, and what start-up says and does at
// its turn.
struct ArgumentRow {
  const char* text;   // the keyword the argument begins with, or the text it contains
  const char* once;   // what a run has one of, as "log file"; null: as many as given
  const char* shown;  // a repeated one's argument as its line shows it; null: as given
  // Fills the argument's values in `c` and adds its step (a FILE argument: one a line).
  void (*read)(const ArgumentRow& row, const char* argument, Configuration& c);
  // At the step's turn: its lines on the console, its values handed to `run`.
  void (*take)(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup& run);
};

// The rows of the arguments told apart by the keyword they begin with, and of those told
// apart by the first of their texts they contain, in that order ("COM", "SER", "DEST=",
// "FILE=").
struct ArgumentRows {
  const ArgumentRow* const* rows;
  size_t count;
};
ArgumentRows LeadingKeywords();
ArgumentRows ContainedTexts();
// The rows of the phone's own settings, in phone_arguments.cpp.
extern const ArgumentRow kPinArgument;
extern const ArgumentRow kPauseArgument;
extern const ArgumentRow kCharsetArgument;
extern const ArgumentRow kCodePageArgument;
extern const ArgumentRow kStandbyArgument;
extern const ArgumentRow kStandbyPinArgument;
// The rows of the phone answering back, in reply_arguments.cpp.
extern const ArgumentRow kRepliesArgument;
extern const ArgumentRow kEscalateArgument;
extern const ArgumentRow kRingArgument;
// The port STANDBY= gives the modem made last: null without one, or when it was too long to
// be read whole or names the last COM argument's port.
const PortSetting* StandbyPort(const Configuration& c);

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
  size_t index = 0;                // where the configuration holds several of its kind
};

struct Configuration {
  static constexpr size_t kDestinations = DestinationList::kCapacity;

  int argc = 0;               // the program's name included, as start-up counts its arguments
  Table<ArgumentStep> steps;  // in the order of the arguments

  Table<PortArgument> ports;
  Table<const char*> serviceNumbers;  // from the argument's "+" on, or null: none
  ParsedDestination destinations[kDestinations];
  size_t destinationCount = 0;
  Table<PassedOver> passedOver;
  // Each from the first argument that gives it, taken or refused; empty without one.
  std::optional<LogSetting> log;
  std::optional<HeartbeatSetting> heartbeat;
  std::optional<SpoolSetting> spool;
  std::optional<PinSetting> pin;
  std::optional<StandbySetting> standby;
  std::optional<PinSetting> standbyPin;
  std::optional<RepliesSetting> replies;
  std::optional<CharsetSetting> charset;
  std::optional<CodePageSetting> codePage;
  std::optional<PauseSetting> pause;
  Table<EscalateArgument> escalations;  // each ESCALATE= argument, in order
  Table<RingArgument> rings;            // each RING= argument, in order

  // No modem or no destination: the run is the usage text.
  bool ShowsUsage() const { return ports.Count() == 0 || destinationCount == 0; }
  int ExitStatus() const { return ShowsUsage() ? 0 : static_cast<int>(destinationCount); }
};

// For a row's reader: a step of `row` for `argument`, its value at `index` where the
// configuration holds several of its kind.
ArgumentStep& AddStep(Configuration& c, const ArgumentRow& row, const char* argument,
                      size_t index = 0);

// For a row's reader: the field [begin, end) into `to`, one character more than a number's
// field holds, so that a long one is no number.
void CopyNumberField(const char* begin, const char* end, char (&to)[kNumberSize + 1]);

// Reads argv once, argv[0] being the program's name.
Configuration ReadCommandLine(int argc, const char* const* argv);

// Start-up: each step in the order of the arguments, said on the console as it always was
// and handed to the run.
void TakeArguments(const Configuration& c, Log& log, RunSetup& run);

// The usage text, "SEVICE" and all, of a run without a modem or a destination.
void SayUsage(Log& log);

}  // namespace kelvor
