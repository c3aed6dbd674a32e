#include "node_protocol_server.h"

#include <cstring>

namespace kelvor::node {
namespace {

// A name too long for its field is refused rather than cut, so it never matches another
// block by its first characters: it is read into one byte more than the field holds, and
// one that fills that is too long.
bool ReadName(FieldReader& reader, char (&name)[kMaxName]) {
  char read[kMaxName + 1];
  if (!reader.Text(read, sizeof read)) return false;
  size_t length = strlen(read);
  if (length >= kMaxName) return false;
  memcpy(name, read, length + 1);
  return true;
}

// The bytes as one field of hexadecimal digits, each byte's high digit first.
template <size_t Count>
LineWriter& Hex(LineWriter& writer, const uint8_t (&bytes)[Count]) {
  char digits[2 * Count + 1];
  for (size_t i = 0; i < Count; ++i) {
    digits[2 * i] = kHexDigits[bytes[i] >> 4];
    digits[2 * i + 1] = kHexDigits[bytes[i] & 0xF];
  }
  digits[2 * Count] = '\0';
  return writer.Word(digits);
}

}  // namespace

bool ParseRequest(const char* line, size_t length, Request* request) {
  FieldReader reader(line, length);
  Request parsed;
  if (reader.Word("RUNNING")) {
    parsed.op = Op::kRunning;
  } else if (reader.Word("ALARM")) {
    parsed.op = Op::kAlarm;
    if (!reader.Int(INT32_MIN, INT32_MAX, &parsed.mode)) return false;
  } else {
    if (reader.Word("TEXT")) {
      parsed.op = Op::kText;
    } else if (reader.Word("NUMBER")) {
      parsed.op = Op::kNumber;
    } else {
      return false;
    }
    if (!ReadName(reader, parsed.node) || !ReadName(reader, parsed.tag) ||
        !ReadName(reader, parsed.field))
      return false;
  }
  if (!reader.AtEnd()) return false;
  *request = parsed;
  return true;
}

size_t FormatStatusAnswer(Op op, int32_t status, char* line, size_t capacity) {
  return LineWriter(line, capacity).Word(Keyword(op)).Int(status).length();
}

size_t FormatRecordAnswer(const AlarmRecord& record, char* line, size_t capacity) {
  LineWriter writer(line, capacity);
  return Hex(writer.Word("ALARM").Int(0), record.bytes).length();
}

size_t FormatTextAnswer(const char* text, char* line, size_t capacity) {
  return LineWriter(line, capacity).Word("TEXT").Int(0).Text(text).length();
}

// The float's bit pattern, most significant byte first.
size_t FormatNumberAnswer(float value, char* line, size_t capacity) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  const uint8_t bytes[] = {static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16),
                           static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
  LineWriter writer(line, capacity);
  return Hex(writer.Word("NUMBER").Int(0), bytes).length();
}

}  // namespace kelvor::node
