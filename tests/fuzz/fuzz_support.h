// Helpers shared by the fuzz targets: invariant checks that abort (so libFuzzer keeps the
// input), a reader that takes typed values from the fuzzer's bytes, and a console that
// checks every piece written to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/fakes.h"

#define FUZZ_CHECK(condition)                                                           \
  do {                                                                                  \
    if (!(condition)) {                                                                 \
      fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                          \
    }                                                                                   \
  } while (0)

namespace kelvor::fuzz {

// Takes values from the front of the input; once it is used up every value is 0 or empty.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return size_ == 0; }
  uint8_t Byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  uint32_t U32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return value;
  }
  std::string Bytes(size_t count) {
    if (count > size_) count = size_;
    std::string bytes(reinterpret_cast<const char*>(data_), count);
    data_ += count;
    size_ -= count;
    return bytes;
  }
  // A length byte, then that many bytes (at most `limit`).
  std::string Text(size_t limit) { return Bytes(Byte() % (limit + 1)); }

 private:
  const uint8_t* data_;
  size_t size_;
};

// A console that keeps nothing and checks that no line outgrows the 256-byte line buffers
// of the log and the plain prints.
class CheckingConsole : public test::NullConsole {
 public:
  void Write(const char* text, size_t length) override {
    FUZZ_CHECK(length <= 255);
    FUZZ_CHECK(memchr(text, '\0', length) == nullptr);
    written += length;
  }
  size_t written = 0;
};

// True when `field` holds its NUL within `capacity` bytes.
inline bool Terminated(const char* field, size_t capacity) {
  return strnlen(field, capacity) < capacity;
}

}  // namespace kelvor::fuzz
