// TCP sockets on Winsock: waits by select(). Used by the stand-in SCADA libraries, which
// speak the node protocol where the SCADA system itself is not installed.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>

#include "platform/socket.h"

namespace kelvor::tcp {
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

SOCKET Native(Handle socket) {
  return static_cast<SOCKET>(socket);
}

}  // namespace

bool Resolve(const char* host, uint16_t port, Address* address) {
  if (!StartWinsock()) return false;
  char service[8];
  snprintf(service, sizeof service, "%u", port);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, service, &hints, &found) != 0) return false;
  bool fits = KeepFirstAddress(*found, address);
  freeaddrinfo(found);
  return fits;
}

Handle Connect(const Address& address, bool* pending) {
  *pending = false;
  SOCKET s = socket(address.family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNone;
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  const sockaddr* to = reinterpret_cast<const sockaddr*>(address.bytes);
  if (connect(s, to, address.length) == 0) return static_cast<Handle>(s);
  if (WSAGetLastError() == WSAEWOULDBLOCK) {
    *pending = true;
    return static_cast<Handle>(s);
  }
  closesocket(s);
  return kNone;
}

bool Connected(Handle socket) {
  int error = 0;
  int size = sizeof error;
  return getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) ==
             0 &&
         error == 0;
}

// A failed connect shows in the exception set, not the write set.
bool Wait(Handle socket, bool forWrite, uint32_t milliseconds) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(Native(socket), &ready);
  FD_SET(Native(socket), &failed);
  timeval limit{static_cast<long>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000};
  int count = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &limit);
  return count > 0 && !FD_ISSET(Native(socket), &failed);
}

bool Idle(Handle socket) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Native(socket), &readable);
  timeval now{0, 0};
  return select(0, &readable, nullptr, nullptr, &now) == 0;
}

long Send(Handle socket, const char* data, size_t length) {
  int sent = send(Native(socket), data, static_cast<int>(length), 0);
  if (sent >= 0) return sent;
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

long Receive(Handle socket, char* buffer, size_t capacity) {
  int got = recv(Native(socket), buffer, static_cast<int>(capacity), 0);
  if (got > 0) return got;
  if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return -1;
}

void Close(Handle socket) {
  closesocket(Native(socket));
}

}  // namespace kelvor::tcp
