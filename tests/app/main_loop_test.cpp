// The program's start-up, loop and shutdown, run in virtual time against fakes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/kelvor_main.h"
#include "support/fake_serial.h"
#include "support/fakes.h"

namespace kelvor {
namespace {

using ::testing::ElementsAre;

// A silent port that counts the ports alive, so tests can see when one is let go.
class CountedPort : public test::FakeSerialPort {
 public:
  explicit CountedPort(int* alive) : alive_(alive) { ++*alive_; }
  ~CountedPort() override { --*alive_; }

 private:
  int* alive_;
};

class MainLoopTest : public ::testing::Test {
 protected:
  MainLoopTest() {
    clock.onSleep = [this](uint32_t ms) { sleeps.push_back(ms); };
  }

  int Run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "kelvor");
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    Platform platform{console, keyboard, clock, scada, [this] {
                        ++portsMade;
                        portsAliveAtMaking.push_back(portsAlive);
                        return std::make_unique<CountedPort>(&portsAlive);
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
  test::FakeScada scada;
  std::vector<uint32_t> sleeps;
  int portsMade = 0;
  int portsAlive = 0;
  std::vector<int> portsAliveAtMaking;
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

// An argument that begins with DEST=, FILE= or SPOOL= is that kind whatever it holds; any other
// is classified by the first text it contains: "COM" makes a modem, "SER" without "COM"
// sets the service number, "DEST=" a destination, "FILE=" a file; the rest does nothing.
TEST_F(MainLoopTest, ArgumentsAreClassifiedByLeadingKeywordThenByTheFirstTextTheyContain) {
  const struct {
    std::vector<std::string> arguments;
    int ports;
    int destinations;
    int serviceLines;
  } cases[] = {
      {{"COM5", "DEST=+1,A,H,30,S,NODE1:COMP101.F_CV"}, 1, 1, 0},
      {{"COM5", "DEST=+1,A,H,30,S,SERVER:T.F_CV"}, 1, 1, 0},
      {{"COM5", "FILE=C:\\COMMON\\dest.csv", "DEST=+1,A,H,1"}, 1, 1, 0},
      {{"COM5", "FILE=/srv/SERVICE/dest.csv", "DEST=+1,A,H,1"}, 1, 1, 0},
      {{"PORT=COM5", "SERVICE=+1", "XDEST=+1,A,H,1", "nonsense"}, 1, 1, 1},
      {{"COM5", "XFILE=COM6", "DEST=+1,A,H,1"}, 2, 1, 0},
      {{"COM5", "SPOOL=/nowhere/COMMON/SERVICE", "DEST=+1,A,H,1"}, 1, 1, 0},
      {{"COM5", "dest=+1,A,H,1"}, 1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    console.Clear();
    portsMade = 0;
    scada.running = 0;
    int status = Run(c.arguments);
    EXPECT_EQ(portsMade, c.ports);
    EXPECT_EQ(status, c.destinations);
    EXPECT_EQ(CountLines("Service number Set to"), c.serviceLines);
  }
}

TEST_F(MainLoopTest, ALaterComArgumentReleasesTheEarlierPortFirst) {
  scada.running = 0;
  Run({"COM5=9600,n,8,1", "COM5=19200,n,8,1", "DEST=+1,A,H,1"});
  EXPECT_EQ(portsMade, 2);
  EXPECT_THAT(portsAliveAtMaking, ElementsAre(0, 0));
  EXPECT_EQ(portsAlive, 0);  // and the last one is closed at shutdown
}

TEST_F(MainLoopTest, ThirtyTwoDestinationsKeepTheFirst31AndReportTheLast) {
  std::vector<std::string> arguments = {"COM1"};
  for (int i = 1; i <= 32; ++i) arguments.push_back("DEST=+" + std::to_string(i) + ",A,H,1");
  scada.running = 0;
  EXPECT_EQ(Run(arguments), 31);
  EXPECT_EQ(CountLines("+32"), 1);
  EXPECT_EQ(CountLines("ignoring"), 1);
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
// tells of the loss as without one.
TEST_F(MainLoopTest, ASpoolKeepsWhatTheRunEndsWithForTheNextStart) {
  const std::string path = testing::TempDir() + "kelvor-main-loop-spool";
  std::remove(path.c_str());
  const std::vector<std::string> arguments = {"COM5", "DEST=+1,A,H,30", "SPOOL=" + path};
  for (const char* restoreLine :
       {"kelvor-main-loop-spool: no file yet, nothing to restore",
        "Spool restores SMS queued: 0, alarm batches pending: 1, batches queued as SMS: 0, "
        "refused: 0"}) {
    console.Clear();
    scada.PushRecord(test::AlarmBuilder{}.Build());
    scada.PushStatus(kShutDown);
    Run(arguments);
    EXPECT_EQ(CountLines(restoreLine), 1) << console.text();
    EXPECT_EQ(CountLines("Shutdown keeps for the next start SMS queued: 0, alarm batches "
                         "pending: 1"),
              1);
  }
  std::remove(path.c_str());

  console.Clear();
  for (int i = 0; i < 3; ++i) scada.PushRecord(test::AlarmBuilder{}.Build());
  scada.PushStatus(kShutDown);
  Run({"COM5", "DEST=+1,A,H,30", "SPOOL=" + path + "-missing/spool"});
  EXPECT_EQ(CountLines("-missing/spool cannot be written - going on from memory"), 1);
  EXPECT_EQ(CountLines("Shutdown discards SMS queued: 0, alarm batches pending: 1"), 1);
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
  EXPECT_EQ(scada.alarmReads, 1);
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

}  // namespace
}  // namespace kelvor
