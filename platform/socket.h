// The few TCP socket operations the SCADA node connection needs; one implementation per
// platform (socket_posix.cpp, socket_win.cpp). Every socket is non-blocking.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvor::tcp {

using Handle = intptr_t;
constexpr Handle kNone = -1;

// A resolved address, kept in storage of the caller's.
struct Address {
  alignas(8) unsigned char bytes[128];
  int length = 0;
  int family = 0;
};

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
