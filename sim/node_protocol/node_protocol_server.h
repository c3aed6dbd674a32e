// The node's half of the SCADA node line protocol: reading the program's requests and
// writing their answers, with the program's own fields and text coding
// (scada/node_protocol.h). The node simulator and the tests link it; the program does not.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scada/node_protocol.h"

namespace kelvor::node {

constexpr size_t kMaxName = 64;  // node, tag and field names in a request, with the NUL

// A request line as the node sees it.
struct Request {
  Op op = Op::kRunning;
  int32_t mode = 0;  // ALARM
  char node[kMaxName] = "";
  char tag[kMaxName] = "";
  char field[kMaxName] = "";
};

// False when the line (without its line feed) is not one of the four requests, well formed.
bool ParseRequest(const char* line, size_t length, Request* request);

// Answer lines, without the line feed. Each returns the line's length, 0 when it does not fit
// `capacity`. A status answer of ALARM, TEXT or NUMBER carries a non-zero status; RUNNING
// carries its value.
size_t FormatStatusAnswer(Op op, int32_t status, char* line, size_t capacity);
size_t FormatRecordAnswer(const AlarmRecord& record, char* line, size_t capacity);
size_t FormatTextAnswer(const char* text, char* line, size_t capacity);
size_t FormatNumberAnswer(float value, char* line, size_t capacity);

}  // namespace kelvor::node
