#include "support/fakes.h"

#include <cstring>
#include <ctime>

#include "alarm_record_writer.h"

namespace kelvor::test {

// Counted in UTC, so that the machine's own time zone changes nothing.
LocalTime VirtualClock::Now() {
  const time_t kStart = 1796652202;  // 2026-12-07 14:03:22 UTC
  time_t now = kStart + static_cast<time_t>(elapsed_ / 1000);
  const tm* t = gmtime(&now);
  return {t->tm_year + 1900, t->tm_mon + 1, t->tm_mday, t->tm_hour, t->tm_min, t->tm_sec};
}

void FakeConsole::SetColour(Colour colour) {
  colour_ = colour;
}

void FakeConsole::Write(const char* text, size_t length) {
  if (length == 0) return;
  text_.append(text, length);
  if (colour_ != Colour::kNormal) {
    coloured_ += "<" + std::to_string(static_cast<int>(colour_)) + "|";
    coloured_.append(text, length);
    coloured_ += "|>";
  } else {
    coloured_.append(text, length);
  }
}

std::vector<std::string> FakeConsole::Lines() const {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text_.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text_.substr(start, end - start));
  }
  if (start < text_.size()) lines.push_back(text_.substr(start));
  return lines;
}

void FakeConsole::Clear() {
  text_.clear();
  coloured_.clear();
}

// A repeated key, once pressed, waits until it is read, as a key at a console does.
bool FakeKeyboard::KeyWaiting() {
  if (!keys.empty() || repeatWaiting_) return true;
  repeatWaiting_ = repeatEvery_ > 0 && ++looks_ % repeatEvery_ == 0;
  return repeatWaiting_;
}

int FakeKeyboard::ReadKey() {
  if (keys.empty()) {
    repeatWaiting_ = false;
    return repeatKey_;
  }
  int key = keys.front();
  keys.pop_front();
  return key;
}

int32_t FakeScada::ScadaRunning() {
  ++runningCalls;
  if (onRunning) onRunning();
  if (!runningSequence.empty()) {
    int32_t result = runningSequence.front();
    runningSequence.pop_front();
    return result;
  }
  return running;
}

int16_t FakeScada::ReadAlarmQueue(int32_t mode, AlarmRecord& record) {
  ++alarmReads;
  if (alarms.empty()) {
    if (repeatEvery_ == 0 || alarmReads % repeatEvery_ != 0) return kQueueEmpty;
    record = repeated_;
    return kAlarmDelivered;
  }
  Read next = alarms.front();
  alarms.pop_front();
  if (next.status == kAlarmDelivered) record = next.record;
  return next.status;
}

namespace {
std::string Key(const char* node, const char* tag, const char* field) {
  return std::string(node) + "|" + tag + "|" + field;
}
}  // namespace

int16_t FakeScada::ReadTagText(const char* node, const char* tag, const char* field, char* text) {
  if (everyTag_.description != nullptr) {
    const char* answer = strcmp(field, "A_DESC") == 0 ? everyTag_.description : everyTag_.value;
    size_t length = strnlen(answer, kTagTextSize - 1);
    memcpy(text, answer, length);
    text[length] = '\0';
    return 0;
  }
  std::string key = Key(node, tag, field);
  tagReads.push_back("TEXT " + key);
  std::string value;
  int16_t status = 1;
  if (textReader) {
    status = textReader(key, &value);
  } else {
    for (auto& entry : texts_) {
      if (entry.first == key) {
        value = entry.second;
        status = 0;
      }
    }
  }
  if (status != 0) return status;
  size_t length = value.size() < kTagTextSize - 1 ? value.size() : kTagTextSize - 1;
  memcpy(text, value.data(), length);
  text[length] = '\0';
  return 0;
}

int16_t FakeScada::ReadTagNumber(const char* node, const char* tag, const char* field,
                                 float* value) {
  if (everyTag_.description != nullptr) {
    *value = everyTag_.number;
    return 0;
  }
  std::string key = Key(node, tag, field);
  tagReads.push_back("NUMBER " + key);
  if (numberReader) return numberReader(key, value);
  for (auto& entry : numbers_) {
    if (entry.first == key) {
      *value = entry.second;
      return 0;
    }
  }
  return -1;
}

void FakeScada::SetText(const std::string& node, const std::string& tag, const std::string& field,
                        const std::string& text) {
  texts_.emplace_back(node + "|" + tag + "|" + field, text);
}

void FakeScada::SetNumber(const std::string& node, const std::string& tag, const std::string& field,
                          float value) {
  numbers_.emplace_back(node + "|" + tag + "|" + field, value);
}

AlarmRecord AlarmBuilder::Build() const {
  AlarmFields fields;
  fields.areas = areas;
  fields.text = text.c_str();
  fields.routing = routing;
  fields.tag = tag.c_str();
  fields.node = node.c_str();
  fields.day = day;
  fields.hour = hour;
  fields.minute = minute;
  fields.priority = priority;
  fields.status = status;
  return MakeAlarmRecord(fields);
}

}  // namespace kelvor::test
