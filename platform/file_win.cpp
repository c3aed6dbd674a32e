// Placeholder until the destination file lands: no file opens.
#include "platform/file.h"

namespace kelvor {

bool FileReader::Open(const char*) {
  return false;
}
bool FileReader::Seek(uint32_t) {
  return false;
}
bool FileReader::Read(char*, uint32_t, uint32_t* got) {
  *got = 0;
  return false;
}
void FileReader::Close() {}

}  // namespace kelvor
