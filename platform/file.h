// Files: read by offset (the destination file), written and replaced (the program's own
// files).
#pragma once

#include <cstddef>
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

// A file the program writes, opened for writing alone and readable by other programs
// meanwhile (an operator's tail, an editor).
class FileWriter {
 public:
  enum Mode { kAppend, kTruncate };

  FileWriter() = default;
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;
  ~FileWriter() { Close(); }

  // Opens the file, making it when it is not there. False when it cannot be had.
  bool Open(const char* name, Mode mode);
  bool IsOpen() const { return handle_ != -1; }
  // Writes all `length` bytes; false when the system took fewer (a full disk, a lost
  // share).
  bool Write(const char* data, size_t length);
  // Waits until what was written is on the disk.
  bool Flush();
  // The file's size, as written so far; 0 when it is not open.
  uint64_t Size() const { return size_; }
  void Close();

 private:
  intptr_t handle_ = -1;
  uint64_t size_ = 0;
};

// A file of its own held open, and locked, by one process at a time: two runs that would
// share what the file stands for (a spool) cannot both have it. The system lets go of it
// when the process ends, however it ends. The file stays when the lock is let go.
class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() { Release(); }

  enum Outcome {
    kTaken,
    kInUse,        // another process holds it
    kCannotBeMade  // the file cannot be had (a missing folder)
  };
  // Takes the lock, making the file when it is not there.
  Outcome Acquire(const char* name);
  bool Held() const { return handle_ != -1; }
  void Release();

 private:
  intptr_t handle_ = -1;
};

// Puts the file `from` in the place of `to`, replacing any file there, in one step that
// either happens whole or not at all, and is on the disk when it returns true.
bool RenameOver(const char* from, const char* to);

// Removes a file; false when there was none or it could not be removed.
bool RemoveFile(const char* name);

}  // namespace kelvor
