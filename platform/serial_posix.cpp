// The serial port on Linux: a terminal device in raw mode, held exclusively, read without
// waiting. Writes drain before they return, so a purge never throws a command away.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/keyboard_posix.h"
#include "platform/output_drain.h"
#include "platform/serial.h"
#include "platform/serial_mode.h"
#include "platform/serial_posix.h"

namespace kelvor {
namespace {

// The text Windows gives for a line-settings text it cannot read.
constexpr char kBadParameter[] = "The parameter is incorrect.\r\n";
// How long a write blocked by a full output buffer waits for room before it looks again.
constexpr int kWritableWaitMs = 100;

struct ModemLines {
  int on = 0;   // TIOCM_ bits to raise
  int off = 0;  // TIOCM_ bits to drop
};

// COMn names the n-th serial port, /dev/ttyS(n-1); COM:<path> names a device by its path.
bool DevicePath(const char* name, char* path, size_t size) {
  PortAddress port = ReadPortName(name);
  int length = -1;
  if (port.kind == PortAddress::kPath && port.path[0] != '\0') {
    length = snprintf(path, size, "%s", port.path);
  } else if (port.kind == PortAddress::kNumbered) {
    length = snprintf(path, size, "/dev/ttyS%u", static_cast<unsigned>(port.number - 1));
  }
  return length >= 0 && length < static_cast<int>(size);
}

bool SpeedCode(uint32_t baud, speed_t* code) {
  static const struct {
    uint32_t baud;
    speed_t code;
  } kSpeeds[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                 {150, B150},       {200, B200},       {300, B300},       {600, B600},
                 {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                 {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                 {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& entry : kSpeeds) {
    if (entry.baud == baud) {
      *code = entry.code;
      return true;
    }
  }
  return false;
}

bool ApplyParity(char parity, termios* t) {
  tcflag_t bits = 0;
  switch (parity) {
    case 0:
      return true;
    case 'N':
      break;
    case 'O':
      bits = PARENB | PARODD;
      break;
    case 'E':
      bits = PARENB;
      break;
#ifdef CMSPAR
    case 'M':
      bits = PARENB | PARODD | CMSPAR;
      break;
    case 'S':
      bits = PARENB | CMSPAR;
      break;
#endif
    default:
      return false;
  }
  tcflag_t mask = PARENB | PARODD;
#ifdef CMSPAR
  mask |= CMSPAR;
#endif
  t->c_cflag = (t->c_cflag & ~mask) | bits;
  return true;
}

bool ApplyFraming(const SerialSettings& s, termios* t) {
  if (s.baud != 0) {
    speed_t code;
    if (!SpeedCode(s.baud, &code)) return false;
    cfsetispeed(t, code);
    cfsetospeed(t, code);
  }
  if (!ApplyParity(s.parity, t)) return false;
  if (s.dataBits != 0) {
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t->c_cflag = (t->c_cflag & ~CSIZE) | kSizes[s.dataBits - 5];
  }
  if (s.stopBits == StopBits::kOnePointFive) return false;
  if (s.stopBits == StopBits::kOne) t->c_cflag &= ~CSTOPB;
  if (s.stopBits == StopBits::kTwo) t->c_cflag |= CSTOPB;
  return true;
}

void SetFlag(tcflag_t* flags, tcflag_t bits, bool on) {
  *flags = on ? (*flags | bits) : (*flags & ~bits);
}

// Termios has one switch for RTS/CTS flow both ways, none for DSR flow or a toggled RTS:
// texts asking for those are refused rather than approximated.
bool ApplyHandshake(const SerialSettings& s, termios* t, ModemLines* lines) {
  if (s.outDsr == LineSwitch::kOn || s.inDsr == LineSwitch::kOn) return false;
  if (s.dtr == LineSwitch::kHandshake || s.rts == LineSwitch::kToggle) return false;
  if (s.handshake == Handshake::kXonXoff) {
    SetFlag(&t->c_iflag, IXON | IXOFF, true);
    SetFlag(&t->c_cflag, CRTSCTS, false);
  } else if (s.handshake == Handshake::kHardware) {
    SetFlag(&t->c_iflag, IXON | IXOFF, false);
    SetFlag(&t->c_cflag, CRTSCTS, true);
  }
  if (s.xon != LineSwitch::kUnset) SetFlag(&t->c_iflag, IXON | IXOFF, s.xon == LineSwitch::kOn);

  bool flow = (t->c_cflag & CRTSCTS) != 0;
  bool outFlow = s.outCts == LineSwitch::kUnset ? flow : s.outCts == LineSwitch::kOn;
  bool inFlow = s.rts == LineSwitch::kUnset ? flow : s.rts == LineSwitch::kHandshake;
  if (outFlow != inFlow) return false;
  SetFlag(&t->c_cflag, CRTSCTS, outFlow);

  if (s.dtr == LineSwitch::kOn) lines->on |= TIOCM_DTR;
  if (s.dtr == LineSwitch::kOff) lines->off |= TIOCM_DTR;
  if (s.rts == LineSwitch::kOn) lines->on |= TIOCM_RTS;
  if (s.rts == LineSwitch::kOff) lines->off |= TIOCM_RTS;
  return true;
}

// What a Windows port always is: bytes pass untouched both ways, nothing is echoed, the
// carrier is ignored, and a read returns at once with what has arrived.
void MakeRaw(termios* t) {
  t->c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
  t->c_oflag &= ~OPOST;
  t->c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t->c_cflag |= CREAD | CLOCAL;
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
}

class PosixSerialPort : public SerialPort {
 public:
  ~PosixSerialPort() override { Close(); }

  bool Open(const char* name) override {
    Close();
    char path[512];
    if (!DevicePath(name, path, sizeof path)) return false;
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // TIOCEXCL keeps out other opens; the lock also keeps out a second Kelvor run as root.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
      close(fd);
      return false;
    }
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
      MakeRaw(&t);
      tcsetattr(fd, TCSANOW, &t);
    }
    fd_ = fd;
    return true;
  }

  bool BuildMode(const char* mode, char* error, size_t errorSize) override {
    lines_ = ModemLines();
    if (tcgetattr(fd_, &pending_) != 0) pending_ = termios{};
    SerialSettings settings;
    termios changed = pending_;
    ModemLines lines;
    if (!ParseSerialMode(mode, &settings) || !ApplyFraming(settings, &changed) ||
        !ApplyHandshake(settings, &changed, &lines)) {
      snprintf(error, errorSize, "%s", kBadParameter);
      return false;
    }
    pending_ = changed;
    lines_ = lines;
    return true;
  }

  void ApplyMode() override {
    if (fd_ < 0) return;
    MakeRaw(&pending_);
    tcsetattr(fd_, TCSANOW, &pending_);
    // Ports without modem lines (a pseudo-terminal) refuse these; that changes nothing.
    if (lines_.on != 0) ioctl(fd_, TIOCMBIS, &lines_.on);
    if (lines_.off != 0) ioctl(fd_, TIOCMBIC, &lines_.off);
  }

  bool Read(char* buffer, uint32_t capacity, uint32_t* count) override {
    *count = 0;
    if (fd_ < 0) return false;
    ssize_t got;
    do {
      got = read(fd_, buffer, capacity);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
      *count = static_cast<uint32_t>(got);
      return true;
    }
    if (got < 0) return errno == EAGAIN;
    return !HungUp();
  }

  bool Write(const char* data, uint32_t length) override {
    if (fd_ < 0) return false;
    StallWatch watch(kWriteStallMs);
    uint32_t done = 0;
    while (done < length) {
      ssize_t count = write(fd_, data + done, length - done);
      if (count > 0) {
        done += static_cast<uint32_t>(count);
      } else if (count < 0 && errno == EINTR) {
        continue;
      } else if (count < 0 && errno == EAGAIN &&
                 watch.Moving(length - done, SystemClock().TickCount())) {
        WaitWritable();
      } else {
        return false;
      }
    }
    return DrainOutput(fd_, kWriteStallMs);
  }

  // Only the input side: Write has drained the output already, and on a pseudo-terminal
  // flushing the output side discards what the other end has not read yet.
  bool Purge() override { return fd_ >= 0 && tcflush(fd_, TCIFLUSH) == 0; }

  // One poll on the port and the console's terminal for the time left. A signal (a request
  // to stop, which the keyboard delivers as Q) ends the poll and is looked at as a key; a
  // line that has hung up would end every poll at once, so its wait is slept instead.
  WaitEnd WaitForInput(uint32_t milliseconds, Clock& clock, Keyboard& keyboard) override {
    const uint32_t end = clock.TickCount() + milliseconds;
    for (;;) {
      if (keyboard.KeyWaiting()) return WaitEnd::kKey;
      uint32_t left = TimeLeft(clock.TickCount(), end);
      if (left == 0) return WaitEnd::kTime;
      pollfd waits[2] = {{fd_, POLLIN, 0}, {KeyDescriptor(keyboard), POLLIN, 0}};
      if (poll(waits, 2, static_cast<int>(left)) <= 0) continue;
      if ((waits[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        clock.Sleep(TimeLeft(clock.TickCount(), end));
        return WaitEnd::kTime;
      }
      if ((waits[0].revents & POLLIN) != 0) return WaitEnd::kBytes;
    }
  }

  void Close() override {
    if (fd_ < 0) return;
    // Output a stalled write left (flow control holding the line) is thrown away: close
    // would wait up to 30 s for it. A pseudo-terminal holds none, so what its other end
    // has not read yet stays.
    int held = 0;
    if (ioctl(fd_, TIOCOUTQ, &held) == 0 && held > 0) tcflush(fd_, TCOFLUSH);
    // The exclusive flag stays with the terminal while the other end holds it open.
    ioctl(fd_, TIOCNXCL);
    close(fd_);
    fd_ = -1;
  }

 private:
  void WaitWritable() {
    pollfd ready{fd_, POLLOUT, 0};
    poll(&ready, 1, kWritableWaitMs);
  }

  // A raw terminal reads 0 bytes both when nothing has arrived and when the line has hung
  // up (a pseudo-terminal whose other side closed, an unplugged USB adapter): only a poll
  // tells the two apart.
  bool HungUp() {
    pollfd line{fd_, POLLIN, 0};
    return poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  }

  int fd_ = -1;
  termios pending_{};
  ModemLines lines_;
};

}  // namespace

// tcdrain has no time limit, and a signal does not end it either when it is restarted:
// the queue is watched instead, with the write's own stall rule, so a slow line that
// keeps sending is waited for however long its bytes take.
bool DrainOutput(int fd, uint32_t stallMs) {
  class TerminalOutput : public OutputQueue {
   public:
    explicit TerminalOutput(int fd) : fd_(fd) {}
    bool Held(uint32_t* bytes) override {
      int held = 0;
      if (ioctl(fd_, TIOCOUTQ, &held) != 0 || held < 0) return false;
      *bytes = static_cast<uint32_t>(held);
      return true;
    }

   private:
    int fd_;
  } output(fd);
  return DrainOutput(output, SystemClock(), stallMs);
}

std::unique_ptr<SerialPort> NewSerialPort() {
  return std::make_unique<PosixSerialPort>();
}

// Links followed: one terminal is one device number, one file one inode.
bool SamePortDevice(const char* first, const char* second) {
  uint32_t firstCom = ComPortNumber(first);
  uint32_t secondCom = ComPortNumber(second);
  if (firstCom != 0 && secondCom != 0) return firstCom == secondCom;
  char firstPath[kPortTextSize + 16];
  char secondPath[kPortTextSize + 16];
  if (!DevicePath(first, firstPath, sizeof firstPath) ||
      !DevicePath(second, secondPath, sizeof secondPath)) {
    return strcmp(first, second) == 0;
  }
  struct stat a, b;
  if (stat(firstPath, &a) != 0 || stat(secondPath, &b) != 0) {
    return strcmp(firstPath, secondPath) == 0;
  }
  if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace kelvor
