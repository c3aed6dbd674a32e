// The node client against the node simulator running as a process: the link as the program
// uses it, with nodes that answer, never started, stop, restart and fall silent.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "scada/node_client.h"

extern char** environ;

namespace kelvor {
namespace {

// The simulator as a child process; its log is drained so it never blocks on a full pipe.
class SimProcess {
 public:
  ~SimProcess() { Stop(); }

  // Starts the simulator with `args`; its port, or 0 when it did not come up.
  uint16_t Start(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), KELVOR_SCADA_NODE_PROGRAM);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    int failed = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (failed) return close(out[0]), 0;
    std::string first = ReadFirstLine(out[0]);
    drain_ = std::thread([fd = out[0]] {
      char buffer[4096];
      while (read(fd, buffer, sizeof buffer) > 0) {
      }
      close(fd);
    });
    size_t colon = first.rfind(':');
    return colon == std::string::npos ? 0 : static_cast<uint16_t>(atoi(first.c_str() + colon + 1));
  }

  // Ends the simulator (SIGTERM) and returns its exit status.
  int Stop() {
    int status = -1;
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (drain_.joinable()) drain_.join();
    return status;
  }

 private:
  static std::string ReadFirstLine(int fd) {
    std::string line;
    char c;
    pollfd entry{fd, POLLIN, 0};
    while (poll(&entry, 1, 5000) > 0 && read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

  pid_t pid_ = -1;
  std::thread drain_;
};

std::string Address(uint16_t port) {
  return "127.0.0.1:" + std::to_string(port);
}

// A port that nothing listens on (it was free a moment ago).
uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

// The program's side (a NodeClient) and a control connection of a test to the same node.
struct Link {
  explicit Link(uint16_t port)
      : transport(NewSocketTransport(Address(port).c_str(), SystemClock())),
        client(*transport),
        control(NewSocketTransport(Address(port).c_str(), SystemClock())) {}

  std::string Control(const std::string& command) {
    std::string line = command + "\n";
    char answer[node::kMaxLine + 1];
    size_t length = 0;
    if (!control->Exchange(line.data(), line.size(), answer, sizeof answer, &length))
      return "<failed>";
    return std::string(answer, length);
  }

  std::unique_ptr<LineTransport> transport;
  NodeClient client;
  std::unique_ptr<LineTransport> control;
};

// Runs `read` and returns the milliseconds it took.
template <typename Read>
uint32_t Timed(Read read) {
  uint32_t start = SystemClock().TickCount();
  read();
  return SystemClock().TickCount() - start;
}

// Every operation gives its failure result, promptly when nothing is there to wait for.
void ExpectUnreachable(NodeClient& client, uint32_t withinMs) {
  AlarmRecord record{};
  record.bytes[0] = 0x55;
  char text[kTagTextSize] = "before";
  float value = 7;
  EXPECT_LT(Timed([&] { EXPECT_EQ(client.ScadaRunning(), 0); }), withinMs);
  EXPECT_LT(Timed([&] { EXPECT_EQ(client.ReadAlarmQueue(64, record), -1); }), withinMs);
  EXPECT_LT(Timed([&] { EXPECT_NE(client.ReadTagText("N", "T", "A_DESC", text), 0); }), withinMs);
  EXPECT_LT(Timed([&] { EXPECT_EQ(client.ReadTagNumber("N", "T", "F_CV", &value), -1); }),
            withinMs);
  EXPECT_EQ(record.bytes[0], 0x55);
  EXPECT_STREQ(text, "before");
  EXPECT_EQ(value, 7);
}

TEST(NodeLink, ServesTheFourOperations) {
  SimProcess sim;
  uint16_t port = sim.Start({"--port", "0"});
  ASSERT_NE(port, 0);
  Link link(port);
  EXPECT_EQ(link.Control("PUSH NODE1 FIC101 areas=B priority=1 status=HIHI time=09:05 "
                         "text=\"Feed flow high\""),
            "OK 1");
  EXPECT_EQ(link.Control("TAG NODE1 FIC101 A_DESC=\"" + std::string(50, 'd') + "\" F_CV=2.5"),
            "OK");
  EXPECT_EQ(link.client.ScadaRunning(), 1);
  AlarmRecord record{};
  ASSERT_EQ(link.client.ReadAlarmQueue(64, record), 0);
  EXPECT_STREQ(record.TagName().c_str(), "FIC101");
  EXPECT_STREQ(record.AlarmText().c_str(), "Feed flow high");
  EXPECT_EQ(link.client.ReadAlarmQueue(64, record), kQueueEmpty);
  char text[kTagTextSize] = "";
  EXPECT_EQ(link.client.ReadTagText("NODE1", "FIC101", "A_DESC", text), 0);
  EXPECT_EQ(std::string(text), std::string(47, 'd'));
  float value = 0;
  EXPECT_EQ(link.client.ReadTagNumber("NODE1", "FIC101", "F_CV", &value), 0);
  EXPECT_EQ(value, 2.5f);
  EXPECT_EQ(link.client.ReadTagNumber("NODE1", "NOSUCH", "F_CV", &value), 1);

  link.Control("SCADA DOWN");
  EXPECT_EQ(link.client.ScadaRunning(), 0);
  link.Control("SHUTDOWN");
  EXPECT_EQ(link.client.ReadAlarmQueue(64, record), kShutDown);
}

TEST(NodeLink, ANodeNeverStartedReadsAsNotRunning) {
  auto transport = NewSocketTransport(Address(FreePort()).c_str(), SystemClock());
  NodeClient client(*transport);
  ExpectUnreachable(client, 200);
  auto nowhere = NewSocketTransport("not an address", SystemClock());
  NodeClient lost(*nowhere);
  ExpectUnreachable(lost, 200);
}

TEST(NodeLink, ANodeThatStopsReadsAsNotRunning) {
  SimProcess sim;
  uint16_t port = sim.Start({"--port", "0", "--quiet"});
  ASSERT_NE(port, 0);
  Link link(port);
  EXPECT_EQ(link.client.ScadaRunning(), 1);
  EXPECT_EQ(link.Control("STOP"), "OK");
  EXPECT_EQ(sim.Stop(), 0);  // it had ended by itself with status 0
  ExpectUnreachable(link.client, 200);
}

// A restarted node is reached again: by the next request when the connection was seen to
// fail, and even by the first one when the old connection was merely idle.
TEST(NodeLink, ReconnectsAfterTheNodeRestarts) {
  SimProcess sim;
  uint16_t port = sim.Start({"--port", "0", "--quiet"});
  ASSERT_NE(port, 0);
  Link link(port);
  EXPECT_EQ(link.client.ScadaRunning(), 1);

  sim.Stop();
  ASSERT_EQ(sim.Start({"--port", std::to_string(port), "--quiet"}), port);
  EXPECT_EQ(link.client.ScadaRunning(), 1);

  sim.Stop();
  EXPECT_EQ(link.client.ScadaRunning(), 0);
  ASSERT_EQ(sim.Start({"--port", std::to_string(port), "--quiet"}), port);
  EXPECT_EQ(link.Control("SCADA 5"), "OK");
  EXPECT_EQ(link.client.ScadaRunning(), 5);
}

// A node that takes the request and never answers costs about one second per request, and
// its late answer does not get mistaken for the answer to a later request.
TEST(NodeLink, ASilentNodeCostsAboutOneSecondPerRequest) {
  SimProcess sim;
  uint16_t port = sim.Start({"--port", "0", "--quiet"});
  ASSERT_NE(port, 0);
  Link link(port);
  link.Control("PUSH N T");
  link.Control("MUTE");
  AlarmRecord record{};
  uint32_t took = Timed([&] { EXPECT_EQ(link.client.ReadAlarmQueue(64, record), -1); });
  EXPECT_GE(took, 900u);
  EXPECT_LT(took, 1500u);
  link.Control("UNMUTE");
  EXPECT_EQ(link.client.ScadaRunning(), 1);
  EXPECT_EQ(link.client.ReadAlarmQueue(64, record), 0);
}

TEST(NodeLink, PlaysAScenario) {
  char path[] = "/tmp/kelvor-scenario-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const char scenario[] =
      "0 TAG NODE1 SMSON F_CV=1\n"
      "0 PUSH NODE1 FIC101 text=\"first\"\n"
      "+0.2 SCADA DOWN\n";
  ASSERT_EQ(write(fd, scenario, sizeof scenario - 1), static_cast<ssize_t>(sizeof scenario - 1));
  close(fd);
  SimProcess sim;
  uint16_t port = sim.Start({"--port", "0", "--scenario", path, "--wait"});
  ASSERT_NE(port, 0);
  Link link(port);
  AlarmRecord record{};
  EXPECT_EQ(link.client.ScadaRunning(), 1);
  ASSERT_EQ(link.client.ReadAlarmQueue(64, record), 0);
  EXPECT_STREQ(record.AlarmText().c_str(), "first");
  float value = 0;
  EXPECT_EQ(link.client.ReadTagNumber("NODE1", "SMSON", "F_CV", &value), 0);
  EXPECT_EQ(value, 1.0f);
  usleep(300 * 1000);
  EXPECT_EQ(link.client.ScadaRunning(), 0);
  unlink(path);
}

}  // namespace
}  // namespace kelvor
