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

}  // namespace kelvor
