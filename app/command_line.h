// The command line, read once into a configuration before anything runs: what each
// argument asks for, with its values or the reason it is refused, in the order the
// arguments came. Reading prints nothing; start-up then reports each argument at its turn,
// with the lines operators know, and builds the run from the values.
//
// How the arguments are read, as command lines have always been read:
// - An argument that begins with a keyword of the table in command_line.cpp (DEST=, FILE=,
//   LOG=, HEARTBEAT=, SPOOL=, PIN=, REPLIES=, ESCALATE=) is that kind, whatever else it
//   holds: a path or a tag name may well contain "COM" or "SER".
// - Any other argument is the kind of the first of "COM", "SER", "DEST=" and "FILE=" it
//   contains, case-sensitively; an argument with none of them is passed over silently.
// - Each COM argument makes a new modem, in place of the one an earlier COM argument
//   made. A SERVICE argument sets the service number of the modem made last; before any
//   COM argument it has no effect, and a COM argument after it makes a modem without it.
// - DEST arguments and the lines of the files FILE arguments name (read here, in the order
//   of the arguments) give at most 31 destinations; each one beyond is passed over with a
//   line. A destination whose specification is incomplete or refused still takes its place.
// - Of LOG=, HEARTBEAT=, SPOOL=, PIN= and REPLIES= the first argument is the one, whether it
//   is taken or refused; a later one is ignored with a line. ESCALATE= may come many times.
// - Without a COM argument or without a destination the run is the usage text, and its
//   exit status 0; otherwise the exit status is the number of destinations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "app/replies.h"
#include "app/spool.h"
#include "log/log_file.h"
#include "modem/sim_pin.h"
#include "modem/sms_outbox.h"
#include "platform/serial_mode.h"
#include "routing/destination_list.h"
#include "routing/destination_specification.h"

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

// PIN=nnnn, the SIM's PIN: 4 to 8 digits. No line ever shows it, nor the argument.
struct PinSetting {
  bool fine = false;
  char digits[kLongestPin + 1] = {};  // empty unless fine
};

// REPLIES=ON: the SMS that reach the phone are read (as with any ESCALATE= rule taken).
// Anything else after the "=" is refused.
struct RepliesSetting {
  bool on = false;
};

// What start-up does at one argument's turn. A FILE argument has one step for each
// destination its file gives.
struct ArgumentStep {
  enum Kind {
    kPort,         // a new modem on ports[index]
    kService,      // serviceNumbers[index] for the modem made last
    kDestination,  // destinations[index]
    kPassedOver,   // passedOver[index]: a destination beyond the 31st
    kLog,          // the configuration's log, heartbeat or spool
    kHeartbeat,
    kSpool,
    kPin,
    kReplies,
    kEscalate,  // escalations[index]
    kRepeated,  // a keyword argument a run takes once, given again: ignored
  };
  Kind kind = kPort;
  const char* argument = nullptr;  // the argument as given (kRepeated: as it may be shown)
  size_t index = 0;
  const char* keyword = nullptr;  // kRepeated: the keyword, as "LOG="
  const char* once = nullptr;     // kRepeated: what a run has one of, as "log file"
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
  std::optional<RepliesSetting> replies;
  Table<EscalateArgument> escalations;  // each ESCALATE= argument, in order

  // No modem or no destination: the run is the usage text.
  bool ShowsUsage() const { return ports.Count() == 0 || destinationCount == 0; }
  int ExitStatus() const { return ShowsUsage() ? 0 : static_cast<int>(destinationCount); }
};

// Reads argv once, argv[0] being the program's name.
Configuration ReadCommandLine(int argc, const char* const* argv);

}  // namespace kelvor
