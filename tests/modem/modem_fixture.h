// An SmsModem on a scripted port, run step by step in virtual time.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "log/console_log.h"
#include "support/fake_serial.h"
#include "support/fakes.h"
#include "support/modem_parts.h"
#include "support/scripted_phone.h"

namespace kelvor::test {

class ModemTest : public ::testing::Test {
 protected:
  void Make(const char* name = "COM5", const char* mode = "9600,N,8,1") {
    auto port = std::make_unique<FakeSerialPort>();
    port_ = port.get();
    phone_.Plug(*port_, &clock_);
    modem_ = std::make_unique<ModemParts>(name, mode, std::move(port), log_, clock_);
  }

  void Step(uint32_t milliseconds = 100) {
    clock_.Advance(milliseconds);
    modem_->dialogue.PollModem();
  }

  // Steps until the state is reached; false if it is not within `limit` steps.
  bool StepUntil(ModemState state, int limit = 30) {
    for (int i = 0; i < limit; ++i) {
      Step();
      if (modem_->dialogue.State() == state) return true;
    }
    return false;
  }

  void MakeReady() {
    Make();
    ASSERT_TRUE(StepUntil(Ready));
    port_->writes.clear();
    console_.Clear();
  }

  bool Logged(const std::string& line) const {
    std::vector<std::string> lines = console_.Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  int CountLogged(const std::string& line) const {
    std::vector<std::string> lines = console_.Lines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }

  int CountWrites(const std::string& command) const {
    return static_cast<int>(std::count(port_->writes.begin(), port_->writes.end(), command));
  }

  FakeConsole console_;
  ConsoleLog log_{console_, nullptr};
  VirtualClock clock_{1000};
  ScriptedPhone phone_;
  FakeSerialPort* port_ = nullptr;
  std::unique_ptr<ModemParts> modem_;
};

}  // namespace kelvor::test
