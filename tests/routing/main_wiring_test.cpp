// DEST and FILE arguments reach the destination list in the order they are given.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/kelvor_main.h"
#include "support/fakes.h"

namespace kelvor {
namespace {

// Runs the program without a COM argument, so it stops after the usage text; returns the
// lines printed between the start-up lines and the usage text.
std::vector<std::string> DestinationLines(std::vector<std::string> arguments) {
  test::FakeConsole console;
  test::FakeKeyboard keyboard;
  test::VirtualClock clock;
  test::FakeScada scada;
  Platform platform{console, keyboard, clock, scada, [] { return nullptr; }};
  arguments.insert(arguments.begin(), "kelvor");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  EXPECT_EQ(KelvorMain(static_cast<int>(arguments.size()), argv.data(), platform), 0);
  std::vector<std::string> lines = console.Lines();
  EXPECT_GE(lines.size(), 2u + 16u);
  return std::vector<std::string>(lines.begin() + 2, lines.end() - 16);
}

TEST(MainWiringTest, DestAndFileArgumentsInOrder) {
  std::string path = testing::TempDir() + "kelvor_main_destinations.csv";
  FILE* file = fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  fputs("Name,Number\r\nann,+2,B,M,5\r\nbob,+3,C,L,6\r\n", file);
  fclose(file);
  std::vector<std::string> lines =
      DestinationLines({"DEST=+1,AP,H,30", "FILE=" + path, "xDEST=+4,A,h,0,F", "DEST=+5"});
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "New dest = +1,FFFF8001,0,30",
                       "New dest = +2,2,1,5",
                       "New dest = +3,4,2,6",
                       "New dest = +4,1,0,0",
                       "Error format is DEST=<cell no>,<A Area>,<priority>,<delay in sec>,[F]",
                   }));
}

TEST(MainWiringTest, DestArgumentsBeyond31AreNamed) {
  std::vector<std::string> arguments;
  for (int i = 0; i < 33; ++i) arguments.push_back("DEST=+" + std::to_string(i) + ",A,H,1");
  std::vector<std::string> lines = DestinationLines(arguments);
  ASSERT_EQ(lines.size(), 33u);
  EXPECT_EQ(lines[30], "New dest = +30,1,0,1");
  EXPECT_EQ(lines[31], "Destination list full (31), ignoring =+31,A,H,1");
  EXPECT_EQ(lines[32], "Destination list full (31), ignoring =+32,A,H,1");
}

}  // namespace
}  // namespace kelvor
