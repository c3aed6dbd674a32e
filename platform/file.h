// Read-only access to a file by offset.
#pragma once

#include <cstdint>

namespace kelvor {

// A file opened for reading, shared with other programs that read or write it.
class FileReader {
 public:
  FileReader() = default;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  ~FileReader() { Close(); }

  bool Open(const char* name);
  // Moves the file pointer to `offset` bytes from the file's beginning.
  bool Seek(uint32_t offset);
  // Reads up to `capacity` bytes; `got` receives the count. False when the read failed.
  bool Read(char* buffer, uint32_t capacity, uint32_t* got);
  void Close();

 private:
  intptr_t handle_ = -1;
};

}  // namespace kelvor
