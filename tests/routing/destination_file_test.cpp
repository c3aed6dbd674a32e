// The destination file: line ends, limits and the reading loop, on real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "routing/destination_file.h"
#include "support/fakes.h"

namespace kelvor {
namespace {

// Writes `content` byte for byte to a fresh file in the test's temporary folder.
std::string WriteTempFile(const std::string& content) {
  static int counter = 0;
  std::string path =
      testing::TempDir() + "kelvor_destinations_" + std::to_string(++counter) + ".csv";
  FILE* file = fopen(path.c_str(), "wb");
  EXPECT_NE(file, nullptr) << path;
  if (file == nullptr) return path;
  fwrite(content.data(), 1, content.size(), file);
  fclose(file);
  return path;
}

std::vector<std::string> Numbers(DestinationList& list) {
  std::vector<std::string> numbers;
  for (int i = 0; i < list.Count(); ++i) numbers.push_back(list[i].Number());
  return numbers;
}

struct FileCase {
  const char* name;
  std::string content;
  std::vector<std::string> numbers;
};

const std::string kHead = "Name,Number,Areas,Priority,Delay\r\n";
const std::string kLine253 = std::string(244, 'n') + ",+1,A,H,1\r\n";  // 253 and CR LF
const std::string kLine254 = std::string(245, 'n') + ",+1,A,H,1\r\n";

std::string ManyLines(int count) {
  std::string lines = kHead;
  for (int i = 0; i < count; ++i) {
    lines += std::string(60, 'a' + i) + ",+" + std::to_string(100 + i) + ",A,H,1,S,N:T.F_CV\r\n";
  }
  return lines;
}

std::vector<std::string> Hundreds(int count) {
  std::vector<std::string> numbers;
  for (int i = 0; i < count; ++i) numbers.push_back("+" + std::to_string(100 + i));
  return numbers;
}

void PrintTo(const FileCase& c, std::ostream* os) {
  *os << c.name;
}

class DestinationFileCases : public testing::TestWithParam<FileCase> {};

TEST_P(DestinationFileCases, ReadsTheDestinationsItShould) {
  const FileCase& c = GetParam();
  test::FakeConsole console;
  DestinationList list(console);
  ReadDestinationFile(("FILE=" + WriteTempFile(c.content)).c_str(), list);
  EXPECT_EQ(Numbers(list), c.numbers);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DestinationFileCases,
    testing::Values(
        FileCase{
            "ThreeLines", kHead + "a,+1,A,H,1\r\nb,+2,B,M,2\r\nc,+3,C,L,3\r\n", {"+1", "+2", "+3"}},
        FileCase{"OnlyLineIsSkipped", "a,+1,A,H,1\r\n", {}}, FileCase{"EmptyFile", "", {}},
        FileCase{"LineFeedOnly", "head\na,+1,A,H,1\nb,+2,A,H,1\n", {}},
        FileCase{"LoneCarriageReturnIsOrdinary", "he\rad\r\na,+1,A,H,1\r\n", {"+1"}},
        FileCase{"BlankLineStops", kHead + "a,+1,A,H,1\r\n\r\nb,+2,A,H,1\r\n", {"+1"}},
        FileCase{"NothingAfterFirstCommaStops", kHead + "a,\r\nb,+2,A,H,1\r\n", {}},
        FileCase{"LastLineWithoutLineEndIsNotRead", kHead + "a,+1,A,H,1\r\nb,+2,A,H,1", {"+1"}},
        FileCase{"EqualsStaysInTheNumber", kHead + "a,+12=34,A,H,1\r\n", {"+12=34"}},
        FileCase{"LineWithoutCommaIsHandedOnWhole", kHead + "+1\r\nb,+2,A,H,1\r\n", {"+1", "+2"}},
        FileCase{"DestArgumentLineLosesItsNumber", kHead + "DEST=+1,A,H,30\r\n", {"A"}},
        FileCase{"LineOf253Characters", kHead + kLine253 + "b,+2,A,H,1\r\n", {"+1", "+2"}},
        FileCase{"LineOf254CharactersEndsReading", kHead + kLine254 + "b,+2,A,H,1\r\n", {}},
        FileCase{"FirstLineOf254Characters", std::string(254, 'h') + "\r\na,+1,A,H,1\r\n", {}},
        FileCase{"FirstLineOf253Characters", std::string(253, 'h') + "\r\na,+1,A,H,1\r\n", {"+1"}},
        FileCase{"LinesAcrossManyWindows", ManyLines(12), Hundreds(12)}),
    [](const testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

TEST(DestinationFileTest, LongLinesAreAsLongAsTheirNames) {
  EXPECT_EQ(kLine253.size(), 253u + 2u);
  EXPECT_EQ(kLine254.size(), 254u + 2u);
}

TEST(DestinationFileTest, EchoesEachLineAndPassesOverLinesBeyond31) {
  test::FakeConsole console;
  DestinationList list(console);
  for (int i = 0; i < 29; ++i) {
    char specification[] = "=+9,A,H,1";
    list.Add(specification);
  }
  console.Clear();
  std::string content = kHead;
  for (int i = 1; i <= 5; ++i)
    content += "n" + std::to_string(i) + ",+" + std::to_string(i) + ",AP,L,9\r\n";
  ReadDestinationFile(("FILE=" + WriteTempFile(content)).c_str(), list);
  EXPECT_EQ(list.Count(), 31);
  EXPECT_STREQ(list[29].Number(), "+1");
  EXPECT_STREQ(list[30].Number(), "+2");
  EXPECT_EQ(console.Lines(), (std::vector<std::string>{
                                 "New dest = +1,FFFF8001,2,9",
                                 "New dest = +2,FFFF8001,2,9",
                                 "Destination list full (31), ignoring +3,AP,L,9",
                                 "Destination list full (31), ignoring +4,AP,L,9",
                                 "Destination list full (31), ignoring +5,AP,L,9",
                             }));
}

TEST(DestinationFileTest, IncompleteLinesPrintTheErrorAndTakeTheirPlace) {
  test::FakeConsole console;
  DestinationList list(console);
  ReadDestinationFile(("FILE=" + WriteTempFile(kHead + "+1\r\nDEST=+2,A,H,30\r\n")).c_str(), list);
  const std::string error = "Error format is DEST=<cell no>,<A Area>,<priority>,<delay in sec>,[F]";
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(console.Lines(), (std::vector<std::string>{error, error}));
}

TEST(DestinationFileTest, MissingFileReadsNothingSilently) {
  test::FakeConsole console;
  DestinationList list(console);
  ReadDestinationFile(("FILE=" + testing::TempDir() + "kelvor_no_such_file.csv").c_str(), list);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(console.text(), "");
}

TEST(DestinationFileTest, FieldsOfALine) {
  DestinationFile file;
  ASSERT_TRUE(file.Open(WriteTempFile(kHead + "name,+1,A\r\nx\r\n").c_str()));
  EXPECT_TRUE(file.LineAvailable());
  EXPECT_STREQ(file.Field(), "name,+1,A");
  EXPECT_TRUE(file.SkipField());
  EXPECT_STREQ(file.Field(), "+1,A");
  EXPECT_TRUE(file.SkipField());
  EXPECT_FALSE(file.SkipField());
  EXPECT_STREQ(file.Field(), "A");
  ASSERT_TRUE(file.NextLine());
  EXPECT_FALSE(file.SkipField());
  EXPECT_STREQ(file.Field(), "x");
  EXPECT_FALSE(file.NextLine());
  EXPECT_FALSE(file.NextLine());  // stays at the end

  DestinationFile missing;
  EXPECT_FALSE(missing.Open((testing::TempDir() + "kelvor_no_such_file.csv").c_str()));
  EXPECT_FALSE(missing.LineAvailable());
}

}  // namespace
}  // namespace kelvor
