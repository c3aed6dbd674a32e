// The program's start-up, loop and shutdown, run in virtual time against fakes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/kelvor_main.h"
#include "support/fake_serial.h"
#include "support/fakes.h"
#include "support/scripted_phone.h"
#include "support/temp_folder.h"

namespace kelvor {
namespace {

using ::testing::ElementsAre;

// A SCADA system that notes the tick of every alarm-queue read.
class TimedScada : public test::FakeScada {
 public:
  explicit TimedScada(Clock& clock) : clock_(clock) {}
  int16_t ReadAlarmQueue(int32_t mode, AlarmRecord& record) override {
    readTicks.push_back(clock_.TickCount());
    return FakeScada::ReadAlarmQueue(mode, record);
  }
  std::vector<uint32_t> readTicks;

 private:
  Clock& clock_;
};

class MainLoopTest : public ::testing::Test {
 protected:
  MainLoopTest() {
    clock.onSleep = [this](uint32_t ms) { sleeps.push_back(ms); };
    phone.serviceQuery = phone.ok;  // a phone that does not tell its service centre
  }

  int Run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "kelvor");
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    Platform platform{console, keyboard, clock, scada, [this] {
                        ++portsMade;
                        portsAliveAtMaking.push_back(portsAlive);
                        auto port = std::make_unique<test::FakeSerialPort>(&portsAlive);
                        port->clock = &clock;
                        lastPort = port.get();
                        // With a standby, the second port made is the standby's.
                        test::ScriptedPhone* behind =
                            standbyAnswers && portsMade == 2 ? &standbyPhone : &phone;
                        port->onWrite = [this, p = port.get(), behind](const std::string& command) {
                          commands.push_back(command);
                          if (answering) behind->Take(*p, command, clock.TickCount());
                        };
                        return port;
                      }};
    return KelvorMain(static_cast<int>(arguments.size()), argv.data(), platform);
  }

  // Lines from the given one on that contain `text`.
  int CountLines(const std::string& text) const {
    int count = 0;
    for (auto& line : console.Lines()) count += line.find(text) != std::string::npos;
    return count;
  }

  test::FakeConsole console;
  test::FakeKeyboard keyboard;
  test::VirtualClock clock;
  TimedScada scada{clock};
  std::vector<uint32_t> sleeps;
  int portsMade = 0;
  int portsAlive = 0;
  std::vector<int> portsAliveAtMaking;
  bool answering = false;  // the port is silent unless a phone answers on it
  test::ScriptedPhone phone;
  test::FakeSerialPort* lastPort = nullptr;  // gone with its modem once Run returns
  std::vector<std::string> commands;         // written to any port, kept past Run
  bool standbyAnswers = false;               // the standby's port has a phone of its own
  test::ScriptedPhone standbyPhone;
};

const std::vector<std::string> kMinimal = {"COM5=9600,n,8,1", "DEST=+99955501234,AD,H,30"};

TEST_F(MainLoopTest, NoArgumentsGiveTheUsageTextWithTheKeptMisspellingSevice) {
  EXPECT_EQ(Run({}), 0);
  auto lines = console.Lines();
  ASSERT_EQ(lines.size(), 18u);
  EXPECT_EQ(lines[0], "Kelvor Startup");
  EXPECT_EQ(lines[1], "starting SMS Alarm Router 1");
  EXPECT_EQ(lines[2],
            "Usage : Kelvor COMx=[baud,parity,bits,stopbits] SERVICE=+nnn DEST=+xxx,y,z,d,f");
  EXPECT_EQ(lines[4], "SEVICE is the SMS service centre number, for most phones you can omit this");
  EXPECT_EQ(lines[12], " f - If set to 'F' full alarm messages else description field only");
  EXPECT_EQ(lines[17], "");
  EXPECT_EQ(console.coloured().find("<105|Usage"), console.coloured().find("<105|"));
  EXPECT_EQ(scada.runningCalls, 0);
}

TEST_F(MainLoopTest, AModemOrDestinationsAloneGiveTheUsageText) {
  EXPECT_EQ(Run({"COM5=9600,n,8,1"}), 0);
  EXPECT_EQ(CountLines("Usage : Kelvor"), 1);
  console.Clear();
  EXPECT_EQ(Run({"DEST=+1,A,H,1", "DEST=+2,B,L,1"}), 0);
  EXPECT_EQ(CountLines("Usage : Kelvor"), 1);
  EXPECT_EQ(scada.alarmReads, 0);
}

TEST_F(MainLoopTest, ALaterComArgumentReleasesTheEarlierPortFirst) {
  scada.running = 0;
  Run({"COM5=9600,n,8,1", "COM5=19200,n,8,1", "DEST=+1,A,H,1"});
  EXPECT_EQ(portsMade, 2);
  EXPECT_THAT(portsAliveAtMaking, ElementsAre(0, 0));
  EXPECT_EQ(portsAlive, 0);  // and the last one is closed at shutdown
}

// A cut argument could open another port or set half a mode: nothing is opened.
TEST_F(MainLoopTest, AComArgumentTooLongToBeReadWholeOpensNothing) {
  scada.running = 0;
  EXPECT_EQ(Run({"COM1=" + std::string(300, '9'), "DEST=+1,A,H,1"}), 1);
  EXPECT_EQ(portsMade, 1);
  EXPECT_EQ(console.Lines()[2].rfind("COM argument too long", 0), 0u);
  EXPECT_EQ(CountLines("driver"), 0);
}

TEST_F(MainLoopTest, ThirtyTwoDestinationsKeepTheFirst31AndReportTheLast) {
  std::vector<std::string> arguments = {"COM1"};
  for (int i = 1; i <= 32; ++i) arguments.push_back("DEST=+" + std::to_string(i) + ",A,H,1");
  scada.running = 0;
  EXPECT_EQ(Run(arguments), 31);
  EXPECT_EQ(CountLines("+32"), 1);
  EXPECT_EQ(CountLines("ignoring"), 1);
}

// A file's lines count with the DEST arguments before it; those beyond 31 are each named,
// and the file is read to its end.
TEST_F(MainLoopTest, FileLinesBeyond31AreNamedAndTheFileReadToItsEnd) {
  test::TempFolder folder;
  std::string path = folder.Path("five.csv");
  std::string content = "head\r\n";
  for (int i = 1; i <= 5; ++i) content += "n,+" + std::to_string(i) + ",AP,L,9\r\n";
  std::ofstream(path, std::ios::binary) << content;
  std::vector<std::string> arguments = {"COM1"};
  for (int i = 0; i < 29; ++i) arguments.push_back("DEST=+9,A,H,1");
  arguments.push_back("FILE=" + path);
  scada.running = 0;
  EXPECT_EQ(Run(arguments), 31);
  std::vector<std::string> lines = console.Lines();
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 32, lines.begin() + 37),
            (std::vector<std::string>{
                "New dest = +1,FFFF8001,2,9",
                "New dest = +2,FFFF8001,2,9",
                "Destination list full (31), ignoring +3,AP,L,9",
                "Destination list full (31), ignoring +4,AP,L,9",
                "Destination list full (31), ignoring +5,AP,L,9",
            }));
}

TEST_F(MainLoopTest, ScadaNotRunningAtStartupGoesStraightToShutdown) {
  scada.running = 0;
  EXPECT_EQ(Run(kMinimal), 1);
  EXPECT_EQ(scada.alarmReads, 0);
  EXPECT_EQ(console.Lines().back(), "Exiting ....");
  EXPECT_NE(console.coloured().find("<105|Exiting ....|>"), std::string::npos);
}

TEST_F(MainLoopTest, EachQueueStatusGivesItsLineAndItsPause) {
  test::AlarmBuilder alarm;
  scada.PushRecord(alarm.Build());
  scada.PushStatus(1711);
  scada.PushStatus(1713);
  scada.PushStatus(kQueueEmpty);
  scada.PushStatus(-1);
  scada.PushStatus(6000);
  scada.PushStatus(kShutDown);
  EXPECT_EQ(Run(kMinimal), 1);

  EXPECT_THAT(sleeps, ElementsAre(100, 1000, 1000, 1000));
  EXPECT_EQ(scada.alarmReads, 7);
  const std::string& out = console.coloured();
  EXPECT_NE(out.find("<105|------------------------------------|>"), std::string::npos);
  EXPECT_NE(out.find("<71|Illegal alarm status 1711|>"), std::string::npos);
  EXPECT_NE(out.find("<71|Illegal alarm status 1713|>"), std::string::npos);
  EXPECT_NE(out.find("<71|bad status = -1 is WUSERQ1.EXE running ?|>"), std::string::npos);
  EXPECT_NE(out.find("<71|bad status = 6000 is WUSERQ1.EXE running ?|>"), std::string::npos);
  // The alarm's batch was still pending: the run says it ends without sending it.
  EXPECT_NE(out.find("<105|FIX has been shut down|>\r\n"
                     "<71|Shutdown discards SMS queued: 0, alarm batches pending: 1|>\r\n"
                     "<105|Exiting ....|>"),
            std::string::npos);
  // The modem stepped in every pass but the last: its first step resets it, and the pass
  // that met the shutdown neither flushed nor stepped it.
  EXPECT_EQ(CountLines("TX>>ATZ"), 1);
  EXPECT_LT(out.find("TX>>ATZ"), out.find("Illegal alarm status 1711"));
}

// With a spool, what shutdown would discard is kept, and the next run with the same
// arguments takes it back; a spool that cannot be written is said once, and shutdown then
// tells of the loss as without one. The file is written before the loop pauses: after the
// alarm is taken, and after a restore from a damaged file, which is renamed.
TEST_F(MainLoopTest, ASpoolKeepsWhatTheRunEndsWithForTheNextStart) {
  const std::string path = testing::TempDir() + "kelvor-main-loop-spool";
  std::remove(path.c_str());
  const std::vector<std::string> arguments = {"COM5", "DEST=+1,A,H,30", "SPOOL=" + path};
  std::string atFirstPause;
  clock.onSleep = [&](uint32_t) {
    if (atFirstPause.empty()) atFirstPause = test::TempFolder::Read(path);
  };
  for (const char* restoreLine :
       {"kelvor-main-loop-spool: no file yet, nothing to restore",
        "Spool restores SMS queued: 0, alarm batches pending: 1, batches queued as SMS: 0, "
        "refused: 0"}) {
    console.Clear();
    atFirstPause.clear();
    scada.PushRecord(test::AlarmBuilder{}.Build());
    scada.PushStatus(kShutDown);
    Run(arguments);
    EXPECT_EQ(CountLines(restoreLine), 1) << console.text();
    EXPECT_EQ(CountLines("Shutdown keeps for the next start SMS queued: 0, alarm batches "
                         "pending: 1"),
              1);
    EXPECT_NE(atFirstPause.find("\ndesc\n"), std::string::npos);
  }
  std::ofstream(path, std::ios::binary | std::ios::app) << "x";  // damaged after its records
  atFirstPause.clear();
  scada.PushStatus(kQueueEmpty);
  scada.PushStatus(kShutDown);
  Run(arguments);
  EXPECT_NE(atFirstPause.find("\ndesc\n"), std::string::npos);
  std::remove(path.c_str());
  std::remove((path + ".bad").c_str());
  std::remove((path + ".lck").c_str());

  console.Clear();
  for (int i = 0; i < 3; ++i) scada.PushRecord(test::AlarmBuilder{}.Build());
  scada.PushStatus(kShutDown);
  Run({"COM5", "DEST=+1,A,H,30", "SPOOL=" + path + "-missing/spool"});
  EXPECT_EQ(CountLines("-missing/spool cannot be written - going on from memory"), 1);
  EXPECT_EQ(CountLines("-missing/spool: last write at shutdown failed"), 1);
  EXPECT_EQ(CountLines("Shutdown discards SMS queued: 0, alarm batches pending: 1"), 1);

  // The folder is made in the pause after the alarm, and the shutdown that follows, well
  // within a second, still writes the file.
  console.Clear();
  const std::string folder = path + "-later";
  std::filesystem::remove_all(folder);
  clock.onSleep = [&](uint32_t) { std::filesystem::create_directories(folder); };
  scada.PushRecord(test::AlarmBuilder{}.Build());
  scada.PushStatus(kShutDown);
  Run({"COM5", "DEST=+1,A,H,30", "SPOOL=" + folder + "/spool"});
  EXPECT_EQ(CountLines("-later/spool cannot be written - going on from memory"), 1);
  EXPECT_EQ(CountLines("-later/spool written again"), 1);
  EXPECT_EQ(CountLines("Shutdown keeps for the next start SMS queued: 0, alarm batches "
                       "pending: 1"),
            1);
  EXPECT_NE(test::TempFolder::Read(folder + "/spool").find("\ndesc\n"), std::string::npos);
  std::filesystem::remove_all(folder);
}

TEST_F(MainLoopTest, EveryShutdownStatusEndsTheRun) {
  for (int16_t status : {kShutDown, kShutDown2, kShutDown3}) {
    scada.PushStatus(status);
    console.Clear();
    EXPECT_EQ(Run(kMinimal), 1);
    EXPECT_EQ(CountLines("FIX has been shut down"), 1) << status;
  }
  EXPECT_EQ(scada.alarmReads, 3);
}

TEST_F(MainLoopTest, ThePrefilterDropsRecordsWithTheKeptDot60AfterTheText) {
  test::AlarmBuilder alarm;
  alarm.text = "FIC101 100% HIGH";
  alarm.routing = 0;
  scada.PushRecord(alarm.Build());
  alarm.routing = 1;
  alarm.status = 0;
  scada.PushRecord(alarm.Build());
  scada.PushStatus(kShutDown);
  Run(kMinimal);
  EXPECT_EQ(CountLines("Prefilter Ignoring - FIC101 100% HIGH.60"), 2);
  EXPECT_EQ(scada.tagReads.size(), 0u);  // no destination was asked
  EXPECT_THAT(sleeps, ElementsAre(100, 100));
}

TEST_F(MainLoopTest, TheAlarmTextIsReadWithinItsFieldWhenUnterminated) {
  test::AlarmBuilder alarm;
  alarm.text = std::string(136, 'x');
  alarm.routing = 0;
  AlarmRecord record = alarm.Build();
  record.bytes[138] = 0;  // routing flag 0 right after a full text field
  scada.PushRecord(record);
  scada.PushStatus(kShutDown);
  Run(kMinimal);
  EXPECT_EQ(CountLines("Prefilter Ignoring - " + std::string(136, 'x') + ".60"), 1);
}

TEST_F(MainLoopTest, QEndsTheRunAfterThePassWithTheKeptQuittingDotsR) {
  keyboard.keys = {'q'};
  EXPECT_EQ(Run(kMinimal), 1);
  EXPECT_EQ(scada.alarmReads, 1);
  EXPECT_THAT(sleeps, ElementsAre(1000));
  // The pass goes on to its modem step after the key.
  const std::string& out = console.text();
  EXPECT_LT(out.find("Quitting...r\r\n"), out.find("TX>>ATZ\r\n"));
  EXPECT_EQ(console.Lines().back(), "Exiting ....");
}

TEST_F(MainLoopTest, AServiceNumberTakesEffectOnlyAfterTheComArgument) {
  scada.running = 0;
  Run({"SERVICE=+111", "COM5", "SERVICE=+222", "DEST=+1,A,H,1", "COM6", "SERVICE=+333x"});
  EXPECT_EQ(CountLines("Service number Set to"), 2);
  EXPECT_EQ(CountLines("Service number Set to +222"), 1);
  EXPECT_EQ(CountLines("Service number Set to +333x"), 1);
}

TEST_F(MainLoopTest, SShowsTheStatusReportAndOtherKeysAreIgnored) {
  keyboard.keys = {'x', 's', 'Q'};
  Run(kMinimal);
  const std::string& out = console.coloured();
  EXPECT_NE(out.find("<39|Signal Strength = 0 %|>\r\n<39|Messages in Que = 0 |>\r\n"
                     "<39|Last Error      = 0 |>"),
            std::string::npos);
  EXPECT_EQ(CountLines("Network"), 0);  // not asked, not known: the three lines alone
  EXPECT_EQ(scada.alarmReads, 1);
}

// The virtual clock's local time starts on a Monday at 14:03:22.
TEST_F(MainLoopTest, HoursAreSaidAtStartTheFirstPassSaysWhoIsOnDutyAndSoDoesS) {
  keyboard.keys = {'s', 'Q'};
  std::vector<std::string> arguments = kMinimal;
  arguments.push_back("HOURS=+99955501234,1-5,14:00-14:04");
  arguments.push_back("HOURS=+4917100001,6-7,00:00-24:00");
  arguments.push_back("HOURS=+1,1,8-9");
  Run(arguments);
  EXPECT_EQ(CountLines("Hours on duty of +99955501234: 1-5 14:00-14:04"), 1);
  EXPECT_NE(console.coloured().find("Bad hours times - HOURS=+number,days,hh:mm-hh:mm[;days,"
                                    "hh:mm-hh:mm]: HOURS=+1,1,8-9; always on duty|>"),
            std::string::npos);
  EXPECT_EQ(CountLines("+99955501234 goes on duty"), 1);
  EXPECT_EQ(CountLines("+4917100001 goes off duty"), 1);
  EXPECT_NE(console.coloured().find("<39|On duty         = +99955501234 |>"), std::string::npos);
}

TEST_F(MainLoopTest, TheRunEndsWhenTheScadaSystemStops) {
  scada.runningSequence = {1, 1, 1, 0};
  EXPECT_EQ(Run(kMinimal), 1);
  EXPECT_EQ(scada.alarmReads, 3);  // the pass that saw the stop still completes
  EXPECT_EQ(console.Lines().back(), "Exiting ....");
}

TEST_F(MainLoopTest, TheLoopRunsAcrossTheTickWrap) {
  clock.Set(0xFFFFFFFFu - 2500);
  scada.runningSequence.assign(6, 1);
  scada.running = 0;
  EXPECT_EQ(Run(kMinimal), 1);
  EXPECT_EQ(scada.alarmReads, 6);
  EXPECT_EQ(clock.TickCount(), 3499u);
}

// --- The modem between passes ------------------------------------------------------------

// The dialogue steps when its answer arrives, not at the next pass: with the queue empty
// (a second a pass) five SMS go at the phone's pace, 0.35 s each and the pause of a second
// after each confirmation. The pause holds the dialogue only: with an alarm record every
// pass during the next five, the queue is still read every 100 ms.
TEST_F(MainLoopTest, ABurstGoesAtThePhonesPaceAndAlarmsKeepTheirCadence) {
  answering = true;
  phone.delay = 50;
  phone.sendDelay = 300;
  test::AlarmBuilder alarm;
  for (int i = 0; i < 10; ++i) scada.PushStatus(kQueueEmpty);
  scada.PushRecord(alarm.Build());
  for (int i = 0; i < 20; ++i) scada.PushStatus(kQueueEmpty);
  scada.PushRecord(alarm.Build());
  alarm.routing = 0;  // read, and offered to no destination
  for (int i = 0; i < 80; ++i) scada.PushRecord(alarm.Build());
  scada.runningSequence.assign(125, 1);
  scada.running = 0;
  std::vector<std::string> arguments = {"COM5"};
  for (int i = 1; i <= 5; ++i) arguments.push_back("DEST=+1555000" + std::to_string(i) + ",A,H,0");
  Run(arguments);

  ASSERT_EQ(phone.received.size(), 10u);
  for (size_t k = 1; k < 10; ++k) {
    if (k == 5) continue;  // the second burst
    EXPECT_LE(phone.received[k].tick - phone.received[k - 1].tick, 1350u) << k;
  }
  uint32_t from = phone.received[5].tick - 150;  // the read of the second burst's alarm
  uint32_t to = phone.received[9].tick;
  uint32_t longest = 0;
  for (size_t i = 1; i < scada.readTicks.size(); ++i) {
    if (scada.readTicks[i - 1] < from || scada.readTicks[i] > to) continue;
    longest = std::max(longest, scada.readTicks[i] - scada.readTicks[i - 1]);
  }
  EXPECT_EQ(longest, 100u);
}

// PAUSE= sets the phone's rest after each SMS it confirms: five SMS due at once go 0.35 s
// apart (the phone's own time) without one, and 2.85 s apart with 2.5 s.
TEST_F(MainLoopTest, ThePauseAfterEachSmsIsTheOneGiven) {
  answering = true;
  phone.delay = 50;
  phone.sendDelay = 300;
  for (const char* pause : {"PAUSE=0", "PAUSE=2.5"}) {
    SCOPED_TRACE(pause);
    phone.received.clear();
    for (int i = 0; i < 10; ++i) scada.PushStatus(kQueueEmpty);
    scada.PushRecord(test::AlarmBuilder().Build());
    scada.runningSequence.assign(40, 1);
    scada.running = 0;
    std::vector<std::string> arguments = {"COM5", pause};
    for (int i = 1; i <= 5; ++i)
      arguments.push_back("DEST=+1555000" + std::to_string(i) + ",A,H,0");
    Run(arguments);
    ASSERT_EQ(phone.received.size(), 5u);
    uint32_t pauseMs = pause[6] == '0' ? 0 : 2500;
    for (size_t k = 1; k < 5; ++k) {
      uint32_t gap = phone.received[k].tick - phone.received[k - 1].tick;
      EXPECT_GE(gap, pauseMs + 350) << k;
      EXPECT_LE(gap, pauseMs + 400) << k;
    }
  }
}

// A modem that chatters while it is awaited costs a few steps a second, not a spinning loop.
TEST_F(MainLoopTest, AChatteringModemIsSteppedAtMost50TimesASecond) {
  int reads = 0;  // of the port, which goes with the run
  bool chattering = false;
  clock.onSleep = [&](uint32_t) {
    reads = lastPort->reads;
    if (clock.TickCount() < 2000 || chattering) return;
    for (int i = 0; i < 1000; ++i) lastPort->Arrive("\r\nRING\r\n");
    chattering = true;
  };
  scada.runningSequence.assign(4, 1);  // four seconds, the modem silent after its ATZ
  scada.running = 0;
  Run(kMinimal);
  EXPECT_TRUE(chattering);
  EXPECT_LE(reads, 4 + 2 * 50);
}

// A key that comes while the modem is awaited is handled then, within the sleep, not after
// the rest of the modem's initialisation.
TEST_F(MainLoopTest, AKeyPressedWhileTheModemIsAwaitedIsHandledAtOnce) {
  answering = true;
  phone.delay = 300;
  clock.onSleep = [this](uint32_t) {
    if (lastPort->writes.size() < 2) return;  // pressed once AT+CMEE=1 has gone out
    keyboard.keys.push_back('s');
    clock.onSleep = nullptr;
  };
  scada.runningSequence.assign(3, 1);
  scada.running = 0;
  Run(kMinimal);
  const std::string& out = console.text();
  ASSERT_NE(out.find("Messages in Que = 0"), std::string::npos);
  EXPECT_LT(out.find("Messages in Que = 0"), out.find("Going to ATE0"));
}

// --- Log file and heartbeat -------------------------------------------------------------

// The file is there before the first line: it holds the whole run as the console shows it,
// each line after its time.
TEST_F(MainLoopTest, ALogFileHoldsEveryLineOfTheRunFromTheFirst) {
  test::TempFolder folder;
  std::string path = folder.Path("kelvor.log");
  scada.PushRecord(test::AlarmBuilder().Build());
  scada.PushStatus(kShutDown);
  Run({"COM5", "LOG=" + path + ",64", "DEST=+1,A,H,30"});
  std::string expected;
  for (const std::string& line : console.Lines())
    expected += "2026-12-07 14:03:22 " + line + "\r\n";
  EXPECT_EQ(test::TempFolder::Read(path), expected);
  EXPECT_EQ(console.Lines()[3], "Log file " + path + ", renamed to " + path + ".1 at 64 KB");
  EXPECT_EQ(CountLines("Buffering alm"), 1);
}

// Each LOG=, HEARTBEAT=, SPOOL= and PIN= argument is answered in its turn by one line: what
// it sets up or, in red, why it is refused. Only the first of each counts; a refused
// heartbeat sends nothing once the modem is ready. No line shows a PIN, taken or refused.
TEST_F(MainLoopTest, LogHeartbeatAndSpoolArgumentsAreTakenOrRefusedWithALine) {
  test::TempFolder folder;
  std::string path = folder.Path("k.log");
  const struct {
    std::vector<std::string> arguments;
    std::string shown;  // on the console, colour markers included
    size_t heartbeats;
  } cases[] = {
      {{"HEARTBEAT=+4479001,10080"}, "\nHeartbeat SMS to +4479001 every 10080 min\r", 1},
      {{"HEARTBEAT=+1,5", "HEARTBEAT=+2,5"},
       "<71|Second HEARTBEAT argument ignored - one heartbeat per run: HEARTBEAT=+2,5|>",
       1},
      {{"HEARTBEAT=+1,0", "HEARTBEAT=+2,5"}, "<71|Second HEARTBEAT argument ignored", 0},
      {{"HEARTBEAT=+1,10081"},
       "<71|Bad heartbeat minutes - HEARTBEAT=number,minutes with 1 to 10080 minutes: "
       "HEARTBEAT=+1,10081; no heartbeat|>",
       0},
      {{"HEARTBEAT=+1"}, "<71|Bad heartbeat minutes", 0},
      {{"HEARTBEAT=+44\"79\x1a,60"},
       "<71|Bad heartbeat number +44?79? - 1 to 31 characters, no quote, CR, LF, Ctrl-Z or ESC; "
       "no heartbeat|>",
       0},
      {{"HEARTBEAT=+12345678901234567890123456789012,60"},
       "<71|Bad heartbeat number +123456789012345678901234567890 -",
       0},
      {{"LOG=" + path + ",1048576", "LOG=k.log"},
       "\nLog file " + path + ", renamed to " + path + ".1 at 1048576 KB\r\n" +
           "<71|Second LOG argument ignored - one log file per run: LOG=k.log|>",
       0},
      {{"LOG="}, "<71|Bad log file path - 1 to 253 characters: LOG=; no log file|>", 0},
      {{"LOG=k.log,0"}, "<71|Bad log file size - 1 to 1048576 KB: LOG=k.log,0; no log file|>", 0},
      {{"LOG=k,log,"}, "<71|Bad log file size", 0},
      {{"SPOOL=" + folder.Path("a.spool"), "SPOOL=b.spool"},
       "<71|Second SPOOL argument ignored - one spool per run: SPOOL=b.spool|>",
       0},
      {{"REPLIES=yes"},
       "<71|Bad replies argument - REPLIES=ON turns them on: REPLIES=yes; ignored|>",
       0},
      {{"ESCALATE=+1,1441,+2", "ESCALATE=+1\x1b[2J,5,+2", "ESCALATE=+3,5,+3"},
       "<71|Bad escalation minutes - 1 to 1440: ESCALATE=+1,1441,+2; ignored|>\r\n"
       "<71|Bad escalation number +1?[2J - digits, blanks and a leading +, at most 31 "
       "characters: ESCALATE=+1?[2J,5,+2; ignored|>\r\n"
       "<71|Bad escalation - +3 to itself: ESCALATE=+3,5,+3; ignored|>",
       0},
      {{"RING=+4479001,5,m", "RING=+44 7900 1,6", "RING=+4479002,1440"},
       "\nWake-up call: +4479001 is called when its alarm SMS (high and medium priority) have "
       "no answer in 5 min\r\n<71|Second ring for +44 7900 1 ignored - one per number: "
       "RING=+44 7900 1,6|>\r\nWake-up call: +4479002 is called when its alarm SMS (every "
       "priority) have no answer in 1440 min\r",
       0},
      {{"RING=+1,1441", "RING=+1,5,X", "RING=+1\x1b[2J,5", "RING=+1", "RING=+1,5,H,2"},
       "<71|Bad ring minutes - 1 to 1440: RING=+1,1441; ignored|>\r\n<71|Bad ring priority - H, "
       "M or L: RING=+1,5,X; ignored|>\r\n<71|Bad ring number +1?[2J - digits, blanks and a "
       "leading +, at most 31 characters: RING=+1?[2J,5; ignored|>\r\n<71|Bad ring - "
       "RING=+number,minutes[,H|M|L]: RING=+1; ignored|>\r\n<71|Bad ring - "
       "RING=+number,minutes[,H|M|L]: RING=+1,5,H,2; ignored|>",
       0},
      {{"PIN=2468"}, "\nSIM PIN **** given - sent when the SIM asks for it\r", 0},
      {{"PIN=24680", "PIN=13579"},
       "<71|Second PIN argument ignored - one PIN per run: PIN=****|>",
       0},
      {{"PIN=24a8"}, "<71|Bad PIN - PIN= takes 4 to 8 digits; no PIN sent|>", 0},
      {{"STANDBY=COM6=9600,n,8,1", "STANDBY_PIN=1357"},
       "\nStandby phone on COM6 - sends while the main phone has failed\r\nStandby SIM PIN **** "
       "given - sent when that SIM asks for it\r",
       0},
      {{"STANDBY=com5", "STANDBY=COM6"},
       "<71|Standby phone on the main phone's port COM5 - no standby|>\r\n<71|Second STANDBY "
       "argument ignored - one standby phone per run: STANDBY=COM6|>",
       0},
      {{"STANDBY=", "STANDBY_PIN=1357"},
       "<71|Bad standby port - STANDBY=COMx=settings: STANDBY=; no standby|>",
       0},
      {{"STANDBY=\\\\.\\com05"},
       "<71|Standby phone on the main phone's port \\\\.\\COM05 - no standby|>",
       0},
      {{"STANDBY_PIN=13a7", "STANDBY_PIN=1357"},
       "<71|Bad PIN - STANDBY_PIN= takes 4 to 8 digits; no PIN sent|>\r\n<71|Second STANDBY_PIN "
       "argument ignored - one standby PIN per run: STANDBY_PIN=****|>",
       0},
      {{"PAUSE=0.5", "PAUSE=2"},
       "\nPause after each SMS 0.5 s\r\n<71|Second PAUSE argument ignored - one pause per run: "
       "PAUSE=2|>",
       0},
      {{"PAUSE=60.1"},
       "<71|Bad pause - PAUSE= takes 0 to 60 seconds, tenths allowed: PAUSE=60.1; pause of 1 s "
       "kept|>",
       0},
      {{"CHARSET=Auto", "CHARSET=GSM"},
       "\nCharacter set AUTO for SMS texts, read in code page 1252\r\n"
       "<71|Second CHARSET argument ignored - one character set per run: CHARSET=GSM|>",
       0},
      {{"CODEPAGE=1251", "CHARSET=ucs2"},
       "\nCharacter set UCS2 for SMS texts, read in code page 1251\r",
       0},
      {{"CHARSET=UTF8", "CODEPAGE=1250"},
       "<71|Bad character set - CHARSET=AUTO, GSM or UCS2: CHARSET=UTF8; texts go as they are|>"
       "\r\n<71|Code page 1250 without CHARSET= - texts go as they are|>",
       0},
      {{"CHARSET=GSM", "CODEPAGE=99999"},
       "<71|Bad code page - CODEPAGE= takes its number, as 1252: CODEPAGE=99999; code page "
       "1252 used|>",
       0},
      {{"CHARSET=GSM", "CODEPAGE=932"},
       "<71|Code page 932 cannot be read here (one byte a character: 1250, 1251, 1252...) - its "
       "letters above 127 go as ?|>",
       0},
  };
  answering = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    console.Clear();
    phone.received.clear();
    scada.runningSequence.assign(20, 1);  // the modem is ready after 6 passes
    scada.running = 0;
    std::vector<std::string> arguments = {"COM5"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    arguments.push_back("DEST=+1,A,H,30");
    EXPECT_EQ(Run(arguments), 1);
    EXPECT_NE(console.coloured().find(c.shown), std::string::npos) << console.coloured();
    EXPECT_EQ(phone.received.size(), c.heartbeats);
    for (const char* pin : {"2468", "13579", "24a8", "1357", "13a7"}) {
      EXPECT_EQ(console.coloured().find(pin), std::string::npos) << pin;
    }
  }
}

// A code page the system cannot read leaves the letters above 127 without a character: each
// goes as '?', as the start-up line says.
TEST_F(MainLoopTest, ALetterWithoutACharacterInTheCodePageGoesAsAQuestionMark) {
  answering = true;
  scada.SetText("NODE1", "TAG1", "A_DESC",
                "Kessel 80\xB0"
                "C");
  scada.PushRecord(test::AlarmBuilder{}.Build());
  scada.runningSequence.assign(30, 1);
  scada.running = 0;
  Run({"COM5", "CHARSET=AUTO", "CODEPAGE=932", "DEST=+1,A,H,0"});
  ASSERT_EQ(phone.To("+1").size(), 1u);
  EXPECT_EQ(phone.To("+1")[0].text, "7/09:05\nKessel 80?C\n");
}

// The first heartbeat goes as soon as the modem is ready; the later ones keep to the period
// from there, without drifting, each with what happened since the one before.
TEST_F(MainLoopTest, TheHeartbeatGoesWhenTheModemIsFirstReadyThenEveryPeriod) {
  answering = true;
  for (int i = 0; i < 600; ++i) scada.PushStatus(kQueueEmpty);
  scada.PushRecord(test::AlarmBuilder().Build());  // ten minutes in
  scada.runningSequence.assign(11000, 1);          // just over three hours
  scada.running = 0;
  Run({"COM5", "HEARTBEAT=+4479001,60", "DEST=+4479002,A,H,0"});

  std::vector<test::ScriptedPhone::Sms> beats = phone.To("+4479001");
  ASSERT_EQ(beats.size(), 4u);
  EXPECT_EQ(beats[0].text, "Kelvor started. Alarms read 0, SMS sent 0, SMS lost 0, SMS waiting 0.");
  EXPECT_EQ(beats[1].text,
            "Kelvor alive. Since the last heartbeat: alarms read 1, SMS sent 2, SMS lost 0. "
            "Signal 48%, SMS waiting 0.");
  EXPECT_EQ(beats[2].text,
            "Kelvor alive. Since the last heartbeat: alarms read 0, SMS sent 1, SMS lost 0. "
            "Signal 48%, SMS waiting 0.");
  EXPECT_EQ(phone.received[0].text, beats[0].text);  // before the alarm's SMS
  EXPECT_EQ(phone.To("+4479002").size(), 1u);
  for (uint32_t k = 1; k < beats.size(); ++k) {
    EXPECT_LE(beats[k].tick - beats[0].tick - k * 3600000, 1500u) << k;
  }
}

// A heartbeat due while the queue is full of alarms waits, said once, and goes after them
// once the phone is back, with an SMS given up after four sendings among the SMS lost.
TEST_F(MainLoopTest, AHeartbeatDueWhileAlarmsFillTheQueueWaitsAndGoesAfterThem) {
  answering = true;
  phone.refused = "+4479050";
  phone.onReceived = [this](const test::ScriptedPhone::Sms& sms) {
    if (sms.text.rfind("Kelvor started", 0) == 0) phone.silent = true;  // the phone goes off
  };
  clock.onSleep = [this](uint32_t) {
    if (clock.TickCount() > 90 * 60000) phone.silent = false;  // and comes back at 90 min
  };
  for (int i = 0; i < 600; ++i) scada.PushStatus(kQueueEmpty);
  scada.PushRecord(test::AlarmBuilder().Build());
  scada.runningSequence.assign(7500, 1);
  scada.running = 0;
  // 22 destinations: 21 SMS fill the queue, the last batch waits at its destination.
  std::vector<std::string> arguments = {"COM5", "HEARTBEAT=+4479001,60"};
  for (int i = 50; i < 72; ++i) arguments.push_back("DEST=+44790" + std::to_string(i) + ",A,H,0");
  Run(arguments);

  EXPECT_EQ(CountLines("Message queue full - SMS to +4479001"), 0);
  EXPECT_EQ(CountLines("Heartbeat to +4479001 waits - alarms come first in the SMS queue"), 1);
  std::vector<test::ScriptedPhone::Sms> beats = phone.To("+4479001");
  ASSERT_EQ(beats.size(), 3u);
  EXPECT_EQ(beats[1].text,
            "Kelvor alive. Since the last heartbeat: alarms read 1, SMS sent 2, SMS lost 1. "
            "Signal 0%, SMS waiting 20.");
  EXPECT_EQ(phone.received.end()[-2].text, beats[1].text);  // after the 21 alarm SMS
  EXPECT_EQ(beats[2].text,
            "Kelvor alive. Since the last heartbeat: alarms read 0, SMS sent 21, SMS lost 0. "
            "Signal 48%, SMS waiting 0.");
  EXPECT_EQ(CountLines("SMS to +4479050 dropped after 4 failed sendings"), 1);
}

// A phone off the network keeps the SMS waiting until it is back, and where it is shows,
// once it was asked, after the S report's three lines and in the heartbeat.
TEST_F(MainLoopTest, SmsWaitOffTheNetworkAndTheReportsSayWhereThePhoneIs) {
  answering = true;
  phone.offNetwork = true;
  clock.onSleep = [this](uint32_t) {
    uint32_t now = clock.TickCount();
    if (now > 25 * 60000 && now <= 25 * 60000 + 1000) keyboard.keys.push_back('s');
    if (now > 30 * 60000) phone.offNetwork = false;
  };
  scada.PushRecord(test::AlarmBuilder().Build());
  scada.runningSequence.assign(2700, 1);  // 45 min
  scada.running = 0;
  Run({"COM5", "HEARTBEAT=+4479001,20", "DEST=+4479002,A,H,0"});

  ASSERT_EQ(phone.received.size(), 4u);
  EXPECT_EQ(phone.received[0].number, "+4479002");
  EXPECT_GT(phone.received[0].tick, 30 * 60000u);
  EXPECT_EQ(phone.received[2].text,
            "Kelvor alive. Since the last heartbeat: alarms read 0, SMS sent 0, SMS lost 0. "
            "Signal 48%, SMS waiting 2, network searching.");
  EXPECT_EQ(phone.received[3].text,
            "Kelvor alive. Since the last heartbeat: alarms read 0, SMS sent 3, SMS lost 0. "
            "Signal 48%, SMS waiting 0, network registered.");
  EXPECT_NE(console.coloured().find("<39|Last Error      = 515 |>\r\n"
                                    "<39|Network         = searching |>"),
            std::string::npos);
  EXPECT_EQ(CountLines("Network registration:"), 2);
}

// --- A standby phone ---------------------------------------------------------------------

// A silent main phone leaves the heartbeats and the alarm to the standby, and the
// heartbeat's number hears of the takeover, and of the main phone taking back once it
// answers again; the S report and the heartbeat say which phone sends meanwhile.
TEST_F(MainLoopTest, TheStandbySendsForASilentMainPhoneAndTheHeartbeatNumberHearsOfIt) {
  answering = standbyAnswers = true;
  phone.silent = true;
  clock.onSleep = [this](uint32_t) {
    uint32_t now = clock.TickCount();
    if (now >= 60000 && now < 61000 && keyboard.keys.empty()) keyboard.keys.push_back('s');
    if (now > 120000) phone.silent = false;
  };
  for (int i = 0; i < 20; ++i) scada.PushStatus(kQueueEmpty);
  scada.PushRecord(test::AlarmBuilder().Build());
  scada.runningSequence.assign(240, 1);
  scada.running = 0;
  Run({"COM5", "STANDBY=COM6", "HEARTBEAT=+4479001,2", "DEST=+4479002,A,H,0"});

  auto texts = [](const test::ScriptedPhone& by) {
    std::vector<std::string> found;
    for (const auto& sms : by.received) found.push_back(sms.number + " " + sms.text);
    return found;
  };
  EXPECT_THAT(texts(standbyPhone),
              ElementsAre("+4479001 Kelvor started. Alarms read 0, SMS sent 0, SMS lost 0, SMS "
                          "waiting 0.",
                          "+4479001 Kelvor: standby phone takes over, main phone silent.",
                          "+4479002 7/09:05\ndesc\n",
                          "+4479001 Kelvor alive, standby sends. Since last: alarms read 1, SMS "
                          "sent 3, SMS lost 0. Signal 48%, SMS waiting 0, network registered."));
  EXPECT_THAT(texts(phone),
              ElementsAre("+4479001 Kelvor: main phone sends again, standby phone stands by."));
  EXPECT_EQ(CountLines("Standby phone COM6 takes over - main phone COM5 silent"), 1);
  EXPECT_EQ(CountLines("Main phone COM5 takes back from the standby - it answers and is "
                       "registered"),
            1);
  EXPECT_NE(console.coloured().find("<39|Sending phone   = standby |>"), std::string::npos);
}

// --- Replies ----------------------------------------------------------------------------

// The phone answers back. An alarm SMS answered within its minute is acknowledged and the
// acknowledgement confirmed; one left unanswered goes on to the next number after its
// minute, with a line naming whom it passed over. A status request from a known number is
// answered, at most once a minute, at the number as configured; a stranger's SMS is logged,
// its text made printable, and answered with nothing. Every SMS read is deleted.
TEST_F(MainLoopTest, RepliesAcknowledgeEscalateAndAnswerStatusRequests) {
  answering = true;
  scada.textReader = [](const std::string& key, std::string* text) {
    *text = key.find("A_DESC") != std::string::npos ? "Pump tripped" : "";
    return int16_t{0};
  };
  test::AlarmBuilder alarm;
  for (int i = 0; i < 10; ++i) scada.PushStatus(kQueueEmpty);
  scada.PushRecord(alarm.Build());
  for (int i = 0; i < 30; ++i) scada.PushStatus(kQueueEmpty);
  alarm.minute = 6;
  scada.PushRecord(alarm.Build());
  struct Sent {
    uint32_t at;
    const char* sender;
    const char* text;
  };
  const Sent replies[] = {{20000, "+44 7900 1", "OK thanks"},
                          {120000, "+4479999", "hello\x1b[2J"},
                          {130000, "+44 7900 2", " status "},
                          {140000, "4479002", "S"}};
  size_t next = 0;
  clock.onSleep = [&](uint32_t) {
    if (next < std::size(replies) && clock.TickCount() >= replies[next].at) {
      phone.Receive(*lastPort, replies[next].sender, replies[next].text);
      ++next;
    }
  };
  scada.runningSequence.assign(170, 1);
  scada.running = 0;
  Run({"COM5", "ESCALATE=+4479001,1,+4479002", "DEST=+4479001,A,H,0"});

  auto texts = [this](const char* number) {
    std::vector<std::string> found;
    for (const auto& sms : phone.To(number)) found.push_back(sms.text);
    return found;
  };
  EXPECT_THAT(texts("+4479001"),
              ElementsAre("7/09:05\nPump tripped\n", "Kelvor: 1 alarm SMS acknowledged",
                          "7/09:06\nPump tripped\n"));
  EXPECT_THAT(texts("+4479002"),
              ElementsAre("No answer from +4479001 in 1 min\n7/09:06\nPump tripped\n",
                          "Kelvor status. Signal 48%, SMS waiting 0, last error 0, alarms read 2 "
                          "since start."));
  EXPECT_EQ(phone.received.size(), 5u);
  EXPECT_EQ(CountLines("SMS from +4479001 acknowledges 1 alarm SMS: OK thanks"), 1);
  EXPECT_EQ(CountLines("Escalated to +4479002: No answer from +4479001 in 1 min"), 1);
  EXPECT_EQ(CountLines("SMS from unknown number +4479999 ignored: hello?[2J"), 1);
  EXPECT_EQ(CountLines("Status request from +4479002 - answered by SMS"), 1);
  EXPECT_EQ(CountLines("Status request from +4479002 - answered within the minute already"), 1);
  EXPECT_EQ(console.text().find('\x1b'), std::string::npos);
  EXPECT_EQ(phone.deleted, 4);
  EXPECT_EQ(phone.StoredCount(), 0);
}

// An alarm SMS nobody answers rings its number once, a minute after the phone confirmed
// it, and the call is hung up after 30 s; an alarm raised meanwhile goes as soon as the call
// ends. An SMS answered in time, and one below the rule's priority, ring nothing.
TEST_F(MainLoopTest, AnUnansweredAlarmSmsRingsItsNumberOnce) {
  answering = true;
  test::AlarmBuilder alarm;  // high priority, area A
  auto pushAlarm = [&](uint16_t areas, int8_t priority, int quietSeconds) {
    alarm.areas = areas;
    alarm.priority = priority;
    ++alarm.minute;
    scada.PushRecord(alarm.Build());
    for (int i = 0; i < quietSeconds; ++i) scada.PushStatus(kQueueEmpty);
  };
  for (int i = 0; i < 10; ++i) scada.PushStatus(kQueueEmpty);
  pushAlarm(3, 0, 75);  // to both; only +4479001 has a rule
  pushAlarm(2, 0, 60);  // during the call, to +4479002
  pushAlarm(1, 0, 60);  // answered within the minute
  pushAlarm(1, 2, 90);  // low: the rule rings for medium and above
  bool answered = false;
  clock.onSleep = [&](uint32_t) {
    if (!answered && phone.To("+4479001").size() == 2 &&
        clock.TickCount() > phone.To("+4479001")[1].tick + 20000) {
      phone.Receive(*lastPort, "+44 7900 1", "on my way");
      answered = true;
    }
  };
  scada.runningSequence.assign(320, 1);
  scada.running = 0;
  Run({"COM5", "DEST=+4479001,A,L,0", "DEST=+4479002,B,L,0", "RING=+4479001,1,m"});

  EXPECT_EQ(std::count(commands.begin(), commands.end(), "ATD+4479001;\r"), 1);
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "ATH\r"), 1);
  EXPECT_EQ(CountLines("Wake-up call to +4479001: 1 alarm SMS without an answer in 1 min"), 1);
  EXPECT_EQ(CountLines("Call to +4479001 not answered in 30 s - hung up"), 1);
  EXPECT_EQ(CountLines("SMS from +4479001 - no wake-up call needed"), 1);
  ASSERT_EQ(phone.To("+4479001").size(), 3u);
  ASSERT_EQ(phone.To("+4479002").size(), 2u);
  uint32_t raised = scada.readTicks[86];  // the second alarm, read during the call
  EXPECT_LT(phone.To("+4479002")[1].tick - raised, 32000u);
}

// A status request read while the queue is full (21 alarm SMS held for the network, a 22nd
// batch waiting at its destination) is answered after the alarms, once they have their
// places; a request meanwhile adds none. The minute starts when the answer goes.
TEST_F(MainLoopTest, AStatusRequestWhileAlarmsFillTheQueueIsAnsweredAfterThem) {
  answering = true;
  phone.offNetwork = true;
  scada.PushRecord(test::AlarmBuilder().Build());
  const struct {
    uint32_t at;
    const char* sender;
  } requests[] = {{20000, "+4479050"}, {22000, "+4479050"}, {120000, "+4479050"}};
  size_t next = 0;
  clock.onSleep = [&](uint32_t) {
    if (clock.TickCount() > 25000) phone.offNetwork = false;
    if (next < std::size(requests) && clock.TickCount() >= requests[next].at) {
      phone.Receive(*lastPort, requests[next++].sender, "S");
    }
  };
  scada.runningSequence.assign(170, 1);
  scada.running = 0;
  std::vector<std::string> arguments = {"COM5", "REPLIES=ON"};
  for (int i = 50; i < 72; ++i) arguments.push_back("DEST=+44790" + std::to_string(i) + ",A,H,0");
  Run(arguments);

  EXPECT_EQ(CountLines("Message queue full - SMS to +4479050"), 0);
  EXPECT_EQ(CountLines("Status request from +4479050 - answer waits, alarms come first in the "
                       "SMS queue"),
            1);
  EXPECT_EQ(CountLines("Status request from +4479050 - its answer waits already"), 1);
  EXPECT_EQ(CountLines("Status request from +4479050 - answered by SMS"), 2);
  // 21 alarm SMS, the batch that waited, the answer, then the third request's.
  ASSERT_EQ(phone.received.size(), 24u);
  EXPECT_EQ(phone.received[21].number, "+4479071");
  EXPECT_EQ(phone.received[22].text.rfind("Kelvor status. Signal 48%, SMS waiting 20,", 0), 0u);
  std::vector<test::ScriptedPhone::Sms> got = phone.To("+4479050");
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[2].text.rfind("Kelvor status. Signal 48%, SMS waiting 0", 0), 0u);
}

}  // namespace
}  // namespace kelvor
