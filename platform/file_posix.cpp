#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

bool FileWriter::Open(const char* name, Mode mode) {
  Close();
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == kAppend ? O_APPEND : O_TRUNC);
  int fd = open(name, flags, 0644);
  if (fd < 0) return false;
  struct stat status {};
  size_ = fstat(fd, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
  handle_ = fd;
  return true;
}

bool FileWriter::Write(const char* data, size_t length) {
  if (handle_ < 0) return false;
  while (length > 0) {
    ssize_t count = write(static_cast<int>(handle_), data, length);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    data += count;
    length -= static_cast<size_t>(count);
    size_ += static_cast<uint64_t>(count);
  }
  return true;
}

bool FileWriter::Flush() {
  return handle_ >= 0 && fsync(static_cast<int>(handle_)) == 0;
}

void FileWriter::Close() {
  if (handle_ < 0) return;
  close(static_cast<int>(handle_));
  handle_ = -1;
  size_ = 0;
}

// rename() replaces in one step; the folder is synced so the new name survives a power cut.
bool RenameOver(const char* from, const char* to) {
  if (rename(from, to) != 0) return false;
  char folder[4096];
  snprintf(folder, sizeof folder, "%s", to);
  char* slash = strrchr(folder, '/');
  if (slash == nullptr) {
    snprintf(folder, sizeof folder, ".");
  } else {
    slash[slash == folder ? 1 : 0] = '\0';
  }
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return true;
}

bool RemoveFile(const char* name) {
  return unlink(name) == 0;
}

// flock, not fcntl's record locks: it belongs to the open file, so no other descriptor of
// this process that closes the file (a read of it, say) lets go of it.
FileLock::Outcome FileLock::Acquire(const char* name) {
  Release();
  int fd = open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return kCannotBeMade;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    bool inUse = errno == EWOULDBLOCK;
    close(fd);
    return inUse ? kInUse : kCannotBeMade;
  }
  handle_ = fd;
  return kTaken;
}

void FileLock::Release() {
  if (handle_ < 0) return;
  close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace kelvor
