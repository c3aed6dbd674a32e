// A steady main loop allocates nothing: thousands of passes with alarms offered to 31
// destinations, batches sent, SMS queued and confirmed, signal queries and status reports,
// heartbeats, every line in a log file that is renamed and started anew many times over,
// the spool written at every change, counted by a replaced operator new. Every fake here
// works without the heap.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/kelvor_main.h"
#include "counting_new.h"
#include "support/fakes.h"
#include "support/temp_folder.h"

namespace kelvor {
namespace {

constexpr int kWarmUp = 2000;    // passes before counting: the modem is ready by then
constexpr int kCounted = 20000;  // passes counted

class NullConsole : public Console {
 public:
  void SetColour(Colour) override {}
  void Write(const char*, size_t) override {}
};

// S every 500 passes.
class ReportingKeyboard : public Keyboard {
 public:
  bool KeyWaiting() override { return ++calls_ % 500 == 0; }
  int ReadKey() override { return 's'; }

 private:
  int calls_ = 0;
};

// An alarm every tenth pass; stops the run after the counted passes and takes the heap
// counts on the way.
// The spool's file is renamed over at every write, so its inode tells that it was written.
ino_t SpoolInode(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

class SteadyScada : public Scada {
 public:
  explicit SteadyScada(const std::string& spool) : spool_(spool) {
    test::AlarmBuilder alarm;
    alarm.areas = 0xFFFF;
    alarm.text = "Feed pump tripped";
    alarm.tag = "FEED_PUMP_1";
    record_ = alarm.Build();
  }
  int32_t ScadaRunning() override {
    ++passes;
    if (passes == kWarmUp) {
      atWarmUp = test::CurrentHeapCounts();
      spoolAtWarmUp = SpoolInode(spool_);
    }
    if (passes == kWarmUp + kCounted) {
      atEnd = test::CurrentHeapCounts();
      spoolAtEnd = SpoolInode(spool_);
    }
    return passes < kWarmUp + kCounted ? 1 : 0;
  }
  int16_t ReadAlarmQueue(int32_t, AlarmRecord& record) override {
    if (passes % 10 != 0) return kQueueEmpty;
    record = record_;
    return kAlarmDelivered;
  }
  int16_t ReadTagText(const char*, const char*, const char* field, char* text) override {
    strcpy(text, strcmp(field, "A_DESC") == 0 ? "Feed flow low" : "  12.5");
    return 0;
  }
  int16_t ReadTagNumber(const char*, const char*, const char*, float* value) override {
    *value = 1.0f;
    return 0;
  }

  int passes = 0;
  test::HeapCounts atWarmUp{};
  test::HeapCounts atEnd{};
  ino_t spoolAtWarmUp = 0;
  ino_t spoolAtEnd = 0;

 private:
  const std::string& spool_;
  AlarmRecord record_;
};

int textsSent = 0;       // SMS texts the phone confirmed
int heartbeatsSent = 0;  // of them, heartbeats after the first

// A phone that answers every command at once from fixed texts.
class AnsweringPort : public SerialPort {
 public:
  bool Open(const char*) override { return true; }
  bool BuildMode(const char*, char*, size_t) override { return true; }
  void ApplyMode() override {}
  bool Read(char* buffer, uint32_t capacity, uint32_t* count) override {
    onItsWay_ = false;
    *count = 0;
    if (answer_ == nullptr) return true;
    uint32_t length = static_cast<uint32_t>(strlen(answer_));
    if (length > capacity) length = capacity;
    memcpy(buffer, answer_, length);
    answer_ = nullptr;
    *count = length;
    return true;
  }
  bool Write(const char* data, uint32_t length) override {
    if (length > 1 && data[length - 1] == 26) {
      answer_ = "\r\n+CMGS: 5\r\n\r\nOK\r\n";
      ++textsSent;
      if (strncmp(data, "Kelvor alive", 12) == 0) ++heartbeatsSent;
    } else if (strncmp(data, "AT+CMGS=", 8) == 0) {
      answer_ = "\r\n> ";
    } else if (strncmp(data, "AT+CSQ", 6) == 0) {
      answer_ = "\r\n+CSQ: 15,99\r\n\r\nOK\r\n";
    } else {
      answer_ = "\r\nOK\r\n";
    }
    onItsWay_ = true;
    return true;
  }
  bool Purge() override {
    if (!onItsWay_) answer_ = nullptr;
    return true;
  }
  void Close() override {}

 private:
  const char* answer_ = nullptr;
  bool onItsWay_ = false;
};

TEST(AllocationTest, ASteadyMainLoopPassAllocatesNothing) {
  NullConsole console;
  ReportingKeyboard keyboard;
  test::VirtualClock clock(0u - 3600u * 1000u);  // the tick wraps during the count
  // In memory where the machine has it: the test is about the heap, not the disk.
  const std::string spool =
      (access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm/") : testing::TempDir()) +
      "kelvor-allocation-spool-" + std::to_string(getpid());
  SteadyScada scada(spool);
  Platform platform{console, keyboard, clock, scada,
                    [] { return std::make_unique<AnsweringPort>(); }};

  test::TempFolder folder;
  std::string logFile = folder.Path("kelvor.log");
  std::vector<std::string> arguments = {"kelvor", "COM1=9600,n,8,1", "SPOOL=" + spool,
                                        "LOG=" + logFile + ",64", "HEARTBEAT=+447900000999,1"};
  for (int j = 0; j < 31; ++j) {
    std::string number = "+4479000000" + std::to_string(10 + j);
    std::string form = j % 2 ? ",F" : ",S";
    std::string enable = j % 3 == 0 ? ",EN:E1.F_CV" : "";
    arguments.push_back("DEST=" + number + ",ABCDEFGHIJKLMNOP,L," + std::to_string(j % 6) + form +
                        enable);
  }
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);

  EXPECT_EQ(KelvorMain(static_cast<int>(arguments.size()), argv.data(), platform), 31);
  ASSERT_EQ(scada.passes, kWarmUp + kCounted);
  EXPECT_EQ(scada.atEnd.allocations - scada.atWarmUp.allocations, 0u)
      << "heap allocations in " << kCounted << " passes";
  EXPECT_EQ(scada.atEnd.live, scada.atWarmUp.live);
  EXPECT_GT(textsSent, 1000) << "SMS went out during the count";
  EXPECT_GT(heartbeatsSent, 100);
  EXPECT_GT(test::TempFolder::Read(logFile + ".1").size(), 60000u);
  EXPECT_NE(scada.spoolAtEnd, scada.spoolAtWarmUp) << "the spool was written during the count";
  EXPECT_NE(scada.spoolAtEnd, 0u);
  std::remove(spool.c_str());
  std::remove((spool + ".lck").c_str());
}

}  // namespace
}  // namespace kelvor
