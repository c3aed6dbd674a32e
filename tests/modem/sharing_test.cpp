// Two phones sharing the SMS (SHARE=ON), in virtual time: what each phone is sent, and the
// lines said when one fails and comes back.
#include <map>

#include "modem_fixture.h"

namespace kelvor::test {
namespace {

class SharingTest : public ModemTest {
 protected:
  // Both phones ready and sharing; each takes `sendDelay` ms to confirm a text.
  void MakeSharing(uint32_t sendDelay = 3000) {
    MakeWithStandby();
    modem_->ShareLoad();
    port_->clock = standbyPort_->clock = &clock_;
    phone_.sendDelay = standbyPhone_.sendDelay = sendDelay;
  }

  // Every SMS taken by either phone, as "number text" with the tick it was taken at.
  std::vector<ScriptedPhone::Sms> AllTaken() const {
    std::vector<ScriptedPhone::Sms> all = phone_.received;
    all.insert(all.end(), standbyPhone_.received.begin(), standbyPhone_.received.end());
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.tick < b.tick; });
    return all;
  }

  void StepUntilEmpty(int limit = 2000) {
    for (int i = 0; i < limit && modem_->QueuedCount() > 0; ++i) Step();
  }
};

// Both phones send; an SMS is lent to one phone only; the SMS to one number go one at a time,
// in order, while the other numbers' SMS pass them on the other phone.
TEST_F(SharingTest, BothPhonesSendAndTheSmsToOneNumberKeepTheirOrder) {
  MakeSharing();
  EXPECT_EQ(modem_->SendingPhone(), std::string("both"));
  const char* const queued[][2] = {{"+111", "A1"}, {"+111", "A2"}, {"+222", "B1"},
                                   {"+111", "A3"}, {"+333", "C1"}, {"+222", "B2"}};
  for (const auto& sms : queued) modem_->QueueMessage(sms[1], sms[0]);
  StepUntilEmpty();
  ASSERT_EQ(modem_->QueuedCount(), 0);
  std::vector<ScriptedPhone::Sms> all = AllTaken();
  ASSERT_EQ(all.size(), 6u) << "each SMS sent once";
  EXPECT_GE(phone_.received.size(), 2u);
  EXPECT_GE(standbyPhone_.received.size(), 2u);
  std::map<std::string, std::string> order;
  std::map<std::string, uint32_t> lastTaken;
  for (const auto& sms : all) {
    order[sms.number] += sms.text + " ";
    if (lastTaken.count(sms.number)) {
      EXPECT_GE(sms.tick - lastTaken[sms.number], phone_.sendDelay)
          << sms.text << " went while the one before was on its way";
    }
    lastTaken[sms.number] = sms.tick;
  }
  EXPECT_EQ(order["+111"], "A1 A2 A3 ");
  EXPECT_EQ(order["+222"], "B1 B2 ");
  EXPECT_EQ(all[1].text, "B1") << "another number passes the SMS waiting for A1";
  EXPECT_EQ(modem_->SentBy(kMainPhone) + modem_->SentBy(kStandbyPhone), 6u);
  EXPECT_EQ(modem_->SentBy(kMainPhone), phone_.received.size());
}

// A phone that fails leaves all to the other, said as a takeover; the SMS it held goes by
// the other, once. Well again, it shares again, said, and sends again.
TEST_F(SharingTest, AFailedPhoneLeavesAllToTheOtherAndSharesAgainWhenWell) {
  const struct {
    bool mainFails;
    const char* reason;
    const char* said;
    const char* heard;
  } cases[] = {
      {true, "silent", "Standby phone COM6 takes over - main phone COM5 silent",
       "Main phone COM5 shares again - it answers and is registered"},
      {false, "silent", "Main phone COM5 takes over - standby phone COM6 silent",
       "Standby phone COM6 shares again - it answers and is registered"},
      {false, "off the network", "Main phone COM5 takes over - standby phone COM6 off the network",
       "Standby phone COM6 shares again - it answers and is registered"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    phone_ = ScriptedPhone();
    standbyPhone_ = ScriptedPhone();
    console_.Clear();
    MakeSharing(2000);
    ScriptedPhone& failing = c.mainFails ? phone_ : standbyPhone_;
    ScriptedPhone& other = c.mainFails ? standbyPhone_ : phone_;
    bool silent = std::string(c.reason) == "silent";
    (silent ? failing.silent : failing.offNetwork) = true;
    if (!silent) failing.registration = "\r\n+CREG: 0,2\r\n\r\nOK\r\n";
    for (int i = 0; i < 8; ++i)
      modem_->QueueMessage(("S" + std::to_string(i)).c_str(), ("+10" + std::to_string(i)).c_str());
    StepUntilEmpty(3000);
    EXPECT_EQ(modem_->QueuedCount(), 0);
    EXPECT_TRUE(Logged(c.said));
    EXPECT_EQ(modem_->SendingPhone(), std::string(c.mainFails ? "standby" : "main"));
    EXPECT_EQ(other.received.size() + failing.received.size(), 8u) << "each SMS once";
    EXPECT_TRUE(failing.received.empty());

    failing.silent = failing.offNetwork = false;
    failing.registration = "\r\n+CREG: 0,1\r\n\r\nOK\r\n";
    uint32_t back = clock_.TickCount();
    for (int i = 0; i < 900 && !Logged(c.heard); ++i) Step();
    EXPECT_TRUE(Logged(c.heard));
    EXPECT_LE(clock_.TickCount() - back, 60000u);
    EXPECT_EQ(modem_->SendingPhone(), std::string("both"));
    ModemEvents events;
    modem_->TakeEvents(&events);
    ASSERT_GT(events.Count(), 0);
    EXPECT_EQ(events.At(events.Count() - 1).kind, ModemEvent::kSwitched);
    EXPECT_TRUE(events.At(events.Count() - 1).change.shared);
    for (int i = 0; i < 4; ++i) modem_->QueueMessage("T", ("+20" + std::to_string(i)).c_str());
    StepUntilEmpty();
    EXPECT_FALSE(failing.received.empty()) << "it sends again";
  }
}

// Each phone rests after its own SMS: the other sends meanwhile.
TEST_F(SharingTest, EachPhoneRestsAfterItsOwnSms) {
  MakeSharing(500);
  modem_->SetPause(5000);
  for (int i = 0; i < 4; ++i) modem_->QueueMessage("P", ("+30" + std::to_string(i)).c_str());
  StepUntilEmpty();
  for (const ScriptedPhone* phone : {&phone_, &standbyPhone_}) {
    ASSERT_EQ(phone->received.size(), 2u);
    EXPECT_GE(phone->received[1].tick - phone->received[0].tick, 5500u);
  }
  std::vector<ScriptedPhone::Sms> all = AllTaken();
  EXPECT_LT(all[1].tick - all[0].tick, 1000u) << "the other phone does not wait for the pause";
}

// While both send, a wake-up call goes by one phone and the other goes on with the SMS.
TEST_F(SharingTest, OnePhoneCallsWhileTheOtherSends) {
  MakeSharing(1000);
  for (int i = 0; i < 3; ++i) modem_->QueueMessage("W", ("+40" + std::to_string(i)).c_str());
  EXPECT_TRUE(modem_->StartCall("+4479001"));
  EXPECT_TRUE(modem_->Calling());
  EXPECT_FALSE(modem_->StartCall("+4479002")) << "one call at a time";
  for (int i = 0; i < 100; ++i) Step();
  EXPECT_EQ(modem_->QueuedCount(), 0) << "the SMS did not wait for the call";
  bool mainCalled = std::count(port_->writes.begin(), port_->writes.end(), "ATD+4479001;\r") == 1;
  bool standbyCalled =
      std::count(standbyPort_->writes.begin(), standbyPort_->writes.end(), "ATD+4479001;\r") == 1;
  EXPECT_NE(mainCalled, standbyCalled) << "one phone calls";
  EXPECT_EQ((mainCalled ? standbyPhone_ : phone_).received.size(), 3u);
}

}  // namespace
}  // namespace kelvor::test
