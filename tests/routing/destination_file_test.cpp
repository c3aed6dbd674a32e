// The destination file: line ends, limits and the reading loop, on real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "routing/destination_file.h"
#include "routing/destination_specification.h"

namespace kelvor {
namespace {

// Writes `content` byte for byte to a fresh file in the test's temporary folder, named
// after the running test: test cases run side by side, each in a process of its own.
std::string TempFile(const std::string& content) {
  static int counter = 0;
  const char* test = testing::UnitTest::GetInstance()->current_test_info()->name();
  std::string path =
      testing::TempDir() + "kelvor_dest_" + test + "_" + std::to_string(++counter) + ".csv";
  FILE* file = fopen(path.c_str(), "wb");
  EXPECT_NE(file, nullptr) << path;
  if (file == nullptr) return path;
  fwrite(content.data(), 1, content.size(), file);
  fclose(file);
  return path;
}

// The numbers of the destinations a file gives, in order.
class Numbers : public SpecificationSink {
 public:
  void Take(char* specification) override {
    read.push_back(ParseDestination(specification).specification.number);
  }
  std::vector<std::string> read;
};

std::vector<std::string> ReadNumbers(const std::string& content) {
  Numbers numbers;
  ReadDestinationFile(TempFile(content).c_str(), numbers);
  return numbers.read;
}

TEST(DestinationFileTest, LineEndsAndLimits) {
  const std::string head = "Name,Number\r\n";
  const std::string b = "b,+2,A,H,1\r\n";
  std::string many = head;  // twelve lines, read through many windows
  std::vector<std::string> manyNumbers;
  for (int i = 10; i < 22; ++i) {
    many += std::string(60, 'x') + ",+" + std::to_string(i) + ",A,H,1,S,N:T.F_CV\r\n";
    manyNumbers.push_back("+" + std::to_string(i));
  }
  const struct {
    const char* name;
    std::string content;
    std::vector<std::string> numbers;
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
    EXPECT_EQ(ReadNumbers(c.content), c.numbers);
  }
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

  Numbers numbers;
  ReadDestinationFile((testing::TempDir() + "kelvor_no_such_file.csv").c_str(), numbers);
  EXPECT_TRUE(numbers.read.empty());
}

}  // namespace
}  // namespace kelvor
