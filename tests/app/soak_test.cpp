// Sixty days of the real main loop in virtual time, across the wrap of the 32-bit tick:
// alarm bursts over 31 destinations, a phone that goes silent, refuses texts, floods the
// line and loses the network (run once alone, once with a standby phone that takes over from
// it and is silent only at the end), and an alarm queue that fails for hours; the run ends with the
// SCADA system stopping while a last burst waits for a silent phone. Replies and escalation are on:
// the engineers at six destinations answer two alarm SMS in three within a minute and sleep
// through the rest, which go on to a backup after ten minutes; a heartbeat goes every hour. Every
// alarm a destination takes is named or counted in an SMS its phone took, or is in an SMS given up
// after four sendings, or is still on its way at shutdown, which says so; no SMS is reported lost
// for a full queue. The queue never holds more than 21, no SMS is longer than 159 characters, SMS
// that wait for the network go once it is back, an alarm SMS answered while the phone was well is
// never escalated and one nobody answered always is, the heap stays flat.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/kelvor_main.h"
#include "counting_new.h"
#include "gsm_phone.h"
#include "support/fake_serial.h"
#include "support/fakes.h"

namespace kelvor {
namespace {

constexpr uint64_t kHour = 3600ull * 1000;
constexpr uint64_t kDay = 24 * kHour;
constexpr uint64_t kRunLength = 60 * kDay;
constexpr uint64_t kQuietEnd = 59 * kDay;  // the last day: no alarms, no faults...
constexpr uint64_t kFinalBurst = kRunLength - 2 * 60 * 1000;  // ...until a burst, phone off
constexpr uint32_t kStartTick = static_cast<uint32_t>((1ull << 32) - 10 * kDay);  // wraps on day 10
constexpr uint64_t kWrap = 10 * kDay;
constexpr int kDestinations = 31;
constexpr int kMaxAlarms = 40000;
constexpr int kAlarmsPerSmsAtMost = 10;  // the shortest alarm text is 17 characters
constexpr uint64_t kMinute = 60 * 1000;
constexpr uint64_t kEscalateAfter = 10 * kMinute;
const char* const kBackup = "+4479000099";  // where the SMS nobody answers go
const char* const kHeartbeat = "+4479000098";

// The destinations whose engineer may answer, each with an ESCALATE= rule to the backup.
bool Escalates(int j) {
  return j % 5 == 1;
}

enum class PhoneMode { kNormal, kSilent, kRefusing, kFlooding, kOffNetwork };

// Cheap deterministic scatter.
uint32_t Hash(uint64_t value) {
  value ^= value >> 33;
  value *= 0xff51afd7ed558ccdull;
  value ^= value >> 33;
  return static_cast<uint32_t>(value);
}

// An alarm SMS the phone took for a destination that escalates.
struct RuledSms {
  int j;
  int firstAlarm;  // the first alarm id in its text
  uint64_t deliveredAt;
  bool answered;  // its engineer answers it within a minute
  bool escalated;
};

struct Destination {
  std::string number;
  uint16_t areas;
  int priority;
  bool enableTag;
};

// The world around the program: its clock, the plan of alarms and faults, and what was
// seen, all sized up front so that the heap of a long run stays flat.
class World {
 public:
  World() : clock(kStartTick) {
    const char* delays[] = {"0", "5", "30", "60", "300", "7200", "-5"};
    for (int j = 0; j < kDestinations; ++j) {
      Destination d;
      char number[16];
      snprintf(number, sizeof number, "+447900000%02d", j);
      d.number = number;
      d.areas = static_cast<uint16_t>(1u << (j % 16) | 1u << ((j * 7 + 3) % 16));
      d.priority = j % 3;
      d.enableTag = j % 5 == 0;
      destinations.push_back(d);
      std::string areas;
      for (int bit = 0; bit < 16; ++bit)
        if (d.areas & (1u << bit)) areas += static_cast<char>('A' + bit);
      std::string spec = "DEST=" + d.number + "," + areas + "," + "HML"[d.priority] + "," +
                         delays[j % 7] + "," + (j % 2 ? "F" : "S");
      if (d.enableTag) spec += ",EN:E" + std::to_string(j) + ".F_CV";
      arguments.push_back(spec);
      if (Escalates(j)) arguments.push_back("ESCALATE=" + d.number + ",10," + kBackup);
    }
    arguments.push_back(std::string("HEARTBEAT=") + kHeartbeat + ",60");
    ruled.reserve(40000);
    answersFrom.assign(kDestinations, std::vector<uint64_t>());
    for (auto& answers : answersFrom) answers.reserve(8000);
    alarmAreas.assign(kMaxAlarms, 0);
    alarmPriority.assign(kMaxAlarms, 0);
    alarmRouted.assign(kMaxAlarms, 0);
    offeredAt.assign(kMaxAlarms, 0);
    delivered.assign(static_cast<size_t>(kMaxAlarms) * kDestinations, kOnItsWay);
    countedAt.assign(kDestinations, 0);
    countedGivenUp.assign(kDestinations, 0);
    lastDelivered.assign(kDestinations, std::string());
    for (std::string& text : lastDelivered) text.reserve(256);
    lastWritten.reserve(256);
  }

  uint64_t Elapsed() const { return clock.slept(); }

  // Faults come in two-hour slots; the first slot and the last day are clean.
  uint32_t Slot() const { return SlotAt(Elapsed()); }
  static uint32_t SlotAt(uint64_t at) { return Hash(at / (2 * kHour) + 7) % 12; }
  bool Clean() const { return CleanAt(Elapsed()); }
  static bool CleanAt(uint64_t at) {
    return at < 2 * kHour || (at >= kQuietEnd && at < kFinalBurst);
  }
  PhoneMode Mode() const { return ModeAt(Elapsed()); }
  // The phone's mode all the way from `from` to `to`.
  static bool NormalThroughout(uint64_t from, uint64_t to) {
    for (uint64_t at = from; at < to; at = (at / (2 * kHour) + 1) * (2 * kHour)) {
      if (ModeAt(at) != PhoneMode::kNormal) return false;
    }
    return ModeAt(to) == PhoneMode::kNormal;
  }
  static PhoneMode ModeAt(uint64_t at) {
    if (at >= kFinalBurst) return PhoneMode::kSilent;
    if (CleanAt(at)) return PhoneMode::kNormal;
    switch (SlotAt(at)) {
      case 0:
        return PhoneMode::kSilent;
      case 1:
        return PhoneMode::kRefusing;
      case 2:
        return PhoneMode::kFlooding;
      case 4:
        return PhoneMode::kOffNetwork;
      default:
        return PhoneMode::kNormal;
    }
  }
  bool QueueFailing() const { return !Clean() && Elapsed() < kFinalBurst && Slot() == 3; }
  // A healthy phone for the last 20 minutes: the modem must have come back by then.
  bool Healthy() const {
    return Mode() == PhoneMode::kNormal && Elapsed() % (2 * kHour) >= 20 * 60 * 1000;
  }

  // Whether destination j takes alarm `id`: its priority, its areas and its enable tag.
  bool Takes(int j, int id) const {
    const Destination& d = destinations[j];
    if (!alarmRouted[id] || alarmPriority[id] > d.priority) return false;
    if ((alarmAreas[id] & d.areas) == 0) return false;
    return !d.enableTag || (EnableReadFails(j, id) == false && EnableValue(j, id) != 0.0f);
  }
  static bool EnableReadFails(int j, int id) { return (id + j) % 11 == 0; }
  static float EnableValue(int j, int id) { return (id + j) % 4 == 0 ? 0.0f : 1.0f; }

  test::VirtualClock clock;
  std::vector<Destination> destinations;
  std::vector<std::string> arguments;
  std::vector<uint16_t> alarmAreas;
  std::vector<int8_t> alarmPriority;
  std::vector<uint8_t> alarmRouted;
  std::vector<uint64_t> offeredAt;
  // What became of alarm `id` at destination j, [id * 31 + j], as far as its name shows.
  enum Fate : uint8_t { kOnItsWay, kNamedDelivered, kNamedGivenUp };
  std::vector<uint8_t> delivered;
  std::vector<int> countedAt;       // alarms the SMS a destination's phone took counted, unnamed
  std::vector<int> countedGivenUp;  // alarms counted in the SMS given up after four sendings
  std::vector<std::string> lastDelivered;  // each destination's, to count a resent SMS once
  std::string lastWritten;                 // the text that last went out at the prompt
  std::string lastWrittenTo;
  std::vector<RuledSms> ruled;
  std::vector<std::vector<uint64_t>> answersFrom;  // when each destination's answers came
  int alarms = 0;                                  // ids handed out so far
  int currentAlarm = 0;

  // Findings along the way.
  int misrouted = 0;
  int givenUp = 0;     // "dropped after 4 failed sendings"
  int queueLost = 0;   // "Message queue full - SMS to ... lost"
  int resent = 0;      // an SMS the phone took twice
  int heartbeats = 0;  // taken by the phone
  int heartbeatsWaited = 0;
  int longSms = 0;
  int deliveredSms = 0;
  int maxQueued = 0;
  int statusReports = 0;
  int timeouts = 0;
  int timeoutsWhenHealthy = 0;
  bool heldForNetwork = false;  // an SMS waits for the network, and none went or was dropped since
  int registeredAgain = 0;
  int heldWhenHealthy = 0;  // status reports that found an SMS held for a network long back
  int truncations = 0;
  int escalatedSms = 0;  // alarm SMS the backup received
  int acknowledged = 0;  // confirmations the engineers received
  int escalationFull = 0;
  int badEscalations = 0;  // to the backup, of no SMS a destination with a rule took
  int takeovers = 0;       // by the standby
  int discardedSms = -1;   // from the shutdown line, when there was one
  int discardedBatches = -1;
  int64_t liveAtDayTwo = -1;
  int64_t maxLiveAfterDayTwo = 0;
};

// Which alarms an SMS counts: "+37 more alarms (H 2, M 5, L 30) to 10:09", its last line.
int CountedIn(const std::string& text) {
  size_t more = text.rfind("\n+");
  int counted = 0;
  if (more == std::string::npos ||
      sscanf(text.c_str() + more + 1, "+%d more alarm", &counted) != 1) {
    return 0;
  }
  return counted;
}

// Keeps only the line being written; each line is read for the reports the test follows.
class SoakConsole : public test::NullConsole {
 public:
  explicit SoakConsole(World& world) : world_(world) {}
  void Write(const char* text, size_t length) override {
    for (size_t i = 0; i < length; ++i) {
      if (text[i] == '\n' && used_ > 0 && line_[used_ - 1] == '\r') {
        line_[used_ - 1] = '\0';
        Line(line_);
        used_ = 0;
      } else if (used_ + 1 < sizeof line_) {
        line_[used_++] = text[i];
      }
    }
  }

 private:
  void Line(const char* line) {
    int queued;
    if (sscanf(line, "Messages in Que = %d", &queued) == 1) {
      ++world_.statusReports;
      if (world_.Healthy() && world_.heldForNetwork) ++world_.heldWhenHealthy;
      if (queued > world_.maxQueued) world_.maxQueued = queued;
    }
    if (strcmp(line, "Timeout") == 0) {
      ++world_.timeouts;
      if (world_.Healthy()) ++world_.timeoutsWhenHealthy;
    }
    if (strcmp(line, "truncating message") == 0) ++world_.truncations;
    if (strstr(line, " waits for the network") != nullptr) world_.heldForNetwork = true;
    // The standby's lines of its SMS, as the main phone's.
    const char* own = strncmp(line, "Standby ", 8) == 0 ? line + 8 : line;
    if (strcmp(own, "Successfull send") == 0 || strstr(line, " dropped after ") != nullptr) {
      world_.heldForNetwork = false;  // the SMS held went, or was refused for another reason
    }
    if (strncmp(line, "Standby phone ", 14) == 0) ++world_.takeovers;
    if (strcmp(line, "Network registration: registered") == 0) ++world_.registeredAgain;
    if (strncmp(line, "Escalation full", 15) == 0) ++world_.escalationFull;
    sscanf(line, "Shutdown discards SMS queued: %d, alarm batches pending: %d",
           &world_.discardedSms, &world_.discardedBatches);
    if (strncmp(line, "Message queue full - SMS to ", 28) == 0 && strstr(line, " lost")) {
      ++world_.queueLost;
    }
    if (strncmp(line, "Heartbeat to ", 13) == 0 && strstr(line, " waits")) {
      ++world_.heartbeatsWaited;
    }
    // "SMS to <number> dropped after 4 failed sendings": the text that went out last.
    if (strncmp(own, "SMS to ", 7) == 0 && strstr(own, " dropped after ") != nullptr) {
      ++world_.givenUp;
      GivenUp();
    }
  }

  // The alarms an SMS given up names and counts, unless its phone took it once after all.
  void GivenUp() {
    int j = atoi(world_.lastWrittenTo.c_str() + strlen("+44790000"));
    if (world_.lastWrittenTo.rfind("+44790000", 0) != 0 || j < 0 || j >= kDestinations) return;
    if (world_.lastDelivered[j] == world_.lastWritten) return;
    const std::string& text = world_.lastWritten;
    for (size_t at = text.find("ALM"); at != std::string::npos; at = text.find("ALM", at + 3)) {
      int id = atoi(text.c_str() + at + 3);
      if (id < 0 || id >= world_.alarms || !world_.Takes(j, id)) continue;
      world_.delivered[static_cast<size_t>(id) * kDestinations + j] = World::kNamedGivenUp;
    }
    world_.countedGivenUp[j] += CountedIn(text);
  }

  World& world_;
  char line_[512];
  size_t used_ = 0;
};

// The alarm queue: bursts at scattered times, one of them across the tick wrap; hours in
// which the queue read fails (alarms wait in the queue meanwhile); the tag database.
class SoakScada : public test::FakeScada {
 public:
  explicit SoakScada(World& world) : world_(world) {}

  int32_t ScadaRunning() override { return world_.Elapsed() < kRunLength ? 1 : 0; }

  int16_t ReadAlarmQueue(int32_t, AlarmRecord& record) override {
    uint64_t now = world_.Elapsed();
    if (world_.QueueFailing()) {
      // Now and then an illegal status, which the loop follows without a pause.
      return (++failures_ % 50 == 0) ? int16_t{1711} : int16_t{-1};
    }
    if (now >= nextBurst_ && now < kQuietEnd) {
      waiting_ += 1 + static_cast<int>(Hash(now) % 40);
      nextBurst_ = now + 15 * 60 * 1000 + Hash(now + 1) % (4 * kHour);
    }
    if (!wrapBurstDone_ && now + 3000 >= kWrap) {
      waiting_ += 12;  // a burst whose batches are pending when the tick wraps
      wrapBurstDone_ = true;
    }
    if (!finalBurstDone_ && now >= kFinalBurst) {
      waiting_ += 3;  // still queued or pending when the SCADA system stops
      finalBurstDone_ = true;
    }
    if (waiting_ == 0 || world_.alarms >= kMaxAlarms) return kQueueEmpty;
    --waiting_;
    record = Next();
    return kAlarmDelivered;
  }

  int16_t ReadTagText(const char*, const char* tag, const char* field, char* text) override {
    int id = atoi(tag + 1);  // tag "T<id>"
    if (strcmp(field, "A_DESC") == 0) {
      // "ALM<id> " and a filler to 8..47 characters, now and then with Ctrl-Z or ESC.
      int length = snprintf(text, kTagTextSize, "ALM%d ", id);
      int wanted = 8 + id % 40;
      for (int i = length; i < wanted && i < kTagTextSize - 1; ++i) text[i] = 'a' + i % 26;
      text[wanted > length ? wanted : length] = '\0';
      if (id % 17 == 0 && wanted > length + 2) text[length + 1] = 26;
      if (id % 19 == 0 && wanted > length + 3) text[length + 2] = 27;
      return 0;
    }
    snprintf(text, kTagTextSize, "   %d.5", id % 1000);
    return 0;
  }

  int16_t ReadTagNumber(const char*, const char* tag, const char*, float* value) override {
    int j = atoi(tag + 1);  // enable tag "E<j>"
    int id = world_.currentAlarm;
    if (World::EnableReadFails(j, id)) return 1;
    *value = World::EnableValue(j, id);
    return 0;
  }

 private:
  AlarmRecord Next() {
    int id = world_.alarms++;
    world_.currentAlarm = id;
    uint32_t h = Hash(static_cast<uint64_t>(id) * 31 + 5);
    test::AlarmBuilder alarm;
    alarm.areas = static_cast<uint16_t>(1u << (h % 16) | (h & 0x100 ? 1u << ((h >> 4) % 16) : 0));
    alarm.priority = static_cast<int8_t>((h >> 9) % 3);
    alarm.status = static_cast<int8_t>(1 + (h >> 12) % 16);
    alarm.routing = id % 23 == 7 ? 0 : 1;
    alarm.day = static_cast<int8_t>(1 + id % 28);
    alarm.hour = static_cast<int8_t>(id % 24);
    alarm.minute = static_cast<int8_t>(id % 60);
    char name[32];
    snprintf(name, sizeof name, "T%d", id);
    alarm.tag = name;
    alarm.text = std::string(name) + " alarm text of the record";
    world_.alarmAreas[id] = alarm.areas;
    world_.alarmPriority[id] = alarm.priority;
    world_.alarmRouted[id] = alarm.routing;
    world_.offeredAt[id] = world_.Elapsed();
    return alarm.Build();
  }

  World& world_;
  uint64_t nextBurst_ = 10 * 60 * 1000;
  int waiting_ = 0;
  bool wrapBurstDone_ = false;
  bool finalBurstDone_ = false;
  int failures_ = 0;
};

// The S key once an hour, waiting until it is read; the heap is looked at then too.
class SoakKeyboard : public Keyboard {
 public:
  explicit SoakKeyboard(World& world) : world_(world) {}
  bool KeyWaiting() override {
    if (pressed_) return true;
    if (world_.Elapsed() < nextReport_) return false;
    pressed_ = true;
    nextReport_ += kHour;
    int64_t live = test::CurrentHeapCounts().live;
    if (world_.Elapsed() >= 2 * kDay) {
      if (world_.liveAtDayTwo < 0) world_.liveAtDayTwo = live;
      if (live > world_.maxLiveAfterDayTwo) world_.maxLiveAfterDayTwo = live;
    }
    return true;
  }
  int ReadKey() override {
    pressed_ = false;
    return 'S';
  }

 private:
  World& world_;
  uint64_t nextReport_ = kHour;
  bool pressed_ = false;
};

// The serial port with a simulated phone behind it, in the mode the plan gives: silent,
// refusing texts (a restart does not help), or flooding the line with RING; a standby
// phone is well until the last burst, when it is silent too. It answers a command in 50 ms and a
// text in 300 ms, and its answers end the loop's sleeps as they arrive; the flood fills every read
// but wakes no sleep.
class PhonePort : public test::FakeSerialPort {
 public:
  PhonePort(World& world, bool standby)
      : world_(world), standby_(standby), phone_(sim::PhoneOptions{}) {
    recording = false;
    clock = &world.clock;
    onWrite = [this](const std::string& write) { Take(write); };
    phone_.onDelivered = [this](const sim::DeliveredSms& sms) { Delivered(sms); };
    phone_.onEvent = [this](const std::string& event) { Stored(event); };
    for (int& j : senderAt_) j = -1;
  }

  bool Read(char* buffer, uint32_t capacity, uint32_t* count) override {
    Follow();
    return FakeSerialPort::Read(buffer, capacity, count);
  }
  bool Write(const char* data, uint32_t length) override {
    Follow();
    return FakeSerialPort::Write(data, length);
  }

 private:
  static constexpr size_t kSmsLimit = 159;
  static constexpr uint32_t kAnswerDelay = 50;  // ms
  static constexpr uint32_t kTextDelay = 300;   // ms

  // A phone switched off loses what it was doing; one off the network refuses texts with
  // 331 and says it is searching, until the network is back.
  void Follow() {
    PhoneMode mode = world_.Mode();
    if (standby_) mode = world_.Elapsed() >= kFinalBurst ? PhoneMode::kSilent : PhoneMode::kNormal;
    if (mode_ == PhoneMode::kSilent && mode != PhoneMode::kSilent) phone_.Reset();
    bool away = mode == PhoneMode::kOffNetwork;
    if (away != (mode_ == PhoneMode::kOffNetwork)) phone_.SetNetwork(away ? 2 : 1);
    mode_ = mode;
    idle = mode_ == PhoneMode::kFlooding ? "\r\nRING\r\n" : "";
    DeliverAnswers();
  }

  void Take(const std::string& write) {
    bool text = write.size() > 1 && write.back() == '\x1a';
    if (text && write.size() - 1 > kSmsLimit) ++world_.longSms;
    if (write.rfind("AT+CMGS=\"", 0) == 0) addressed_ = write.substr(9, write.find('"', 9) - 9);
    if (text) {
      world_.lastWritten.assign(write, 0, write.size() - 1);
      world_.lastWrittenTo = addressed_;
    }
    if (mode_ == PhoneMode::kSilent) return;
    std::string answer;
    if (mode_ == PhoneMode::kRefusing && text) {
      std::string abandoned = write.substr(0, write.size() - 1) + '\x1b';
      phone_.Receive(abandoned.data(), abandoned.size());
      answer = "\r\n+CMS ERROR: 500\r\n";
    } else {
      answer = phone_.Receive(write.data(), write.size());
    }
    if (!answer.empty()) AnswerAfter(text ? kTextDelay : kAnswerDelay, answer);
  }

  void Delivered(const sim::DeliveredSms& sms) {
    ++world_.deliveredSms;
    if (sms.text.size() > kSmsLimit) ++world_.longSms;
    if (sms.number == kBackup) {
      Escalated(sms.text);
      return;
    }
    if (sms.number == kHeartbeat) {
      world_.heartbeats += sms.text.rfind("Kelvor: ", 0) != 0;  // not a switch of phones
      return;
    }
    int j = atoi(sms.number.c_str() + strlen("+44790000"));
    if (sms.number.rfind("+44790000", 0) != 0 || j < 0 || j >= kDestinations) {
      ++world_.misrouted;
      return;
    }
    // The same text again is the same SMS sent again (none can come between, as it is the
    // queue's head until it is confirmed): its alarms count once.
    if (sms.text == world_.lastDelivered[j]) {
      ++world_.resent;
      return;
    }
    world_.lastDelivered[j] = sms.text;
    for (size_t at = sms.text.find("ALM"); at != std::string::npos;
         at = sms.text.find("ALM", at + 3)) {
      int id = atoi(sms.text.c_str() + at + 3);
      if (id < 0 || id >= world_.alarms || !world_.Takes(j, id)) {
        ++world_.misrouted;
        continue;
      }
      world_.delivered[static_cast<size_t>(id) * kDestinations + j] = World::kNamedDelivered;
    }
    world_.countedAt[j] += CountedIn(sms.text);
    if (sms.text.rfind("Kelvor: ", 0) == 0) ++world_.acknowledged;
    size_t first = sms.text.find("ALM");
    if (!Escalates(j) || first == std::string::npos) return;
    // Its engineer answers two in three, 5 to 60 s after the phone took it.
    int id = atoi(sms.text.c_str() + first + 3);
    for (size_t back = 0; back < 64 && back < world_.ruled.size(); ++back) {
      const RuledSms& sent = world_.ruled[world_.ruled.size() - 1 - back];
      if (sent.j == j && sent.firstAlarm == id) return;  // sent again: the same alarm SMS
    }
    bool answers = Hash(static_cast<uint64_t>(id) * 31 + static_cast<uint64_t>(j)) % 3 != 0;
    world_.ruled.push_back({j, id, world_.Elapsed(), answers, false});
    if (answers) Answer(j, world_.Elapsed() + 5000 + Hash(static_cast<uint64_t>(id)) % 55000);
  }

  // "No answer from +44790000<j> in 10 min\n" and the text the destination was sent.
  void Escalated(const std::string& text) {
    ++world_.escalatedSms;
    int j = -1;
    size_t first = text.find("ALM");
    if (sscanf(text.c_str(), "No answer from +44790000%d in 10 min\n", &j) != 1 || j < 0 ||
        j >= kDestinations || !Escalates(j) || first == std::string::npos) {
      ++world_.badEscalations;
      return;
    }
    int id = atoi(text.c_str() + first + 3);
    for (auto sent = world_.ruled.rbegin(); sent != world_.ruled.rend(); ++sent) {
      if (sent->j != j || sent->firstAlarm != id) continue;
      sent->escalated = true;
      return;
    }
    ++world_.badEscalations;
  }

  // An answer is heard when Kelvor has taken it (and deletes it), which a phone that failed
  // while the other sent may do long after it came: it is an answer of that time too.
  void Stored(const std::string& event) {
    int index = 0;
    if (sscanf(event.c_str(), "SMS in index=%d from=+44790000", &index) == 1 && index > 0 &&
        index < kSimPlaces) {
      senderAt_[index] = atoi(event.c_str() + event.find("from=") + strlen("from=+44790000"));
    } else if (sscanf(event.c_str(), "SMS in deleted index=%d", &index) == 1 && index > 0 &&
               index < kSimPlaces && senderAt_[index] >= 0 && senderAt_[index] < kDestinations) {
      world_.answersFrom[senderAt_[index]].push_back(world_.Elapsed());
    }
  }

  // The engineer's answer reaches the phone at `at`, as an SMS stored on its SIM.
  void Answer(int j, uint64_t at) {
    if (answersDue_ == kAnswersHeld) return;
    answers_[(answersFirst_ + answersDue_++) % kAnswersHeld] = {at, j};
  }
  void DeliverAnswers() {
    while (answersDue_ > 0 && answers_[answersFirst_].at <= world_.Elapsed()) {
      const PendingAnswer& answer = answers_[answersFirst_];
      world_.answersFrom[answer.j].push_back(world_.Elapsed());
      std::string unasked =
          phone_.Arrive({world_.destinations[answer.j].number, "ok", "26/12/07,03:12:00+04"});
      if (mode_ != PhoneMode::kSilent && !unasked.empty()) Arrive(unasked);
      answersFirst_ = (answersFirst_ + 1) % kAnswersHeld;
      --answersDue_;
    }
  }

  struct PendingAnswer {
    uint64_t at;
    int j;
  };
  static constexpr int kAnswersHeld = 256;
  static constexpr int kSimPlaces = 21;  // the simulated SIM's 20, from 1

  World& world_;
  bool standby_;
  sim::GsmPhone phone_;
  std::string addressed_;  // the number of the last AT+CMGS
  PhoneMode mode_ = PhoneMode::kNormal;
  PendingAnswer answers_[kAnswersHeld] = {};
  int answersFirst_ = 0;
  int answersDue_ = 0;
  int senderAt_[kSimPlaces] = {};  // the destination whose answer each place of the SIM holds
};

void Soak(bool standby) {
  auto started = std::chrono::steady_clock::now();
  World world;
  SoakConsole console(world);
  SoakKeyboard keyboard(world);
  SoakScada scada(world);
  int ports = 0;  // the second port made is the standby's
  Platform platform{console, keyboard, world.clock, scada,
                    [&world, &ports] { return std::make_unique<PhonePort>(world, ports++ == 1); }};

  std::vector<std::string> arguments = {"kelvor", "COM1=9600,n,8,1", "SERVICE=+99912345"};
  if (standby) arguments.push_back("STANDBY=COM2=9600,n,8,1");
  arguments.insert(arguments.end(), world.arguments.begin(), world.arguments.end());
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);

  EXPECT_EQ(KelvorMain(static_cast<int>(arguments.size()), argv.data(), platform), kDestinations);

  EXPECT_GE(world.Elapsed(), kRunLength);
  EXPECT_LT(world.clock.TickCount(), kStartTick) << "the tick has wrapped";
  EXPECT_EQ(world.misrouted, 0) << "alarms on a phone whose destination does not take them";
  EXPECT_EQ(world.longSms, 0);
  EXPECT_LE(world.maxQueued, 21);
  EXPECT_EQ(world.timeoutsWhenHealthy, 0) << "the modem did not come back after a fault";
  EXPECT_GT(world.registeredAgain, 0) << "SMS waited for the network, and it came back";
  EXPECT_EQ(world.heldWhenHealthy, 0) << "an SMS still held for a network long back";
  EXPECT_GE(world.statusReports, 60 * 24 - 1);

  // Every alarm a destination took is named in an SMS its phone took or in one given up
  // after four sendings, or counted in one of them: at each destination the alarms not
  // named are exactly those counted, but for the last burst's, on their way at shutdown
  // (the quiet day before it lets everything earlier go), which the shutdown line reports.
  // No SMS is reported lost for a full queue.
  int taken = 0, named = 0, namedGivenUp = 0, counted = 0, countedGivenUp = 0, atShutdown = 0;
  for (int j = 0; j < kDestinations; ++j) {
    int unnamed = 0;
    for (int id = 0; id < world.alarms; ++id) {
      if (!world.Takes(j, id)) continue;
      ++taken;
      uint8_t fate = world.delivered[static_cast<size_t>(id) * kDestinations + j];
      named += fate == World::kNamedDelivered;
      namedGivenUp += fate == World::kNamedGivenUp;
      if (fate != World::kOnItsWay) continue;
      if (world.offeredAt[id] >= kFinalBurst) {
        ++atShutdown;
      } else {
        ++unnamed;
      }
    }
    EXPECT_EQ(unnamed, world.countedAt[j] + world.countedGivenUp[j]) << "destination " << j;
    counted += world.countedAt[j];
    countedGivenUp += world.countedGivenUp[j];
  }
  EXPECT_GT(atShutdown, 0) << "the run ends with alarms on their way";
  EXPECT_GT(world.discardedSms, 0) << "the run ends with SMS queued";
  if (!standby) {  // a standby sends some batches the phone alone would still hold
    EXPECT_GT(world.discardedBatches, 0) << "the run ends with batches pending";
  }
  EXPECT_LE(atShutdown, (world.discardedSms + world.discardedBatches) * kAlarmsPerSmsAtMost);
  EXPECT_EQ(world.queueLost, 0) << "SMS lost for a full queue";
  EXPECT_GT(counted, 0) << "bursts overflow the queue, and batches count what does not fit";
  if (!standby) {
    EXPECT_GT(world.givenUp, 0) << "the refusing phone gives SMS up";
  }
  EXPECT_GT(named, taken / 2) << "most alarms get through by name";
  EXPECT_GE(world.heartbeats, 60 * 24 * 3 / 4) << "a heartbeat an hour, but for the phone's faults";
  EXPECT_GT(world.heartbeatsWaited, 0) << "heartbeats wait behind alarms";

  // Replies: an alarm SMS answered while the phone was well all through its ten minutes is
  // never escalated; one nobody answered, from a destination that sent nothing meanwhile,
  // with the phone well for half an hour after, always reaches the backup.
  int answered = 0, slept = 0, wronglyEscalated = 0, notEscalated = 0;
  for (const RuledSms& sent : world.ruled) {
    uint64_t due = sent.deliveredAt + kEscalateAfter;
    if (sent.answered) {
      ++answered;
      if (sent.escalated && World::NormalThroughout(sent.deliveredAt, due + kMinute)) {
        ++wronglyEscalated;
      }
      continue;
    }
    ++slept;
    const std::vector<uint64_t>& answers = world.answersFrom[sent.j];
    auto after = std::lower_bound(answers.begin(), answers.end(), sent.deliveredAt - 2 * kMinute);
    bool quiet = after == answers.end() || *after > due + kMinute;
    if (!sent.escalated && quiet && World::NormalThroughout(sent.deliveredAt, due + 30 * kMinute)) {
      ++notEscalated;
    }
  }
  EXPECT_GT(answered, 100);
  EXPECT_GT(world.acknowledged, 100);
  EXPECT_GT(world.escalatedSms, 100);
  EXPECT_EQ(world.badEscalations, 0);
  EXPECT_EQ(wronglyEscalated, 0) << "an alarm SMS answered in time was escalated";
  EXPECT_EQ(notEscalated, 0) << "an alarm SMS nobody answered did not reach the backup";
  EXPECT_EQ(world.escalationFull, 0);

  // The heap does not grow once the run has settled.
  EXPECT_GE(world.liveAtDayTwo, 0);
  EXPECT_LE(world.maxLiveAfterDayTwo, world.liveAtDayTwo + 64);

  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // A standby well while the main phone fails: no SMS is given up, the main phone's hung
  // radio included.
  if (standby) {
    EXPECT_GT(world.takeovers, 100);
    EXPECT_EQ(world.givenUp, 0);
  }
  printf("soak%s: %d standby takeovers, %d SMS given up\n", standby ? " with a standby" : "",
         world.takeovers, world.givenUp);
  printf(
      "soak: %d alarms, %d taken by destinations: %d named and %d counted in the %d SMS the "
      "phones took (%d taken twice); %d named and %d counted in the %d SMS given up after four "
      "sendings; %d on their way at shutdown in %d SMS and %d batches; %d SMS lost for a full "
      "queue; %d modem time-outs; queue at most %d; live heap blocks %lld at day 2, at most "
      "%lld after; %.1f s\n"
      "soak replies: %d alarm SMS to destinations with a rule, %d answered, %d slept through; "
      "%d confirmations of acknowledgements; %d SMS escalated to the backup; %d heartbeats, %d "
      "of them waited behind alarms\n",
      world.alarms, taken, named, counted, world.deliveredSms, world.resent, namedGivenUp,
      countedGivenUp, world.givenUp, atShutdown, world.discardedSms, world.discardedBatches,
      world.queueLost, world.timeouts, world.maxQueued, static_cast<long long>(world.liveAtDayTwo),
      static_cast<long long>(world.maxLiveAfterDayTwo), seconds,
      static_cast<int>(world.ruled.size()), answered, slept, world.acknowledged, world.escalatedSms,
      world.heartbeats, world.heartbeatsWaited);
}

TEST(SoakTest, SixtyDaysAcrossTheTickWrapLoseNoAlarmUnreported) {
  Soak(false);
}

TEST(SoakTest, SixtyDaysWithAStandbyWhoseMainPhoneFailsForHours) {
  Soak(true);
}

}  // namespace
}  // namespace kelvor
