// What the serial link does with its port.
#include "modem/serial_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "log/console_log.h"
#include "platform/output_drain.h"
#include "support/fake_serial.h"
#include "support/fakes.h"

namespace kelvor::test {
namespace {

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() {
    auto port = std::make_unique<FakeSerialPort>();
    port_ = port.get();
    link_ = std::make_unique<SerialLink>(std::move(port), log_);
  }
  FakeConsole console_;
  ConsoleLog log_{console_, nullptr};
  FakeSerialPort* port_;
  std::unique_ptr<SerialLink> link_;
};

TEST_F(LinkTest, AModeIsReadThenAppliedWithItsLogLines) {
  link_->OpenPort("COM5", "9600,N,8,1");
  EXPECT_EQ(port_->calls,
            (std::vector<std::string>{"Open COM5", "BuildMode 9600,N,8,1", "ApplyMode"}));
  EXPECT_EQ(console_.Lines(), (std::vector<std::string>{"Retrieved valid handle for COM5 driver",
                                                        "now getting the mode=9600,N,8,1",
                                                        "now setting the mode - 9600,N,8,1"}));
}

TEST_F(LinkTest, WithoutAModeOnlyTheHandleIsLogged) {
  link_->OpenPort("COM3", nullptr);
  EXPECT_EQ(port_->calls, std::vector<std::string>{"Open COM3"});
  EXPECT_EQ(console_.Lines(), std::vector<std::string>{"Retrieved valid handle for COM3 driver"});
}

TEST_F(LinkTest, ABadModeIsReportedAndTheSettingsAreAppliedAllTheSame) {
  port_->buildResult = false;
  link_->OpenPort("COM1", "");
  EXPECT_EQ(port_->calls, (std::vector<std::string>{"Open COM1", "BuildMode ", "ApplyMode"}));
  EXPECT_EQ(console_.Lines(),
            (std::vector<std::string>{
                "Retrieved valid handle for COM1 driver", "now getting the mode=",
                "Bad mode parameters - The parameter is incorrect.", "now setting the mode - "}));
}

// Each way a port shows that it failed makes the next ReopenIfFailed close it and open it
// again with its mode, with a line for the failure and one for the reopen; once, until it
// fails again. A port that only worked is left alone.
TEST_F(LinkTest, AFailedPortIsReopenedOnceWithItsModeAndAWorkingOneNever) {
  for (std::string failing : {"", "read", "write", "purge"}) {
    SCOPED_TRACE(failing);
    auto owned = std::make_unique<FakeSerialPort>();
    FakeSerialPort& port = *owned;
    SerialLink link(std::move(owned), log_);
    link.OpenPort("COM5", "9600,N,8,1");
    port.readResult = failing != "read";
    port.writeResult = failing != "write";
    port.purgeResult = failing != "purge";
    link.ReadAvailable();
    link.WriteBytes("AT\r", 3);
    link.PurgePort();
    port.calls.clear();
    console_.Clear();
    link.ReopenIfFailed();
    link.ReopenIfFailed();
    std::vector<std::string> reopen = {"Close", "Open COM5", "BuildMode 9600,N,8,1", "ApplyMode"};
    bool failed = !failing.empty();
    EXPECT_EQ(port.calls, failed ? reopen : std::vector<std::string>{});
    EXPECT_EQ(console_.coloured(),
              failed ? "<71|Port COM5 failed - reopening|>\r\nPort COM5 reopened\r\n" : "");
  }
}

TEST_F(LinkTest, AFullReadIsStillFollowedByAZeroByte) {
  link_->OpenPort("COM5", nullptr);
  port_->Arrive(std::string(600, 'x'));
  EXPECT_EQ(link_->ReadAvailable(), 512u);
  EXPECT_EQ(strlen(link_->ReceiveBuffer()), 512u);
  EXPECT_EQ(link_->ReadAvailable(), 88u);
  EXPECT_EQ(strlen(link_->ReceiveBuffer()), 88u);
  EXPECT_EQ(link_->ReadAvailable(), 0u);
  EXPECT_STREQ(link_->ReceiveBuffer(), "");
}

// The stall rule both serial ports write by, in virtual time: the output must keep
// shrinking, however long it takes in all; once it has not for 5 s the write fails.
TEST(DrainOutput, WaitsWhileTheOutputShrinksAndFailsFiveSecondsAfterItStops) {
  // The bytes the line holds from each moment (ms) on; an empty list: it cannot be asked.
  using Steps = std::vector<std::pair<uint32_t, uint32_t>>;
  const struct {
    const char* name;
    Steps steps;
    bool drained;
    uint32_t endsAt;  // ms
  } cases[] = {
      {"nothing held", {{0, 0}}, true, 0},
      {"a slow line, a byte every 4.9 s", {{0, 3}, {4900, 2}, {9800, 1}, {14700, 0}}, true, 14700},
      {"held from the start", {{0, 5}}, false, 5001},
      {"moving, then held", {{0, 5}, {1000, 4}}, false, 6001},
      {"the line hung up", {}, false, 0},
  };
  class ScriptedOutput : public OutputQueue {
   public:
    ScriptedOutput(const Steps& steps, VirtualClock& clock) : steps_(steps), clock_(clock) {}
    bool Held(uint32_t* bytes) override {
      if (steps_.empty() || clock_.TickCount() > 60000) return false;  // 60 s: ran away
      for (const auto& step : steps_)
        if (step.first <= clock_.TickCount()) *bytes = step.second;
      return true;
    }

   private:
    const Steps& steps_;
    VirtualClock& clock_;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualClock clock(0);
    ScriptedOutput output(c.steps, clock);
    EXPECT_EQ(DrainOutput(output, clock, kWriteStallMs), c.drained);
    EXPECT_EQ(clock.TickCount(), c.endsAt);
  }
}

}  // namespace
}  // namespace kelvor::test
