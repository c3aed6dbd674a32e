// The SCADA system reached as a node over a line transport.
#pragma once

#include "scada/node_protocol.h"
#include "scada/node_transport.h"
#include "scada/scada.h"

namespace kelvor {

// Sends each operation as one request and waits for its answer. Any failure (no connection,
// no answer in time, an answer that does not parse) closes the connection, to be opened
// afresh by the next request, and gives the operation's failure result: not running, queue
// status -1, a tag read of -1 with the caller's buffer left as it was.
class NodeClient : public Scada {
 public:
  static constexpr int16_t kFailed = -1;

  explicit NodeClient(LineTransport& transport) : transport_(transport) {}

  int32_t ScadaRunning() override;
  int16_t ReadAlarmQueue(int32_t mode, AlarmRecord& record) override;
  int16_t ReadTagText(const char* node, const char* tag, const char* field, char* text) override;
  int16_t ReadTagNumber(const char* node, const char* tag, const char* field,
                        float* value) override;

 private:
  bool Exchange(node::Op op, size_t requestLength);

  LineTransport& transport_;
  char request_[node::kMaxLine + 1];
  char answer_[node::kMaxLine + 1];
  node::Answer parsed_;
};

// The node at SCADA_NODE (host:port), else at the default address, reached over one
// connection opened at the first request. The address belongs to the SCADA side's own
// configuration, like the real node's, not to the program's command line.
Scada& ConfiguredNode();

}  // namespace kelvor
