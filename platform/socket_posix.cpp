// TCP sockets on POSIX: waits by poll(); sends never raise SIGPIPE.
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

#include "platform/socket.h"

namespace kelvor::tcp {

bool Resolve(const char* host, uint16_t port, Address* address) {
  char service[8];
  snprintf(service, sizeof service, "%u", port);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, service, &hints, &found) != 0) {
    hints.ai_flags = AI_NUMERICSERV;
    if (getaddrinfo(host, service, &hints, &found) != 0) return false;
  }
  bool fits = KeepFirstAddress(*found, address);
  freeaddrinfo(found);
  return fits;
}

Handle Connect(const Address& address, bool* pending) {
  *pending = false;
  int fd = socket(address.family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return kNone;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const sockaddr* to = reinterpret_cast<const sockaddr*>(address.bytes);
  if (connect(fd, to, static_cast<socklen_t>(address.length)) == 0) return fd;
  if (errno == EINPROGRESS) {
    *pending = true;
    return fd;
  }
  close(fd);
  return kNone;
}

bool Connected(Handle socket) {
  int error = 0;
  socklen_t size = sizeof error;
  return getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
         error == 0;
}

// A socket that failed also shows as ready: the call that follows reports the failure.
bool Wait(Handle socket, bool forWrite, uint32_t milliseconds) {
  pollfd entry{static_cast<int>(socket), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  int ready = poll(&entry, 1, static_cast<int>(milliseconds));
  return ready > 0 || (ready < 0 && errno == EINTR);
}

bool Idle(Handle socket) {
  pollfd entry{static_cast<int>(socket), POLLIN, 0};
  return poll(&entry, 1, 0) == 0;
}

long Send(Handle socket, const char* data, size_t length) {
  // MSG_NOSIGNAL: a node that went away must not end the program with SIGPIPE.
  ssize_t sent = send(static_cast<int>(socket), data, length, MSG_NOSIGNAL);
  if (sent >= 0) return sent;
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

long Receive(Handle socket, char* buffer, size_t capacity) {
  ssize_t got = recv(static_cast<int>(socket), buffer, capacity, 0);
  if (got > 0) return got;
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
  return -1;
}

void Close(Handle socket) {
  close(static_cast<int>(socket));
}

}  // namespace kelvor::tcp
