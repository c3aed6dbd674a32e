#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file.h"

namespace kelvor {

bool FileReader::Open(const char* name) {
  Close();
  int fd = open(name, O_RDONLY);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

bool FileReader::Seek(uint32_t offset) {
  if (handle_ < 0) return false;
  return lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) != -1;
}

bool FileReader::Read(char* buffer, uint32_t capacity, uint32_t* got) {
  *got = 0;
  if (handle_ < 0) return false;
  ssize_t count;
  do {
    count = read(static_cast<int>(handle_), buffer, capacity);
  } while (count < 0 && errno == EINTR);
  if (count < 0) return false;
  *got = static_cast<uint32_t>(count);
  return true;
}

void FileReader::Close() {
  if (handle_ < 0) return;
  close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace kelvor
