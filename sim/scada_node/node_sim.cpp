#include "node_sim.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "alarm_record_writer.h"
#include "node_protocol_server.h"
#include "scada/scada.h"

namespace kelvor::sim {
namespace {

using node::HexValue;

std::string Upper(std::string word) {
  for (char& c : word) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return word;
}

bool ParseInt(const std::string& text, long min, long max, int32_t* value) {
  if (text.empty() || text.size() > 11) return false;
  char* end = nullptr;
  long parsed = strtol(text.c_str(), &end, 10);
  if (*end != '\0' || parsed < min || parsed > max) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

bool ParseAreas(const std::string& value, uint16_t* mask) {
  std::string upper = Upper(value);
  if (upper == "ALL") return *mask = 0xFFFF, true;
  if (upper == "NONE") return *mask = 0, true;
  *mask = 0;
  for (char c : upper) {
    if (c < 'A' || c > 'P') return false;
    *mask = static_cast<uint16_t>(*mask | 1u << (c - 'A'));
  }
  return !upper.empty();
}

bool ParsePriority(const std::string& value, int32_t* priority) {
  static const char* const kNames[] = {"HIGH", "MEDIUM", "LOW"};
  for (int i = 0; i < 3; ++i) {
    if (Upper(value) == kNames[i]) return *priority = i, true;
  }
  return ParseInt(value, -128, 127, priority);
}

bool ParseStatusCode(const std::string& value, int32_t* code) {
  for (int i = 0; i <= 16; ++i) {
    if (Upper(value) == StatusName(i)) return *code = i, true;
  }
  return ParseInt(value, -128, 127, code);
}

bool ParseClockTime(const std::string& value, int32_t* hour, int32_t* minute) {
  size_t colon = value.find(':');
  return colon != std::string::npos && ParseInt(value.substr(0, colon), 0, 23, hour) &&
         ParseInt(value.substr(colon + 1), 0, 59, minute);
}

// PUSH <node> <tag> [key=value...]: an alarm record built field by field.
bool ParsePush(const std::vector<std::string>& words, Command* command, std::string* error) {
  if (words.size() < 3) return *error = "PUSH needs a node and a tag", false;
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  int32_t day = local.tm_mday, hour = local.tm_hour, minute = local.tm_min;
  int32_t priority = 0, status = 3, routing = 1;
  uint16_t areas = 1;
  std::string text;
  bool haveText = false;
  namespace at = record_layout;
  if (words[1].size() > at::kNodeNameWidth) return *error = "node name longer than 10", false;
  if (words[2].size() > at::kTagNameWidth) return *error = "tag name longer than 31", false;
  for (size_t i = 3; i < words.size(); ++i) {
    size_t equals = words[i].find('=');
    std::string key = Upper(words[i].substr(0, equals));
    std::string value = equals == std::string::npos ? "" : words[i].substr(equals + 1);
    bool ok = equals != std::string::npos;
    if (!ok) {
    } else if (key == "AREAS") {
      ok = ParseAreas(value, &areas);
    } else if (key == "PRIORITY") {
      ok = ParsePriority(value, &priority);
    } else if (key == "STATUS") {
      ok = ParseStatusCode(value, &status);
    } else if (key == "ROUTING") {
      ok = ParseInt(value, 0, 255, &routing);
    } else if (key == "DAY") {
      ok = ParseInt(value, -128, 127, &day);
    } else if (key == "TIME") {
      ok = ParseClockTime(value, &hour, &minute);
    } else if (key == "TEXT") {
      ok = value.size() <= at::kAlarmTextWidth;
      text = value;
      haveText = true;
    } else {
      ok = false;
    }
    if (!ok) return *error = "bad PUSH setting: " + words[i], false;
  }
  if (!haveText) text = words[2] + " " + StatusName(status);
  AlarmFields fields;
  fields.areas = areas;
  fields.text = text.c_str();  // cut to its field by the writer
  fields.routing = static_cast<uint8_t>(routing);
  fields.tag = words[2].c_str();
  fields.node = words[1].c_str();
  fields.day = static_cast<int8_t>(day);
  fields.hour = static_cast<int8_t>(hour);
  fields.minute = static_cast<int8_t>(minute);
  fields.priority = static_cast<int8_t>(priority);
  fields.status = static_cast<int8_t>(status);
  AlarmRecord record = MakeAlarmRecord(fields);
  *command = [record](NodeState& state) {
    state.queue.push_back({0, record});
    return "OK " + std::to_string(state.queue.size());
  };
  return true;
}

bool ParsePushRaw(const std::vector<std::string>& words, Command* command, std::string* error) {
  AlarmRecord record{};
  node::FieldReader reader(words.size() == 2 ? words[1].data() : "",
                           words.size() == 2 ? words[1].size() : 0);
  if (!reader.Record(&record)) return *error = "PUSHRAW needs 392 hexadecimal digits", false;
  *command = [record](NodeState& state) {
    state.queue.push_back({0, record});
    return "OK " + std::to_string(state.queue.size());
  };
  return true;
}

// TAG <node> <tag> FIELD=value...: a field whose name starts with F_ holds a number.
bool ParseTag(const std::vector<std::string>& words, Command* command, std::string* error) {
  if (words.size() < 4) return *error = "TAG needs a node, a tag and FIELD=value", false;
  std::vector<std::pair<std::string, TagValue>> values;
  for (size_t i = 3; i < words.size(); ++i) {
    size_t equals = words[i].find('=');
    if (equals == std::string::npos || equals == 0)
      return *error = "bad TAG setting: " + words[i], false;
    std::string field = words[i].substr(0, equals);
    TagValue value;
    value.text = words[i].substr(equals + 1);
    if (value.text.size() >= node::kMaxText) return *error = "text too long: " + field, false;
    if (Upper(field).compare(0, 2, "F_") == 0) {
      char* end = nullptr;
      value.number = strtof(value.text.c_str(), &end);
      if (value.text.empty() || *end != '\0') return *error = "not a number: " + words[i], false;
      value.numeric = true;
    }
    values.emplace_back(NodeState::Key(words[1], words[2], field), value);
  }
  *command = [values](NodeState& state) {
    for (const auto& entry : values) state.tags[entry.first] = entry.second;
    return std::string("OK");
  };
  return true;
}

Command Simple(std::function<void(NodeState&)> change) {
  return [change](NodeState& state) {
    change(state);
    return std::string("OK");
  };
}

std::string Encoded(const std::string& text) {
  char line[node::kMaxLine + 1];
  bool written = node::LineWriter(line, sizeof line).Text(text.c_str()).length() > 0;
  return written ? line : "%3F";
}

}  // namespace

bool SplitWords(const std::string& line, std::vector<std::string>* words) {
  words->clear();
  std::string word;
  bool inWord = false, quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (!quoted && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
      if (inWord) words->push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '%' && i + 2 < line.size() && HexValue(line[i + 1]) >= 0 &&
               HexValue(line[i + 2]) >= 0) {
      word += static_cast<char>(HexValue(line[i + 1]) << 4 | HexValue(line[i + 2]));
      i += 2;
    } else {
      word += c;
    }
  }
  if (inWord) words->push_back(word);
  return !quoted;
}

bool ParseCommand(const std::string& line, Command* command, std::string* error) {
  std::vector<std::string> words;
  if (!SplitWords(line, &words)) return *error = "unterminated quote", false;
  if (words.empty()) return *error = "empty command", false;
  std::string keyword = Upper(words[0]);
  size_t count = words.size();
  int32_t value = 0;
  if (keyword == "PUSH") return ParsePush(words, command, error);
  if (keyword == "PUSHRAW") return ParsePushRaw(words, command, error);
  if (keyword == "TAG") return ParseTag(words, command, error);
  if (keyword == "STATUS") {
    if (count != 2 || !ParseInt(words[1], INT16_MIN, INT16_MAX, &value) || value == 0)
      return *error = "STATUS needs a non-zero 16-bit status", false;
    *command = [value](NodeState& state) {
      state.queue.push_back({value, {}});
      return "OK " + std::to_string(state.queue.size());
    };
    return true;
  }
  if (keyword == "SCADA") {
    std::string how = count == 2 ? Upper(words[1]) : "";
    if (how == "UP") {
      value = 1;
    } else if (how != "DOWN" && (count != 2 || !ParseInt(words[1], INT32_MIN, INT32_MAX, &value))) {
      return *error = "SCADA needs UP, DOWN or a number", false;
    }
    *command = Simple([value](NodeState& state) { state.running = value; });
    return true;
  }
  if (count != 1) return *error = keyword + " takes no arguments", false;
  if (keyword == "SHUTDOWN") {
    *command = Simple([](NodeState& state) { state.shutDown = true; });
  } else if (keyword == "MUTE" || keyword == "UNMUTE") {
    bool muted = keyword == "MUTE";
    *command = Simple([muted](NodeState& state) { state.muted = muted; });
  } else if (keyword == "RESET") {
    *command = Simple([](NodeState& state) { state = NodeState(); });
  } else if (keyword == "STOP") {
    *command = Simple([](NodeState& state) { state.stopRequested = true; });
  } else if (keyword == "QUEUED") {
    *command = [](NodeState& state) { return "OK " + std::to_string(state.queue.size()); };
  } else {
    return *error = "unknown command " + words[0], false;
  }
  return true;
}

namespace {

std::string AnswerRequest(NodeState& state, const node::Request& request) {
  char line[node::kMaxLine + 1];
  size_t length = 0;
  switch (request.op) {
    case node::Op::kRunning:
      length = node::FormatStatusAnswer(node::Op::kRunning, state.running, line, sizeof line);
      break;
    case node::Op::kAlarm:
      if (state.shutDown || state.queue.empty()) {
        int32_t status = state.shutDown ? kShutDown : kQueueEmpty;
        length = node::FormatStatusAnswer(node::Op::kAlarm, status, line, sizeof line);
      } else {
        QueueEntry entry = state.queue.front();
        state.queue.pop_front();
        length = entry.status == 0
                     ? node::FormatRecordAnswer(entry.record, line, sizeof line)
                     : node::FormatStatusAnswer(node::Op::kAlarm, entry.status, line, sizeof line);
      }
      break;
    case node::Op::kText:
    case node::Op::kNumber: {
      auto found = state.tags.find(NodeState::Key(request.node, request.tag, request.field));
      bool known =
          found != state.tags.end() && (request.op == node::Op::kText || found->second.numeric);
      if (!known) {
        length = node::FormatStatusAnswer(request.op, kNoSuchTag, line, sizeof line);
      } else if (request.op == node::Op::kText) {
        length = node::FormatTextAnswer(found->second.text.c_str(), line, sizeof line);
      } else {
        length = node::FormatNumberAnswer(found->second.number, line, sizeof line);
      }
      break;
    }
  }
  return std::string(line, length);
}

bool LooksLikeRequest(const char* line, size_t length) {
  for (const char* keyword : {"RUNNING", "ALARM", "TEXT", "NUMBER"}) {
    size_t size = strlen(keyword);
    if (length >= size && memcmp(line, keyword, size) == 0 && (length == size || line[size] == ' '))
      return true;
  }
  return false;
}

}  // namespace

Reply HandleLine(NodeState& state, const char* line, size_t length, std::string* answer,
                 bool* isRequest) {
  *isRequest = LooksLikeRequest(line, length);
  if (*isRequest) {
    node::Request request;
    if (!node::ParseRequest(line, length, &request)) {
      *answer = "ERROR " + Encoded("malformed request");
      return Reply::kAnswer;
    }
    if (state.muted) return Reply::kSilent;
    *answer = AnswerRequest(state, request);
    return Reply::kAnswer;
  }
  Command command;
  std::string error;
  if (!ParseCommand(std::string(line, length), &command, &error)) {
    *answer = "ERROR " + Encoded(error);
    return Reply::kAnswer;
  }
  *answer = command(state);
  return Reply::kAnswer;
}

std::string DescribeAnswer(const std::string& answer) {
  node::Answer parsed;
  if (answer.compare(0, 8, "ALARM 0 ") != 0 ||
      !node::ParseAnswer(node::Op::kAlarm, answer.data(), answer.size(), &parsed))
    return answer;
  const AlarmRecord& r = parsed.record;
  char text[400];
  snprintf(text, sizeof text,
           "ALARM 0 [%s %s areas=%04X priority=%d status=%s(%d) routing=%u day=%d %02d:%02d "
           "\"%s\"]",
           r.NodeName().c_str(), r.TagName().c_str(), r.AreaMask(), r.Priority(),
           StatusName(r.StatusCode()), r.StatusCode(), r.RoutingFlag(), r.Day(), r.Hour(),
           r.Minute(), r.AlarmText().c_str());
  return text;
}

namespace {

// "<seconds>" from the start, or "+<seconds>" after the previous line.
bool ParseWhen(const std::string& word, uint32_t previous, uint32_t* atMs) {
  bool relative = !word.empty() && word[0] == '+';
  std::string number = relative ? word.substr(1) : word;
  if (number.empty() || !(isdigit(static_cast<unsigned char>(number[0])))) return false;
  char* end = nullptr;
  double seconds = strtod(number.c_str(), &end);
  if (*end != '\0' || !(seconds >= 0) || seconds > 86400.0 * 24) return false;
  uint32_t ms = static_cast<uint32_t>(std::lround(seconds * 1000));
  *atMs = relative ? previous + ms : ms;
  return *atMs >= previous;
}

}  // namespace

bool ParseScenario(const std::string& text, std::vector<ScenarioEvent>* events,
                   std::string* error) {
  events->clear();
  uint32_t previous = 0;
  int lineNumber = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    line = line.substr(first);
    size_t gap = line.find_first_of(" \t");
    std::string when = line.substr(0, gap);
    std::string rest = gap == std::string::npos ? "" : line.substr(gap + 1);
    ScenarioEvent event;
    event.lineNumber = lineNumber;
    std::string reason;
    if (!ParseWhen(when, previous, &event.atMs)) {
      reason = "bad or decreasing time '" + when + "'";
    } else if (!ParseCommand(rest, &event.command, &reason)) {
    }
    if (!reason.empty()) {
      *error = "line " + std::to_string(lineNumber) + ": " + reason;
      return false;
    }
    size_t last = rest.find_last_not_of(" \t\r");
    event.text = rest.substr(0, last == std::string::npos ? 0 : last + 1);
    previous = event.atMs;
    events->push_back(std::move(event));
  }
  return true;
}

}  // namespace kelvor::sim
