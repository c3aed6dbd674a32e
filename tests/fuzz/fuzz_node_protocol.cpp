// The SCADA node's line protocol, both ways. Any line is parsed without a read past its
// length; what parses survives being written and parsed again unchanged; the node client
// copies at most 47 characters and a NUL into the caller's 48 bytes and leaves them alone
// on failure; any names the program asks for either make a request the node reads back to
// the same names or are not sent.
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "node_protocol_server.h"
#include "scada/node_client.h"
#include "scada/node_protocol.h"

using namespace kelvor;
using namespace kelvor::node;

namespace {

// Answers every request with the fuzzer's line, and checks the request the client sent.
class LineFromFuzzer : public LineTransport {
 public:
  LineFromFuzzer(const std::string& line, const std::string* names) : line_(line), names_(names) {}
  bool Exchange(const char* request, size_t length, char* answer, size_t capacity,
                size_t* answerLength) override {
    FUZZ_CHECK(length >= 1 && request[length - 1] == '\n');
    Request parsed;
    FUZZ_CHECK(ParseRequest(request, length - 1, &parsed));
    if (parsed.op == Op::kText || parsed.op == Op::kNumber) {
      FUZZ_CHECK(names_[0] == parsed.node && names_[1] == parsed.tag && names_[2] == parsed.field);
    }
    if (line_.size() + 1 > capacity) return false;
    memcpy(answer, line_.data(), line_.size());
    answer[line_.size()] = '\0';
    *answerLength = line_.size();
    return true;
  }
  void Close() override {}

 private:
  std::string line_;
  const std::string* names_;
};

std::unique_ptr<char[]> Exact(const std::string& bytes) {
  std::unique_ptr<char[]> copy(new char[bytes.size() + 1]);
  memcpy(copy.get(), bytes.data(), bytes.size());
  return copy;
}

void CheckRequest(const std::string& line) {
  auto exact = Exact(line);
  Request request;
  if (!ParseRequest(exact.get(), line.size(), &request)) return;
  for (const char* name : {request.node, request.tag, request.field})
    FUZZ_CHECK(fuzz::Terminated(name, kMaxName));
  char again[kMaxLine + 1];
  size_t length = 0;
  if (request.op == Op::kRunning) length = FormatRunningRequest(again, sizeof again);
  if (request.op == Op::kAlarm) length = FormatAlarmRequest(request.mode, again, sizeof again);
  if (request.op == Op::kText || request.op == Op::kNumber)
    length =
        FormatTagRequest(request.op, request.node, request.tag, request.field, again, sizeof again);
  FUZZ_CHECK(length > 0);
  Request reread;
  FUZZ_CHECK(ParseRequest(again, length, &reread));
  FUZZ_CHECK(reread.op == request.op && reread.mode == request.mode);
  FUZZ_CHECK(strcmp(reread.node, request.node) == 0 && strcmp(reread.tag, request.tag) == 0 &&
             strcmp(reread.field, request.field) == 0);
}

void CheckAnswer(Op op, const std::string& line) {
  auto exact = Exact(line);
  Answer answer;
  if (!ParseAnswer(op, exact.get(), line.size(), &answer)) return;
  FUZZ_CHECK(fuzz::Terminated(answer.text, kMaxText));
  char again[kMaxLine + 1];
  size_t length;
  bool value = op != Op::kRunning && answer.status == 0;
  if (!value) {
    length = FormatStatusAnswer(op, answer.status, again, sizeof again);
  } else if (op == Op::kAlarm) {
    length = FormatRecordAnswer(answer.record, again, sizeof again);
  } else if (op == Op::kText) {
    length = FormatTextAnswer(answer.text, again, sizeof again);
  } else {
    length = FormatNumberAnswer(answer.number, again, sizeof again);
  }
  FUZZ_CHECK(length > 0);
  Answer reread;
  FUZZ_CHECK(ParseAnswer(op, again, length, &reread));
  FUZZ_CHECK(reread.status == answer.status);
  if (value && op == Op::kAlarm)
    FUZZ_CHECK(memcmp(reread.record.bytes, answer.record.bytes, kAlarmRecordSize) == 0);
  if (value && op == Op::kText) FUZZ_CHECK(strcmp(reread.text, answer.text) == 0);
  if (value && op == Op::kNumber)
    FUZZ_CHECK(memcmp(&reread.number, &answer.number, sizeof answer.number) == 0);
}

void CheckClient(const std::string& line, const std::string* names) {
  LineFromFuzzer transport(line, names);
  NodeClient client(transport);
  client.ScadaRunning();
  AlarmRecord record{};
  client.ReadAlarmQueue(kAlarmQueueMode, record);

  std::unique_ptr<char[]> text(new char[kTagTextSize]);  // exactly the caller's 48 bytes
  memset(text.get(), 'x', kTagTextSize);
  int16_t status =
      client.ReadTagText(names[0].c_str(), names[1].c_str(), names[2].c_str(), text.get());
  if (status == 0) {
    FUZZ_CHECK(fuzz::Terminated(text.get(), kTagTextSize));
  } else {
    for (size_t i = 0; i < kTagTextSize; ++i) FUZZ_CHECK(text[i] == 'x');
  }
  float number = 0;
  client.ReadTagNumber(names[0].c_str(), names[1].c_str(), names[2].c_str(), &number);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  // Names the program asks for: NUL-free texts that fit the node's fields.
  std::string names[3];
  for (auto& name : names) {
    name = input.Text(kMaxName - 1);
    name = name.substr(0, name.find('\0'));
  }
  uint8_t capacity = input.Byte();
  std::string line = input.Bytes(size);

  CheckRequest(line);
  for (Op op : {Op::kRunning, Op::kAlarm, Op::kText, Op::kNumber}) CheckAnswer(op, line);
  CheckClient(line, names);

  // Decoding into a small buffer: cut, and terminated within it.
  size_t room = capacity % 16 + 1;
  std::unique_ptr<char[]> small(new char[room]);
  auto exact = Exact(line);
  if (DecodeText(exact.get(), line.size(), small.get(), room)) {
    FUZZ_CHECK(fuzz::Terminated(small.get(), room));
  }
  return 0;
}
