// The node connection over Winsock: one non-blocking TCP socket, every wait bounded by
// select() against the request's deadline. Used by the stand-in SCADA libraries, which
// speak the node protocol where the SCADA system itself is not installed.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>

#include "scada/node_transport.h"

namespace kelvor {
namespace {

// Winsock is started once per process and left running: a process that talks to a node
// does so until it ends.
bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

class WinLineTransport : public LineTransport {
 public:
  WinLineTransport(const char* address, Clock& clock, uint32_t timeoutMs)
      : clock_(clock), timeout_(timeoutMs) {
    snprintf(address_, sizeof address_, "%s", address ? address : "");
  }
  ~WinLineTransport() override { Close(); }

  bool Exchange(const char* request, size_t length, char* answer, size_t capacity,
                size_t* answerLength) override {
    uint32_t start = clock_.TickCount();
    if (socket_ != INVALID_SOCKET && !StillOpen()) Close();
    bool ok = (socket_ != INVALID_SOCKET || Connect(start)) && SendAll(request, length, start) &&
              ReceiveLine(answer, capacity, answerLength, start);
    if (!ok) Close();
    return ok;
  }

  void Close() override {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

 private:
  enum class Want { kRead, kWrite };

  // Milliseconds left of the request's time, 0 when it is up.
  uint32_t Remaining(uint32_t start) const {
    uint32_t elapsed = clock_.TickCount() - start;
    return elapsed >= timeout_ ? 0 : timeout_ - elapsed;
  }

  // Waits until the socket is ready (or has failed, which the call that follows shows) or
  // the deadline passes. A failed connect shows in the exception set, not the write set.
  bool Wait(Want want, uint32_t start) {
    uint32_t left = Remaining(start);
    if (left == 0) return false;
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket_, &ready);
    FD_SET(socket_, &failed);
    timeval limit{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
    int count = select(0, want == Want::kRead ? &ready : nullptr,
                       want == Want::kWrite ? &ready : nullptr, &failed, &limit);
    return count > 0 && !FD_ISSET(socket_, &failed);
  }

  // An idle connection that has become readable was closed by the node (or carries bytes
  // nobody asked for): either way it is no use for the next request.
  bool StillOpen() {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval now{0, 0};
    return select(0, &readable, nullptr, nullptr, &now) == 0;
  }

  bool Resolve() {
    if (resolved_ || unresolvable_) return resolved_;
    unresolvable_ = true;
    char host[256];
    char service[8];
    uint16_t port = 0;
    if (!StartWinsock() || !ParseNodeAddress(address_, host, sizeof host, &port)) return false;
    snprintf(service, sizeof service, "%u", port);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, service, &hints, &found) != 0) return false;
    if (found->ai_addrlen <= sizeof sockAddress_) {
      memcpy(&sockAddress_, found->ai_addr, found->ai_addrlen);
      addressLength_ = static_cast<int>(found->ai_addrlen);
      family_ = found->ai_family;
      resolved_ = true;
      unresolvable_ = false;
    }
    freeaddrinfo(found);
    return resolved_;
  }

  bool Connect(uint32_t start) {
    if (!Resolve()) return false;
    socket_ = socket(family_, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET) return false;
    u_long nonBlocking = 1;
    ioctlsocket(socket_, FIONBIO, &nonBlocking);
    BOOL one = TRUE;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    if (connect(socket_, reinterpret_cast<sockaddr*>(&sockAddress_), addressLength_) == 0)
      return true;
    return WSAGetLastError() == WSAEWOULDBLOCK && Wait(Want::kWrite, start);
  }

  bool SendAll(const char* data, size_t length, uint32_t start) {
    while (length > 0) {
      int sent = send(socket_, data, static_cast<int>(length), 0);
      if (sent > 0) {
        data += sent;
        length -= static_cast<size_t>(sent);
      } else if (sent < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
        if (!Wait(Want::kWrite, start)) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  // Reads up to the line feed. The node answers once per request, so a byte after the line
  // feed means the two sides are out of step.
  bool ReceiveLine(char* line, size_t capacity, size_t* length, uint32_t start) {
    size_t have = 0;
    while (have + 1 < capacity) {
      int got = recv(socket_, line + have, static_cast<int>(capacity - 1 - have), 0);
      if (got > 0) {
        const char* end = static_cast<const char*>(memchr(line + have, '\n', got));
        have += static_cast<size_t>(got);
        if (end) {
          size_t lineLength = static_cast<size_t>(end - line);
          if (lineLength + 1 != have) return false;
          line[lineLength] = '\0';
          *length = lineLength;
          return true;
        }
      } else if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
        if (!Wait(Want::kRead, start)) return false;
      } else {
        return false;  // closed by the node, or broken
      }
    }
    return false;  // longer than any answer may be
  }

  Clock& clock_;
  uint32_t timeout_;
  char address_[256];
  SOCKET socket_ = INVALID_SOCKET;
  bool resolved_ = false;
  bool unresolvable_ = false;
  sockaddr_storage sockAddress_{};
  int addressLength_ = 0;
  int family_ = AF_INET;
};

}  // namespace

std::unique_ptr<LineTransport> NewSocketTransport(const char* address, Clock& clock,
                                                  uint32_t timeoutMs) {
  return std::make_unique<WinLineTransport>(address, clock, timeoutMs);
}

}  // namespace kelvor
