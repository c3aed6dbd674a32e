// kelvor-gsm-sim: a GSM phone in SMS text mode on a pseudo-terminal, for demos and
// end-to-end tests of Kelvor. See --help.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <set>
#include <string>

#include "gsm_phone.h"

namespace kelvor::sim {
namespace {

const char kHelp[] =
    "Usage: kelvor-gsm-sim [options]\n"
    "\n"
    "A GSM phone in SMS text mode on a pseudo-terminal. The first line on standard\n"
    "output is the device path (start Kelvor with COM:<path>); it is flushed at once.\n"
    "Each SMS the phone delivers is then printed as one line:\n"
    "  SMS ref=<n> to=<number> text=<text>\n"
    "where the text has backslash, line ends and other control bytes escaped\n"
    "(\\\\, \\n, \\r, \\xHH). Switching off and on prints \"POWER off\" and \"POWER on\".\n"
    "The phone runs until it is sent SIGINT or SIGTERM.\n"
    "\n"
    "The phone: echo on until ATE0 (and again after ATZ), OK and ERROR, numbered\n"
    "+CMS errors once AT+CMEE=1 is set, AT+CSCA? and AT+CSCA=, AT+CMGF, AT+CMGS with\n"
    "its \"> \" prompt and the text up to Ctrl-Z (ESC abandons it), +CMGS: <n>, AT+CSQ.\n"
    "\n"
    "Options:\n"
    "  --sms-file FILE      also append each SMS line to FILE (flushed at once)\n"
    "  --link PATH          make PATH a symbolic link to the device (removed at exit)\n"
    "  --delay MS           wait MS ms before each answer (default 100; a real phone\n"
    "                       is slow too, and Kelvor empties its port after a command)\n"
    "  --sca NUMBER         the service centre the SIM knows (default +99912345);\n"
    "                       --sca \"\" leaves it unknown, so AT+CSCA? is refused\n"
    "  --csq RSSI[,BER]     the signal quality reported (default 15,99)\n"
    "  --verbose            trace commands and answers on standard error\n"
    "\n"
    "Faults:\n"
    "  --silent             never answer anything\n"
    "  --off-after SEC      switch off SEC seconds after the start: no answers\n"
    "  --off-for SEC        ... and switch on again after SEC seconds (default: never)\n"
    "  --fail-sends LIST    refuse the SMS texts with these numbers, counted from 1\n"
    "                       (for example 1,2,5), with +CMS ERROR\n"
    "  --fail-code N        the error number of a refused text (default 500)\n"
    "  --split N            send answers in pieces of N bytes ...\n"
    "  --split-gap MS       ... MS ms apart (default 1100, so each lands in its own read)\n"
    "  --flood MS           send an unsolicited \"RING\" every MS ms\n"
    "  --stray-prompt       start waiting for the text of an SMS, as a phone left at the\n"
    "                       \"> \" prompt does: the reset command is taken as text and\n"
    "                       answered with a new prompt until Ctrl-Z ends it with OK\n";

struct Options {
  PhoneOptions phone;
  std::string smsFile;
  std::string link;
  long delay = 100;
  bool verbose = false;
  bool silent = false;
  long offAfter = -1;
  long offFor = -1;
  size_t split = 0;
  long splitGap = 1100;
  long flood = 0;
};

volatile sig_atomic_t stopping = 0;

void Stop(int) {
  stopping = 1;
}

long NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

bool Number(const char* text, long* value) {
  char* end = nullptr;
  errno = 0;
  long number = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || number < 0) return false;
  *value = number;
  return true;
}

bool ReadList(const char* text, std::set<int>* numbers) {
  std::string list(text);
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    long number;
    if (!Number(list.substr(start, comma - start).c_str(), &number)) return false;
    numbers->insert(static_cast<int>(number));
    start = comma + 1;
  }
  return true;
}

bool ReadSignal(const char* text, PhoneOptions* phone) {
  std::string value(text);
  size_t comma = value.find(',');
  long rssi, ber = phone->ber;
  if (!Number(value.substr(0, comma).c_str(), &rssi)) return false;
  if (comma != std::string::npos && !Number(value.substr(comma + 1).c_str(), &ber)) return false;
  phone->rssi = static_cast<int>(rssi);
  phone->ber = static_cast<int>(ber);
  return true;
}

// False with a message on a bad command line.
bool ReadOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      fputs(kHelp, stdout);
      exit(0);
    }
    if (name == "--verbose") {
      options->verbose = true;
      continue;
    }
    if (name == "--silent") {
      options->silent = true;
      continue;
    }
    if (name == "--stray-prompt") {
      options->phone.strayPrompt = true;
      continue;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "kelvor-gsm-sim: %s needs a value (see --help)\n", name.c_str());
      return false;
    }
    const char* value = argv[++i];
    long number = 0;
    bool good = true;
    if (name == "--sms-file") {
      options->smsFile = value;
    } else if (name == "--link") {
      options->link = value;
    } else if (name == "--sca") {
      options->phone.serviceCentre = value;
    } else if (name == "--csq") {
      good = ReadSignal(value, &options->phone);
    } else if (name == "--fail-sends") {
      good = ReadList(value, &options->phone.failingSends);
    } else if (name == "--fail-code") {
      good = Number(value, &number);
      options->phone.failCode = static_cast<int>(number);
    } else if (name == "--delay") {
      good = Number(value, &options->delay);
    } else if (name == "--off-after") {
      good = Number(value, &options->offAfter);
    } else if (name == "--off-for") {
      good = Number(value, &options->offFor);
    } else if (name == "--split") {
      good = Number(value, &number) && number > 0;
      options->split = static_cast<size_t>(number);
    } else if (name == "--split-gap") {
      good = Number(value, &options->splitGap);
    } else if (name == "--flood") {
      good = Number(value, &options->flood) && options->flood > 0;
    } else {
      fprintf(stderr, "kelvor-gsm-sim: unknown option %s (see --help)\n", name.c_str());
      return false;
    }
    if (!good) {
      fprintf(stderr, "kelvor-gsm-sim: bad value for %s: %s\n", name.c_str(), value);
      return false;
    }
  }
  return true;
}

// The master side of a pseudo-terminal whose slave is raw and kept open, so that the
// master reads nothing but data while no program has the device open.
bool OpenTerminal(int* master, int* slave, std::string* path) {
  *master = posix_openpt(O_RDWR | O_NOCTTY);
  if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0) return false;
  char name[256];
  if (ptsname_r(*master, name, sizeof name) != 0) return false;
  *path = name;
  *slave = open(name, O_RDWR | O_NOCTTY);
  if (*slave < 0) return false;
  termios settings;
  tcgetattr(*slave, &settings);
  cfmakeraw(&settings);
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  tcsetattr(*slave, TCSANOW, &settings);
  fcntl(*master, F_SETFL, fcntl(*master, F_GETFL) | O_NONBLOCK);
  return true;
}

constexpr size_t kMaxPending = 1000;  // answers and pieces waiting to go out

struct Piece {
  long due;
  std::string bytes;
};

class Simulator {
 public:
  Simulator(const Options& options, int master)
      : options_(options), master_(master), phone_(options.phone), start_(NowMs()) {
    phone_.onDelivered = [this](const DeliveredSms& sms) { Deliver(sms); };
    if (options_.verbose) {
      phone_.onTrace = [](const std::string& line) { fprintf(stderr, "sim: %s\n", line.c_str()); };
    }
    nextFlood_ = start_ + options_.flood;
  }

  void Run() {
    while (!stopping) {
      pollfd ready{master_, POLLIN, 0};
      int result = poll(&ready, 1, static_cast<int>(Wait()));
      if (result < 0 && errno != EINTR) break;
      if (result > 0 && (ready.revents & POLLIN) != 0) Take();
      Power();
      Flood();
      Send();
    }
  }

 private:
  bool On() const { return !options_.silent && !off_; }

  long Wait() const {
    long wait = 200;
    long now = NowMs();
    if (!pending_.empty()) wait = std::min(wait, pending_.front().due - now);
    if (options_.flood > 0) wait = std::min(wait, nextFlood_ - now);
    return wait < 0 ? 0 : wait;
  }

  void Take() {
    char buffer[512];
    ssize_t count = read(master_, buffer, sizeof buffer);
    if (count <= 0) return;
    if (options_.verbose) {
      fprintf(stderr, "sim: << %s\n", Escaped(std::string(buffer, count)).c_str());
    }
    if (!On()) return;
    Queue(phone_.Receive(buffer, static_cast<size_t>(count)));
  }

  // Answers go out after the delay, in pieces when asked, never overtaking each other.
  void Queue(const std::string& answer) {
    // Nobody reading (no program on the device): keep a bounded backlog only.
    if (answer.empty() || pending_.size() >= kMaxPending) return;
    long due = std::max(NowMs() + options_.delay, pending_.empty() ? 0 : pending_.back().due);
    size_t piece = options_.split > 0 ? options_.split : answer.size();
    for (size_t at = 0; at < answer.size(); at += piece) {
      pending_.push_back({due, answer.substr(at, piece)});
      due += options_.split > 0 ? options_.splitGap : 0;
    }
  }

  void Send() {
    long now = NowMs();
    while (!pending_.empty() && pending_.front().due <= now) {
      const std::string& bytes = pending_.front().bytes;
      if (options_.verbose) fprintf(stderr, "sim: >> %s\n", Escaped(bytes).c_str());
      if (write(master_, bytes.data(), bytes.size()) < 0 && errno == EAGAIN) return;
      pending_.pop_front();
    }
  }

  void Power() {
    if (options_.offAfter < 0) return;
    long elapsed = NowMs() - start_;
    long offAt = options_.offAfter * 1000;
    bool off =
        elapsed >= offAt && (options_.offFor < 0 || elapsed < offAt + options_.offFor * 1000);
    if (off == off_) return;
    off_ = off;
    pending_.clear();
    phone_.Reset();
    printf("POWER %s\n", off ? "off" : "on");
    fflush(stdout);
  }

  void Flood() {
    if (options_.flood <= 0 || NowMs() < nextFlood_) return;
    nextFlood_ += options_.flood;
    if (On()) Queue("\r\nRING\r\n");
  }

  void Deliver(const DeliveredSms& sms) {
    std::string line = "SMS ref=" + std::to_string(sms.reference) + " to=" + Escaped(sms.number) +
                       " text=" + Escaped(sms.text) + "\n";
    fputs(line.c_str(), stdout);
    fflush(stdout);
    if (options_.smsFile.empty()) return;
    FILE* file = fopen(options_.smsFile.c_str(), "a");
    if (file == nullptr) {
      fprintf(stderr, "kelvor-gsm-sim: cannot write %s: %s\n", options_.smsFile.c_str(),
              strerror(errno));
      return;
    }
    fputs(line.c_str(), file);
    fclose(file);
  }

  const Options& options_;
  int master_;
  GsmPhone phone_;
  long start_;
  long nextFlood_ = 0;
  bool off_ = false;
  std::deque<Piece> pending_;
};

}  // namespace
}  // namespace kelvor::sim

int main(int argc, char** argv) {
  using namespace kelvor::sim;
  Options options;
  if (!ReadOptions(argc, argv, &options)) return 2;
  int master = -1, slave = -1;
  std::string path;
  if (!OpenTerminal(&master, &slave, &path)) {
    fprintf(stderr, "kelvor-gsm-sim: no pseudo-terminal: %s\n", strerror(errno));
    return 1;
  }
  if (!options.link.empty()) {
    unlink(options.link.c_str());
    if (symlink(path.c_str(), options.link.c_str()) != 0) {
      fprintf(stderr, "kelvor-gsm-sim: cannot link %s: %s\n", options.link.c_str(),
              strerror(errno));
      return 1;
    }
  }
  struct sigaction action {};
  action.sa_handler = Stop;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  printf("%s\n", path.c_str());
  fflush(stdout);
  Simulator simulator(options, master);
  simulator.Run();

  if (!options.link.empty()) unlink(options.link.c_str());
  close(slave);
  close(master);
  return 0;
}
