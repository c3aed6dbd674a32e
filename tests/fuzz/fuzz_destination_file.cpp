// The destination file: any content is read through the 256-byte window without a read or
// write past it, and yields exactly the destinations that a plain model of the format
// (CR LF lines, the first skipped, the first field of each skipped, at most 253 characters
// a line, reading up to the first empty field) finds, with the same settings, after two
// DEST arguments and within 31 destinations, the lines beyond passed over.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz_support.h"

using namespace kelvor;

namespace {

constexpr size_t kWindow = 255;

// The first CR LF within the first 255 bytes from `start`, as an offset from `start`.
size_t FindLineEnd(const std::string& content, size_t start) {
  std::string window = content.substr(start, kWindow);
  size_t end = window.find("\r\n");
  return end;
}

// The specifications the file holds, in order.
std::vector<std::string> Model(const std::string& content) {
  std::vector<std::string> specifications;
  size_t firstEnd = FindLineEnd(content, 0);
  if (firstEnd == std::string::npos) return specifications;
  for (size_t start = firstEnd + 2; start < content.size();) {
    size_t end = FindLineEnd(content, start);
    if (end == std::string::npos) break;
    std::string line = content.substr(start, end);
    size_t comma = line.find(',');
    std::string field = comma == std::string::npos ? line : line.substr(comma + 1);
    field = field.substr(0, field.find('\0'));  // the field is read as a C text
    if (field.empty()) break;
    specifications.push_back(field);
    start += end + 2;
  }
  return specifications;
}

const std::string& TempFile() {
  static std::string path = [] {
    char name[] = "/tmp/kelvor-fuzz-destinations-XXXXXX";
    int fd = mkstemp(name);
    FUZZ_CHECK(fd >= 0);
    close(fd);
    return std::string(name);
  }();
  return path;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(size == 0 || write(fd, data, size) == static_cast<ssize_t>(size));
  close(fd);
}

void CheckSame(const ParsedDestination& parsed, const std::string& specification) {
  std::vector<char> text(specification.begin(), specification.end());
  text.push_back('\0');
  ParsedDestination model = ParseDestination(text.data());
  const DestinationSpecification& read = parsed.specification;
  const DestinationSpecification& expected = model.specification;
  FUZZ_CHECK(parsed.outcome == model.outcome);
  FUZZ_CHECK(strcmp(read.number, expected.number) == 0);
  FUZZ_CHECK(read.areaMask == expected.areaMask);
  FUZZ_CHECK(read.priority == expected.priority);
  FUZZ_CHECK(read.delay == expected.delay);
  FUZZ_CHECK(read.fullMessages == expected.fullMessages);
  FUZZ_CHECK(read.enableTagPresent == expected.enableTagPresent);
  FUZZ_CHECK(strcmp(read.enableNode, expected.enableNode) == 0);
  FUZZ_CHECK(strcmp(read.enableTag, expected.enableTag) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = TempFile();
  WriteFile(path, data, size);

  // Two destinations come before the file, as DEST arguments.
  const std::string file = "FILE=" + path;
  const char* argv[] = {"kelvor", "DEST=+1,A,H,1", "DEST=+2,B,L,2", file.c_str()};
  Configuration c = ReadCommandLine(4, argv);

  std::vector<std::string> expected = Model(std::string(reinterpret_cast<const char*>(data), size));
  size_t kept = expected.size() < 29 ? expected.size() : 29;
  FUZZ_CHECK(c.destinationCount == 2 + kept);
  FUZZ_CHECK(c.steps.Count() == 2 + expected.size());  // a step for each line, in order
  for (size_t i = 0; i < kept; ++i) CheckSame(c.destinations[2 + i], expected[i]);
  for (size_t i = kept; i < expected.size(); ++i) {
    const ArgumentStep& step = c.steps[2 + i];
    FUZZ_CHECK(step.turn == ArgumentStep::kPassedOver);
    FUZZ_CHECK(expected[i].compare(0, kShownPassedOver, step.value.text) == 0);
  }
  return 0;
}
