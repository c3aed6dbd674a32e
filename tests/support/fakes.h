// Stand-ins for the program's surroundings, for tests in virtual time.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/keyboard.h"
#include "platform/serial.h"
#include "scada/scada.h"

namespace kelvor::test {

// A clock whose sleep advances the tick; nothing takes wall time. Its local time starts at
// 2026-12-07 14:03:22 and runs with every sleep and advance.
class VirtualClock : public Clock {
 public:
  explicit VirtualClock(uint32_t start = 0) : now_(start) {}
  uint32_t TickCount() override { return now_; }
  void Sleep(uint32_t milliseconds) override {
    now_ += milliseconds;
    slept_ += milliseconds;
    elapsed_ += milliseconds;
    if (onSleep) onSleep(milliseconds);
  }
  LocalTime Now() override;
  void Advance(uint32_t milliseconds) {
    now_ += milliseconds;
    elapsed_ += milliseconds;
  }
  void Set(uint32_t tick) { now_ = tick; }
  uint64_t slept() const { return slept_; }

  std::function<void(uint32_t)> onSleep;  // runs after every sleep

 private:
  uint32_t now_;
  uint64_t slept_ = 0;
  uint64_t elapsed_ = 0;  // ms of sleeps and advances: the local time's run
};

// Captures console output. Text written in a colour other than the normal one is kept
// between "<attribute|" and "|>" markers, the attribute as its number, so tests see the
// colour of each stretch.
class FakeConsole : public Console {
 public:
  void SetColour(Colour colour) override;
  void Write(const char* text, size_t length) override;

  const std::string& text() const { return text_; }  // plain text, markers left out
  const std::string& coloured() const { return coloured_; }
  std::vector<std::string> Lines() const;  // plain text split at "\r\n"
  void Clear();

 private:
  Colour colour_ = Colour::kNormal;
  std::string text_;
  std::string coloured_;
};

// Takes whatever is written and keeps nothing.
class NullConsole : public Console {
 public:
  void SetColour(Colour) override {}
  void Write(const char*, size_t) override {}
};

class FakeKeyboard : public Keyboard {
 public:
  bool KeyWaiting() override;
  int ReadKey() override;

  std::deque<int> keys;  // pressed, in order
  // Once `keys` runs out, `key` is pressed at every `every`-th look (0: never), without the
  // heap.
  void Repeat(int key, int every) {
    repeatKey_ = key;
    repeatEvery_ = every;
  }

 private:
  int repeatKey_ = 0;
  int repeatEvery_ = 0;
  int looks_ = 0;
  bool repeatWaiting_ = false;
};

// A SCADA system whose answers tests script. Its options for long runs (a repeated alarm,
// every tag answered alike) take nothing from the heap; a run of its own (a soak's plan,
// a fuzzer's bytes) overrides the reads it decides.
class FakeScada : public Scada {
 public:
  struct Read {
    int16_t status;
    AlarmRecord record;
  };

  int32_t ScadaRunning() override;
  int16_t ReadAlarmQueue(int32_t mode, AlarmRecord& record) override;
  int16_t ReadTagText(const char* node, const char* tag, const char* field, char* text) override;
  int16_t ReadTagNumber(const char* node, const char* tag, const char* field,
                        float* value) override;

  // Queue-read results in order; once they run out, the queue reads empty (6510).
  std::deque<Read> alarms;
  void PushStatus(int16_t status) { alarms.push_back({status, {}}); }
  void PushRecord(const AlarmRecord& record) { alarms.push_back({kAlarmDelivered, record}); }
  // Once `alarms` runs out, every `every`-th queue read delivers `record`.
  void RepeatAlarm(const AlarmRecord& record, int every) {
    repeated_ = record;
    repeatEvery_ = every;
  }

  int32_t running = 1;
  // Optional: the running result for each call in turn, then `running`.
  std::deque<int32_t> runningSequence;
  // Called at each running check, once counted and before it answers: a test follows the
  // run's passes there, or ends the run by setting `running`.
  std::function<void()> onRunning;

  // Tag database, keyed "node|tag|field". A missing text leaves the buffer as it was.
  std::function<int16_t(const std::string& key, std::string* text)> textReader;
  std::function<int16_t(const std::string& key, float* value)> numberReader;
  void SetText(const std::string& node, const std::string& tag, const std::string& field,
               const std::string& text);
  void SetNumber(const std::string& node, const std::string& tag, const std::string& field,
                 float value);
  // Every description field (A_DESC) reads `description`, every other text field `value`,
  // every number `number`; the reads are not recorded.
  void AnswerEveryTag(const char* description, const char* value, float number) {
    everyTag_ = {description, value, number};
  }

  int runningCalls = 0;
  int alarmReads = 0;
  std::vector<std::string> tagReads;  // every tag read, as "TEXT key" or "NUMBER key"

 private:
  struct EveryTag {
    const char* description;
    const char* value;
    float number;
  };

  std::vector<std::pair<std::string, std::string>> texts_;
  std::vector<std::pair<std::string, float>> numbers_;
  AlarmRecord repeated_{};
  int repeatEvery_ = 0;
  EveryTag everyTag_{nullptr, nullptr, 0.0f};
};

// Builds alarm records field by field.
struct AlarmBuilder {
  uint16_t areas = 1;
  std::string text = "ALARM";
  uint8_t routing = 1;
  std::string tag = "TAG1";
  std::string node = "NODE1";
  int8_t day = 7, hour = 9, minute = 5;
  int8_t priority = 0;
  int8_t status = 3;
  AlarmRecord Build() const;
};

}  // namespace kelvor::test
