// kelvor-scada-node: a simulated SCADA node serving the node protocol on TCP.
//
//   kelvor-scada-node [--port N] [--scenario FILE] [--wait] [--verbose | --quiet]
//
// Its first line on standard output is "listening on 127.0.0.1:<port>"; then it logs what it
// serves. See README.md for the control commands and the scenario format.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "node_sim.h"
#include "platform/clock.h"
#include "scada/node_protocol.h"

namespace kelvor::sim {
namespace {

volatile sig_atomic_t gStop = 0;

void OnSignal(int) {
  gStop = 1;
}

struct Options {
  int port = 7431;
  std::string scenario;
  bool waitForClient = false;
  int verbosity = 1;  // 0 quiet, 1 all but routine polls, 2 everything
};

struct Connection {
  int fd;
  int id;
  std::string pending;
};

class Server {
 public:
  Server(const Options& options, std::vector<ScenarioEvent> events)
      : options_(options), events_(std::move(events)), clock_(SystemClock()) {}

  bool Listen() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(options_.port));
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0) {
      fprintf(stderr, "kelvor-scada-node: cannot listen on port %d: %s\n", options_.port,
              strerror(errno));
      return false;
    }
    socklen_t size = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    printf("listening on 127.0.0.1:%u\n", ntohs(address.sin_port));
    fflush(stdout);
    start_ = clock_.TickCount();
    started_ = !options_.waitForClient;
    return true;
  }

  void Run() {
    while (!gStop && !state_.stopRequested) {
      RunDueEvents();
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (const Connection& c : connections_) fds.push_back({c.fd, POLLIN, 0});
      int ready = poll(fds.data(), fds.size(), NextWait());
      if (ready <= 0) continue;
      if (fds[0].revents) Accept();
      for (size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents) Read(fds[i].fd);
      }
      Prune();
    }
    for (const Connection& c : connections_) close(c.fd);
    close(listener_);
    Log(0, "node stopped");
  }

 private:
  uint32_t Elapsed() const { return clock_.TickCount() - start_; }

  void Log(int level, const char* format, const std::string& a = "", const std::string& b = "") {
    if (level > options_.verbosity) return;
    printf("[%8.3f] ", started_ ? Elapsed() / 1000.0 : 0.0);
    printf(format, a.c_str(), b.c_str());
    printf("\n");
    fflush(stdout);
  }

  void RunDueEvents() {
    while (started_ && next_ < events_.size() && events_[next_].atMs <= Elapsed()) {
      ScenarioEvent& event = events_[next_++];
      std::string answer = event.command(state_);
      Log(1, "scenario: %s -> %s", event.text, answer);
    }
  }

  int NextWait() const {
    if (!started_ || next_ >= events_.size()) return 1000;
    uint32_t now = Elapsed();
    uint32_t due = events_[next_].atMs;
    return due <= now ? 0 : static_cast<int>(due - now < 1000 ? due - now : 1000);
  }

  void Accept() {
    int fd = accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (!started_) {
      started_ = true;
      start_ = clock_.TickCount();
    }
    connections_.push_back({fd, ++lastId_, ""});
    Log(1, "#%s connected", std::to_string(lastId_));
  }

  Connection* Find(int fd) {
    for (Connection& c : connections_) {
      if (c.fd == fd) return &c;
    }
    return nullptr;
  }

  void Read(int fd) {
    Connection* c = Find(fd);
    if (!c) return;
    char buffer[4096];
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
      Log(1, "#%s closed", std::to_string(c->id));
      Drop(*c);
      return;
    }
    c->pending.append(buffer, static_cast<size_t>(got));
    size_t end;
    while (c->fd >= 0 && (end = c->pending.find('\n')) != std::string::npos) {
      std::string line = c->pending.substr(0, end);
      c->pending.erase(0, end + 1);
      Serve(*c, line);
    }
    if (c->fd >= 0 && c->pending.size() > node::kMaxLine) {
      Send(*c, "ERROR line%20too%20long");
      Log(1, "#%s sent a line too long: closed", std::to_string(c->id));
      Drop(*c);
    }
  }

  void Serve(Connection& c, const std::string& line) {
    std::string answer;
    bool isRequest = false;
    std::string id = "#" + std::to_string(c.id);
    Reply reply = HandleLine(state_, line.data(), line.size(), &answer, &isRequest);
    if (reply == Reply::kSilent) {
      Log(1, "%s > %s (muted: no answer)", id, line);
      return;
    }
    bool routine = isRequest && (answer == "ALARM 6510" || answer == lastRunning_);
    if (answer.compare(0, 8, "RUNNING ") == 0) lastRunning_ = answer;
    Log(routine ? 2 : 1, "%s > %s", id, line);
    Log(routine ? 2 : 1, "%s < %s", id, DescribeAnswer(answer));
    Send(c, answer);
  }

  // Answers are short; a peer that does not take them at once is not reading and is dropped.
  void Send(Connection& c, std::string answer) {
    answer += '\n';
    if (send(c.fd, answer.data(), answer.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(answer.size())) {
      Log(1, "#%s does not take its answers: closed", std::to_string(c.id));
      Drop(c);
    }
  }

  void Drop(Connection& c) {
    close(c.fd);
    c.fd = -1;
  }

  void Prune() {
    std::vector<Connection> open;
    for (Connection& c : connections_) {
      if (c.fd >= 0) open.push_back(std::move(c));
    }
    connections_.swap(open);
  }

  Options options_;
  std::vector<ScenarioEvent> events_;
  size_t next_ = 0;
  Clock& clock_;
  NodeState state_;
  int listener_ = -1;
  uint32_t start_ = 0;
  bool started_ = false;
  int lastId_ = 0;
  std::string lastRunning_;
  std::vector<Connection> connections_;
};

int Usage() {
  fprintf(stderr,
          "usage: kelvor-scada-node [--port N] [--scenario FILE] [--wait] [--verbose|--quiet]\n"
          "  --port N         TCP port on 127.0.0.1 (default 7431, 0 for any free port)\n"
          "  --scenario FILE  timed commands to run (see README.md)\n"
          "  --wait           start the scenario clock at the first connection\n"
          "  --verbose        also log the routine polls (RUNNING, empty queue)\n"
          "  --quiet          log nothing after the first line\n");
  return 2;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--port" && hasValue) {
      char* end = nullptr;
      long port = strtol(argv[++i], &end, 10);
      if (*end != '\0' || port < 0 || port > 65535) return false;
      options->port = static_cast<int>(port);
    } else if (arg == "--scenario" && hasValue) {
      options->scenario = argv[++i];
    } else if (arg == "--wait") {
      options->waitForClient = true;
    } else if (arg == "--verbose") {
      options->verbosity = 2;
    } else if (arg == "--quiet") {
      options->verbosity = 0;
    } else {
      return false;
    }
  }
  return true;
}

int Main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return Usage();
  std::vector<ScenarioEvent> events;
  if (!options.scenario.empty()) {
    std::ifstream file(options.scenario, std::ios::binary);
    if (!file) {
      fprintf(stderr, "kelvor-scada-node: cannot read %s\n", options.scenario.c_str());
      return 2;
    }
    std::stringstream text;
    text << file.rdbuf();
    std::string error;
    if (!ParseScenario(text.str(), &events, &error)) {
      fprintf(stderr, "kelvor-scada-node: %s: %s\n", options.scenario.c_str(), error.c_str());
      return 2;
    }
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;  // no SA_RESTART: poll() returns on a signal
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  Server server(options, std::move(events));
  if (!server.Listen()) return 1;
  server.Run();
  return 0;
}

}  // namespace
}  // namespace kelvor::sim

int main(int argc, char** argv) {
  return kelvor::sim::Main(argc, argv);
}
