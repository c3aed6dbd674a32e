// The connection to a SCADA node, as the node client sees it: request line out, answer line
// back, within a time limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/clock.h"

namespace kelvor {

// The node's address when SCADA_NODE does not give one.
constexpr char kDefaultNodeAddress[] = "127.0.0.1:7431";

// The longest the program waits on the node for one request: connecting, sending and
// receiving together.
constexpr uint32_t kNodeRequestTimeout = 1000;

class LineTransport {
 public:
  virtual ~LineTransport() = default;

  // Sends `request` (ended by its line feed) and receives one answer line into `answer`,
  // its line feed removed and a NUL put after it, opening the connection first when none
  // is open. False on any failure (refused, broken, too slow, a line too long, bytes after
  // the answer), the connection then being closed.
  virtual bool Exchange(const char* request, size_t length, char* answer, size_t capacity,
                        size_t* answerLength) = 0;

  // Closes the connection; the next exchange opens a new one.
  virtual void Close() = 0;
};

// Splits "host:port" into its parts; the host may be a bracketed IPv6 address. False when
// the address is malformed or the host does not fit `capacity` with its NUL.
bool ParseNodeAddress(const char* address, char* host, size_t capacity, uint16_t* port);

// A TCP transport to `address` ("host:port") on this platform's sockets. An address that
// does not parse or resolve gives a transport whose every exchange fails.
std::unique_ptr<LineTransport> NewSocketTransport(const char* address, Clock& clock,
                                                  uint32_t timeoutMs = kNodeRequestTimeout);

}  // namespace kelvor
