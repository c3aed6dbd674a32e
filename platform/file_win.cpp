#include <windows.h>

#include "platform/file.h"

namespace kelvor {
namespace {

HANDLE AsHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

// Opened with read and write sharing: other programs may read and change the file while
// it is open here.
bool FileReader::Open(const char* name) {
  Close();
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

bool FileReader::Seek(uint32_t offset) {
  if (handle_ == -1) return false;
  LONG high = 0;
  DWORD low = SetFilePointer(AsHandle(handle_), static_cast<LONG>(offset), &high, FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

bool FileReader::Read(char* buffer, uint32_t capacity, uint32_t* got) {
  *got = 0;
  if (handle_ == -1) return false;
  DWORD count = 0;
  if (!ReadFile(AsHandle(handle_), buffer, capacity, &count, nullptr)) return false;
  *got = count;
  return true;
}

void FileReader::Close() {
  if (handle_ == -1) return;
  CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

// Shared for reading: an operator may look at the file while the program writes it.
bool FileWriter::Open(const char* name, Mode mode) {
  Close();
  HANDLE file =
      CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  mode == kAppend ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  size_ = low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR
              ? 0
              : (static_cast<uint64_t>(high) << 32 | low);
  if (mode == kAppend) SetFilePointer(file, 0, nullptr, FILE_END);
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

bool FileWriter::Write(const char* data, size_t length) {
  if (handle_ == -1) return false;
  while (length > 0) {
    DWORD chunk = length > 0x10000000u ? 0x10000000u : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    length -= written;
    size_ += written;
  }
  return true;
}

bool FileWriter::Flush() {
  return handle_ != -1 && FlushFileBuffers(AsHandle(handle_)) != 0;
}

void FileWriter::Close() {
  if (handle_ == -1) return;
  CloseHandle(AsHandle(handle_));
  handle_ = -1;
  size_ = 0;
}

// Both flags are there since Windows XP: the replacement is one step, and on the disk when
// the call returns.
bool RenameOver(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const char* name) {
  return DeleteFileA(name) != 0;
}

// Shared with nobody: while this handle is open, every other open of the file fails.
FileLock::Outcome FileLock::Acquire(const char* name) {
  Release();
  HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? kInUse
                                                                             : kCannotBeMade;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return kTaken;
}

void FileLock::Release() {
  if (handle_ == -1) return;
  CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

}  // namespace kelvor
