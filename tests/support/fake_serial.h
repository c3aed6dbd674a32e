// A serial port whose incoming bytes tests script, recording what the program does to it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/serial.h"

namespace kelvor::test {

// Incoming data comes in chunks, one chunk (or its first `capacity` bytes) per read.
// Data that has arrived is lost to a purge; an answer to a command is still on its way
// when the purge after that command happens, and arrives at the next read. With a clock,
// an answer can take time: it arrives that many milliseconds later, and a wait for input
// ends then, in virtual time; chunks arrive in the order they were given. With
// `recording` off, a steady run takes nothing from the heap.
class FakeSerialPort : public SerialPort {
 public:
  // `alive`, when given, counts the ports in existence, so tests see when one is let go.
  explicit FakeSerialPort(int* alive = nullptr);
  ~FakeSerialPort() override;

  bool Open(const char* name) override;
  bool BuildMode(const char* mode, char* error, size_t errorSize) override;
  void ApplyMode() override;
  bool Read(char* buffer, uint32_t capacity, uint32_t* count) override;
  bool Write(const char* data, uint32_t length) override;
  bool Purge() override;
  void Close() override;
  // Virtual time runs on to the first chunk's arrival when it comes within the wait; the
  // chatter of `idle` wakes no wait.
  WaitEnd WaitForInput(uint32_t milliseconds, Clock& clock, Keyboard& keyboard) override;

  // Data that is already waiting at the port.
  void Arrive(const std::string& chunk) { Push(chunk, false, false, 0); }
  // An answer that arrives after any purge that follows now.
  void Answer(const std::string& chunk) { Push(chunk, true, false, 0); }
  // An answer that arrives `milliseconds` from now on `clock` (which must be set).
  void AnswerAfter(uint32_t milliseconds, const std::string& chunk) {
    Push(chunk, true, true, clock->TickCount() + milliseconds);
  }
  size_t Waiting() const { return waiting_; }

  bool openResult = true;
  bool buildResult = true;
  bool writeResult = true;
  bool readResult = true;  // false: every read fails, delivering nothing
  bool purgeResult = true;
  Clock* clock = nullptr;  // for answers that take time
  std::string buildError = "The parameter is incorrect.\r\n";
  // Delivered whole at every read while nothing else waits: a line that chatters.
  std::string idle;
  // Called with each write, after it is recorded; typically answers it.
  std::function<void(const std::string&)> onWrite;

  bool recording = true;            // false: `calls` and `writes` stay empty
  std::vector<std::string> calls;   // "Open COM5", "BuildMode 9600,N,8,1", "ApplyMode", ...
  std::vector<std::string> writes;  // every write, in order
  int purges = 0;
  int reads = 0;

 private:
  struct Chunk {
    std::string data;
    bool onItsWay;
    bool timed;
    uint32_t at;  // the tick it arrives at, when timed
  };
  void Push(const std::string& data, bool onItsWay, bool timed, uint32_t at);
  bool Arrived(const Chunk& chunk) const;
  Chunk& At(size_t i) { return ring_[(first_ + i) % ring_.size()]; }

  // The chunks waiting, from `first_` round the ring; slots are used again with the room
  // their text had.
  std::vector<Chunk> ring_;
  size_t first_ = 0;
  size_t waiting_ = 0;
  std::string write_;  // the last write, as onWrite sees it
  int* alive_;
};

}  // namespace kelvor::test
