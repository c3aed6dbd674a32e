// Status reports: the validity asked for, the report lines read, and each report matched to
// its SMS through a modem on a scripted phone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modem/status_report.h"
#include "modem_fixture.h"

namespace kelvor::test {
namespace {

using Writes = std::vector<std::string>;

TEST(StatusReport, TheValidityIsCodedAtLeastAsLongAsAsked) {
  const struct {
    uint32_t minutes;
    uint8_t code;
  } kCases[] = {{1, 0},     {5, 0},     {6, 1},     {60, 11},   {720, 143},
                {721, 144}, {750, 144}, {751, 145}, {1440, 167}};
  for (const auto& c : kCases) EXPECT_EQ(ValidityCode(c.minutes), c.code) << c.minutes;
  for (uint32_t minutes = 1; minutes <= kLongestDeliveryMinutes; ++minutes) {
    uint32_t coded = ValidityMinutes(ValidityCode(minutes));
    ASSERT_GE(coded, minutes);
    ASSERT_LT(coded, minutes + 30);
  }
}

TEST(StatusReport, ReportLinesAreReadWhateverTheirQuotesHold) {
  const struct {
    const char* fields;
    bool stored;
    bool read;
    int reference, status;
    const char* number;
  } kCases[] = {
      {" 6,255,\"+111\",145,\"26/12/08,21:00:00+04\",\"26/12/08,21:00:02+04\",0", false, true, 255,
       0, "+111"},
      {" \"REC UNREAD\",6,0,\"+222\",145,\"26/12/08,21:00:00+04\",\"x,y\",70", true, true, 0, 70,
       "+222"},
      {" 6,3,,129,\"a\",\"b\",32", false, true, 3, 32, ""},
      {" 6,256,\"+111\",145,\"a\",\"b\",0", false, false, 0, 0, ""},  // no such reference
      {" 6,7,\"+111\",145,\"a\",\"b\"", false, false, 0, 0, ""},      // no status
      {"", false, false, 0, 0, ""},
  };
  for (const auto& c : kCases) {
    StatusReport report;
    ASSERT_EQ(ReadStatusReport(c.fields, c.stored, &report), c.read) << c.fields;
    if (!c.read) continue;
    EXPECT_EQ(report.reference, c.reference);
    EXPECT_EQ(report.status, c.status);
    EXPECT_STREQ(report.number, c.number);
  }
  EXPECT_EQ(StoredReportIndex(" \"SR\",12"), 12);
  EXPECT_EQ(StoredReportIndex(" \"SM\",12"), -1);
  EXPECT_TRUE(SameRecipient("002B0031", "+1"));
  EXPECT_FALSE(SameRecipient("", ""));
}

class DeliveryTest : public ModemTest {
 protected:
  void MakeReporting() {
    Make();
    modem_->AskReports(60);
    ASSERT_TRUE(StepUntilReady());
    console_.Clear();
  }

  // Sends an SMS the phone confirms with `reference`; its id.
  uint32_t Send(const char* number, int reference) {
    phone_.sendResult = "\r\n+CMGS: " + std::to_string(reference) + "\r\n\r\nOK\r\n";
    uint32_t id = modem_->QueueMessage("Pump 3 failed", number);
    for (int i = 0; i < 40 && modem_->QueuedCount() > 0; ++i) Step();
    Step(1000);
    Take();
    return id;
  }

  void Report(int reference, const char* number, int status, uint32_t after = 1000) {
    port_->Arrive("\r\n+CDS: 6," + std::to_string(reference) + ",\"" + number +
                  "\",145,\"26/12/08,21:00:00+04\",\"26/12/08,21:00:09+04\"," +
                  std::to_string(status) + "\r\n");
    Step(after);
    Take();
  }

  void Take() {
    ModemEvents events;
    modem_->TakeEvents(&events);
    for (int i = 0; i < events.Count(); ++i) {
      if (events.At(i).kind == ModemEvent::kDelivery) outcomes_.push_back(events.At(i));
    }
  }

  std::vector<ModemEvent> outcomes_;
};

TEST_F(DeliveryTest, ThePhoneIsToldToGiveReportsAndEverySmsAsksForOne) {
  Make();
  modem_->AskReports(60);
  ASSERT_TRUE(StepUntilReady());
  Writes asked(port_->writes.begin() + 3, port_->writes.begin() + 7);
  EXPECT_EQ(asked,
            (Writes{"AT+CMGF=1\r", "AT+CNMI=2,0,0,1\r", "AT+CSMS?\r", "AT+CSMP=49,11,0,0\r"}));
}

// Two SMS to one number across the reference's wrap, their reports in the other order; a
// report of a reference never sent, a pending one, a failure.
TEST_F(DeliveryTest, EachReportFindsItsOwnSmsAcrossTheWrap) {
  MakeReporting();
  uint32_t before = Send("+111", 255);
  uint32_t after = Send("+111", 0);
  uint32_t failed = Send("+222", 1);
  Report(0, "+111", 0);
  Report(7, "+111", 0);
  Report(255, "+111", 32);  // the network still tries: nothing yet
  Report(255, "+111", 0);
  Report(1, "+222", 70);
  ASSERT_EQ(outcomes_.size(), 3u);
  EXPECT_EQ(outcomes_[0].sms.id, after);
  EXPECT_EQ(outcomes_[1].sms.id, before);
  EXPECT_EQ(outcomes_[2].sms.id, failed);
  EXPECT_EQ(outcomes_[2].delivery, Delivery::kUndelivered);
  EXPECT_TRUE(Logged("SMS to +111 delivered after 3 s"));
  EXPECT_TRUE(Logged("SMS to +111 delivered after 7 s"));
  EXPECT_TRUE(
      Logged("Status report for +111 (reference 7, status 0) matches no SMS sent - "
             "dropped"));
  EXPECT_TRUE(
      Logged("SMS to +222 not delivered - the validity period expired, the phone was "
             "off or unreachable"));
  DeliveryCounts counts = modem_->Deliveries().Counts();
  EXPECT_EQ(counts.delivered, 2u);
  EXPECT_EQ(counts.undelivered, 1u);
  EXPECT_EQ(counts.awaiting, 0);
}

// A phone that never routes a report: said once after half an hour, then each SMS ends
// without one after its validity and ten minutes.
TEST_F(DeliveryTest, APhoneThatGivesNoReportIsSaidOnceAndItsSmsEndWithout) {
  MakeReporting();
  Send("+111", 4);
  Send("+222", 5);
  for (int i = 0; i < 30; ++i) Step(kMinute);
  EXPECT_EQ(CountLogged("No status report from the phone on COM5 in 30 min - it may not route "
                        "them; its SMS end without one"),
            1);
  EXPECT_EQ(modem_->Deliveries().Counts().awaiting, 2);
  for (int i = 0; i < 45; ++i) Step(kMinute);
  Take();
  EXPECT_TRUE(Logged("SMS to +111 - no report in 70 min"));
  EXPECT_TRUE(Logged("SMS to +222 - no report in 70 min"));
  EXPECT_EQ(outcomes_.size(), 2u);
  EXPECT_EQ(modem_->Deliveries().Counts().noReport, 2u);
  EXPECT_EQ(CountLogged("No status report from the phone on COM5 in 30 min - it may not route "
                        "them; its SMS end without one"),
            1);
}

}  // namespace
}  // namespace kelvor::test
