#include "scada/node_client.h"

#include <cstring>

namespace kelvor {

// A request that does not fit a line (a name far too long) is not sent at all.
bool NodeClient::Exchange(node::Op op, size_t requestLength) {
  if (requestLength == 0) return false;
  request_[requestLength] = '\n';
  size_t answerLength = 0;
  if (!transport_.Exchange(request_, requestLength + 1, answer_, sizeof answer_, &answerLength))
    return false;
  if (!node::ParseAnswer(op, answer_, answerLength, &parsed_)) {
    transport_.Close();  // the node is not speaking the protocol: start afresh
    return false;
  }
  return true;
}

int32_t NodeClient::ScadaRunning() {
  if (!Exchange(node::Op::kRunning, node::FormatRunningRequest(request_, sizeof request_)))
    return 0;
  return parsed_.status;
}

int16_t NodeClient::ReadAlarmQueue(int32_t mode, AlarmRecord& record) {
  if (!Exchange(node::Op::kAlarm, node::FormatAlarmRequest(mode, request_, sizeof request_)))
    return kFailed;
  if (parsed_.status == kAlarmDelivered) record = parsed_.record;
  return static_cast<int16_t>(parsed_.status);
}

int16_t NodeClient::ReadTagText(const char* node, const char* tag, const char* field, char* text) {
  if (!node || !tag || !field || !text) return kFailed;
  size_t length =
      node::FormatTagRequest(node::Op::kText, node, tag, field, request_, sizeof request_);
  if (!Exchange(node::Op::kText, length)) return kFailed;
  if (parsed_.status != 0) return static_cast<int16_t>(parsed_.status);
  size_t textLength = strlen(parsed_.text);
  if (textLength > kTagTextSize - 1) textLength = kTagTextSize - 1;  // a longer text is cut
  memcpy(text, parsed_.text, textLength);
  text[textLength] = '\0';
  return 0;
}

int16_t NodeClient::ReadTagNumber(const char* node, const char* tag, const char* field,
                                  float* value) {
  if (!node || !tag || !field || !value) return kFailed;
  size_t length =
      node::FormatTagRequest(node::Op::kNumber, node, tag, field, request_, sizeof request_);
  if (!Exchange(node::Op::kNumber, length)) return kFailed;
  if (parsed_.status == 0) *value = parsed_.number;
  return static_cast<int16_t>(parsed_.status);
}

}  // namespace kelvor
