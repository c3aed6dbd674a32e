#include "support/fakes.h"

#include <cstring>

namespace kelvor::test {

void FakeConsole::SetAttribute(uint16_t attribute) {
  attribute_ = attribute;
}

void FakeConsole::Write(const char* text, size_t length) {
  if (length == 0) return;
  text_.append(text, length);
  if (attribute_ != kNormal) {
    coloured_ += "<" + std::to_string(attribute_) + "|";
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

int32_t FakeScada::ScadaRunning() {
  ++runningCalls;
  if (!runningSequence.empty()) {
    int32_t result = runningSequence.front();
    runningSequence.pop_front();
    return result;
  }
  return running;
}

int16_t FakeScada::ReadAlarmQueue(int32_t mode, AlarmRecord& record) {
  ++alarmReads;
  if (alarms.empty()) return kQueueEmpty;
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
  AlarmRecord record{};
  record.bytes[0] = static_cast<uint8_t>(areas & 0xFF);
  record.bytes[1] = static_cast<uint8_t>(areas >> 8);
  memcpy(record.bytes + 2, text.data(), text.size() < 136 ? text.size() : 136);
  record.bytes[138] = routing;
  memcpy(record.bytes + 140, tag.data(), tag.size() < 31 ? tag.size() : 31);
  memcpy(record.bytes + 171, node.data(), node.size() < 10 ? node.size() : 10);
  record.bytes[181] = static_cast<uint8_t>(day);
  record.bytes[183] = static_cast<uint8_t>(hour);
  record.bytes[184] = static_cast<uint8_t>(minute);
  record.bytes[188] = static_cast<uint8_t>(priority);
  record.bytes[189] = static_cast<uint8_t>(status);
  return record;
}

}  // namespace kelvor::test
