#include "support/fake_serial.h"

#include <cstdio>
#include <cstring>

namespace kelvor::test {

bool FakeSerialPort::Open(const char* name) {
  calls.push_back(std::string("Open ") + name);
  return openResult;
}

bool FakeSerialPort::BuildMode(const char* mode, char* error, size_t errorSize) {
  calls.push_back(std::string("BuildMode ") + mode);
  if (!buildResult) snprintf(error, errorSize, "%s", buildError.c_str());
  return buildResult;
}

void FakeSerialPort::ApplyMode() {
  calls.push_back("ApplyMode");
}

bool FakeSerialPort::Read(char* buffer, uint32_t capacity, uint32_t* count) {
  ++reads;
  *count = 0;
  if (!readResult) return false;
  for (Chunk& chunk : incoming_) chunk.onItsWay = false;
  if (incoming_.empty()) return true;
  Chunk& front = incoming_.front();
  uint32_t length =
      front.data.size() < capacity ? static_cast<uint32_t>(front.data.size()) : capacity;
  memcpy(buffer, front.data.data(), length);
  front.data.erase(0, length);
  if (front.data.empty()) incoming_.pop_front();
  *count = length;
  return true;
}

bool FakeSerialPort::Write(const char* data, uint32_t length) {
  std::string written(data, length);
  writes.push_back(written);
  if (onWrite) onWrite(written);
  return writeResult;
}

bool FakeSerialPort::Purge() {
  ++purges;
  calls.push_back("Purge");
  std::deque<Chunk> kept;
  for (Chunk& chunk : incoming_) {
    if (chunk.onItsWay) kept.push_back(chunk);
  }
  incoming_.swap(kept);
  return purgeResult;
}

void FakeSerialPort::Close() {
  calls.push_back("Close");
}

}  // namespace kelvor::test
