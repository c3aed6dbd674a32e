// What the serial link does with its port.
#include "modem/serial_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "log/console_log.h"
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

}  // namespace
}  // namespace kelvor::test
