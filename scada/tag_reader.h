// Reads of the SCADA database: what alarm routing asks of the SCADA system.
#pragma once

#include <cstdint>

namespace kelvor {

// Size of the buffer a tag text read fills: at most 47 characters and a NUL.
constexpr int kTagTextSize = 48;

class TagReader {
 public:
  virtual ~TagReader() = default;

  // Reads a field of a database block as text into `text` (kTagTextSize bytes), cut to 47
  // characters. A failed read leaves `text` as it was; the node reports it as non-zero, the
  // SCADA libraries do not report it at all (0).
  virtual int16_t ReadTagText(const char* node, const char* tag, const char* field, char* text) = 0;

  // Reads a field of a database block as a number; 0 when read.
  virtual int16_t ReadTagNumber(const char* node, const char* tag, const char* field,
                                float* value) = 0;
};

}  // namespace kelvor
