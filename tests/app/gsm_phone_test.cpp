// The simulated phone's voice calls, and the faults the tests of sending ask of it, as Kelvor
// meets them on the line: what each command and each happening outside sends back, and the
// event lines each gives, step by step.
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
// !stop-ringing.
struct Script {
  const char* name;
  bool noVoice;
  bool refusesAth;
  const char* steps;
  void (*configure)(PhoneOptions*) = nullptr;  // the phone's other options
};

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

}  // namespace
}  // namespace kelvor::sim
