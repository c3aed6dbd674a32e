// The node connection over POSIX sockets: one non-blocking TCP socket, every wait bounded
// by poll() against the request's deadline.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "scada/node_transport.h"

namespace kelvor {
namespace {

class PosixLineTransport : public LineTransport {
 public:
  PosixLineTransport(const char* address, Clock& clock, uint32_t timeoutMs)
      : clock_(clock), timeout_(timeoutMs) {
    snprintf(address_, sizeof address_, "%s", address ? address : "");
  }
  ~PosixLineTransport() override { Close(); }

  bool Exchange(const char* request, size_t length, char* answer, size_t capacity,
                size_t* answerLength) override {
    uint32_t start = clock_.TickCount();
    if (fd_ >= 0 && !StillOpen()) Close();
    bool ok = (fd_ >= 0 || Connect(start)) && SendAll(request, length, start) &&
              ReceiveLine(answer, capacity, answerLength, start);
    if (!ok) Close();
    return ok;
  }

  void Close() override {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  // Milliseconds left of the request's time, 0 when it is up.
  int Remaining(uint32_t start) const {
    uint32_t elapsed = clock_.TickCount() - start;
    return elapsed >= timeout_ ? 0 : static_cast<int>(timeout_ - elapsed);
  }

  // Waits for `events` on the socket until the deadline; false when time runs out.
  bool Wait(short events, uint32_t start) {
    for (;;) {
      int left = Remaining(start);
      if (left == 0) return false;
      pollfd entry{fd_, events, 0};
      int ready = poll(&entry, 1, left);
      if (ready > 0) return true;  // errors show in the call that follows
      if (ready == 0 || errno != EINTR) return false;
    }
  }

  // An idle connection that has become readable was closed by the node (or carries bytes
  // nobody asked for): either way it is no use for the next request.
  bool StillOpen() {
    pollfd entry{fd_, POLLIN, 0};
    return poll(&entry, 1, 0) == 0;
  }

  // Resolves the address once; a host name is looked up only if it is not numeric.
  bool Resolve() {
    if (resolved_ || unresolvable_) return resolved_;
    char host[256];
    uint16_t port = 0;
    char service[8];
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    unresolvable_ = true;
    if (!ParseNodeAddress(address_, host, sizeof host, &port)) return false;
    snprintf(service, sizeof service, "%u", port);
    if (getaddrinfo(host, service, &hints, &found) != 0) {
      hints.ai_flags = AI_NUMERICSERV;
      if (getaddrinfo(host, service, &hints, &found) != 0) return false;
    }
    if (found->ai_addrlen <= sizeof sockAddress_) {
      memcpy(&sockAddress_, found->ai_addr, found->ai_addrlen);
      addressLength_ = found->ai_addrlen;
      family_ = found->ai_family;
      resolved_ = true;
      unresolvable_ = false;
    }
    freeaddrinfo(found);
    return resolved_;
  }

  bool Connect(uint32_t start) {
    if (!Resolve()) return false;
    fd_ = socket(family_, SOCK_STREAM, 0);
    if (fd_ < 0) return false;
    fcntl(fd_, F_SETFD, FD_CLOEXEC);
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&sockAddress_), addressLength_) == 0) return true;
    if (errno != EINPROGRESS || !Wait(POLLOUT, start)) return false;
    int error = 0;
    socklen_t size = sizeof error;
    return getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }

  bool SendAll(const char* data, size_t length, uint32_t start) {
    while (length > 0) {
      // MSG_NOSIGNAL: a node that went away must not end the program with SIGPIPE.
      ssize_t sent = send(fd_, data, length, MSG_NOSIGNAL);
      if (sent > 0) {
        data += sent;
        length -= static_cast<size_t>(sent);
      } else if (sent < 0 && errno == EINTR) {
        continue;
      } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!Wait(POLLOUT, start)) return false;
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
      ssize_t got = recv(fd_, line + have, capacity - 1 - have, 0);
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
      } else if (got < 0 && errno == EINTR) {
        continue;
      } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!Wait(POLLIN, start)) return false;
      } else {
        return false;  // closed by the node, or broken
      }
    }
    return false;  // longer than any answer may be
  }

  Clock& clock_;
  uint32_t timeout_;
  char address_[256];
  int fd_ = -1;
  bool resolved_ = false;
  bool unresolvable_ = false;
  sockaddr_storage sockAddress_{};
  socklen_t addressLength_ = 0;
  int family_ = AF_INET;
};

}  // namespace

std::unique_ptr<LineTransport> NewSocketTransport(const char* address, Clock& clock,
                                                  uint32_t timeoutMs) {
  return std::make_unique<PosixLineTransport>(address, clock, timeoutMs);
}

}  // namespace kelvor
