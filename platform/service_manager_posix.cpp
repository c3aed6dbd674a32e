#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/service_manager.h"

namespace kelvor {
namespace {

// The socket and the address, made at the first use and kept for the run.
struct NotifySocket {
  int fd = -1;
  sockaddr_un address{};
  socklen_t length = 0;
};

// A name that starts with "@" is in the abstract namespace, whose first byte is a zero;
// one that starts with "/" is a path. Anything else, or too long a name, is not a socket
// systemd would give.
bool ReadAddress(const char* name, NotifySocket* notify) {
  size_t size = strlen(name);
  if ((name[0] != '/' && name[0] != '@') || size < 2 || size > sizeof notify->address.sun_path) {
    return false;
  }
  notify->address.sun_family = AF_UNIX;
  memcpy(notify->address.sun_path, name, size);
  if (name[0] == '@') notify->address.sun_path[0] = '\0';
  // A path's length includes its zero byte, when there is room for one; an abstract name's
  // does not: every byte of it is the name.
  size_t pathLength = name[0] == '@' || size == sizeof notify->address.sun_path ? size : size + 1;
  notify->length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + pathLength);
  return true;
}

NotifySocket& Socket() {
  static NotifySocket notify = [] {
    NotifySocket made;
    const char* name = getenv("NOTIFY_SOCKET");
    if (name == nullptr || !ReadAddress(name, &made)) return made;
    made.fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return made;
  }();
  return notify;
}

}  // namespace

bool ServiceManagerListening() {
  return Socket().fd >= 0;
}

void NotifyServiceManager(const char* message) {
  NotifySocket& notify = Socket();
  if (notify.fd < 0) return;
  sendto(notify.fd, message, strlen(message), MSG_DONTWAIT | MSG_NOSIGNAL,
         reinterpret_cast<const sockaddr*>(&notify.address), notify.length);
}

}  // namespace kelvor
