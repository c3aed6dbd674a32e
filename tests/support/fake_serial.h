// A serial port whose incoming bytes tests script, recording what the program does to it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/serial.h"

namespace kelvor::test {

// Incoming data comes in chunks, one chunk (or its first `capacity` bytes) per read.
// Data that has arrived is lost to a purge; an answer to a command is still on its way
// when the purge after that command happens, and arrives at the next read.
class FakeSerialPort : public SerialPort {
 public:
  bool Open(const char* name) override;
  bool BuildMode(const char* mode, char* error, size_t errorSize) override;
  void ApplyMode() override;
  bool Read(char* buffer, uint32_t capacity, uint32_t* count) override;
  bool Write(const char* data, uint32_t length) override;
  bool Purge() override;
  void Close() override;

  // Data that is already waiting at the port.
  void Arrive(const std::string& chunk) { incoming_.push_back({chunk, false}); }
  // An answer that arrives after any purge that follows now.
  void Answer(const std::string& chunk) { incoming_.push_back({chunk, true}); }
  size_t Waiting() const { return incoming_.size(); }

  bool openResult = true;
  bool buildResult = true;
  bool writeResult = true;
  bool readResult = true;  // false: every read fails, delivering nothing
  bool purgeResult = true;
  std::string buildError = "The parameter is incorrect.\r\n";
  // Called with each write, after it is recorded; typically answers it.
  std::function<void(const std::string&)> onWrite;

  std::vector<std::string> calls;   // "Open COM5", "BuildMode 9600,N,8,1", "ApplyMode", ...
  std::vector<std::string> writes;  // every write, in order
  int purges = 0;
  int reads = 0;

 private:
  struct Chunk {
    std::string data;
    bool onItsWay;
  };
  std::deque<Chunk> incoming_;
};

}  // namespace kelvor::test
