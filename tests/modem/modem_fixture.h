// An SmsModem on a scripted port, run step by step in virtual time.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "log/console_log.h"
#include "modem/sms_modem.h"
#include "support/fake_serial.h"
#include "support/fakes.h"
#include "support/scripted_phone.h"

namespace kelvor::test {

class ModemTest : public ::testing::Test {
 protected:
  void Make(const char* name = "COM5", const char* mode = "9600,N,8,1") {
    auto port = std::make_unique<FakeSerialPort>();
    port_ = port.get();
    phone_.Plug(*port_, &clock_);
    modem_ = std::make_unique<SmsModem>(name, mode, std::move(port), log_, clock_);
  }

  void Step(uint32_t milliseconds = 100) {
    clock_.Advance(milliseconds);
    modem_->PollModem();
  }

  // Steps until the start-up has ended once more ("Going to ready", or "Going to Ready"
  // after the service centre was set); false if it has not within `limit` steps.
  bool StepUntilReady(int limit = 30) {
    auto readies = [this] { return CountLogged("Going to ready") + CountLogged("Going to Ready"); };
    int before = readies();
    for (int i = 0; i < limit && readies() == before; ++i) Step();
    return readies() > before;
  }

  // Steps until `command` goes out once more; false if it has not within `limit` steps.
  bool StepUntilWritten(const std::string& command, int limit = 30) {
    int before = CountWrites(command);
    for (int i = 0; i < limit && CountWrites(command) == before; ++i) Step();
    return CountWrites(command) > before;
  }

  void MakeReady() {
    Make();
    ASSERT_TRUE(StepUntilReady());
    port_->writes.clear();
    console_.Clear();
  }

  // The main phone on COM5 and a standby on COM6 with the PIN `standbyPin`, both ready;
  // with `table`, texts in its code page go as CHARSET=AUTO sends them.
  void MakeWithStandby(const char* standbyPin = nullptr, const CodePageTable* table = nullptr) {
    Make();
    if (table != nullptr) modem_->SetCoding(Charset::kAuto, *table);
    auto port = std::make_unique<FakeSerialPort>();
    standbyPort_ = port.get();
    standbyPhone_.Plug(*standbyPort_, &clock_);
    modem_->AddStandby("COM6", "9600,N,8,1", std::move(port), standbyPin);
    for (int i = 0; i < 60 && !(CountLogged("Going to ready") && CountLogged("Standby Going to "
                                                                             "ready"));
         ++i) {
      Step();
    }
    ASSERT_EQ(CountLogged("Standby Going to ready"), 1);
    port_->writes.clear();
    standbyPort_->writes.clear();
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
  ScriptedPhone standbyPhone_;
  FakeSerialPort* standbyPort_ = nullptr;
  std::unique_ptr<SmsModem> modem_;
};

}  // namespace kelvor::test
