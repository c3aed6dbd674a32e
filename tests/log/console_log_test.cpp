#include "log/console_log.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fakes.h"

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

}  // namespace
}  // namespace kelvor
