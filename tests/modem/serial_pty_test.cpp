// The Linux serial port on a real pseudo-terminal, and the modem against the simulator.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "log/console_log.h"
#include "modem/sms_modem.h"
#include "platform/serial.h"
#include "platform/serial_posix.h"
#include "support/fakes.h"

namespace kelvor {
namespace {

// What a read delivered; a read that fails fails the test.
uint32_t Take(SerialPort& port, char* buffer, uint32_t capacity) {
  uint32_t count = 0;
  EXPECT_TRUE(port.Read(buffer, capacity, &count));
  return count;
}

// A pseudo-terminal whose far end the test plays.
class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    termios t;
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    cfsetospeed(&t, B9600);
    cfsetispeed(&t, B9600);
    tcsetattr(slave_, TCSANOW, &t);
    path_ = name;
    port_ = NewSerialPort();
    ASSERT_TRUE(port_->Open(("COM:" + path_).c_str()));
  }
  void TearDown() override {
    port_.reset();
    close(slave_);
    close(master_);
  }

  termios Settings() {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
  }

  // What the far end has received within `ms` milliseconds.
  std::string Received(int ms = 200) {
    std::string data;
    pollfd ready{master_, POLLIN, 0};
    while (poll(&ready, 1, ms) > 0) {
      char buffer[256];
      ssize_t count = read(master_, buffer, sizeof buffer);
      if (count <= 0) break;
      data.append(buffer, count);
      ms = 20;
    }
    return data;
  }

  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  std::unique_ptr<SerialPort> port_;
};

TEST_F(PtyTest, ReadsReturnAtOnceWithWhatHasArrived) {
  char buffer[513];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Take(*port_, buffer, 512), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  ASSERT_EQ(write(master_, "\r\nOK\r\n", 6), 6);
  usleep(20000);
  ASSERT_EQ(Take(*port_, buffer, 512), 6u);
  EXPECT_EQ(std::string(buffer, 6), "\r\nOK\r\n");
}

TEST_F(PtyTest, APurgeNeverLosesACommandAlreadyWritten) {
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(port_->Write("ATZ\r", 4));
    port_->Purge();
    ASSERT_EQ(Received(), "ATZ\r") << "command " << i;
  }
}

TEST_F(PtyTest, APurgeThrowsAwayWhatArrivedUnread) {
  ASSERT_EQ(write(master_, "junk", 4), 4);
  usleep(20000);
  EXPECT_TRUE(port_->Purge());
  char buffer[16];
  EXPECT_EQ(Take(*port_, buffer, sizeof buffer), 0u);
}

// A wait for input ends when bytes come, and not before; a line that has hung up, which
// every poll reports at once, is waited out rather than spun on.
TEST_F(PtyTest, AWaitEndsWithTheBytesAndAHungUpLineIsWaitedOut) {
  test::FakeKeyboard keyboard;
  Clock& clock = SystemClock();
  std::thread answer([this] {
    usleep(100000);
    EXPECT_EQ(write(master_, "\r\nOK\r\n", 6), 6);
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port_->WaitForInput(2000, clock, keyboard), WaitEnd::kBytes);
  auto waited = std::chrono::steady_clock::now() - start;
  answer.join();
  EXPECT_GE(waited, std::chrono::milliseconds(90));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));

  close(master_);
  master_ = -1;
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(port_->WaitForInput(200, clock, keyboard), WaitEnd::kTime);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
}

// The far end going away (the master closing, as an unplugged USB adapter hangs up its
// line) fails reads, writes and purges, where a quiet line only reads nothing.
TEST_F(PtyTest, AHungUpLineFailsWhereAQuietOneReadsNothing) {
  char buffer[16];
  uint32_t count = 99;
  EXPECT_TRUE(port_->Read(buffer, sizeof buffer, &count));
  EXPECT_EQ(count, 0u);
  close(master_);
  master_ = -1;
  count = 99;
  EXPECT_FALSE(port_->Read(buffer, sizeof buffer, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(port_->Write("ATZ\r", 4));
  EXPECT_FALSE(port_->Purge());
}

TEST_F(PtyTest, TheModeIsAppliedToTheLineSettings) {
  char error[128] = "";
  // A pseudo-terminal always keeps 8 data bits without parity: those cannot be seen here.
  ASSERT_TRUE(port_->BuildMode("19200,O,7,2", error, sizeof error));
  port_->ApplyMode();
  termios t = Settings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);

  ASSERT_TRUE(port_->BuildMode("BAUD=115200 PARITY=M OCTS=ON RTS=HS XON=ON", error, sizeof error));
  port_->ApplyMode();
  t = Settings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);  // not named: kept
  EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), PARODD | CMSPAR);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));

  ASSERT_TRUE(port_->BuildMode("9600,N,8,1,P", error, sizeof error));
  port_->ApplyMode();
  t = Settings();
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

TEST_F(PtyTest, SettingsTheLineCannotTakeAreRefusedAndChangeNothing) {
  const char* refused[] = {"9600,N,8,1.5", "12345,N,8,1", "BAUD=9600 RTS=TG", "ODSR=ON",
                           "IDSR=ON",      "DTR=HS",      "OCTS=ON",          "BAUD=2400 garbage"};
  for (const char* mode : refused) {
    char error[128] = "";
    ASSERT_FALSE(port_->BuildMode(mode, error, sizeof error)) << mode;
    EXPECT_STREQ(error, "The parameter is incorrect.\r\n");
    port_->ApplyMode();  // the settings as they were, and the time-outs
    termios t = Settings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600)) << mode;
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u) << mode;
  }
}

TEST_F(PtyTest, ThePortIsHeldExclusivelyUntilClosed) {
  auto second = NewSerialPort();
  EXPECT_FALSE(second->Open(("COM:" + path_).c_str()));
  port_->Close();
  EXPECT_TRUE(second->Open(("COM:" + path_).c_str()));
}

TEST(PosixSerialPort, OnlyTerminalsThatExistOpen) {
  const char* names[] = {
      "COM:/dev/kelvor-no-such-port", "COM0", "COM", "COMX", "/dev/null", "COM:/dev/null", "COM:"};
  for (const char* name : names) EXPECT_FALSE(NewSerialPort()->Open(name)) << name;
  auto closed = NewSerialPort();
  char buffer[8];
  uint32_t count = 99;
  EXPECT_FALSE(closed->Read(buffer, sizeof buffer, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(closed->Write("AT\r", 3));
  EXPECT_FALSE(closed->Purge());
  closed->Close();
}

// A device is the same whatever name leads to it: a link (as /dev/serial/by-id has), COMn
// and the path of /dev/ttyS(n-1), the Windows names of one COM port. A file stands in for a
// device that is no terminal; names that open nothing are the same only when equal.
TEST(SamePortDevice, ComparesTheDevicesNotTheirNames) {
  char dir[] = "/tmp/kelvor-same-port-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string link = std::string(dir) + "/by-id", fileLink = std::string(dir) + "/file-link";
  std::string file = std::string(dir) + "/file";
  int master = -1, slave = -1, otherMaster = -1, otherSlave = -1;
  char pty[256], other[256];
  ASSERT_EQ(openpty(&master, &slave, pty, nullptr, nullptr), 0);
  ASSERT_EQ(openpty(&otherMaster, &otherSlave, other, nullptr, nullptr), 0);
  ASSERT_EQ(symlink(pty, link.c_str()), 0);
  close(open(file.c_str(), O_CREAT | O_WRONLY, 0600));
  ASSERT_EQ(symlink(file.c_str(), fileLink.c_str()), 0);
  const struct {
    std::string first, second;
    bool same;
  } cases[] = {
      {"COM:" + std::string(pty), "COM:" + link, true},
      {"COM:" + std::string(pty), "COM:" + std::string(other), false},
      {"COM:" + file, "COM:" + fileLink, true},
      {"COM:" + file, "COM:" + std::string(pty), false},
      {"COM1", "COM:/dev/ttyS0", true},
      {"COM5", "\\\\.\\COM5", true},
      {"COM5", "COM6", false},
      {"COM:" + std::string(dir) + "/gone", "COM:" + std::string(dir) + "/gone", true},
      {"COM:" + std::string(dir) + "/gone", "COM:" + std::string(dir) + "/away", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SamePortDevice(c.first.c_str(), c.second.c_str()), c.same)
        << c.first << " and " << c.second;
  }
  for (const std::string& name : {link, fileLink, file}) unlink(name.c_str());
  rmdir(dir);
  for (int fd : {master, slave, otherMaster, otherSlave}) close(fd);
}

// A socket's output queue stands in for a line whose handshake holds the bytes (a pseudo-
// terminal never holds any): output nobody takes fails the drain once the stall time is up,
// output taken slowly but steadily drains however long it takes in all.
TEST(DrainOutput, IsBoundedByTheStallNotByTheTimeTheBytesTake) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  for (int i = 0; i < 8; ++i) ASSERT_EQ(write(pair[0], "0123456789", 10), 10);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DrainOutput(pair[0], 200));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(200));
  EXPECT_LT(waited, std::chrono::milliseconds(2000));

  std::thread reader([&] {
    for (int i = 0; i < 8; ++i) {
      usleep(100000);
      char chunk[10];
      EXPECT_EQ(read(pair[1], chunk, sizeof chunk), 10);
    }
  });
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(DrainOutput(pair[0], 200));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700));
  reader.join();
  close(pair[0]);
  close(pair[1]);
}

#ifdef KELVOR_GSM_SIM

// The simulator as a child process; its first output line is the device path.
class Simulator {
 public:
  explicit Simulator(std::vector<std::string> options) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::vector<char*> argv{const_cast<char*>(KELVOR_GSM_SIM)};
      for (auto& option : options) argv.push_back(&option[0]);
      argv.push_back(nullptr);
      execv(KELVOR_GSM_SIM, argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
    path = Line(5000);
  }
  ~Simulator() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // The next output line, or "" when none comes within `ms`.
  std::string Line(int ms) {
    std::string line;
    pollfd ready{out_, POLLIN, 0};
    while (poll(&ready, 1, ms) > 0) {
      char c;
      if (read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return "";
  }

  std::string path;

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

TEST(GsmSimulator, AnswersOnTheLinkWithEchoUntilAte0) {
  Simulator sim({"--delay", "10"});
  ASSERT_EQ(sim.path.rfind("/dev/pts/", 0), 0u) << sim.path;
  auto port = NewSerialPort();
  ASSERT_TRUE(port->Open(("COM:" + sim.path).c_str()));
  auto exchange = [&](const char* command) {
    port->Write(command, strlen(command));
    std::string answer;
    char buffer[513];
    for (int i = 0; i < 50 && answer.find("\r\n", answer.size() > 2 ? 2 : 0) == std::string::npos;
         ++i) {
      usleep(10000);
      uint32_t count = Take(*port, buffer, 512);
      answer.append(buffer, count);
    }
    usleep(30000);
    uint32_t count = Take(*port, buffer, 512);
    return answer + std::string(buffer, count);
  };
  EXPECT_EQ(exchange("AT\r"), "AT\r\r\nOK\r\n");
  EXPECT_EQ(exchange("ATE0\r"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(exchange("AT+CSQ\r"), "\r\n+CSQ: 15,99\r\n\r\nOK\r\n");
  EXPECT_EQ(exchange("AT+CMGS=\"+1\"\r"), "\r\nERROR\r\n");  // still in PDU mode
}

// The whole modem, in real time, against the simulator; true once `done` holds.
bool RunModem(SmsModem& modem, const std::function<bool()>& done, int seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    modem.PollModem();
    if (done()) return true;
    SystemClock().Sleep(20);
  }
  return false;
}

TEST(GsmSimulator, KelvorInitialisesThePhoneAndItsSmsAreDelivered) {
  struct Case {
    std::vector<std::string> faults;
  } cases[] = {
      {{}}, {{"--split", "3", "--split-gap", "30"}}, {{"--stray-prompt"}}, {{"--sca", ""}}};
  for (const Case& c : cases) {
    std::vector<std::string> options{"--delay", "20"};
    options.insert(options.end(), c.faults.begin(), c.faults.end());
    Simulator sim(options);
    test::FakeConsole console;
    ConsoleLog log(console, nullptr);
    SmsModem modem(("COM:" + sim.path).c_str(), "9600,N,8,1", NewSerialPort(), log, SystemClock());
    modem.SetServiceNumber("+99912345");
    modem.QueueMessage("Pump 3 failed 100 %", "+99955501234");
    EXPECT_TRUE(RunModem(
        modem, [&] { return modem.QueuedCount() == 0; }, 8))
        << console.text();
    EXPECT_EQ(sim.Line(2000), "SMS ref=1 to=+99955501234 text=Pump 3 failed 100 %");
    std::string text = console.text();
    EXPECT_EQ(text.find("Timeout"), text.rfind("Timeout")) << text;  // only the first
  }
}

TEST(GsmSimulator, ARefusedSendIsReportedAsError515) {
  Simulator sim({"--delay", "20", "--fail-sends", "1"});
  test::FakeConsole console;
  ConsoleLog log(console, nullptr);
  SmsModem modem(("COM:" + sim.path).c_str(), nullptr, NewSerialPort(), log, SystemClock());
  modem.QueueMessage("x", "+1");
  EXPECT_TRUE(RunModem(
      modem, [&] { return modem.LastError() == 515; }, 5))
      << console.text();
}

// The reports the simulator plans on a text that asks for them: each status in turn, one
// --report-delay after the one before, pushed on the line and said on its output.
TEST(GsmSimulator, ReportsComeInTurnEachItsDelayAfterTheOneBefore) {
  Simulator sim({"--delay", "10", "--report-delay", "1", "--report-for", "+1,32,0"});
  auto port = NewSerialPort();
  ASSERT_TRUE(port->Open(("COM:" + sim.path).c_str()));
  const char kSend[] =
      "ATE0\rAT+CMGF=1\rAT+CSMP=49,167,0,0\rAT+CNMI=2,1,0,1,0\r"
      "AT+CMGS=\"+1\"\rhi\x1A";
  port->Write(kSend, sizeof kSend - 1);
  using Clock = std::chrono::steady_clock;
  EXPECT_EQ(sim.Line(3000), "SMS ref=1 to=+1 text=hi");
  Clock::time_point confirmed = Clock::now();
  EXPECT_EQ(sim.Line(3000), "REPORT sent to=+1 mr=1 status=32");
  Clock::time_point first = Clock::now();
  EXPECT_EQ(sim.Line(3000), "REPORT sent to=+1 mr=1 status=0");
  EXPECT_GE(first - confirmed, std::chrono::milliseconds(900));
  EXPECT_GE(Clock::now() - first, std::chrono::milliseconds(900));
  std::string received;
  char buffer[512];
  for (int i = 0; i < 20; ++i, usleep(10000)) received.append(buffer, Take(*port, buffer, 512));
  const std::string kTime = R"("\d\d/\d\d/\d\d,\d\d:\d\d:\d\d[+-]\d\d")";
  const std::regex kReport("\r\n\\+CDS: 6,1,\"\\+1\",145," + kTime + "," + kTime + ",(\\d+)\r\n");
  std::string statuses;
  for (std::sregex_iterator at(received.begin(), received.end(), kReport), end; at != end; ++at) {
    statuses += (*at)[1].str() + " ";
  }
  EXPECT_EQ(statuses, "32 0 ") << received;
}

#endif  // KELVOR_GSM_SIM

}  // namespace
}  // namespace kelvor
