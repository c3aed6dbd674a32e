// What the Linux serial port does below the SerialPort interface that tests reach on their
// own, on descriptors no serial port offers (a socket holds output nobody takes).
#pragma once

#include <cstdint>

namespace kelvor {

// Waits until the descriptor's output queue is empty, as a synchronous Windows write does.
// False when the queue has not shrunk for `stallMs` milliseconds (hardware handshake with
// CTS held low keeps it full for ever) or cannot be asked (the line has hung up).
bool DrainOutput(int fd, uint32_t stallMs);

}  // namespace kelvor
