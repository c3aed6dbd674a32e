#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "routing/destination_file.h"
#include "routing/destination_list.h"

namespace kelvor {
namespace {

bool StartsWith(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

ArgumentStep& AddStep(Configuration& c, ArgumentStep::Kind kind, const char* argument,
                      size_t index) {
  ArgumentStep& step = c.steps.Add();
  step.kind = kind;
  step.argument = argument;
  step.index = index;
  return step;
}

// A destination from a DEST argument or a file line; the text is read in place.
void AddDestination(char* text, const char* argument, Configuration& c) {
  if (c.destinationCount >= Configuration::kDestinations) {
    AddStep(c, ArgumentStep::kPassedOver, argument, c.passedOver.Count());
    PassedOver& passed = c.passedOver.Add();
    snprintf(passed.text, sizeof passed.text, "%s", text);
    return;
  }
  AddStep(c, ArgumentStep::kDestination, argument, c.destinationCount);
  c.destinations[c.destinationCount++] = ParseDestination(text);
}

// The destination's text starts at the argument's first "=", which it keeps. It is cut up
// in place while it is read, so it is read from a copy.
void ReadDestination(const char* argument, Configuration& c) {
  const char* from = strchr(argument, '=');
  size_t size = strlen(from) + 1;
  std::unique_ptr<char[]> text(new char[size]);
  memcpy(text.get(), from, size);
  AddDestination(text.get(), argument, c);
}

// The file's path follows the argument's first "=".
void ReadFile(const char* argument, Configuration& c) {
  class Lines : public SpecificationSink {
   public:
    Lines(const char* argument, Configuration& c) : argument_(argument), c_(c) {}
    void Take(char* specification) override { AddDestination(specification, argument_, c_); }

   private:
    const char* argument_;
    Configuration& c_;
  } lines(argument, c);
  ReadDestinationFile(strchr(argument, '=') + 1, lines);
}

// The last comma of `text`, or null; `length` is what stands before it (all of `text`
// without one). A value after the last comma lets a path or number before it hold commas.
const char* LastComma(const char* text, size_t* length) {
  const char* comma = strrchr(text, ',');
  *length = comma != nullptr ? static_cast<size_t>(comma - text) : strlen(text);
  return comma;
}

void ReadLog(const char* argument, Configuration& c) {
  AddStep(c, ArgumentStep::kLog, argument, 0);
  LogSetting& read = c.log.emplace();
  const char* path = argument + strlen("LOG=");
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

void ReadHeartbeat(const char* argument, Configuration& c) {
  AddStep(c, ArgumentStep::kHeartbeat, argument, 0);
  HeartbeatSetting& read = c.heartbeat.emplace();
  const char* number = argument + strlen("HEARTBEAT=");
  size_t length = 0;
  const char* comma = LastComma(number, &length);
  char copy[kNumberSize + 1];  // one character more than fits, so a long one is refused
  snprintf(copy, sizeof copy, "%.*s", static_cast<int>(length), number);
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

void ReadSpool(const char* argument, Configuration& c) {
  AddStep(c, ArgumentStep::kSpool, argument, 0);
  SpoolSetting& read = c.spool.emplace();
  const char* path = strchr(argument, '=') + 1;
  size_t length = strlen(path);
  if (length == 0) {
    read.outcome = SpoolSetting::kEmpty;
  } else if (length > kSpoolPathSize - 1 - kSpoolSuffixLength) {
    read.outcome = SpoolSetting::kTooLong;
  } else {
    read.outcome = SpoolSetting::kPath;
    memcpy(read.path, path, length + 1);
  }
}

void ReadPin(const char* argument, Configuration& c) {
  AddStep(c, ArgumentStep::kPin, argument, 0);
  PinSetting& read = c.pin.emplace();
  const char* digits = argument + strlen("PIN=");
  if (!IsPin(digits)) return;
  read.fine = true;
  memcpy(read.digits, digits, strlen(digits) + 1);
}

void ReadReplies(const char* argument, Configuration& c) {
  AddStep(c, ArgumentStep::kReplies, argument, 0);
  const char* value = argument + strlen("REPLIES=");
  c.replies.emplace().on = Upper(value[0]) == 'O' && Upper(value[1]) == 'N' && value[2] == '\0';
}

void ReadEscalate(const char* argument, Configuration& c) {
  AddStep(c, ArgumentStep::kEscalate, argument, c.escalations.Count());
  c.escalations.Add() = ParseEscalateArgument(argument);
}

// An argument that begins with one of these keywords is that kind, whatever else it holds.
// A new kind of argument is a row here, with a reader that fills its field of the
// Configuration and adds its step, which start-up carries out.
struct Keyword {
  const char* text;
  void (*read)(const char* argument, Configuration& c);
  const char* once;   // what a run has one of, the first argument giving it; or null
  const char* shown;  // the argument as a line may show it; null: as given
};
constexpr Keyword kKeywords[] = {
    {"DEST=", ReadDestination, nullptr, nullptr},
    {"FILE=", ReadFile, nullptr, nullptr},
    {"LOG=", ReadLog, "log file", nullptr},
    {"HEARTBEAT=", ReadHeartbeat, "heartbeat", nullptr},
    {"SPOOL=", ReadSpool, "spool", nullptr},
    {"PIN=", ReadPin, "PIN", "PIN=****"},
    {"REPLIES=", ReadReplies, "replies", nullptr},
    {"ESCALATE=", ReadEscalate, nullptr, nullptr},
};
constexpr size_t kKeywordCount = sizeof kKeywords / sizeof kKeywords[0];

// Reads an argument that begins with a keyword; false when it begins with none.
bool ReadKeywordArgument(const char* argument, bool (&seen)[kKeywordCount], Configuration& c) {
  for (size_t i = 0; i < kKeywordCount; ++i) {
    const Keyword& keyword = kKeywords[i];
    if (!StartsWith(argument, keyword.text)) continue;
    if (keyword.once != nullptr && seen[i]) {
      const char* shown = keyword.shown != nullptr ? keyword.shown : argument;
      ArgumentStep& step = AddStep(c, ArgumentStep::kRepeated, shown, 0);
      step.keyword = keyword.text;
      step.once = keyword.once;
      return true;
    }
    seen[i] = true;
    keyword.read(argument, c);
    return true;
  }
  return false;
}

// Every other argument, by the first of these texts it contains.
void ReadOtherArgument(const char* argument, Configuration& c) {
  if (strstr(argument, "COM") != nullptr) {
    AddStep(c, ArgumentStep::kPort, argument, c.ports.Count());
    PortArgument& read = c.ports.Add();
    read.tooLong = !ReadPortSetting(argument, &read.port);
  } else if (strstr(argument, "SER") != nullptr) {
    if (c.ports.Count() == 0) return;  // no modem yet to take the number
    AddStep(c, ArgumentStep::kService, argument, c.serviceNumbers.Count());
    c.serviceNumbers.Add() = strchr(argument, '+');
  } else if (strstr(argument, "DEST=") != nullptr) {
    ReadDestination(argument, c);
  } else if (strstr(argument, "FILE=") != nullptr) {
    ReadFile(argument, c);
  }
}

}  // namespace

Configuration ReadCommandLine(int argc, const char* const* argv) {
  Configuration c;
  c.argc = argc;
  bool seen[kKeywordCount] = {};
  for (int i = 1; i < argc; ++i) {
    if (!ReadKeywordArgument(argv[i], seen, c)) ReadOtherArgument(argv[i], c);
  }
  return c;
}

}  // namespace kelvor
