// A steady main loop allocates nothing: thousands of passes with alarms offered to 31
// destinations, batches sent, SMS queued and confirmed, signal queries and status reports,
// heartbeats, every line in a log file that is renamed and started anew many times over,
// the spool written at every change, replies read (acknowledgements, status requests, a
// stranger's SMS) and alarm SMS escalated, wake-up calls made for the SMS nobody answers
// (passes while they ring, one answered), with a standby phone that takes over while the
// main phone is silent for a while and gives back (and again with two phones that share the
// SMS), status reports asked for (some delivered, some not, the rest never), counted by a
// replaced operator new.
// Every fake here works without the heap.
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
#include "support/fake_serial.h"
#include "support/fakes.h"
#include "support/scripted_phone.h"
#include "support/temp_folder.h"

namespace kelvor {
namespace {

constexpr int kWarmUp = 2000;    // passes before counting: the modem is ready by then
constexpr int kCounted = 20000;  // passes counted

// The spool's file is renamed over at every write, so its inode tells that it was written.
ino_t SpoolInode(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

// With `share`, the two phones share the SMS (SHARE=ON), and the calls go by either.
void SteadyPasses(bool share) {
  test::NullConsole console;
  test::FakeKeyboard keyboard;
  keyboard.Repeat('s', 500);
  test::VirtualClock clock(0u - 3600u * 1000u);  // the tick wraps during the count
  // In memory where the machine has it: the test is about the heap, not the disk.
  const std::string spool =
      (access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm/") : testing::TempDir()) +
      "kelvor-allocation-spool-" + std::to_string(getpid());

  // An alarm every fortieth pass: its 31 SMS come about as fast as the phone takes them (one
  // a second, with the pause after each), so the queue empties now and then and heartbeats
  // find room in it. The run ends after the counted passes, and the heap counts are taken
  // on the way.
  test::FakeScada scada;
  test::AlarmBuilder alarm;
  alarm.areas = 0xFFFF;
  alarm.text = "Feed pump tripped";
  alarm.tag = "FEED_PUMP_1";
  scada.RepeatAlarm(alarm.Build(), 40);
  scada.AnswerEveryTag(
      "Feed flow low 4\xB0"
      "C",
      "  12.5", 1.0f);  // goes in UCS-2
  test::HeapCounts atWarmUp{}, atEnd{};
  ino_t spoolAtWarmUp = 0, spoolAtEnd = 0;
  // SMS reach the phone now and then: an engineer's answer, a status request, a stranger's.
  test::ScriptedPhone phone;
  test::FakeSerialPort* phonePort = nullptr;
  const char* const kRepliers[] = {"+447900000010", "+447900000011", "+447900000999",
                                   "+447900000777"};
  const char* const kReplies[] = {"ok", "Ack", "status", "hello"};
  // Wake-up calls to a number that never answers, and to the backup of the SMS escalated: the
  // first during the warm-up, with an SMS reaching the phone while a poll's answer waits at the
  // port (as SMS will in the count), more during the count, one of them answered; passes are
  // counted while a call is under way.
  int dialledInWarmUp = 0, dialled = 0, answeredCalls = 0, passesInCall = 0;
  bool calling = false, smsDuringCall = false;
  const size_t callState = phone.calls.find(",3,") + 1;  // of the call made: 3 alerting
  scada.onRunning = [&] {
    bool counting = scada.runningCalls > kWarmUp;
    passesInCall += counting && calling;
    if (!counting && calling && !smsDuringCall && phonePort->Waiting() > 0) {
      phone.Receive(*phonePort, kRepliers[2], kReplies[2]);
      smsDuringCall = true;
    }
    if (counting && calling && dialled - dialledInWarmUp == 2) phone.calls[callState] = '0';
    if (scada.runningCalls == kWarmUp) dialledInWarmUp = dialled;
    if (scada.runningCalls % 150 == 0) {
      int k = scada.runningCalls / 150 % 4;
      phone.Receive(*phonePort, kRepliers[k], kReplies[k]);
    }
    if (scada.runningCalls == kWarmUp) {
      atWarmUp = test::CurrentHeapCounts();
      spoolAtWarmUp = SpoolInode(spool);
    }
    // The main phone is silent for a while, in the warm-up and again in the count: the
    // standby takes over, then gives back.
    for (int from : {500, kWarmUp + 5000}) {
      if (scada.runningCalls == from) phone.silent = true;
      if (scada.runningCalls == from + 600) phone.silent = false;
    }
    if (scada.runningCalls == kWarmUp + kCounted) {
      atEnd = test::CurrentHeapCounts();
      spoolAtEnd = SpoolInode(spool);
    }
    scada.running = scada.runningCalls < kWarmUp + kCounted ? 1 : 0;
  };

  // A phone that answers every command at once, its answers ending the loop's sleeps; it
  // counts the texts it takes, and the heartbeats after the first, the status answers, the
  // acknowledgements' confirmations and the escalated SMS among them.
  phone.serviceQuery = phone.ok;
  phone.keep = false;
  int heartbeatsSent = 0, statusAnswers = 0, confirmations = 0, escalated = 0, ucs2 = 0;
  const std::string delivered =
      "\r\n+CDS: 6,5,\"+447900000010\",145,\"26/12/07,03:12:00+04\",\"26/12/07,03:12:05+04\",0\r\n";
  const std::string failed =
      "\r\n+CDS: "
      "6,5,\"+447900000011\",145,\"26/12/07,03:12:00+04\",\"26/12/07,03:12:05+04\",70\r\n";
  auto count = [&](const test::ScriptedPhone::Sms& sms) {
    if (sms.number == "+447900000010") phonePort->Arrive(delivered);
    if (sms.number == "+447900000011") phonePort->Arrive(failed);
    heartbeatsSent += sms.text.rfind("Kelvor alive", 0) == 0;
    statusAnswers += sms.text.rfind("Kelvor status", 0) == 0;
    confirmations += sms.text.rfind("Kelvor: ", 0) == 0;
    escalated += sms.text.rfind("No answer from ", 0) == 0;
    ucs2 += sms.text.find("00B00043") != std::string::npos;  // "°C" as UCS-2 hex
  };
  test::ScriptedPhone standby;  // on the second port made
  standby.serviceQuery = standby.ok;
  standby.keep = false;
  int standbySent = 0;
  phone.onReceived = count;
  standby.onReceived = [&](const test::ScriptedPhone::Sms& sms) {
    ++standbySent;
    count(sms);
  };
  Platform platform{console, keyboard, clock, scada, [&] {
                      auto port = std::make_unique<test::FakeSerialPort>();
                      port->recording = false;
                      if (phonePort != nullptr) {
                        standby.Plug(*port);
                        return port;
                      }
                      phone.Plug(*port);
                      phonePort = port.get();
                      // The calls, as the phone takes ATD and ATH.
                      auto take = port->onWrite;
                      port->onWrite = [&, take](const std::string& write) {
                        if (write.rfind("ATD", 0) == 0) {
                          ++dialled;
                          calling = true;
                        } else if (write == "ATH\r") {
                          calling = false;
                          answeredCalls += phone.calls[callState] == '0';
                          phone.calls[callState] = '3';
                        }
                        take(write);
                      };
                      return port;
                    }};

  test::TempFolder folder;
  std::string logFile = folder.Path("kelvor.log");
  std::vector<std::string> arguments = {"kelvor",
                                        "COM1=9600,n,8,1",
                                        "SPOOL=" + spool,
                                        "LOG=" + logFile + ",64",
                                        "HEARTBEAT=+447900000999,1",
                                        "CHARSET=AUTO",
                                        "ESCALATE=+447900000010,1,+447900000998",
                                        "ESCALATE=+447900000011,1,+447900000998",
                                        "ESCALATE=+447900000012,1,+447900000998",
                                        "RING=+447900000013,30",
                                        "RING=+447900000998,30",
                                        "STANDBY=COM2=9600,n,8,1",
                                        "DELIVERY=60"};
  if (share) arguments.push_back("SHARE=ON");
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
  ASSERT_EQ(scada.runningCalls, kWarmUp + kCounted);
  EXPECT_GT(ucs2, 100);
  EXPECT_EQ(atEnd.allocations - atWarmUp.allocations, 0u)
      << "heap allocations in " << kCounted << " passes";
  EXPECT_EQ(atEnd.live, atWarmUp.live);
  EXPECT_GT(phone.taken, 1000) << "SMS went out during the count";
  EXPECT_GT(heartbeatsSent, 100);
  EXPECT_GT(statusAnswers, 10);
  EXPECT_GT(confirmations, 10);
  EXPECT_GT(escalated, 10);
  EXPECT_GT(phone.deleted, 100);
  EXPECT_GT(standbySent, share ? 1000 : 10) << "the standby sent";
  if (!share) {  // the calls are watched on the main phone's port
    EXPECT_GT(dialledInWarmUp, 0) << "a wake-up call during the warm-up";
    EXPECT_TRUE(smsDuringCall);
    EXPECT_GT(dialled - dialledInWarmUp, 2) << "wake-up calls during the count";
    EXPECT_EQ(answeredCalls, 1);
    EXPECT_GT(passesInCall, 100);
  }
  EXPECT_GT(test::TempFolder::Read(logFile + ".1").size(), 60000u);
  EXPECT_NE(spoolAtEnd, spoolAtWarmUp) << "the spool was written during the count";
  EXPECT_NE(spoolAtEnd, 0u);
  std::remove(spool.c_str());
  std::remove((spool + ".lck").c_str());
}

TEST(AllocationTest, ASteadyMainLoopPassAllocatesNothing) {
  SteadyPasses(false);
}

TEST(AllocationTest, ASteadyPassWithTwoSharingPhonesAllocatesNothing) {
  SteadyPasses(true);
}

}  // namespace
}  // namespace kelvor
