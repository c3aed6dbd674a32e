// The COM argument and what the serial link does with it.
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

TEST(SplitComArgument, UpperCasesAndSplitsAtTheFirstEquals) {
  struct Case {
    const char* argument;
    const char* port;
    const char* mode;  // nullptr: no "="
  } cases[] = {
      {"COM5=9600,n,8,1", "COM5", "9600,N,8,1"},
      {"COM3", "COM3", nullptr},
      {"COM1=", "COM1", ""},
      {"COM1=9600,n,8,1=x", "COM1", "9600,N,8,1=X"},
      {"COM12=baud=96 parity=n", "COM12", "BAUD=96 PARITY=N"},
      {"COM:/dev/ttyUSB0=115200,n,8,1", "COM:/dev/ttyUSB0", "115200,N,8,1"},
      {"COM:/dev/serial/by-id/Phone-X=9600", "COM:/dev/serial/by-id/Phone-X", "9600"},
      {"xCOM:/dev/a", "XCOM:/DEV/A", nullptr},  // only a leading COM: keeps a path's case
  };
  for (const Case& c : cases) {
    ComArgument split;
    ASSERT_TRUE(SplitComArgument(c.argument, &split)) << c.argument;
    EXPECT_STREQ(split.copy, c.port) << c.argument;
    if (c.mode == nullptr) {
      EXPECT_EQ(split.mode, nullptr) << c.argument;
    } else {
      ASSERT_NE(split.mode, nullptr) << c.argument;
      EXPECT_STREQ(split.mode, c.mode) << c.argument;
    }
  }
}

TEST(SplitComArgument, HoldsLongArgumentsAndRefusesWhatDoesNotFit) {
  std::string path = "COM:/dev/serial/by-path/pci-0000:00:14.0-usb-0:2.4:1.0-port0";
  ComArgument split;
  ASSERT_TRUE(SplitComArgument((path + "=BAUD=9600 PARITY=N DATA=8 STOP=1").c_str(), &split));
  EXPECT_EQ(split.copy, path);
  EXPECT_STREQ(split.mode, "BAUD=9600 PARITY=N DATA=8 STOP=1");
  EXPECT_TRUE(SplitComArgument(std::string(255, 'C').c_str(), &split));
  EXPECT_FALSE(SplitComArgument(std::string(256, 'C').c_str(), &split));
}

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
  link_->Create("COM5=9600,n,8,1");
  EXPECT_EQ(port_->calls,
            (std::vector<std::string>{"Open COM5", "BuildMode 9600,N,8,1", "ApplyMode"}));
  EXPECT_EQ(console_.Lines(), (std::vector<std::string>{"Retrieved valid handle for COM5 driver",
                                                        "now getting the mode=9600,N,8,1",
                                                        "now setting the mode - 9600,N,8,1"}));
}

TEST_F(LinkTest, WithoutAModeOnlyTheHandleIsLogged) {
  link_->Create("COM3");
  EXPECT_EQ(port_->calls, std::vector<std::string>{"Open COM3"});
  EXPECT_EQ(console_.Lines(), std::vector<std::string>{"Retrieved valid handle for COM3 driver"});
}

TEST_F(LinkTest, ABadModeIsReportedAndTheSettingsAreAppliedAllTheSame) {
  port_->buildResult = false;
  link_->Create("COM1=");
  EXPECT_EQ(port_->calls, (std::vector<std::string>{"Open COM1", "BuildMode ", "ApplyMode"}));
  EXPECT_EQ(console_.Lines(),
            (std::vector<std::string>{
                "Retrieved valid handle for COM1 driver", "now getting the mode=",
                "Bad mode parameters - The parameter is incorrect.", "now setting the mode - "}));
}

TEST_F(LinkTest, AnArgumentTooLongForTheWorkingCopyOpensNothing) {
  link_->Create(("COM1=" + std::string(300, '9')).c_str());
  EXPECT_TRUE(port_->calls.empty());
  EXPECT_FALSE(link_->IsOpen());
  ASSERT_EQ(console_.Lines().size(), 1u);
  EXPECT_EQ(console_.Lines()[0].rfind("COM argument too long", 0), 0u);
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
    link.Create("COM5=9600,n,8,1");
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
  link_->Create("COM5");
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
