// A folder of the test's own under the system's temporary folder, removed with everything
// in it when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kelvor::test {

class TempFolder {
 public:
  // Named after the running test, so that test cases run side by side stay apart.
  TempFolder() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("kelvor-") + test->test_suite_name() + "-" + test->name();
    for (char& c : name) {
      if (c == '/') c = '-';
    }
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The path of `name` in the folder, as the program is given paths.
  std::string Path(const std::string& name) const { return (path_ / name).string(); }

  // The whole content of a file, or "<none>" when there is no such file.
  static std::string Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return "<none>";
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

 private:
  std::filesystem::path path_;
};

}  // namespace kelvor::test
