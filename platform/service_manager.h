// Messages to the service manager that runs the program: on Linux systemd's notification
// protocol, one datagram per message to the socket that $NOTIFY_SOCKET names ("READY=1",
// "WATCHDOG=1", "STATUS=...", "STOPPING=1"). Without that variable, and on Windows, there is
// no one to tell, and nothing is sent.
#pragma once

namespace kelvor {

// True when a service manager waits for the program's messages.
bool ServiceManagerListening();

// Sends one message; a message that cannot be sent is dropped, never waited for: the
// service manager's watchdog is there to notice a program that stopped talking.
void NotifyServiceManager(const char* message);

}  // namespace kelvor
