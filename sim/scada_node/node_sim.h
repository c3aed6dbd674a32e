// The state of a simulated SCADA node and everything that changes it: the four requests of
// the program, and the control commands that tests, scenarios and demos send.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "scada/alarm_record.h"

namespace kelvor::sim {

// An answer of the alarm user queue: a record (status 0) or a bare status.
struct QueueEntry {
  int32_t status = 0;
  AlarmRecord record{};
};

// A field of a database block. Numeric fields (set as numbers) also read as text.
struct TagValue {
  std::string text;
  bool numeric = false;
  float number = 0;
};

// The status of a tag read of a block or field the node does not hold.
constexpr int32_t kNoSuchTag = 1;

struct NodeState {
  std::deque<QueueEntry> queue;
  std::map<std::string, TagValue> tags;  // keyed "node|tag|field"
  int32_t running = 1;
  bool shutDown = false;  // alarm reads answer 1964 from now on
  bool muted = false;     // the program's requests get no answer
  bool stopRequested = false;

  static std::string Key(const std::string& node, const std::string& tag,
                         const std::string& field) {
    return node + "|" + tag + "|" + field;
  }
};

// A parsed control command, applied later (a scenario line) or at once (a control request).
// It returns its answer: "OK" or "OK <value>".
using Command = std::function<std::string(NodeState&)>;

// Parses a control command line. False with a reason in `error` when it is not one.
bool ParseCommand(const std::string& line, Command* command, std::string* error);

// What the server does with a line.
enum class Reply {
  kAnswer,  // send the answer
  kSilent,  // send nothing (the node is muted)
};

// Answers one line (without its line feed) from a connection: a request of the program, or
// a control command. Errors answer "ERROR <percent-encoded reason>". `isRequest` tells which
// kind the line was.
Reply HandleLine(NodeState& state, const char* line, size_t length, std::string* answer,
                 bool* isRequest);

// A short readable form of an answer for the log (records shown by their fields).
std::string DescribeAnswer(const std::string& answer);

// One timed line of a scenario file.
struct ScenarioEvent {
  uint32_t atMs = 0;  // from the start of the scenario
  int lineNumber = 0;
  std::string text;
  Command command;
};

// Parses a scenario (the file's text). False with "line N: reason" in `error`.
bool ParseScenario(const std::string& text, std::vector<ScenarioEvent>* events, std::string* error);

// Splits a command line into words: blanks separate them, double quotes keep blanks inside
// a word, "%XX" stands for the byte XX. False on an unterminated quote.
bool SplitWords(const std::string& line, std::vector<std::string>* words);

}  // namespace kelvor::sim
