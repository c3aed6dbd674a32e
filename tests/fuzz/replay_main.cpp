// Runs a fuzz target over files and folders of inputs, one call per file, for builds
// without libFuzzer: the seed corpora and the inputs of crashes once found are replayed by
// the ordinary test suite.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) {
    fprintf(stderr, "cannot open %s\n", path.c_str());
    return 1;
  }
  std::vector<uint8_t> bytes;
  uint8_t buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + got);
  fclose(file);
  // An exact-size copy, so that a read past the input is caught by the sanitizers.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), exact.get());
  LLVMFuzzerTestOneInput(exact.get(), bytes.size());
  return 0;
}

int Run(const std::string& path, int* files) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    fprintf(stderr, "no such input: %s\n", path.c_str());
    return 1;
  }
  if (!S_ISDIR(info.st_mode)) {
    ++*files;
    return RunFile(path);
  }
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return 1;
  int failures = 0;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    failures += Run(path + "/" + name, files);
  }
  closedir(dir);
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0;
  int files = 0;
  for (int i = 1; i < argc; ++i) failures += Run(argv[i], &files);
  printf("%d inputs replayed\n", files);
  return failures == 0 && files > 0 ? 0 : 1;
}
