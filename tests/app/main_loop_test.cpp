#include "app/kelvor_main.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace kelvor {
namespace {

TEST(KelvorMain, NoArgumentsPrintsTheUsageAndExitsWith0) {
  test::FakeConsole console;
  test::FakeKeyboard keyboard;
  test::VirtualClock clock;
  test::FakeScada scada;
  Platform platform{console, keyboard, clock, scada, [] { return nullptr; }};
  char name[] = "kelvor";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(KelvorMain(1, argv, platform), 0);
  EXPECT_EQ(console.Lines().size(), 2u + 16u);
}

}  // namespace
}  // namespace kelvor
