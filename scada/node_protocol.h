// The line protocol spoken with a SCADA node, as the program speaks it: the four requests
// out, their answers back; one request line, one answer line, fields separated by one
// space. The node's half (reading requests, writing answers) builds on these fields and
// their coding in sim/node_protocol.
//
// Every parser here reads untrusted input: it looks at no byte past the length it is
// given, writes no byte past the capacity it is given, and rejects what does not match.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scada/alarm_record.h"

namespace kelvor::node {

constexpr size_t kMaxLine = 1024;  // longest line, its line feed not counted
constexpr size_t kMaxText = 256;   // a text in an answer, with the NUL; longer ones are cut
constexpr size_t kRecordDigits = 2 * kAlarmRecordSize;
constexpr size_t kFloatDigits = 8;
constexpr char kHexDigits[] = "0123456789ABCDEF";  // as escapes, records and floats are written

// The four operations, named by the first field of their request and answer lines.
enum class Op { kRunning, kAlarm, kText, kNumber };
const char* Keyword(Op op);

// Builds one line in a fixed buffer. A field that does not fit marks the line as failed
// and leaves it unusable: its length is then 0.
class LineWriter {
 public:
  LineWriter(char* buffer, size_t capacity);
  LineWriter& Word(const char* word);  // written as is
  LineWriter& Int(int32_t value);
  LineWriter& Text(const char* text);  // percent-encoded; the empty text is "%00"
  size_t length() const { return ok_ ? length_ : 0; }

 private:
  bool StartField();
  void Put(char c);

  char* buffer_;
  size_t capacity_;
  size_t length_ = 0;
  bool ok_;
};

// Reads the fields of one line (without its line feed) in order. Each read fails, and
// takes nothing, when the next field is missing or malformed.
class FieldReader {
 public:
  FieldReader(const char* line, size_t length);
  bool Word(const char* expected);  // the next field is exactly `expected`
  bool Int(int32_t min, int32_t max, int32_t* value);
  // Decodes the next text field; the text ends at its first NUL, and is cut to fit
  // `capacity` with its NUL.
  bool Text(char* text, size_t capacity);
  bool Record(AlarmRecord* record);
  bool Float(float* value);
  bool AtEnd() const { return pos_ == length_ && !afterSeparator_; }

 private:
  bool NextField(const char** field, size_t* length);
  void Skip(size_t fieldLength);

  const char* line_;
  size_t length_;
  size_t pos_ = 0;
  bool afterSeparator_ = false;
};

// The value of a hexadecimal digit, upper or lower case; -1 for any other byte.
int HexValue(char c);

// Percent-decodes `field` into `text`, cut to fit `capacity` with its NUL (`cut` tells);
// false when the field holds a byte a text field may not carry or a malformed escape.
bool DecodeText(const char* field, size_t length, char* text, size_t capacity, bool* cut = nullptr);

// An answer line as the program sees it. `status` is the value of RUNNING, otherwise 0
// when a value follows.
struct Answer {
  int32_t status = 0;
  AlarmRecord record{};
  char text[kMaxText] = "";
  float number = 0;
};

// Request lines, without the line feed. Each returns the line's length, 0 when it does not
// fit `capacity`.
size_t FormatRunningRequest(char* line, size_t capacity);
size_t FormatAlarmRequest(int32_t mode, char* line, size_t capacity);
size_t FormatTagRequest(Op op, const char* node, const char* tag, const char* field, char* line,
                        size_t capacity);

// Parses the answer to a request of `op`; false when it is anything else. Statuses must fit
// 16 bits (the RUNNING value 32 bits) and a status answer never carries 0.
bool ParseAnswer(Op op, const char* line, size_t length, Answer* answer);

}  // namespace kelvor::node
