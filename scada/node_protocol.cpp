#include "scada/node_protocol.h"

#include <cstring>

#include "platform/text.h"

namespace kelvor::node {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

namespace {

// Bytes that stand for themselves in a text field; every other byte is escaped.
bool PlainByte(unsigned char c) {
  return c >= 0x21 && c <= 0x7E && c != '%';
}

// Reads exactly `count` hexadecimal digits into bytes, most significant first.
bool HexBytes(const char* digits, size_t count, uint8_t* bytes) {
  for (size_t i = 0; i < count; i += 2) {
    int high = HexValue(digits[i]);
    int low = HexValue(digits[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i / 2] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

}  // namespace

const char* Keyword(Op op) {
  switch (op) {
    case Op::kRunning:
      return "RUNNING";
    case Op::kAlarm:
      return "ALARM";
    case Op::kText:
      return "TEXT";
    case Op::kNumber:
      return "NUMBER";
  }
  return "";
}

// ---- LineWriter

LineWriter::LineWriter(char* buffer, size_t capacity)
    : buffer_(buffer), capacity_(capacity), ok_(buffer != nullptr && capacity > 0) {
  if (ok_) buffer_[0] = '\0';
}

void LineWriter::Put(char c) {
  if (!ok_) return;
  if (length_ + 1 >= capacity_) {  // keep room for the NUL
    ok_ = false;
    return;
  }
  buffer_[length_++] = c;
  buffer_[length_] = '\0';
}

bool LineWriter::StartField() {
  if (length_ > 0) Put(' ');
  return ok_;
}

LineWriter& LineWriter::Word(const char* word) {
  if (StartField()) {
    for (const char* p = word; *p; ++p) Put(*p);
  }
  return *this;
}

LineWriter& LineWriter::Int(int32_t value) {
  char digits[16];
  int64_t wide = value;  // INT32_MIN has no positive int32
  bool negative = wide < 0;
  if (negative) wide = -wide;
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + wide % 10);
    wide /= 10;
  } while (wide > 0);
  if (!StartField()) return *this;
  if (negative) Put('-');
  while (count > 0) Put(digits[--count]);
  return *this;
}

LineWriter& LineWriter::Text(const char* text) {
  if (!StartField()) return *this;
  if (text[0] == '\0') {
    Put('%'), Put('0'), Put('0');
    return *this;
  }
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (PlainByte(*p)) {
      Put(static_cast<char>(*p));
    } else {
      Put('%');
      Put(kHexDigits[*p >> 4]);
      Put(kHexDigits[*p & 0xF]);
    }
  }
  return *this;
}

// ---- FieldReader

FieldReader::FieldReader(const char* line, size_t length)
    : line_(line), length_(line != nullptr ? length : 0) {}

bool FieldReader::NextField(const char** field, size_t* length) {
  if (pos_ >= length_) return false;
  size_t end = pos_;
  while (end < length_ && line_[end] != ' ') ++end;
  if (end == pos_) return false;  // two spaces in a row, or a leading one
  *field = line_ + pos_;
  *length = end - pos_;
  return true;
}

void FieldReader::Skip(size_t fieldLength) {
  pos_ += fieldLength;
  afterSeparator_ = pos_ < length_;  // the byte there is the one separating space
  if (afterSeparator_) ++pos_;
}

bool FieldReader::Word(const char* expected) {
  const char* field;
  size_t length;
  if (!NextField(&field, &length)) return false;
  if (strlen(expected) != length || memcmp(field, expected, length) != 0) return false;
  Skip(length);
  return true;
}

bool FieldReader::Int(int32_t min, int32_t max, int32_t* value) {
  const char* field;
  size_t length;
  if (!NextField(&field, &length)) return false;
  bool negative = field[0] == '-';
  size_t first = negative ? 1 : 0;
  if (length == first || length - first > 10) return false;  // 10 digits hold any int32
  uint64_t magnitude = 0;
  if (ReadDigits(field + first, length - first, UINT64_MAX, &magnitude) != length - first) {
    return false;
  }
  int64_t result = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (result < min || result > max) return false;
  *value = static_cast<int32_t>(result);
  Skip(length);
  return true;
}

bool DecodeText(const char* field, size_t length, char* text, size_t capacity, bool* cut) {
  if (capacity == 0) return false;
  size_t out = 0;
  bool dropped = false;
  bool ended = false;  // a NUL was decoded: the rest is checked, not kept
  for (size_t i = 0; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(field[i]);
    if (byte == '%') {
      if (length - i < 3) return false;
      int high = HexValue(field[i + 1]);
      int low = HexValue(field[i + 2]);
      if (high < 0 || low < 0) return false;
      byte = static_cast<unsigned char>(high << 4 | low);
      i += 2;
    } else if (!PlainByte(byte)) {
      return false;
    }
    if (byte == 0) ended = true;
    if (ended) continue;
    if (out + 1 < capacity) {
      text[out++] = static_cast<char>(byte);
    } else {
      dropped = true;
    }
  }
  text[out] = '\0';
  if (cut) *cut = dropped;
  return true;
}

bool FieldReader::Text(char* text, size_t capacity) {
  const char* field;
  size_t length;
  if (!NextField(&field, &length)) return false;
  if (!DecodeText(field, length, text, capacity)) return false;
  Skip(length);
  return true;
}

bool FieldReader::Record(AlarmRecord* record) {
  const char* field;
  size_t length;
  if (!NextField(&field, &length) || length != kRecordDigits) return false;
  AlarmRecord decoded;
  if (!HexBytes(field, length, decoded.bytes)) return false;
  *record = decoded;
  Skip(length);
  return true;
}

bool FieldReader::Float(float* value) {
  const char* field;
  size_t length;
  if (!NextField(&field, &length) || length != kFloatDigits) return false;
  uint8_t bytes[4];
  if (!HexBytes(field, length, bytes)) return false;
  uint32_t bits = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                  static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  memcpy(value, &bits, sizeof bits);
  Skip(length);
  return true;
}

// ---- Requests and answers

size_t FormatRunningRequest(char* line, size_t capacity) {
  return LineWriter(line, capacity).Word("RUNNING").length();
}

size_t FormatAlarmRequest(int32_t mode, char* line, size_t capacity) {
  return LineWriter(line, capacity).Word("ALARM").Int(mode).length();
}

size_t FormatTagRequest(Op op, const char* node, const char* tag, const char* field, char* line,
                        size_t capacity) {
  if (op != Op::kText && op != Op::kNumber) return 0;
  return LineWriter(line, capacity).Word(Keyword(op)).Text(node).Text(tag).Text(field).length();
}

bool ParseAnswer(Op op, const char* line, size_t length, Answer* answer) {
  FieldReader reader(line, length);
  if (!reader.Word(Keyword(op))) return false;
  int32_t min = op == Op::kRunning ? INT32_MIN : INT16_MIN;
  int32_t max = op == Op::kRunning ? INT32_MAX : INT16_MAX;
  if (!reader.Int(min, max, &answer->status)) return false;
  if (op != Op::kRunning && answer->status == 0) {
    bool read = (op == Op::kAlarm && reader.Record(&answer->record)) ||
                (op == Op::kText && reader.Text(answer->text, kMaxText)) ||
                (op == Op::kNumber && reader.Float(&answer->number));
    if (!read) return false;
  }
  return reader.AtEnd();
}

}  // namespace kelvor::node
