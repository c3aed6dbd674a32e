// The few TCP socket operations the SCADA node connection needs; one implementation per
// platform (socket_posix.cpp, socket_win.cpp). Every socket is non-blocking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kelvor::tcp {

using Handle = intptr_t;
constexpr Handle kNone = -1;

// A resolved address, kept in storage of the caller's.
struct Address {
  alignas(8) unsigned char bytes[128];
  int length = 0;
  int family = 0;
};

// Keeps the first address of a resolver's answer (an addrinfo of either platform); false
// when it does not fit.
template <typename AddressInfo>
bool KeepFirstAddress(const AddressInfo& found, Address* address) {
  if (found.ai_addrlen > sizeof address->bytes) return false;
  memcpy(address->bytes, found.ai_addr, found.ai_addrlen);
  address->length = static_cast<int>(found.ai_addrlen);
  address->family = found.ai_family;
  return true;
}

// Resolves a host (numeric first, then by name) and port. False when it does not resolve.
bool Resolve(const char* host, uint16_t port, Address* address);

// Opens a TCP socket and starts connecting it. kNone on failure; `pending` is set when the
// connection is still being made and Wait(..., true, ...) then Connected() finish it.
Handle Connect(const Address& address, bool* pending);
bool Connected(Handle socket);

// Waits up to `milliseconds` until the socket can be read (or written); false when the
// time ran out or the socket failed.
bool Wait(Handle socket, bool forWrite, uint32_t milliseconds);

// True when nothing can be read: an idle connection that turns readable was closed by the
// node or carries bytes nobody asked for.
bool Idle(Handle socket);

// Both return the bytes moved, 0 when the call would block, -1 when the connection failed
// or (for Receive) was closed.
long Send(Handle socket, const char* data, size_t length);
long Receive(Handle socket, char* buffer, size_t capacity);

void Close(Handle socket);

}  // namespace kelvor::tcp
