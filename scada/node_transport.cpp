#include "scada/node_transport.h"

#include <cstdio>
#include <cstring>

#include "platform/socket.h"
#include "platform/text.h"

namespace kelvor {

bool ParseNodeAddress(const char* address, char* host, size_t capacity, uint16_t* port) {
  if (!address) return false;
  const char* colon = strrchr(address, ':');
  if (!colon || colon == address) return false;
  const char* hostStart = address;
  const char* hostEnd = colon;
  if (*hostStart == '[') {  // [v6]:port
    if (hostEnd[-1] != ']' || hostEnd - hostStart < 3) return false;
    ++hostStart;
    --hostEnd;
  } else if (memchr(hostStart, ':', hostEnd - hostStart)) {
    return false;  // a bare IPv6 address: its port cannot be told apart
  }
  size_t hostLength = static_cast<size_t>(hostEnd - hostStart);
  if (hostLength + 1 > capacity) return false;
  uint32_t number = 0;
  if (!ReadNumber(colon + 1, strlen(colon + 1), 5, &number)) return false;
  if (number == 0 || number > 65535) return false;
  memcpy(host, hostStart, hostLength);
  host[hostLength] = '\0';
  *port = static_cast<uint16_t>(number);
  return true;
}

namespace {

// The node connection: one non-blocking TCP socket, every wait bounded by what is left of
// the request's time.
class SocketLineTransport : public LineTransport {
 public:
  SocketLineTransport(const char* address, Clock& clock, uint32_t timeoutMs)
      : clock_(clock), timeout_(timeoutMs) {
    snprintf(address_, sizeof address_, "%s", address ? address : "");
  }
  ~SocketLineTransport() override { Close(); }

  bool Exchange(const char* request, size_t length, char* answer, size_t capacity,
                size_t* answerLength) override {
    uint32_t start = clock_.TickCount();
    if (socket_ != tcp::kNone && !tcp::Idle(socket_)) Close();
    bool ok = (socket_ != tcp::kNone || Connect(start)) && SendAll(request, length, start) &&
              ReceiveLine(answer, capacity, answerLength, start);
    if (!ok) Close();
    return ok;
  }

  void Close() override {
    if (socket_ != tcp::kNone) tcp::Close(socket_);
    socket_ = tcp::kNone;
  }

 private:
  // Waits for the socket until the request's time is up.
  bool Wait(bool forWrite, uint32_t start) {
    uint32_t elapsed = Elapsed(clock_.TickCount(), start);
    return elapsed < timeout_ && tcp::Wait(socket_, forWrite, timeout_ - elapsed);
  }

  // The address is resolved once; one that does not resolve fails every exchange.
  bool Resolve() {
    if (resolution_ == kUnresolved) {
      char host[256];
      uint16_t port = 0;
      bool ok = ParseNodeAddress(address_, host, sizeof host, &port) &&
                tcp::Resolve(host, port, &resolved_);
      resolution_ = ok ? kResolved : kUnresolvable;
    }
    return resolution_ == kResolved;
  }

  bool Connect(uint32_t start) {
    if (!Resolve()) return false;
    bool pending = false;
    socket_ = tcp::Connect(resolved_, &pending);
    if (socket_ == tcp::kNone) return false;
    return !pending || (Wait(true, start) && tcp::Connected(socket_));
  }

  bool SendAll(const char* data, size_t length, uint32_t start) {
    while (length > 0) {
      long sent = tcp::Send(socket_, data, length);
      if (sent < 0 || (sent == 0 && !Wait(true, start))) return false;
      data += sent;
      length -= static_cast<size_t>(sent);
    }
    return true;
  }

  // Reads up to the line feed. The node answers once per request, so a byte after the line
  // feed means the two sides are out of step.
  bool ReceiveLine(char* line, size_t capacity, size_t* length, uint32_t start) {
    size_t have = 0;
    while (have + 1 < capacity) {
      long got = tcp::Receive(socket_, line + have, capacity - 1 - have);
      if (got < 0) return false;  // closed by the node, or broken
      if (got == 0) {
        if (!Wait(false, start)) return false;
        continue;
      }
      const char* end = static_cast<const char*>(memchr(line + have, '\n', got));
      have += static_cast<size_t>(got);
      if (end) {
        size_t lineLength = static_cast<size_t>(end - line);
        if (lineLength + 1 != have) return false;
        line[lineLength] = '\0';
        *length = lineLength;
        return true;
      }
    }
    return false;  // longer than any answer may be
  }

  enum Resolution { kUnresolved, kResolved, kUnresolvable };

  Clock& clock_;
  uint32_t timeout_;
  char address_[256];
  tcp::Handle socket_ = tcp::kNone;
  Resolution resolution_ = kUnresolved;
  tcp::Address resolved_;
};

}  // namespace

std::unique_ptr<LineTransport> NewSocketTransport(const char* address, Clock& clock,
                                                  uint32_t timeoutMs) {
  return std::make_unique<SocketLineTransport>(address, clock, timeoutMs);
}

}  // namespace kelvor
