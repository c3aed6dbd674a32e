// The destination file: line ends, limits and the reading loop, on real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "log/console_log.h"
#include "routing/destination_file.h"
#include "support/fakes.h"

namespace kelvor {
namespace {

// Writes `content` byte for byte to a fresh file in the test's temporary folder.
std::string TempFile(const std::string& content) {
  static int counter = 0;
  std::string path = testing::TempDir() + "kelvor_dest_" + std::to_string(++counter) + ".csv";
  FILE* file = fopen(path.c_str(), "wb");
  EXPECT_NE(file, nullptr) << path;
  if (file == nullptr) return path;
  fwrite(content.data(), 1, content.size(), file);
  fclose(file);
  return path;
}

std::vector<std::string> ReadNumbers(const std::string& content, DestinationList& list, Log& log) {
  ReadDestinationFile(("FILE=" + TempFile(content)).c_str(), list, log);
  std::vector<std::string> numbers;
  for (int i = 0; i < list.Count(); ++i) numbers.push_back(list[i].Number());
  return numbers;
}

using Numbers = std::vector<std::string>;

TEST(DestinationFileTest, LineEndsAndLimits) {
  const std::string head = "Name,Number\r\n";
  const std::string b = "b,+2,A,H,1\r\n";
  std::string many = head;  // twelve lines, read through many windows
  Numbers manyNumbers;
  for (int i = 10; i < 22; ++i) {
    many += std::string(60, 'x') + ",+" + std::to_string(i) + ",A,H,1,S,N:T.F_CV\r\n";
    manyNumbers.push_back("+" + std::to_string(i));
  }
  const struct {
    const char* name;
    std::string content;
    Numbers numbers;
  } cases[] = {
      {"three lines", head + "a,+1,A,H,1\r\n" + b + "c,+3,C,L,3\r\n", {"+1", "+2", "+3"}},
      {"only line is skipped", "a,+1,A,H,1\r\n", {}},
      {"empty file", "", {}},
      {"line feeds only", "head\na,+1,A,H,1\n" + b, {}},
      {"lone CR is ordinary", "he\rad\r\na,+1,A,H,1\r\n", {"+1"}},
      {"blank line stops", head + "a,+1,A,H,1\r\n\r\n" + b, {"+1"}},
      {"empty field stops", head + "a,\r\n" + b, {}},
      {"last line without CR LF", head + "a,+1,A,H,1\r\nb,+2,A,H,1", {"+1"}},
      {"= inside the number", head + "a,+12=34,A,H,1\r\n", {"+12=34"}},
      {"no comma: whole line", head + "+1\r\n" + b, {"+1", "+2"}},
      {"DEST line loses its number", head + "DEST=+1,A,H,30\r\n", {"A"}},
      {"253 characters", head + std::string(244, 'n') + ",+1,A,H,1\r\n" + b, {"+1", "+2"}},
      {"254 characters end", head + std::string(245, 'n') + ",+1,A,H,1\r\n" + b, {}},
      {"first line of 253", std::string(253, 'h') + "\r\na,+1,A,H,1\r\n", {"+1"}},
      {"first line of 254", std::string(254, 'h') + "\r\na,+1,A,H,1\r\n", {}},
      {"many windows", many, manyNumbers},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeConsole console;
    ConsoleLog log(console, nullptr);
    DestinationList list;
    EXPECT_EQ(ReadNumbers(c.content, list, log), c.numbers);
  }
}

TEST(DestinationFileTest, LinesBeyond31AreNamedAndTheFileReadToItsEnd) {
  test::FakeConsole console;
  ConsoleLog log(console, nullptr);
  DestinationList list;
  for (int i = 0; i < 29; ++i) {
    char specification[] = "=+9,A,H,1";
    list.Add(ParseDestination(specification));
  }
  std::string content = "head\r\n";
  for (int i = 1; i <= 5; ++i) content += "n,+" + std::to_string(i) + ",AP,L,9\r\n";
  EXPECT_EQ(ReadNumbers(content, list, log).size(), 31u);
  EXPECT_EQ(console.Lines(), (Numbers{
                                 "New dest = +1,FFFF8001,2,9",
                                 "New dest = +2,FFFF8001,2,9",
                                 "Destination list full (31), ignoring +3,AP,L,9",
                                 "Destination list full (31), ignoring +4,AP,L,9",
                                 "Destination list full (31), ignoring +5,AP,L,9",
                             }));
}

TEST(DestinationFileTest, FieldsOfALineAndAMissingFile) {
  DestinationFile file;
  ASSERT_TRUE(file.Open(TempFile("head\r\nname,+1,A\r\nx\r\n").c_str()));
  EXPECT_TRUE(file.SkipField());
  EXPECT_TRUE(file.SkipField());
  EXPECT_FALSE(file.SkipField());
  EXPECT_STREQ(file.Field(), "A");
  ASSERT_TRUE(file.NextLine());
  EXPECT_STREQ(file.Field(), "x");
  EXPECT_FALSE(file.NextLine());
  EXPECT_FALSE(file.NextLine());  // stays at the end

  test::FakeConsole console;
  ConsoleLog log(console, nullptr);
  DestinationList list;
  ReadDestinationFile(("FILE=" + testing::TempDir() + "kelvor_no_such_file.csv").c_str(), list,
                      log);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(console.text(), "");
}

}  // namespace
}  // namespace kelvor
