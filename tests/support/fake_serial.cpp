#include "support/fake_serial.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kelvor::test {

namespace {
// Room for any command, so that steady runs do not grow their strings; a chunk that arrives
// has room for a listing of every SMS a scripted phone's SIM holds (20, at most 256 bytes each).
constexpr size_t kLineRoom = 256;
constexpr size_t kChunkRoom = 20 * kLineRoom;
}  // namespace

// Room for a few chunks waiting at once from the start: a steady run's peak (answers, a status
// report, an SMS announced) must not first come after the allocation test's warm-up.
FakeSerialPort::FakeSerialPort(int* alive) : ring_(8), alive_(alive) {
  write_.reserve(kLineRoom);
  for (Chunk& chunk : ring_) chunk.data.reserve(kChunkRoom);
  if (alive_ != nullptr) ++*alive_;
}

FakeSerialPort::~FakeSerialPort() {
  if (alive_ != nullptr) --*alive_;
}

bool FakeSerialPort::Open(const char* name) {
  if (recording) calls.push_back(std::string("Open ") + name);
  return openResult;
}

bool FakeSerialPort::BuildMode(const char* mode, char* error, size_t errorSize) {
  if (recording) calls.push_back(std::string("BuildMode ") + mode);
  if (!buildResult) snprintf(error, errorSize, "%s", buildError.c_str());
  return buildResult;
}

void FakeSerialPort::ApplyMode() {
  if (recording) calls.push_back("ApplyMode");
}

bool FakeSerialPort::Read(char* buffer, uint32_t capacity, uint32_t* count) {
  ++reads;
  *count = 0;
  if (!readResult) return false;
  for (size_t i = 0; i < waiting_; ++i) At(i).onItsWay = false;
  if (waiting_ == 0 || !Arrived(At(0))) {
    *count = static_cast<uint32_t>(std::min<size_t>(idle.size(), capacity));
    memcpy(buffer, idle.data(), *count);
    return true;
  }
  std::string& front = At(0).data;
  *count = static_cast<uint32_t>(std::min<size_t>(front.size(), capacity));
  memcpy(buffer, front.data(), *count);
  front.erase(0, *count);
  if (front.empty()) {
    first_ = (first_ + 1) % ring_.size();
    --waiting_;
  }
  return true;
}

bool FakeSerialPort::Write(const char* data, uint32_t length) {
  write_.assign(data, length);
  if (recording) writes.push_back(write_);
  if (onWrite) onWrite(write_);
  return writeResult;
}

bool FakeSerialPort::Purge() {
  ++purges;
  if (recording) calls.push_back("Purge");
  size_t kept = 0;
  for (size_t i = 0; i < waiting_; ++i) {
    if (!At(i).onItsWay && Arrived(At(i))) continue;
    if (kept != i) std::swap(At(kept), At(i));
    ++kept;
  }
  waiting_ = kept;
  return purgeResult;
}

void FakeSerialPort::Close() {
  if (recording) calls.push_back("Close");
}

WaitEnd FakeSerialPort::WaitForInput(uint32_t milliseconds, Clock& clock, Keyboard& keyboard) {
  if (keyboard.KeyWaiting()) return WaitEnd::kKey;
  if (readResult && waiting_ > 0) {
    const Chunk& first = At(0);
    if (Arrived(first)) return WaitEnd::kBytes;
    uint32_t in = first.at - clock.TickCount();
    if (in <= milliseconds) {
      clock.Sleep(in);
      return WaitEnd::kBytes;
    }
  }
  clock.Sleep(milliseconds);
  return WaitEnd::kTime;
}

bool FakeSerialPort::Arrived(const Chunk& chunk) const {
  return !chunk.timed || clock == nullptr || !DeadlinePassed(chunk.at, clock->TickCount());
}

void FakeSerialPort::Push(const std::string& data, bool onItsWay, bool timed, uint32_t at) {
  if (waiting_ == ring_.size()) {
    std::rotate(ring_.begin(), ring_.begin() + static_cast<std::ptrdiff_t>(first_), ring_.end());
    first_ = 0;
    ring_.emplace_back();
    ring_.back().data.reserve(kChunkRoom);
  }
  Chunk& slot = At(waiting_);
  slot.data.assign(data);
  slot.onItsWay = onItsWay;
  slot.timed = timed;
  slot.at = at;
  ++waiting_;
}

}  // namespace kelvor::test
