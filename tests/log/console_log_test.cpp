#include "log/console_log.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fakes.h"
#include "support/temp_folder.h"

namespace kelvor {
namespace {

using test::FakeConsole;

TEST(ConsoleLog, ColoursTheTextOnlyAndEndsTheLineInAttribute7) {
  FakeConsole console;
  ConsoleLog log(console, nullptr);
  log.LogMessage(Colour::kError, "TX>>%s", "ATZ\r");
  EXPECT_EQ(console.coloured(), "<71|TX>>ATZ|>\r\n");
}

TEST(ConsoleLog, KeepsOnlyTheFirstLine) {
  FakeConsole console;
  ConsoleLog log(console, "Kelvor Startup");
  log.LogMessage(Colour::kNormal, "Quitting...r\n");
  log.LogMessage(Colour::kAlarmQueue, "\r\nHit any Key to Exit\r\n");
  log.LogMessage(Colour::kAlarmQueue, " f - full\r\n\r\n");
  log.LogMessage(Colour::kModem, "RX<<%s", "OK\rmore\nlines");
  EXPECT_EQ(console.text(), "Kelvor Startup\r\nQuitting...r\r\n\r\n f - full\r\nRX<<OK\r\n");
}

TEST(ConsoleLog, PrintsPercentSignsAsText) {
  FakeConsole console;
  ConsoleLog log(console, nullptr);
  log.LogMessage(Colour::kStatusReport, "Signal Strength = %d %%\r\n", 48);
  log.LogMessage(Colour::kModem, "RX<<%s", "100%d %s %n");
  EXPECT_EQ(console.text(), "Signal Strength = 48 %\r\nRX<<100%d %s %n\r\n");
}

TEST(ConsoleLog, CutsALongTextAt255Characters) {
  FakeConsole console;
  ConsoleLog log(console, nullptr);
  std::string chunk(400, 'x');
  log.LogMessage(Colour::kModem, "RX<<%s", chunk.c_str());
  EXPECT_EQ(console.text(), "RX<<" + std::string(251, 'x') + "\r\n");
}

// --- The log file ----------------------------------------------------------------------

class LogFileTest : public ::testing::Test {
 protected:
  // The log and its file are made anew by each Start.
  void Start(const std::string& path, uint32_t kbytes, const char* title = "Kelvor Startup") {
    log_.reset();
    file_ = std::make_unique<LogFile>(clock_);
    file_->Start(path.c_str(), kbytes);
    log_ = std::make_unique<ConsoleLog>(console_, title, file_.get());
  }

  // Lines of `width` characters with the stamp and the line end, `count` of them.
  void LogLines(int count) {
    std::string text(100 - 20 - 2, 'x');
    for (int i = 0; i < count; ++i) log_->LogMessage(Colour::kModem, "%s", text.c_str());
  }

  test::TempFolder folder_;
  test::VirtualClock clock_;
  FakeConsole console_;
  std::unique_ptr<LogFile> file_;
  std::unique_ptr<ConsoleLog> log_;
};

// The console is as it was; the file has each console line, after the time it was written,
// a plain print split at its line ends and continued by the next write when it has none.
TEST_F(LogFileTest, HoldsEveryConsoleLineAfterItsLocalTime) {
  std::string path = folder_.Path("kelvor.log");
  Start(path, 1024);
  log_->LogMessage(Colour::kError, "TX>>%s", "ATZ\r");
  clock_.Sleep(1000);
  log_->Print("Ignoring alm %s\r\nBuffering alm %s\r\n", "A", "B");
  clock_.Sleep(61000);
  log_->Print("Message ");
  clock_.Sleep(1000);
  log_->LogMessage(Colour::kAlarmQueue, "queue %d%%", 100);
  log_->Print("\r\n");
  EXPECT_EQ(console_.coloured(),
            "Kelvor Startup\r\n<71|TX>>ATZ|>\r\nIgnoring alm A\r\nBuffering alm B\r\n"
            "Message <105|queue 100%|>\r\n\r\n");
  EXPECT_EQ(test::TempFolder::Read(path),
            "2026-12-07 14:03:22 Kelvor Startup\r\n"
            "2026-12-07 14:03:22 TX>>ATZ\r\n"
            "2026-12-07 14:03:23 Ignoring alm A\r\n"
            "2026-12-07 14:03:23 Buffering alm B\r\n"
            "2026-12-07 14:04:24 Message queue 100%\r\n"
            "2026-12-07 14:04:25 \r\n");
}

// Kept to 1 KB: the line that would pass it starts a new file, the old one becoming
// path.1 in place of the one before; a file left over the size by an earlier run is
// renamed at the first line.
TEST_F(LogFileTest, ALineThatWouldPassTheSizeStartsANewFileAfterRenamingTheOld) {
  std::string path = folder_.Path("kelvor.log");
  Start(path, 1, nullptr);
  LogLines(10);
  EXPECT_EQ(test::TempFolder::Read(path).size(), 1000u);
  EXPECT_EQ(test::TempFolder::Read(path + ".1"), "<none>");
  LogLines(1);
  EXPECT_EQ(test::TempFolder::Read(path + ".1").size(), 1000u);
  EXPECT_EQ(test::TempFolder::Read(path).size(), 100u);
  LogLines(10);
  EXPECT_EQ(test::TempFolder::Read(path + ".1").size(), 1000u);
  EXPECT_EQ(test::TempFolder::Read(path).size(), 100u);
  EXPECT_EQ(console_.Lines().size(), 21u);  // and nothing said about it on the console

  Start(path, 1);  // 100 bytes: continued
  EXPECT_EQ(test::TempFolder::Read(path).size(), 136u);
  log_.reset();
  file_.reset();  // let go of the file: on Windows no other program may write it meanwhile
  std::ofstream(path, std::ios::binary | std::ios::app) << std::string(2000, '-');
  Start(path, 1);  // past the size: renamed at the first line
  EXPECT_EQ(test::TempFolder::Read(path + ".1").size(), 2136u);
  EXPECT_EQ(test::TempFolder::Read(path), "2026-12-07 14:03:22 Kelvor Startup\r\n");
}

// A file that cannot be opened costs one console line and nothing else; it is tried again
// each time a size's worth of lines has gone by, and says there that it has a gap.
TEST_F(LogFileTest, AFileThatCannotBeOpenedIsReportedOnceAndTriedAgainAtEachRotationPoint) {
  std::string folder = folder_.Path("later");
  std::string path = folder_.Path("later/kelvor.log");
  Start(path, 1);
  LogLines(15);  // the first rotation point, still without the folder
  std::filesystem::create_directory(folder);
  LogLines(4);
  EXPECT_EQ(test::TempFolder::Read(path), "<none>");
  const std::string report =
      "<71|Log file " + path + " cannot be written - console only until its next rotation|>";
  EXPECT_EQ(console_.coloured().find(report), console_.coloured().find("<71|"));
  EXPECT_EQ(console_.coloured().rfind("<71|"), console_.coloured().find("<71|"));
  EXPECT_EQ(console_.Lines().size(), 21u);
  LogLines(1);  // the second rotation point: the file begins with its gap
  std::string written = test::TempFolder::Read(path);
  const std::string again =
      "Log file " + path + " written again - some earlier lines are missing from it\r\n";
  EXPECT_EQ(written.substr(20, again.size()), again);
  EXPECT_EQ(written.substr(20 + again.size() + 20, 20), std::string(20, 'x'));
  EXPECT_EQ(console_.Lines().size(), 23u);
  EXPECT_EQ(console_.Lines()[1], report.substr(4, report.size() - 6));
}

// A rotation whose rename fails (another program holds the file; here a folder is in the way
// of path.1) is said once and tried again at each line. The file never passes twice its
// size: it ends with a line saying so, the console goes on, and the rotation is tried again
// once another size's worth of lines has gone by.
TEST_F(LogFileTest, ARotationThatCannotRenameIsSaidRetriedAndKeptWithinTwiceTheSize) {
  std::string path = folder_.Path("kelvor.log");
  std::filesystem::create_directory(path + ".1");
  Start(path, 1, nullptr);
  LogLines(25);
  const std::string stopped = "Log file " + path +
                              " not rotated and at twice its size - console only until its next "
                              "rotation";
  std::string written = test::TempFolder::Read(path);
  EXPECT_LE(written.size(), 2048u);
  EXPECT_EQ(written.substr(written.size() - stopped.size() - 2), stopped + "\r\n");
  EXPECT_EQ(console_.coloured().find("<71|Log file " + path +
                                     " cannot be renamed for its rotation - tried again at "
                                     "each line|>"),
            console_.coloured().find("<71|"));
  EXPECT_EQ(console_.coloured().rfind("<71|"), console_.coloured().find("<71|" + stopped));
  EXPECT_EQ(console_.Lines().size(), 27u);

  std::filesystem::remove(path + ".1");
  LogLines(3);
  EXPECT_EQ(test::TempFolder::Read(path + ".1"), written);
  const std::string again =
      "Log file " + path + " written again - some earlier lines are missing from it\r\n";
  EXPECT_EQ(test::TempFolder::Read(path).substr(20, again.size()), again);
}

#ifndef _WIN32
// A full disk: the first failed write is reported, the run goes on. (The size stays far
// off, so no rotation: that would rename the device.)
TEST_F(LogFileTest, AFailedWriteIsReportedOnceAndTheLogGoesOnOnTheConsole) {
  Start("/dev/full", 1024);
  LogLines(50);
  log_->Print("Buffering alm %s\r\n", "A");
  EXPECT_EQ(console_.Lines().size(), 53u);
  EXPECT_EQ(console_.Lines()[1],
            "Log file /dev/full cannot be written - console only until its next rotation");
  EXPECT_EQ(console_.Lines()[52], "Buffering alm A");
}
#endif

}  // namespace
}  // namespace kelvor
