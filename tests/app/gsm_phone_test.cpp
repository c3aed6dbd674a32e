// The simulated phone's voice calls, its status reports, and the faults the tests of sending
// ask of it, as Kelvor meets them on the line: what each command and each happening outside
// sends back, and the event lines each gives, step by step.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "gsm_phone.h"

namespace kelvor::sim {
namespace {

// One step a line: "<input> -> <answer>", both escaped as the event lines are (nothing after
// the arrow: nothing sent; "[<n> ms]" before a part of it: that part goes out after n ms, not
// after the program's usual delay), then " | <event>" for each event line it gives. An input
// is a command (AT..., sent with its CR), bytes typed after "> ", or a happening outside:
// !busy, !no-answer, !answer, !other-side, !network <stat>, !power-off, !ring <caller>,
// !stop-ringing, !report <number> <mr> <status> (sent at kSent, its status at kDone), and
// !ack-missed <n> (the network's wait for the n-th +CDS's AT+CNMA runs out). Each SMS that
// asks for a status report adds the event "report wanted mr=<n>".
struct Script {
  const char* name;
  bool noVoice;
  bool refusesAth;
  const char* steps;
  void (*configure)(PhoneOptions*) = nullptr;  // the phone's other options
};

constexpr char kSent[] = "26/12/08,21:00:00+04";
constexpr char kDone[] = "26/12/08,21:00:05+04";

const Script kScripts[] = {
    {"Kelvor hangs up, or the line is busy", false, false, R"(
AT+CLCC -> \r\nOK\r\n
ATD+4917012345; -> \r\nOK\r\n | CALL dialled to=+4917012345
AT+CLCC -> \r\n+CLCC: 1,0,3,0,0,"+4917012345",145\r\n\r\nOK\r\n
ATD+4917012345; -> \r\nERROR\r\n
ATH -> \r\nOK\r\n | CALL ended to=+4917012345 by=kelvor-ath
ATH -> \r\nOK\r\n
!busy ->
ATD0301234; -> \r\nOK\r\n | CALL dialled to=0301234
AT+CLCC -> \r\n+CLCC: 1,0,3,0,0,"0301234",129\r\n\r\nOK\r\n
!busy -> \r\nBUSY\r\n | CALL ended to=0301234 by=busy
AT+CLCC -> \r\nOK\r\n
)"},
    {"ATH refused, AT+CHUP ends the call", false, true, R"(
ATD+4917012345; -> \r\nOK\r\n | CALL dialled to=+4917012345
ATH -> \r\nERROR\r\n
AT+CHUP -> \r\nOK\r\n | CALL ended to=+4917012345 by=kelvor-chup
)"},
    {"no answer and a ring, held back while a text is typed", false, false, R"(
AT+CMGF=1 -> \r\nOK\r\n
ATD+4917012345; -> \r\nOK\r\n | CALL dialled to=+4917012345
AT+CMGS="+4917012345" -> \r\n>\x20
!no-answer -> | CALL ended to=+4917012345 by=no-answer
!ring +4930111 -> | CALL in from=+4930111
hi\x1A -> \r\n+CMGS: 1\r\n\r\nOK\r\n\r\nNO ANSWER\r\n\r\nRING\r\n\r\n+CLIP: "+4930111",145,"",,"",0\r\n
)"},
    {"answered, then the other side or switching off ends it", false, false, R"(
ATD+49 170; -> \r\nOK\r\n | CALL dialled to=+49\x20170
!answer -> | CALL answered to=+49\x20170
AT+CLCC -> \r\n+CLCC: 1,0,0,0,0,"+49 170",145\r\n\r\nOK\r\n
!other-side -> \r\nNO CARRIER\r\n | CALL ended to=+49\x20170 by=other-side
ATD+4917012345; -> \r\nOK\r\n | CALL dialled to=+4917012345
!power-off -> | CALL ended to=+4917012345 by=power-off
)"},
    {"the network lost: no call, no ring", false, false, R"(
ATD+4917012345; -> \r\nOK\r\n | CALL dialled to=+4917012345
!network 2 -> \r\nNO CARRIER\r\n | NETWORK 2 | CALL ended to=+4917012345 by=network
ATD+4917012345; -> \r\nOK\r\n\r\nNO CARRIER\r\n | CALL refused to=+4917012345, off the network
!ring +4930111 ->
)"},
    {"no voice service; a data call", true, false, R"(
AT+CMEE=1 -> \r\nOK\r\n
ATD+4917012345; -> \r\n+CME ERROR: 4\r\n | CALL refused to=+4917012345
ATD+4917012345 -> \r\nNO CARRIER\r\n
)"},
    {"an incoming call beside Kelvor's: answered, or given up", false, false, R"(
ATA -> \r\nNO CARRIER\r\n
ATD+4917012345; -> \r\nOK\r\n | CALL dialled to=+4917012345
!ring +4930111 -> \r\nRING\r\n\r\n+CLIP: "+4930111",145,"",,"",0\r\n | CALL in from=+4930111
AT+CLCC -> \r\n+CLCC: 1,0,3,0,0,"+4917012345",145\r\n+CLCC: 2,1,4,0,0,"+4930111",145\r\n\r\nOK\r\n
ATA -> \r\nOK\r\n | CALL in answered
AT+CLCC -> \r\n+CLCC: 1,0,3,0,0,"+4917012345",145\r\n\r\nOK\r\n
!ring 030 -> \r\nRING\r\n\r\n+CLIP: "030",129,"",,"",0\r\n | CALL in from=030
!stop-ringing ->
AT+CLCC -> \r\n+CLCC: 1,0,3,0,0,"+4917012345",145\r\n\r\nOK\r\n
)"},
    {"ATD answered only on connect, or ended otherwise", false, false, R"(
ATD+4917012345; -> | CALL dialled to=+4917012345
AT+CLCC -> \r\n+CLCC: 1,0,3,0,0,"+4917012345",145\r\n\r\nOK\r\n
!answer -> \r\nOK\r\n | CALL answered to=+4917012345
ATH -> \r\nOK\r\n | CALL ended to=+4917012345 by=kelvor-ath
ATD+4917012345; -> | CALL dialled to=+4917012345
!no-answer -> \r\nNO ANSWER\r\n | CALL ended to=+4917012345 by=no-answer
ATD+4917012345; -> | CALL dialled to=+4917012345
ATH -> \r\nNO CARRIER\r\n\r\nOK\r\n | CALL ended to=+4917012345 by=kelvor-ath
ATD+4917012345; -> | CALL dialled to=+4917012345
!network 2 -> \r\nNO CARRIER\r\n | NETWORK 2 | CALL ended to=+4917012345 by=network
)",
     [](PhoneOptions* options) { options->atdOnConnect = true; }},
    {"a network cause for one number, a slow AT+CSCS", false, false, R"(
AT+CMGF=1 -> \r\nOK\r\n
AT+CMEE=1 -> \r\nOK\r\n
AT+CMGS="+4917099999" -> \r\n>\x20
hi\x1A -> \r\n+CMS ERROR: 28\r\n | SMS refused to=+4917099999 code=28
AT+CMGS="+4917012345" -> \r\n>\x20
hi\x1A -> \r\n+CMGS: 1\r\n\r\nOK\r\n
AT+CSCS=? -> \r\n+CSCS: ("GSM","IRA","8859-1","UCS2")\r\n\r\nOK\r\n
AT+CSCS="UCS2" -> [9000 ms]\r\nOK\r\n
AT+CSCS="KOI8-R" -> [9000 ms]\r\n+CME ERROR: 4\r\n
AT+CSCS? -> \r\n+CSCS: "UCS2"\r\n\r\nOK\r\n
)",
     [](PhoneOptions* options) {
       options->failFor["+4917099999"] = 28;
       options->cscsDelay = 9000;
     }},
    {"message references count up from the first, past a refusal, and wrap after 255", false, false,
     R"(
AT+CMGF=1 -> \r\nOK\r\n
AT+CMGS="+4917012345" -> \r\n>\x20
hi\x1A -> \r\n+CMGS: 254\r\n\r\nOK\r\n
AT+CMGS="+4917099999" -> \r\n>\x20
hi\x1A -> \r\nERROR\r\n | SMS refused to=+4917099999 code=28
AT+CMGS="+4917012345" -> \r\n>\x20
hi\x1A -> \r\n+CMGS: 255\r\n\r\nOK\r\n
AT+CMGS="+4917012345" -> \r\n>\x20
hi\x1A -> \r\n+CMGS: 0\r\n\r\nOK\r\n
)",
     [](PhoneOptions* options) {
       options->failFor["+4917099999"] = 28;
       options->firstReference = 254;
     }},
    {"reports pushed for the texts that ask, held while a text is typed or the phone is away",
     false, false, R"(
AT+CMGF=1 -> \r\nOK\r\n
AT+CMEE=1 -> \r\nOK\r\n
!report +4917012345 9 0 -> | REPORT lost, not routed to=+4917012345 mr=9 status=0
AT+CNMI=2,1,0,1,0 -> \r\nOK\r\n
AT+CNMI? -> \r\n+CNMI: 2,1,0,1,0\r\n\r\nOK\r\n
AT+CSMP=49,11,0,0 -> \r\nOK\r\n
AT+CSMP? -> \r\n+CSMP: 49,11,0,0\r\n\r\nOK\r\n
AT+CMGS="+4917012345" -> \r\n>\x20
hi\x1A -> \r\n+CMGS: 1\r\n\r\nOK\r\n | report wanted mr=1
AT+CMGS="0301234" -> \r\n>\x20
!report +4917012345 1 0 -> | REPORT sent to=+4917012345 mr=1 status=0
hi\x1A -> \r\n+CMGS: 2\r\n\r\nOK\r\n\r\n+CDS: 6,1,"+4917012345",145,"26/12/08,21:00:00+04","26/12/08,21:00:05+04",0\r\n | report wanted mr=2
!network 2 -> | NETWORK 2
!report 0301234 2 70 -> | REPORT waiting for the phone to=0301234 mr=2 status=70
!network 1 -> \r\n+CDS: 6,2,"0301234",129,"26/12/08,21:00:00+04","26/12/08,21:00:05+04",70\r\n | NETWORK 1 | REPORT sent to=0301234 mr=2 status=70
AT+CNMA -> \r\n+CMS ERROR: 340\r\n
AT+CSMP=17,167,0,0 -> \r\nOK\r\n
AT+CMGS="+4917012345" -> \r\n>\x20
hi\x1A -> \r\n+CMGS: 3\r\n\r\nOK\r\n
AT+CNMI=2,1 -> \r\nOK\r\n
AT+CNMI? -> \r\n+CNMI: 2,1,0,0,0\r\n\r\nOK\r\n
AT+CSMP=49,167,0,0 -> \r\nOK\r\n
ATZ -> \r\nOK\r\n
AT+CSMP? -> AT+CSMP?\r\r\n+CSMP: 17,167,0,0\r\n\r\nOK\r\n
)"},
    {"reports stored in SR and read, listed and deleted there; one more is lost", false, false, R"(
AT+CMGF=1 -> \r\nOK\r\n
AT+CMEE=1 -> \r\nOK\r\n
AT+CNMI=2,1,0,2,0 -> \r\nOK\r\n
!report 0301234 7 70 -> \r\n+CDSI: "SR",1\r\n | REPORT stored index=1 to=0301234 mr=7 status=70
!report +4917012345 8 0 -> \r\n+CDSI: "SR",2\r\n | REPORT stored index=2 to=+4917012345 mr=8 status=0
!report +4917012345 9 0 -> | REPORT lost, SR full to=+4917012345 mr=9 status=0
AT+CMGR=1 -> \r\n+CMS ERROR: 321\r\n
AT+CPMS="SR" -> \r\n+CPMS: 2,2,0,20,0,20\r\n\r\nOK\r\n
AT+CPMS? -> \r\n+CPMS: "SR",2,2,"SM",0,20,"SM",0,20\r\n\r\nOK\r\n
AT+CMGR=1 -> \r\n+CMGR: "REC UNREAD",6,7,"0301234",129,"26/12/08,21:00:00+04","26/12/08,21:00:05+04",70\r\n\r\nOK\r\n | REPORT read index=1
AT+CMGL -> \r\n+CMGL: 2,"REC UNREAD",6,8,"+4917012345",145,"26/12/08,21:00:00+04","26/12/08,21:00:05+04",0\r\n\r\nOK\r\n | REPORT read index=2
AT+CMGD=1 -> \r\nOK\r\n | REPORT deleted index=1
AT+CMGL="ALL" -> \r\n+CMGL: 2,"REC READ",6,8,"+4917012345",145,"26/12/08,21:00:00+04","26/12/08,21:00:05+04",0\r\n\r\nOK\r\n
AT+CMGD=3 -> \r\n+CMS ERROR: 321\r\n
AT+CMGD=0,4 -> \r\nOK\r\n | REPORT deleted index=2
AT+CPMS="SM","SR" -> \r\n+CMS ERROR: 302\r\n
AT+CPMS="SM" -> \r\n+CPMS: 0,20,0,20,0,20\r\n\r\nOK\r\n
AT+CMGL="ALL" -> \r\nOK\r\n
)",
     [](PhoneOptions* options) { options->reportStoreSize = 2; }},
    {"a phone that only stores reports", false, false, R"(
AT+CMEE=1 -> \r\nOK\r\n
AT+CNMI=? -> \r\n+CNMI: (0-3),(0,1),(0),(0,2),(0,1)\r\n\r\nOK\r\n
AT+CNMI=2,1,0,1,0 -> \r\n+CMS ERROR: 303\r\n
AT+CNMI=2,1,0,3,0 -> \r\n+CMS ERROR: 305\r\n
AT+CNMI=2,1,0,2,0 -> \r\nOK\r\n
)",
     [](PhoneOptions* options) { options->reports = PhoneOptions::kReportsStored; }},
    {"a phone that never routes a report", false, false, R"(
AT+CNMI=2,1,0,1,0 -> \r\nOK\r\n
!report +4917012345 1 0 -> | REPORT lost, not routed to=+4917012345 mr=1 status=0
)",
     [](PhoneOptions* options) { options->reports = PhoneOptions::kReportsNever; }},
    {"each +CDS awaits its AT+CNMA, or routing goes off", false, false, R"(
AT+CMEE=1 -> \r\nOK\r\n
AT+CSMS? -> \r\n+CSMS: 1,1,1,1\r\n\r\nOK\r\n
AT+CNMI=2,1,0,1,0 -> \r\nOK\r\n
!report +4917012345 5 32 -> \r\n+CDS: 6,5,"+4917012345",145,"26/12/08,21:00:00+04","26/12/08,21:00:05+04",32\r\n | REPORT sent to=+4917012345 mr=5 status=32
!report +4917012345 5 0 -> \r\n+CDS: 6,5,"+4917012345",145,"26/12/08,21:00:00+04","26/12/08,21:00:05+04",0\r\n | REPORT sent to=+4917012345 mr=5 status=0
AT+CNMA -> \r\nOK\r\n | REPORT acknowledged to=+4917012345 mr=5 status=32
!ack-missed 1 ->
!ack-missed 2 -> | REPORT unacknowledged to=+4917012345 mr=5 status=0, routing off
AT+CNMI? -> \r\n+CNMI: 2,0,0,0,0\r\n\r\nOK\r\n
AT+CNMA -> \r\n+CMS ERROR: 340\r\n
AT+CNMI=2,1,0,1,0 -> \r\nOK\r\n
AT+CSMS=0 -> \r\n+CSMS: 1,1,1\r\n\r\nOK\r\n
!report +4917012345 6 0 -> \r\n+CDS: 6,6,"+4917012345",145,"26/12/08,21:00:00+04","26/12/08,21:00:05+04",0\r\n | REPORT sent to=+4917012345 mr=6 status=0
AT+CNMA -> \r\n+CMS ERROR: 340\r\n
)",
     [](PhoneOptions* options) { options->cnmaNeeded = true; }},
};

// A step's line cut at " | ": the step itself, then its events.
std::vector<std::string> Parts(const std::string& line) {
  std::vector<std::string> parts;
  for (size_t at = 0, bar; at <= line.size(); at = bar + 3) {
    bar = std::min(line.find(" | ", at), line.size());
    parts.push_back(line.substr(at, bar - at));
  }
  return parts;
}

// What the phone sends back to `input`, a part that waits its own time marked "[<n> ms]".
std::string Sent(GsmPhone* phone, const std::string& input) {
  std::string sent;
  for (const Answer& answer : phone->Answers(input.data(), input.size())) {
    if (answer.delay >= 0) sent += "[" + std::to_string(answer.delay) + " ms]";
    sent += answer.bytes;
  }
  return sent;
}

std::string Happen(GsmPhone* phone, const std::string& what) {
  if (what == "!busy") return phone->EndCall(CallEnd::kBusy);
  if (what == "!no-answer") return phone->EndCall(CallEnd::kNoAnswer);
  if (what == "!other-side") return phone->EndCall(CallEnd::kOtherSide);
  if (what == "!answer") return phone->AnswerCall();
  if (what == "!power-off") phone->PowerOff();
  if (what == "!stop-ringing") phone->StopRinging();
  if (what.rfind("!network ", 0) == 0) return phone->SetNetwork(what.back() - '0');
  if (what.rfind("!ring ", 0) == 0) return phone->Ring(what.substr(6));
  std::istringstream words(what);
  std::string kind;
  StatusReport report{0, "", kSent, kDone, 0};
  words >> kind;
  if (kind == "!report" && words >> report.number >> report.reference >> report.status) {
    return phone->Report(report);
  }
  int pushed = 0;
  if (kind == "!ack-missed" && words >> pushed) phone->AcknowledgementMissed(pushed);
  return "";
}

TEST(GsmPhoneCallTest, AnswersAndEventsOfEachStep) {
  for (const Script& script : kScripts) {
    SCOPED_TRACE(script.name);
    PhoneOptions options;
    options.noVoice = script.noVoice;
    options.refusesAth = script.refusesAth;
    if (script.configure != nullptr) script.configure(&options);
    GsmPhone phone(options);
    std::vector<std::string> events, dialled;
    phone.onEvent = [&events](const std::string& event) { events.push_back(event); };
    // The program hears of each call dialled, so as to plan what becomes of it.
    phone.onDialled = [&](const std::string& number) {
      dialled.push_back("CALL dialled to=" + EscapedWord(number));
    };
    phone.onDelivered = [&events](const DeliveredSms& sms) {
      if (sms.reportWanted) events.push_back("report wanted mr=" + std::to_string(sms.reference));
    };
    phone.Receive("ATE0\r", 5);
    std::vector<std::string> dialledEvents;
    std::istringstream lines(script.steps);
    for (std::string line; std::getline(lines, line);) {
      if (line.empty()) continue;
      SCOPED_TRACE(line);
      std::vector<std::string> expected = Parts(line);
      std::string step = expected.front();
      expected.erase(expected.begin());
      size_t arrow = step.find(" ->");
      std::string input, answer;
      ASSERT_TRUE(arrow != std::string::npos && Unescaped(step.substr(0, arrow), &input) &&
                  Unescaped(step.substr(std::min(arrow + 4, step.size())), &answer));
      if (input.rfind("AT", 0) == 0) input += '\r';
      events.clear();
      EXPECT_EQ(input[0] == '!' ? Happen(&phone, input) : Sent(&phone, input), answer);
      EXPECT_EQ(events, expected);
      std::copy_if(events.begin(), events.end(), std::back_inserter(dialledEvents),
                   [](const std::string& event) { return event.rfind("CALL dialled ", 0) == 0; });
    }
    EXPECT_EQ(dialled, dialledEvents);
  }
}

// What the command line plans for each text to a number that asks for reports: "<ms>:<status>"
// for each report in turn, ms from the +CMGS; nothing for none, "refused" for a bad value.
TEST(GsmPhoneReportPlanTest, StatusesInTurnEachADelayAfterTheOneBefore) {
  using Options = std::vector<std::pair<const char*, const char*>>;
  const struct {
    Options options;
    const char* number;
    const char* steps;
  } kCases[] = {
      {{}, "+1", "2000:0"},
      {{{"--report-for", "+1,32,0"}, {"--report-delay", "5"}}, "+1", "5000:32 10000:0"},
      {{{"--report-for", "+1,32,0"}, {"--report-delay", "5"}}, "+2", "5000:0"},
      {{{"--report-delay-for", "+2,0"}, {"--report-for", "+2,64"}}, "+2", "0:64"},
      {{{"--report-delay-for", "+2,30"}, {"--report-delay", "1"}}, "+1", "1000:0"},
      {{{"--report-for", "+1,none"}}, "+1", ""},
      {{{"--report-for", "+1,70"}, {"--report-for", "+1,0,0"}}, "+1", "2000:0 4000:0"},
      {{{"--report-for", "+1"}}, "+1", "refused"},
      {{{"--report-for", ",0"}}, "+1", "refused"},
      {{{"--report-for", "+1,256"}}, "+1", "refused"},
      {{{"--report-for", "+1,32,"}}, "+1", "refused"},
      {{{"--report-delay", "-1"}}, "+1", "refused"},
      {{{"--report", "sometimes"}}, "+1", "refused"},
      {{{"--first-reference", "256"}}, "+1", "refused"},
  };
  for (const auto& c : kCases) {
    ReportPlan plan;
    PhoneOptions phone;
    std::string steps;
    for (const auto& [name, value] : c.options) {
      ASSERT_TRUE(ReportPlan::Takes(name));
      if (!plan.Read(name, value, &phone)) steps = "refused";
    }
    for (const ReportPlan::Step& step : plan.For(c.number)) {
      if (steps != "refused") {
        steps += (steps.empty() ? "" : " ") + std::to_string(step.after) + ":" +
                 std::to_string(step.status);
      }
    }
    EXPECT_EQ(steps, c.steps) << "case " << &c - kCases;
  }
  EXPECT_FALSE(ReportPlan::Takes("--reports"));
  PhoneOptions phone;
  const char* const kModes[] = {"both", "push", "store", "none"};
  for (const char* mode : kModes) {
    ReportPlan().Read("--report", mode, &phone);
    EXPECT_EQ(kModes[phone.reports], std::string(mode));
  }
}

}  // namespace
}  // namespace kelvor::sim
