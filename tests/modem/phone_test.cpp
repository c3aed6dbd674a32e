// The phone's AT dialogue in virtual time against a scripted phone, through the modem's face,
// grouped by what can go wrong.
#include <gtest/gtest.h>

#include <memory>

#include "modem/incoming_sms_reader.h"
#include "modem/radio_watch.h"
#include "modem/sms_inbox.h"
#include "modem/startup_script.h"
#include "modem_fixture.h"
#include "platform/code_page.h"
#include "platform/text.h"

namespace kelvor::test {
namespace {

using Writes = std::vector<std::string>;

// --- Initialisation -------------------------------------------------------------------

TEST_F(ModemTest, AnAlwaysOkModemIsInitialisedOneCommandPerStep) {
  Make();
  for (int i = 0; i < 6; ++i) Step();
  EXPECT_EQ(port_->writes, (Writes{"ATZ\r", "AT+CMEE=1\r", "ATE0\r", "AT+CMGF=1\r", "AT+CSCA?\r"}));
  std::vector<std::string> expected = {
      "Retrieved valid handle for COM5 driver",
      "now getting the mode=9600,N,8,1",
      "now setting the mode - 9600,N,8,1",
      "Timeout",
      "TX>>ATZ",
      "RX<<OK",
      "Going to CMEE",
      "TX>>AT+CMEE=1",
      "RX<<OK",
      "Going to ATE0",
      "TX>>ATE0",
      "RX<<OK",
      "Going to text",
      "TX>>AT+CMGF=1",
      "RX<<OK",
      "Query Service",
      "TX>>AT+CSCA?",
      "RX<<+CSCA: \"+99912345\",145",
      "Going to ready",
  };
  EXPECT_EQ(console_.Lines(), expected);
  EXPECT_NE(console_.coloured().find("<23|Timeout|>\r\n<71|TX>>ATZ|>"), std::string::npos);

  // Not listening for replies, an SMS that reaches the phone changes nothing: Ready asks
  // for the signal, and for nothing else.
  phone_.Receive(*port_, "+4917100001", "S");
  port_->writes.clear();
  for (int i = 0; i < 400; ++i) Step();
  EXPECT_EQ(CountWrites("AT+CSQ\r"), 3);
  EXPECT_EQ(port_->writes.size(), 3u);
}

TEST_F(ModemTest, ServiceQueryErrorSetsTheNumberAndLogsTheKeptCapitalReady) {
  struct Case {
    const char* number;  // from a SERVICE argument, or none
    const char* command;
  } cases[] = {{"+99912345", "AT+CSCA=\"+99912345\"\r"}, {nullptr, "AT+CSCA=\"\"\r"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    console_.Clear();
    phone_.serviceQuery = "\r\n+CME ERROR: 30\r\n";
    Make();
    if (c.number != nullptr) modem_->SetServiceNumber(c.number);
    ASSERT_TRUE(StepUntilWritten(c.command));
    EXPECT_EQ(port_->writes.back(), c.command);
    EXPECT_EQ(CountLogged("Query Service"), 2);
    Step();
    EXPECT_EQ(console_.Lines().back(), "Going to Ready");
    EXPECT_FALSE(Logged("Going to ready"));
  }
}

TEST_F(ModemTest, ARefusedServiceNumberIsLeftOnlyByTheTimeOut) {
  phone_.serviceQuery = "\r\nERROR\r\n";
  phone_.serviceSet = "\r\nERROR\r\n";
  Make();
  ASSERT_TRUE(StepUntilWritten("AT+CSCA=\"\"\r"));
  for (int i = 0; i < 99; ++i) Step();  // 9.9 s after the command
  EXPECT_EQ(CountWrites("ATZ\r"), 1);
  Step(200);
  EXPECT_EQ(CountWrites("ATZ\r"), 2);
  EXPECT_EQ(port_->writes.back(), "ATZ\r");
  EXPECT_FALSE(Logged("Going to Ready"));
}

TEST_F(ModemTest, ServiceNumbersThatDoNotFitOrWouldBreakTheCommandAreRefused) {
  Make();
  modem_->SetServiceNumber("+99912345");
  struct Case {
    const char* number;
    const char* refusal;
  } cases[] = {
      {"+12345678901234567890123456789012", "Service number longer than 31 characters - ignored"},
      {"+999\"\r\nATD112;", "Bad Service number - ignored"},
      {"+999\x1a", "Bad Service number - ignored"},
  };
  for (const Case& c : cases) {
    console_.Clear();
    modem_->SetServiceNumber(c.number);
    EXPECT_EQ(console_.Lines(),
              (std::vector<std::string>{c.refusal, "Service number Set to +99912345"}));
  }
  console_.Clear();
  modem_->SetServiceNumber(nullptr);                            // none given: kept as it was
  modem_->SetServiceNumber("+123456789012345678901234567890");  // 31 fit
  EXPECT_EQ(console_.Lines(),
            (std::vector<std::string>{"Service number Set to +99912345",
                                      "Service number Set to +123456789012345678901234567890"}));
}

// --- Sending --------------------------------------------------------------------------

// The pause after a confirmed SMS holds the phone alone, and sleeps nothing: for its
// second the phone neither reads nor steps; then what came meanwhile is thrown away
// with the response, and the next SMS goes in the same step.
TEST_F(ModemTest, AConfirmedSendRemovesTheSmsLogsTheKeptSuccessfullAndPausesTheDialogue) {
  MakeReady();
  modem_->QueueMessage("Pump 3 failed", "+99955501234");
  Step();
  EXPECT_EQ(port_->writes, Writes{"AT+CMGS=\"+99955501234\"\r"});
  Step();
  EXPECT_EQ(port_->writes.size(), 2u);  // the text
  EXPECT_EQ(modem_->QueuedCount(), 1);
  uint64_t slept = clock_.slept();
  Step();
  EXPECT_TRUE(Logged("Successfull send"));
  EXPECT_EQ(modem_->QueuedCount(), 0);
  EXPECT_EQ(clock_.slept(), slept);
  EXPECT_EQ(port_->writes, (Writes{"AT+CMGS=\"+99955501234\"\r", "Pump 3 failed\x1a"}));
  EXPECT_NE(console_.coloured().find("<23|Successfull send|>"), std::string::npos);

  modem_->QueueMessage("Pump 4 failed", "+99955501234");
  port_->Arrive("\r\n+CME ERROR: 7\r\n");
  int reads = port_->reads;
  int purges = port_->purges;
  Step(999);
  EXPECT_EQ(modem_->WhenToStep().kind, NextStep::kAfterPause);
  EXPECT_EQ(modem_->WhenToStep().milliseconds, 1u);
  EXPECT_EQ(port_->reads, reads);
  EXPECT_EQ(port_->purges, purges);
  EXPECT_EQ(port_->writes.size(), 2u);
  Step(1);
  EXPECT_EQ(port_->purges, purges + 1);
  EXPECT_EQ(modem_->LastError(), 0);
  EXPECT_EQ(port_->writes.back(), "AT+CMGS=\"+99955501234\"\r");
}

TEST_F(ModemTest, QueuedSmsAreSentOldestFirst) {
  MakeReady();
  modem_->QueueMessage("one", "+111");
  modem_->QueueMessage("two", "+222");
  modem_->QueueMessage("three", "+333");
  for (int i = 0; i < 60 && modem_->QueuedCount() > 0; ++i) Step();
  EXPECT_EQ(port_->writes, (Writes{"AT+CMGS=\"+111\"\r", "one\x1a", "AT+CMGS=\"+222\"\r", "two\x1a",
                                   "AT+CMGS=\"+333\"\r", "three\x1a"}));
  EXPECT_EQ(modem_->QueuedCount(), 0);
  EXPECT_EQ(modem_->Tally().sent, 3u);
}

// Every text refused, by a radio its restart does not cure (or for the SMS itself): the two
// sendings that found the radio hung are taken back for its restart; refused again before
// anything went, the sendings count, so the SMS is still given up after four and the SMS
// behind it gets its turn.
TEST_F(ModemTest, ARefusedSmsIsRetriedAfterAResetAndDroppedAfterFourSendings) {
  MakeReady();
  phone_.sendResult = "\r\n+CMS ERROR: 500\r\n";
  modem_->QueueMessage("Alarm A", "+111");
  modem_->QueueMessage("Alarm B", "+222");
  Step();
  Step();
  Step();  // the refusal
  EXPECT_EQ(modem_->LastError(), 515);
  for (int i = 0; i < 100; ++i) Step();  // 10 s after the refusal: not yet
  EXPECT_EQ(port_->writes.back(), "Alarm A\x1a");
  EXPECT_FALSE(Logged("Timeout"));
  Step();
  EXPECT_TRUE(Logged("Timeout"));
  EXPECT_EQ(port_->writes.back(), "ATZ\r");

  for (int i = 0; i < 3000 && CountWrites("AT+CMGS=\"+222\"\r") == 0; ++i) Step();
  EXPECT_EQ(CountWrites("Alarm A\x1a"), 2 + 4);
  EXPECT_EQ(CountWrites("AT+CMGS=\"+111\"\r"), 2 + 4);
  EXPECT_EQ(CountWrites("AT+CFUN=1,1\r"), 1);
  EXPECT_EQ(CountLogged("Radio hung again before it sent anything since its restart - its "
                        "sendings count"),
            1);
  EXPECT_EQ(CountWrites("AT+CMGS=\"+222\"\r"), 1);
  EXPECT_EQ(modem_->QueuedCount(), 1);
  EXPECT_NE(console_.coloured().find("<71|SMS to +111 dropped after 4 failed sendings|>"),
            std::string::npos);
  EXPECT_EQ(modem_->Tally().givenUp, 1u);
  EXPECT_EQ(modem_->Tally().sent, 0u);
  EXPECT_EQ(CountWrites("AT+CREG?\r"), 0);  // a refusal not for the network changes nothing
}

TEST_F(ModemTest, AnErrorInsteadOfThePromptDoesNotCountAsASending) {
  MakeReady();
  phone_.prompt = "\r\n+CMS ERROR: 304\r\n";
  modem_->QueueMessage("Alarm A", "+111");
  for (int i = 0; i < 3000 && CountWrites("AT+CMGS=\"+111\"\r") < 6; ++i) Step();
  EXPECT_EQ(CountWrites("AT+CMGS=\"+111\"\r"), 6);
  EXPECT_EQ(modem_->QueuedCount(), 1);
  EXPECT_EQ(CountWrites("ATZ\r"), 5);
  EXPECT_EQ(CountWrites("AT+CREG?\r"), 0);
}

// Refused for the network, an SMS keeps its sendings and waits; AT+CREG? goes with the
// signal queries until the phone is registered again, then the SMS goes, and the queries
// are as before. Refused while the SIM wants its PIN, it waits for the time-out's reset.
TEST_F(ModemTest, AnSmsRefusedForTheNetworkOrThePinWaitsWithoutLosingASending) {
  const std::string kSearching = "\r\n+CREG: 0,2\r\n\r\nOK\r\n";
  const std::string kHome = "\r\n+CREG: 0,1\r\n\r\nOK\r\n";
  const std::string kRoaming = "\r\n+CREG: 0,5,\"00C3\",\"A1B2\"\r\n\r\nOK\r\n";
  const Writes kSend = {"AT+CMGS=\"+111\"\r", "Alarm A\x1a"};
  const Writes kBackOnTheNetwork = {"AT+CSQ\r",   "AT+CREG?\r", "AT+CSQ\r",
                                    "AT+CREG?\r", kSend[0],     kSend[1]};
  const struct {
    std::string prompt, result;  // the first answers to AT+CMGS and to the text
    std::vector<std::string> registrations;
    Writes after;  // the writes from the refusal on
    const char* waits;
  } cases[] = {
      {"\r\n> ", "\r\n+CMS ERROR: 331\r\n", {kSearching, kHome}, kBackOnTheNetwork, "the network"},
      {"\r\n> ",
       "\r\n+CMS ERROR: 332\r\n",
       {kSearching, kRoaming},
       kBackOnTheNetwork,
       "the network"},
      {"\r\n> ", "\r\n+CME ERROR: 30\r\n", {kSearching, kHome}, kBackOnTheNetwork, "the network"},
      {"\r\n+CMS ERROR: 331\r\n", "", {kSearching, kHome}, kBackOnTheNetwork, "the network"},
      // A phone that cannot say where it is: the SMS tries again at the next query.
      {"\r\n> ",
       "\r\n+CMS ERROR: 331\r\n",
       {"\r\nERROR\r\n"},
       {"AT+CSQ\r", "AT+CREG?\r", kSend[0], kSend[1]},
       "the network"},
      {"\r\n> ",
       "\r\n+CMS ERROR: 311\r\n",
       {},
       {"ATZ\r", "AT+CMEE=1\r", "ATE0\r", "AT+CMGF=1\r", "AT+CSCA?\r", kSend[0], kSend[1]},
       "the SIM's PIN"},
  };
  std::string shown;  // the console of every case
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prompt + c.result);
    MakeReady();
    size_t registrations = 0;
    bool refused = false;
    port_->onWrite = [&](const std::string& command) {
      std::string answer = phone_.AnswerTo(command);
      if (command == "AT+CREG?\r" && !c.registrations.empty()) {
        answer = c.registrations[std::min(registrations++, c.registrations.size() - 1)];
      } else if (!refused && command == kSend[0] && c.result.empty()) {
        answer = c.prompt;
        refused = true;
      } else if (!refused && command == kSend[1]) {
        answer = c.result;
        refused = true;
      }
      port_->Answer(answer);
    };
    modem_->QueueMessage("Alarm A", "+111");
    while (!refused) Step();
    port_->writes.clear();
    Step();
    EXPECT_EQ(modem_->Queued(0).attempts, 0);
    // Held in Ready, the phone has nothing to step for but the signal query.
    if (std::string(c.waits) == "the network") {
      EXPECT_EQ(modem_->WhenToStep().kind, NextStep::kIdle);
    }
    EXPECT_TRUE(
        Logged("SMS to +111 waits for " + std::string(c.waits) + " - not counted as a sending"));
    for (int i = 0; i < 300 && modem_->QueuedCount() > 0; ++i) Step();
    EXPECT_EQ(port_->writes, c.after);
    EXPECT_EQ(modem_->Tally().sent, 1u);
    port_->writes.clear();
    Step(10000);
    Step();
    Step();
    EXPECT_EQ(port_->writes, Writes{"AT+CSQ\r"});  // no AT+CREG? once registered
    shown += console_.coloured();
  }
  EXPECT_NE(shown.find("<71|Network registration: searching|>"), std::string::npos);
  EXPECT_NE(shown.find("<23|Network registration: roaming|>"), std::string::npos);
  EXPECT_NE(shown.find("<71|+CMS ERROR: 331 means no network service - check the "
                       "antenna, the signal and the SIM's subscription|>"),
            std::string::npos);
}

TEST_F(ModemTest, AConfirmationArrivingAfterAnErrorStillCounts) {
  MakeReady();
  phone_.sendResult = "\r\n+CME ERROR: 1\r\n";
  modem_->QueueMessage("late", "+111");
  Step();
  Step();
  Step();
  EXPECT_EQ(modem_->LastError(), 515);
  port_->Arrive("\r\n+CMGS: 9\r\n");
  Step();
  EXPECT_TRUE(Logged("Successfull send"));
  EXPECT_EQ(modem_->QueuedCount(), 0);
}

// --- Errors and numbers in answers -----------------------------------------------------

TEST_F(ModemTest, ErrorsInReadyBecomeTheLastError) {
  struct Case {
    const char* answer;
    int lastError;
  } cases[] = {
      {"\r\n+CME ERROR: 10\r\n", 10},    {"\r\n+CMS ERROR: 500\r\n", 500},
      {"\r\n+CME ERROR:   -7x\r\n", -7}, {"\r\n+CME ERROR: \r\n", 0},
      {"\r\n+CME ERROR\r\n", 3},  // no colon: not read, the earlier value stays
  };
  MakeReady();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    port_->Arrive("\r\n+CME ERROR: 3\r\n");
    Step();
    port_->Arrive(c.answer);
    Step();
    EXPECT_EQ(modem_->LastError(), c.lastError);
    modem_->PollModem();  // nothing new: Ready does not time out
    EXPECT_TRUE(port_->writes.empty());
  }
}

TEST_F(ModemTest, NumbersSplitOverTwoReadsAreReadWhole) {
  MakeReady();
  port_->Arrive("\r\n+CME ERROR: 5");
  Step();
  EXPECT_EQ(modem_->LastError(), 0);
  port_->Arrive("00\r\n");
  Step();
  EXPECT_EQ(modem_->LastError(), 500);

  phone_.signal = "\r\n+CSQ: 1";
  Step(10000);
  Step();
  EXPECT_EQ(port_->writes.back(), "AT+CSQ\r");
  port_->Arrive("5,99\r\n");
  Step();
  EXPECT_EQ(modem_->SignalStrength(), 48);
  EXPECT_EQ(console_.Lines().back(), "Signal Strength = 48 %");
}

// The numbers a site engineer must act on, each kind apart: +CME 30 is no network service,
// +CMS 30 is not one of them.
TEST(ModemErrors, ErrorsToActOnHaveWordsAndOnlyNetworkAndPinRefusalsLetAnSmsWait) {
  const ErrorKind kPhone = ErrorKind::kPhone;
  const ErrorKind kSms = ErrorKind::kSms;
  const struct {
    ErrorKind kind;
    int32_t code;
    const char* meaning;  // null: no words
    Refusal refusal;
  } cases[] = {
      {kPhone, 10, "SIM missing", Refusal::kCounts},
      {kSms, 310, "SIM missing", Refusal::kCounts},
      {kPhone, 11, "SIM PIN wanted", Refusal::kWaitsPin},
      {kSms, 311, "SIM PIN wanted", Refusal::kWaitsPin},
      {kPhone, 12, "SIM blocked, PUK wanted", Refusal::kCounts},
      {kSms, 312, "SIM PIN or PUK wanted", Refusal::kCounts},
      {kPhone, 13, "SIM failure", Refusal::kCounts},
      {kSms, 313, "SIM failure", Refusal::kCounts},
      {kPhone, 16, "wrong PIN", Refusal::kCounts},
      {kPhone, 20, "memory full", Refusal::kCounts},
      {kSms, 322, "memory full", Refusal::kCounts},
      {kSms, 330, "service centre unknown", Refusal::kCounts},
      {kPhone, 30, "no network service", Refusal::kWaitsNetwork},
      {kSms, 331, "no network service", Refusal::kWaitsNetwork},
      {kSms, 332, "network time-out", Refusal::kWaitsNetwork},
      {kSms, 30, nullptr, Refusal::kCounts},
      {kSms, 28, "unidentified subscriber", Refusal::kCounts},
      {kSms, 42, "congestion", Refusal::kCounts},
      {kSms, 99, nullptr, Refusal::kCounts},
      {kPhone, 331, nullptr, Refusal::kCounts},
      {kSms, 11, nullptr, Refusal::kCounts},
      {kSms, 500, nullptr, Refusal::kCounts},
      {kPhone, 14, nullptr, Refusal::kCounts},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.code));
    const ErrorWords* words = WordsForError(c.kind, c.code);
    EXPECT_EQ(words != nullptr ? words->meaning : "(none)",
              std::string(c.meaning != nullptr ? c.meaning : "(none)"));
    EXPECT_EQ(RefusalFor(c.kind, c.code), c.refusal);
  }
  // Only the phone's own refusals can be a radio that hangs: the network's causes (1 to 127)
  // and the service centre's (128 to 255) show that the radio reached the network.
  for (int32_t code : {1, 28, 99, 127, 200, 255}) EXPECT_FALSE(IsRadioError(kSms, code)) << code;
  for (int32_t code : {300, 500, 511}) EXPECT_TRUE(IsRadioError(kSms, code)) << code;
}

// A number the network refuses (a wrong DEST=) is no hung radio: its SMS goes four times and
// is dropped with the cause in words; the phone is neither restarted nor taken over from,
// and the other numbers' SMS go by it.
TEST_F(ModemTest, ANumberTheNetworkRefusesIsDroppedAfterFourSendingsAndHangsNoRadio) {
  for (bool standby : {false, true}) {
    SCOPED_TRACE(standby ? "with a standby" : "alone");
    phone_ = ScriptedPhone();
    standbyPhone_ = ScriptedPhone();
    console_.Clear();
    if (standby) {
      MakeWithStandby();
    } else {
      MakeReady();
    }
    phone_.refused = "+999";
    phone_.refusal = "\r\n+CMS ERROR: 28\r\n";
    modem_->QueueMessage("Alarm A", "+999");
    modem_->QueueMessage("Alarm B", "+111");
    for (int i = 0; i < 4000 && phone_.To("+111").empty(); ++i) Step();
    EXPECT_EQ(CountWrites("Alarm A\x1a"), 4);
    EXPECT_TRUE(
        Logged("+CMS ERROR: 28 means unidentified subscriber - check the number the SMS "
               "went to"));
    EXPECT_TRUE(Logged("SMS to +999 dropped after 4 failed sendings"));
    EXPECT_EQ(CountWrites("AT+CFUN=1,1\r"), 0);
    EXPECT_FALSE(console_.coloured().find("takes over") != std::string::npos);
    ASSERT_EQ(phone_.To("+111").size(), 1u);
    EXPECT_EQ(modem_->Tally().givenUp, 1u);
  }
}

// Without a PIN not one command changes; the error that holds the initialisation up is
// said in words the first time, and again only after another error, or Ready, came
// between.
TEST_F(ModemTest, ALockedSimWithoutAPinKeepsTheCommandsAndIsSaidInWordsOnce) {
  std::string textMode = "\r\n+CME ERROR: 11\r\n";
  Make();
  port_->onWrite = [&](const std::string& command) {
    if (phone_.silent) return;
    port_->Answer(command == "AT+CMGF=1\r" ? textMode : phone_.AnswerTo(command));
  };
  for (int i = 0; i < 400 && CountWrites("ATZ\r") < 4; ++i) Step();  // three resets
  EXPECT_EQ(port_->writes, (Writes{"ATZ\r", "AT+CMEE=1\r", "ATE0\r", "AT+CMGF=1\r", "ATZ\r",
                                   "AT+CMEE=1\r", "ATE0\r", "AT+CMGF=1\r", "ATZ\r", "AT+CMEE=1\r",
                                   "ATE0\r", "AT+CMGF=1\r", "ATZ\r"}));
  const std::string pinWanted =
      "+CME ERROR: 11 means SIM PIN wanted - give the SIM's PIN as PIN=nnnn";
  EXPECT_EQ(CountLogged(pinWanted), 1);
  EXPECT_NE(console_.coloured().find("<71|" + pinWanted + "|>"), std::string::npos);
  textMode = "\r\n+CME ERROR: 10\r\n";
  for (int i = 0; i < 110; ++i) Step();
  textMode = "\r\n+CME ERROR: 11\r\n";
  for (int i = 0; i < 110; ++i) Step();
  EXPECT_EQ(CountLogged("+CME ERROR: 10 means SIM missing - put the SIM card in the phone"), 1);
  EXPECT_EQ(CountLogged(pinWanted), 2);

  textMode = "\r\nOK\r\n";  // the SIM is fine again, until the modem is reset
  ASSERT_TRUE(StepUntilReady(200));
  textMode = "\r\n+CME ERROR: 11\r\n";
  phone_.silent = true;
  ASSERT_TRUE(StepUntilWritten("ATZ\r", 300));
  phone_.silent = false;
  for (int i = 0; i < 150; ++i) Step();  // the reset command went unanswered: one more
  EXPECT_EQ(CountLogged(pinWanted), 3);
}

// --- The SIM's PIN ----------------------------------------------------------------------

const char kPin[] = "2468";
const char kPinCommand[] = "AT+CPIN=\"2468\"\r";
const std::string kSimPin = "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n";
const std::string kSimReady = "\r\n+CPIN: READY\r\n\r\nOK\r\n";
const std::string kSimBusy = "\r\n+CME ERROR: 14\r\n";

// The SIM's answers to AT+CPIN? and to the PIN, one after the other, the last repeated.
void AnswerAsSim(FakeSerialPort* port, const ScriptedPhone& phone, std::vector<std::string> states,
                 std::vector<std::string> pins, std::string textMode = "\r\nOK\r\n") {
  auto asked = std::make_shared<size_t>(0);
  auto tried = std::make_shared<size_t>(0);
  port->onWrite = [=, &phone](const std::string& command) {
    std::string answer = phone.AnswerTo(command);
    if (command == "AT+CPIN?\r") answer = states[std::min((*asked)++, states.size() - 1)];
    if (command.rfind("AT+CPIN=", 0) == 0) answer = pins[std::min((*tried)++, pins.size() - 1)];
    if (command == "AT+CMGF=1\r") answer = textMode;
    port->Answer(answer);
  };
}

// With a PIN, AT+CPIN? comes before text mode; the PIN goes only when the SIM asks, a busy
// SIM is asked again a few seconds later, and the PIN never shows on the console.
TEST_F(ModemTest, WithAPinTheSimIsAskedAndGivenItOnlyWhenItWantsIt) {
  const Writes kBefore = {"ATZ\r", "AT+CMEE=1\r", "ATE0\r", "AT+CPIN?\r"};
  const std::string kOk = "\r\nOK\r\n";
  const struct {
    std::vector<std::string> states, pins;
    Writes then;            // after kBefore, up to Ready
    bool waitsOutABusySim;  // a pause of 3 s between two commands
    bool listening = false;
  } cases[] = {
      {{kSimReady}, {}, {"AT+CMGF=1\r", "AT+CSCA?\r"}, false},
      {{kSimPin, kSimReady},
       {kOk},
       {kPinCommand, "AT+CPIN?\r", "AT+CMGF=1\r", "AT+CSCA?\r"},
       false},
      {{kSimBusy, kSimBusy, kSimPin, kSimBusy, kSimReady},
       {kOk},
       {"AT+CPIN?\r", "AT+CPIN?\r", kPinCommand, "AT+CPIN?\r", "AT+CPIN?\r", "AT+CMGF=1\r",
        "AT+CSCA?\r"},
       true},
      // Busy when the PIN came: it was not tried, and is sent again.
      {{kSimPin, kSimPin, kSimReady},
       {kSimBusy, kOk},
       {kPinCommand, "AT+CPIN?\r", kPinCommand, "AT+CPIN?\r", "AT+CMGF=1\r", "AT+CSCA?\r"},
       true},
      // A phone that echoes the PIN back in spite of ATE0.
      {{kSimPin, kSimReady},
       {"AT+CPIN=\"2468\"\r\r\nOK\r\n"},
       {kPinCommand, "AT+CPIN?\r", "AT+CMGF=1\r", "AT+CSCA?\r"},
       false},
      // A phone that does not know AT+CPIN? goes on as without a PIN.
      {{"\r\nERROR\r\n"}, {}, {"AT+CMGF=1\r", "AT+CSCA?\r"}, false},
      // Listening for replies: announcements after the PIN and text mode.
      {{kSimPin, kSimReady},
       {kOk},
       {kPinCommand, "AT+CPIN?\r", "AT+CMGF=1\r", "AT+CNMI=2,1\r", "AT+CSCA?\r"},
       false,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.states));
    console_.Clear();
    Make();
    ASSERT_TRUE(modem_->SetPin(kPin));
    if (c.listening) modem_->ListenForReplies();
    AnswerAsSim(port_, phone_, c.states, c.pins);
    std::vector<uint32_t> ticks;
    port_->onWrite = [&, answer = port_->onWrite](const std::string& command) {
      ticks.push_back(clock_.TickCount());
      answer(command);
    };
    ASSERT_TRUE(StepUntilReady(200));
    Writes expected = kBefore;
    expected.insert(expected.end(), c.then.begin(), c.then.end());
    EXPECT_EQ(port_->writes, expected);
    uint32_t longest = 0;
    for (size_t i = 1; i < ticks.size(); ++i) longest = std::max(longest, ticks[i] - ticks[i - 1]);
    EXPECT_EQ(longest >= kSimBusyPause && longest <= kSimBusyPause + 200, c.waitsOutABusySim)
        << longest;
    EXPECT_EQ(CountLogged("SIM busy - waiting for it"), c.waitsOutABusySim ? 1 : 0);
    EXPECT_EQ(console_.coloured().find(kPin), std::string::npos);
    EXPECT_EQ(CountLogged("TX>>AT+CPIN=\"****\""), CountWrites(kPinCommand));
  }
}

// Three wrong PINs block the SIM for good: one the SIM refuses (with a number, or a bare
// ERROR from a phone without them) is never sent again, whatever resets follow; nor is one
// whose answer never came, which the SIM asking for its PIN again after the reset refuses.
TEST_F(ModemTest, ARefusedPinIsSentOnceAndNeverAgainAcrossResets) {
  const std::string kRefused =
      "PIN refused by the SIM - not sent again in this run (three wrong PINs block the SIM): "
      "check PIN= and restart Kelvor";
  const struct {
    std::string answer;  // to the PIN
    bool inWords;        // the refusal's number said in words
    int unanswered;      // queries of the SIM not followed by text mode
  } cases[] = {
      {"\r\n+CME ERROR: 16\r\n", true, 0},
      {"\r\nERROR\r\n", false, 0},
      {"", false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    console_.Clear();
    Make();
    modem_->SetPin(kPin);
    AnswerAsSim(port_, phone_, {kSimPin}, {c.answer}, "\r\n+CME ERROR: 11\r\n");
    for (int i = 0; i < 400; ++i) Step();  // 40 s
    EXPECT_EQ(CountWrites(kPinCommand), 1);
    EXPECT_GE(CountWrites("AT+CPIN?\r"), 3);
    EXPECT_EQ(CountWrites("AT+CPIN?\r"), CountWrites("AT+CMGF=1\r") + c.unanswered);
    EXPECT_EQ(CountLogged(kRefused), 1);
    EXPECT_NE(console_.coloured().find("<71|" + kRefused + "|>"), std::string::npos);
    EXPECT_EQ(console_.coloured().find(kPin), std::string::npos);
    EXPECT_EQ(CountLogged("+CME ERROR: 16 means wrong PIN - check PIN= - three wrong PINs block "
                          "the SIM"),
              c.inWords ? 1 : 0);
  }
}

// --- A hung radio ------------------------------------------------------------------------

// A radio that hangs (every text refused, or never confirmed, until AT+CFUN) is found hung by
// two sendings in a row, the reset between them included, and restarted at once: AT+CFUN=1,1
// (refused: AT+CFUN=0, AT+CFUN=1), then the whole initialisation, the PIN the restarted SIM
// asks for included, before the SMS's next sending; the two sendings do not count. Hung again
// within ten minutes of a restart that worked, it holds its SMS until the next restart.
TEST_F(ModemTest, AHungRadioIsRestartedItsSendingsNotCountedAndItsSmsSent) {
  const Writes kSend = {"AT+CMGS=\"+111\"\r", "Alarm A\x1a"};
  const Writes kReset = {"ATZ\r",      "AT+CMEE=1\r", "ATE0\r",
                         "AT+CPIN?\r", "AT+CMGF=1\r", "AT+CSCA?\r"};
  const Writes kInit = {"ATZ\r",     "AT+CMEE=1\r", "ATE0\r",      "AT+CPIN?\r",
                        kPinCommand, "AT+CPIN?\r",  "AT+CMGF=1\r", "AT+CSCA?\r"};
  const struct {
    bool quietly, refusesRestart;
    Writes restart;
  } cases[] = {
      {false, false, {"AT+CFUN=1,1\r"}},
      {false, true, {"AT+CFUN=1,1\r", "AT+CFUN=0\r", "AT+CFUN=1\r"}},
      {true, false, {"AT+CFUN=1,1\r"}},
  };
  bool locked = true;  // the SIM, until its PIN; locked again by a restart
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.restart) + (c.quietly ? " quietly" : ""));
    phone_ = ScriptedPhone();
    console_.Clear();
    Make();
    modem_->SetPin(kPin);
    locked = true;
    port_->onWrite = [&](const std::string& command) {
      if (command == "AT+CPIN?\r") return port_->Answer(locked ? kSimPin : kSimReady);
      if (command == kPinCommand) locked = false;
      int restarts = phone_.restarts;
      phone_.Take(*port_, command, clock_.TickCount());
      if (phone_.restarts > restarts) locked = true;
    };
    ASSERT_TRUE(StepUntilReady());
    port_->writes.clear();
    phone_.hung = true;
    phone_.quietly = c.quietly;
    phone_.refusesRestart = c.refusesRestart;
    modem_->QueueMessage("Alarm A", "+111");
    ASSERT_TRUE(StepUntilWritten("AT+CFUN=1,1\r", 400));
    EXPECT_EQ(modem_->Queued(0).attempts, 0);
    for (int i = 0; i < 100 && modem_->QueuedCount() > 0; ++i) Step();
    Writes expected = kSend;
    for (const Writes& part : {kReset, kSend, c.restart, kInit, kSend}) {
      expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_EQ(port_->writes, expected);
    EXPECT_EQ(modem_->Tally().sent, 1u);
    EXPECT_NE(console_.coloured().find("<71|Radio hung: 2 sendings in a row refused, not counted "
                                       "- restarting it|>\r\n<71|Restarting the radio|>"),
              std::string::npos);
    EXPECT_EQ(console_.coloured().find(kPin), std::string::npos);
  }

  // An hour on, hung again twice within ten minutes: the first time it is restarted, the
  // second its SMS waits, not counted, for the next restart ten minutes after the first.
  for (int i = 0; i < 36000; ++i) Step();
  std::vector<uint32_t> restarts;
  port_->onWrite = [&, answer = port_->onWrite](const std::string& command) {
    if (command == "AT+CFUN=1,1\r") restarts.push_back(clock_.TickCount());
    answer(command);
  };
  for (const char* text : {"Alarm B", "Alarm C"}) {
    phone_.hung = true;
    modem_->QueueMessage(text, "+111");
    for (int i = 0; i < 9000 && modem_->QueuedCount() > 0; ++i) Step();
    EXPECT_EQ(modem_->QueuedCount(), 0) << text;
  }
  ASSERT_EQ(restarts.size(), 2u);
  EXPECT_GE(restarts[1] - restarts[0], kRestartGap);
  EXPECT_LE(restarts[1] - restarts[0], kRestartGap + 200);
  EXPECT_EQ(CountWrites("Alarm C\x1a"), 3);
  EXPECT_EQ(CountLogged("Radio hung: 2 sendings in a row refused, not counted - the SMS wait "
                        "for its restart, one in ten minutes"),
            1);
  EXPECT_EQ(modem_->Tally().givenUp, 0u);
}

// --- A standby phone -----------------------------------------------------------------------

// While the main phone is well the standby sends nothing. When it fails, five ways, the
// standby sends the SMS at the head of the queue (one the main phone took and never
// confirmed included), and once the main phone answers and is registered again it takes
// back, looked at every 30 s. Each switch is said with its reason.
TEST_F(ModemTest, TheStandbyTakesOverFromAFailedMainPhoneAndGivesItBack) {
  const struct {
    const char* reason;
    uint32_t takeover;  // ms from the failure to the standby's command, at most
  } cases[] = {{"silent", 21000},
               {"port gone", 11000},
               {"SIM locked", 12000},
               {"off the network", 1000},
               {"radio hung", 12000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    std::string reason = c.reason;
    phone_ = ScriptedPhone();
    standbyPhone_ = ScriptedPhone();
    MakeWithStandby();
    modem_->QueueMessage("Alarm 0", "+111");
    for (int i = 0; i < 20; ++i) Step();
    ASSERT_EQ(phone_.received.size(), 1u);
    bool failing = true;
    port_->onWrite = [&](const std::string& command) {
      if (failing && reason == "SIM locked" && command == "AT+CMGS=\"+111\"\r") {
        return port_->Answer("\r\n+CMS ERROR: 311\r\n");
      }
      if (failing && reason == "SIM locked" && command == "AT+CMGF=1\r") {
        return port_->Answer("\r\n+CME ERROR: 11\r\n");
      }
      phone_.Take(*port_, command, clock_.TickCount());
      if (failing && reason == "silent" && command.back() == '\x1a') phone_.silent = true;
    };
    phone_.confirming = reason != "silent";
    phone_.offNetwork = reason == "off the network";
    phone_.hung = reason == "radio hung";
    if (reason == "port gone") port_->readResult = port_->writeResult = port_->openResult = false;
    uint32_t failed = clock_.TickCount();
    modem_->QueueMessage("Alarm A", "+111");
    const std::string kSend = "AT+CMGS=\"+111\"\r";
    auto& standby = standbyPort_->writes;
    for (int i = 0; i < 400 && std::count(standby.begin(), standby.end(), kSend) == 0; ++i) Step();
    uint32_t tookOver = clock_.TickCount() - failed;
    EXPECT_LE(tookOver, c.takeover);
    printf("takeover, main phone %s: %.1f s\n", c.reason, tookOver / 1000.0);
    standby.erase(std::remove(standby.begin(), standby.end(), "AT+CSQ\r"), standby.end());
    standby.erase(std::remove(standby.begin(), standby.end(), "AT+CREG?\r"), standby.end());
    EXPECT_EQ(standby, Writes{kSend});  // and nothing before
    EXPECT_TRUE(Logged("Standby phone COM6 takes over - main phone COM5 " + reason));
    EXPECT_EQ(modem_->SendingPhone(), std::string("standby"));
    for (int i = 0; i < 20; ++i) Step();
    ASSERT_EQ(standbyPhone_.received.size(), 1u);
    EXPECT_EQ(standbyPhone_.received[0].text, "Alarm A");
    EXPECT_EQ(modem_->QueuedCount(), 0);

    failing = false;
    phone_.silent = phone_.offNetwork = phone_.hung = false;
    phone_.confirming = true;
    port_->readResult = port_->writeResult = port_->openResult = true;
    uint32_t back = clock_.TickCount();
    for (int i = 0; i < 600 && !Logged("Main phone COM5 takes back from the standby - it answers "
                                       "and is registered");
         ++i) {
      Step();
    }
    EXPECT_LE(clock_.TickCount() - back, 45000u);
    EXPECT_EQ(modem_->SendingPhone(), std::string("main"));
    phone_.received.clear();
    modem_->QueueMessage("Alarm B", "+222");
    for (int i = 0; i < 30; ++i) Step();
    ASSERT_EQ(phone_.received.size(), 1u);
    EXPECT_EQ(phone_.received[0].text, "Alarm B");
    EXPECT_EQ(standbyPhone_.received.size(), 1u);
    ModemEvents events;  // the latest steps': the switch back, then Alarm B confirmed
    modem_->TakeEvents(&events);
    int last = events.Count() - 1;
    while (last >= 0 && events.At(last).kind != ModemEvent::kSwitched) --last;
    ASSERT_GE(last, 0);
    EXPECT_FALSE(events.At(last).change.toStandby);
  }
}

// A switch waits for the SMS on its way: a main phone off the network still sends while
// the standby cannot either; when the standby can again while the main phone's text awaits
// its confirmation, the standby takes over only once it came, and sends the next SMS.
TEST_F(ModemTest, TheStandbyTakesOverOnlyOnceTheMainPhonesSmsIsConfirmed) {
  MakeWithStandby();
  port_->clock = &clock_;
  const std::string kSearching = "\r\n+CREG: 0,2\r\n\r\nOK\r\n";
  phone_.registration = standbyPhone_.registration = kSearching;
  auto& standby = standbyPort_->writes;
  for (int i = 0; i < 120 && std::count(standby.begin(), standby.end(), "AT+CREG?\r") == 0; ++i) {
    Step();
  }
  Step();
  standbyPhone_.registration = "\r\n+CREG: 0,1\r\n\r\nOK\r\n";  // at its next query
  for (int i = 0; i < 50; ++i) Step();
  phone_.sendDelay = 9000;
  modem_->QueueMessage("Alarm A", "+111");
  modem_->QueueMessage("Alarm B", "+222");
  for (int i = 0; i < 300; ++i) Step();
  ASSERT_EQ(phone_.received.size(), 1u);
  EXPECT_EQ(phone_.received[0].number + " " + phone_.received[0].text, "+111 Alarm A");
  ASSERT_EQ(standbyPhone_.received.size(), 1u);
  EXPECT_EQ(standbyPhone_.received[0].number + " " + standbyPhone_.received[0].text,
            "+222 Alarm B");
  EXPECT_EQ(modem_->Tally().sent, 2u);
}

TEST(ReadLeadingInteger, ReadsAsTheModemWritesNumbers) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {{" 15,99", 15},
               {"\t+42", 42},
               {"-3", -3},
               {"", 0},
               {"x5", 0},
               {"007", 7},
               {"99999999999", INT32_MAX},
               {"-99999999999", INT32_MIN}};
  for (const Case& c : cases) EXPECT_EQ(ReadLeadingInteger(c.text), c.value) << c.text;
}

TEST_F(ModemTest, SignalQualityShowsAsPercentNeverBeyondTheScale) {
  struct Case {
    const char* answer;
    int percent;
  } cases[] = {{"\r\n+CSQ: 15,99\r\n\r\nOK\r\n", 48},
               {"\r\n+CSQ: 31,0\r\n", 100},
               {"\r\n+CSQ: 0,0\r\n", 0},
               {"\r\n+CSQ: 99,99\r\n", 0},
               {"\r\n+CSQ: 32,0\r\n", 0},
               {"\r\n+CSQ: -5,0\r\n", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    phone_.signal = "\r\n+CSQ: 20,0\r\n";  // 64 %, so that every case has to change it
    MakeReady();
    Step(10000);
    ASSERT_EQ(port_->writes, Writes{"AT+CSQ\r"});
    Step();
    ASSERT_EQ(modem_->SignalStrength(), 64);
    phone_.signal = c.answer;
    Step(10000);  // the deadline itself has not passed yet
    EXPECT_EQ(port_->writes.size(), 1u);
    Step();
    Step();
    EXPECT_EQ(modem_->SignalStrength(), c.percent);
    EXPECT_TRUE(Logged("Signal Strength = " + std::to_string(c.percent) + " %"));
  }
}

// --- Time-outs --------------------------------------------------------------------------

TEST_F(ModemTest, ASilentModemIsResetEveryTenSeconds) {
  phone_.silent = true;
  Make();
  for (int i = 0; i < 350; ++i) Step();  // 35 s
  EXPECT_EQ(CountWrites("ATZ\r"), 4);
  EXPECT_EQ(CountLogged("Timeout"), 4);
}

TEST_F(ModemTest, TheTimeOutWaitsForAStepWithoutNewData) {
  phone_.silent = true;
  Make();
  Step();
  for (int i = 0; i < 95; ++i) Step();  // 9.5 s after the reset command
  for (int i = 0; i < 25; ++i) {        // chatter, well past the deadline
    port_->Arrive("\r\nRING\r\n");
    Step();
  }
  EXPECT_EQ(CountWrites("ATZ\r"), 1);
  Step();
  EXPECT_EQ(CountWrites("ATZ\r"), 2);
}

// A call that rings without end puts the time-out off only so long.
TEST_F(ModemTest, ACallRingingWithoutEndLetsTheTimeOutCome) {
  phone_.silent = true;
  Make();
  for (int i = 0; i < 300; ++i) {
    port_->Arrive("\r\nRING\r\n");
    Step();
  }
  EXPECT_GE(CountWrites("ATZ\r"), 2);
}

// The 2^32 ms wrap of the tick: a deadline set before the wrap passes after it, and one
// that lands past the wrap is waited out, not taken as passed at once (which would reset
// the modem, or resend an SMS, the moment a command went out in the last 10 s).
TEST_F(ModemTest, DeadlinesAcrossTheTickWrapAreWaitedOutExactly) {
  for (uint32_t beforeWrap : {20000u, 10100u, 9000u, 5000u, 100u}) {
    SCOPED_TRACE(beforeWrap);
    std::vector<uint32_t> resets;  // ticks of the reset commands of a silent modem
    phone_.silent = true;
    clock_.Set(0u - beforeWrap);
    Make();
    port_->onWrite = [&](const std::string& command) {
      if (command == "ATZ\r") resets.push_back(clock_.TickCount());
    };
    for (int i = 0; i < 350; ++i) Step();
    ASSERT_GE(resets.size(), 3u);
    for (size_t i = 1; i < resets.size(); ++i) EXPECT_EQ(resets[i] - resets[i - 1], 10100u);

    std::vector<uint32_t> queries;  // ticks of the signal queries of an idle, ready modem
    phone_.silent = false;
    clock_.Set(0u - beforeWrap - 10000);
    MakeReady();
    port_->onWrite = [&](const std::string& command) {
      if (command == "AT+CSQ\r") queries.push_back(clock_.TickCount());
      port_->Answer(phone_.AnswerTo(command));
    };
    for (int i = 0; i < 350; ++i) Step();
    ASSERT_GE(queries.size(), 3u);
    for (size_t i = 1; i < queries.size(); ++i) EXPECT_EQ(queries[i] - queries[i - 1], 10200u);
  }
}

TEST_F(ModemTest, ReadyNeverTimesOutASwitchedOffModemShowsAtTheNextSignalQuery) {
  MakeReady();
  phone_.silent = true;
  uint32_t queried = 0;
  uint32_t reset = 0;
  port_->onWrite = [&](const std::string& command) {
    if (command == "AT+CSQ\r" && queried == 0) queried = clock_.TickCount();
    if (command == "ATZ\r" && reset == 0) reset = clock_.TickCount();
  };
  for (int i = 0; i < 300; ++i) Step();
  ASSERT_NE(queried, 0u);
  ASSERT_NE(reset, 0u);
  EXPECT_GT(reset - queried, 10000u);
  EXPECT_LE(reset - queried, 10100u);
}

TEST_F(ModemTest, APromptLeftAfterTheResetGetsCtrlZUntilOk) {
  Make();
  int ctrlZ = 0;
  port_->onWrite = [&](const std::string& command) {
    if (command == "ATZ\r") port_->Answer("\r\n> ");
    if (command == "\x1a" && ++ctrlZ == 3) port_->Answer("\r\nOK\r\n");
  };
  for (int i = 0; i < 5; ++i) Step();
  EXPECT_EQ(port_->writes, (Writes{"ATZ\r", "\x1a", "\x1a", "\x1a", "AT+CMEE=1\r"}));
}

TEST_F(ModemTest, APromptLeftAfterTheResetThatNeverGivesOkEndsInAReset) {
  Make();
  port_->onWrite = [&](const std::string& command) {
    if (command == "ATZ\r") port_->Answer("\r\n> ");
    if (command == "\x1a") port_->Answer("\r\n+CMS ERROR: 500\r\n");
  };
  Step();
  for (int i = 0; i < 200 && CountLogged("TX>>ATZ") < 2; ++i) Step();
  EXPECT_EQ(CountLogged("TX>>ATZ"), 2);  // within 20 s, not never
}

// --- The accumulated response ---------------------------------------------------------

// An answer beyond its room keeps its final result: the lines that do not fit are dropped,
// said once. Every chunk shows, however long the answer.
TEST_F(ModemTest, ALongAnswerKeepsItsFinalResultAndEveryChunkShows) {
  const std::string line = "\r\n+CSCA: \"" + std::string(120, '9') + "\",145";
  phone_.serviceQuery = line + line + line + "\r\n\r\nOK\r\n";
  Make();
  ASSERT_TRUE(StepUntilReady());
  EXPECT_TRUE(Logged("Going to ready"));
  EXPECT_EQ(CountLogged("Answer longer than 256 bytes - its further lines dropped"), 1);
  EXPECT_EQ(CountWrites("ATZ\r"), 1);
  console_.Clear();
  for (const std::string& chunk : {"\r\n" + std::string(198, 'x'), std::string(56, 'y'),
                                   std::string(55, 'z'), std::string("\n")}) {
    port_->Arrive(chunk);
    Step();
  }
  EXPECT_EQ(CountLogged("RX<<" + std::string(198, 'x')), 1);
  EXPECT_EQ(console_.Lines().size(), 4u);
}

TEST_F(ModemTest, AFloodOfUnexpectedAnswersEndsInAReset) {
  MakeReady();
  port_->Arrive(std::string(250, 'R'));
  Step();
  Step(10000);  // the signal query goes out; its answer no longer fits
  EXPECT_EQ(port_->writes, Writes{"AT+CSQ\r"});
  for (int i = 0; i < 100; ++i) Step();
  EXPECT_EQ(CountWrites("ATZ\r"), 0);
  Step();
  EXPECT_EQ(CountWrites("ATZ\r"), 1);
  EXPECT_TRUE(Logged("Timeout"));
}

// Lines the phone sends unasked are no part of the answer they come amid: a USSD text's
// "ERROR" refuses no command, a registration report is not the answer to AT+CREG?.
TEST_F(ModemTest, LinesSentUnaskedAreNoPartOfTheAnswer) {
  Make();
  port_->onWrite = [&](const std::string& command) {
    if (command == "AT+CSCA?\r") port_->Answer("\r\n+CUSD: 0,\"ERROR\",15\r\n");
    port_->Answer(phone_.AnswerTo(command));
  };
  ASSERT_TRUE(StepUntilReady());
  EXPECT_TRUE(Logged("Going to ready"));

  MakeWithStandby();
  port_->onWrite = [&](const std::string& command) {
    if (command == "AT+CREG?\r") port_->Answer("\r\n+CREG: 2\r\n");
    port_->Answer(phone_.AnswerTo(command));
  };
  Step(10000);
  for (int i = 0; i < 5; ++i) Step();
  EXPECT_EQ(CountWrites("AT+CREG?\r"), 1);
  EXPECT_FALSE(Logged("Network registration: searching"));
}

TEST_F(ModemTest, ReceivedLinesAreLoggedFromTheThirdByteAndCut) {
  MakeReady();
  struct Case {
    std::string chunk;
    std::string line;
  } cases[] = {
      {"ABCDEFGH", "RX<<CDEFGH"},
      {"\r\nOK\r\n", "RX<<OK"},
      {"z", "RX<<"},  // nothing of the earlier, longer chunk may show
      {"zz", "RX<<"},
      {"\r\n100 % sure", "RX<<100 % sure"},
      {"\r\nA\x1b[2J\tB\x07\x7f", "RX<<A?[2J?B??"},  // no byte that would drive the console
  };
  for (const Case& c : cases) {
    console_.Clear();
    port_->Arrive(c.chunk);
    modem_->PollModem();
    EXPECT_EQ(console_.Lines(), std::vector<std::string>{c.line}) << c.chunk;
    port_->Arrive("\r\n+CME ERROR: 1\r\n");  // empties the response
    modem_->PollModem();
  }
  console_.Clear();
  port_->Arrive("\r\n" + std::string(253, 'a'));
  modem_->PollModem();
  EXPECT_EQ(console_.Lines(), std::vector<std::string>{"RX<<" + std::string(251, 'a')});
}

// --- Character sets (CHARSET=) ----------------------------------------------------------

CodePageTable Windows1252() {
  CodePageTable table;
  EXPECT_TRUE(ReadCodePage(1252, &table));
  return table;
}

// With a charset the phone is asked for its sets at every initialisation (ATZ brings back its
// own) and kept in the best 7-bit one; a phone that offers none is said once, and its texts
// go as they are.
TEST_F(ModemTest, ACharsetAsksThePhoneForItsSetsAtEveryResetAndKeepsItInTheBest) {
  struct Case {
    const char* listed;
    Writes selected;  // after AT+CSCS=?
    bool said;
    bool umlautsFit;  // a text of 100 of them goes as one SMS: the set kept carries them
  } cases[] = {
      {"\r\n+CSCS: (\"GSM\",\"IRA\",\"8859-1\",\"UCS2\")\r\n\r\nOK\r\n",
       {"AT+CSCS=\"8859-1\"\r"},
       false,
       true},
      {"\r\n+CSCS: (\"UCS2\",\"HEX\",\"IRA\")\r\n\r\nOK\r\n", {"AT+CSCS=\"IRA\"\r"}, false, false},
      {"\r\n+CSCS: (\"GSM\",\"UCS2\")\r\n\r\nOK\r\n", {"AT+CSCS=\"GSM\"\r"}, false, true},
      {"\r\n+CME ERROR: 4\r\n", {}, true, true},
      {"\r\n+CSCS: (\"PCCP437\")\r\n\r\nOK\r\n", {}, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listed);
    console_.Clear();
    Make();
    modem_->SetCoding(Charset::kAuto, Windows1252());
    phone_.charsets = c.listed;
    for (int reset = 0; reset < 2; ++reset) {
      port_->writes.clear();
      ASSERT_TRUE(StepUntilReady(300));  // the reset command went while the phone was silent
      Writes expected = {"ATZ\r", "AT+CMEE=1\r", "ATE0\r", "AT+CMGF=1\r", "AT+CSCS=?\r"};
      expected.insert(expected.end(), c.selected.begin(), c.selected.end());
      expected.push_back("AT+CSCA?\r");
      EXPECT_EQ(port_->writes, expected);
      EXPECT_EQ(modem_->FitsOneSms(std::string(100, '\xFC').c_str()), c.umlautsFit);
      modem_->QueueMessage(
          "80\xB0"
          "C",
          "+1");  // goes as it is where no set would do
      ASSERT_TRUE(StepUntilWritten(c.said ? "80\xB0"
                                            "C\x1a"
                                          : "0038003000B00043\x1a"));
      phone_.silent = true;
      for (int i = 0; i < 120 && CountLogged("Timeout") == reset + 1; ++i) Step();
      phone_.silent = false;
    }
    EXPECT_EQ(CountLogged("The phone offers no character set Kelvor can use (GSM, IRA, 8859-1, "
                          "UCS2) - texts go as they are, as without CHARSET="),
              c.said ? 1 : 0);
  }
}

// Each text goes in the set and data coding its characters need, each selected only when it
// is not in force; under UCS2 the number goes as hex too. The console shows the text as it
// was written. A phone left in UCS2 is put back in its 7-bit set before an SMS is read.
TEST_F(ModemTest, TextsGoIn7BitOrUcs2AsTheirCharactersNeedAndShowAsWritten) {
  Make();
  modem_->SetCoding(Charset::kAuto, Windows1252());
  modem_->ListenForReplies();
  ASSERT_TRUE(StepUntilReady());
  for (int i = 0; i < 20; ++i) Step();  // the listings after the initialisation
  port_->writes.clear();
  modem_->QueueMessage("FIC_101 @5 {3}", "+1");
  modem_->QueueMessage(
      "80\xB0"
      "C S\xFC"
      "d",
      "+1");
  modem_->QueueMessage(
      "80\xB0"
      "C",
      "+2");
  phone_.Receive(*port_, "+2", "OK");
  for (int i = 0; i < 60 && port_->writes.size() < 12; ++i) Step();
  EXPECT_EQ(port_->writes,
            (Writes{"AT+CSMP=17,167,0,0\r", "AT+CMGS=\"+1\"\r", "FIC_101 @5 {3}\x1a",
                    "AT+CSCS=\"UCS2\"\r", "AT+CSMP=17,167,0,8\r", "AT+CMGS=\"002B0031\"\r",
                    "0038003000B000430020005300FC0064\x1a", "AT+CMGS=\"002B0032\"\r",
                    "0038003000B00043\x1a", "AT+CSCS=\"8859-1\"\r", "AT+CMGR=1\r", "AT+CMGD=1\r"}));
  EXPECT_NE(console_.coloured().find("TX>>80\xB0"
                                     "C S\xFC"
                                     "d\x1a"),
            std::string::npos);

  // Back to 7-bit: the set, then the data coding.
  port_->writes.clear();
  modem_->QueueMessage("ok", "+1");
  for (int i = 0; i < 20 && modem_->QueuedCount() > 0; ++i) Step();
  EXPECT_EQ(port_->writes, (Writes{"AT+CSMP=17,167,0,0\r", "AT+CMGS=\"+1\"\r", "ok\x1a"}));

  // After a reset the data coding is set again before the first SMS: the phone's stored
  // profile may have brought back UCS-2.
  phone_.silent = true;
  for (int i = 0; i < 300 && CountLogged("Timeout") == 1; ++i) Step();
  phone_.silent = false;
  ASSERT_TRUE(StepUntilReady(300));
  for (int i = 0; i < 20; ++i) Step();
  port_->writes.clear();
  modem_->QueueMessage("ok", "+1");
  for (int i = 0; i < 20 && modem_->QueuedCount() > 0; ++i) Step();
  EXPECT_EQ(port_->writes, (Writes{"AT+CSMP=17,167,0,0\r", "AT+CMGS=\"+1\"\r", "ok\x1a"}));
}

// A standby slow to select UCS2 when the main phone takes back: the standby finishes nothing
// for the SMS it had begun, each SMS goes once, by one phone, with its own number and text,
// and the SMS queued after it are all sent.
TEST_F(ModemTest, ASwitchWhileASetIsSelectedLeavesEachSmsToOnePhoneOnce) {
  CodePageTable table = Windows1252();
  MakeWithStandby(nullptr, &table);
  modem_->SetPause(0);
  port_->clock = standbyPort_->clock = &clock_;
  standbyPort_->onWrite = [&](const std::string& command) {
    if (command == "AT+CSCS=\"UCS2\"\r") return standbyPort_->AnswerAfter(9000, "\r\nOK\r\n");
    standbyPhone_.Take(*standbyPort_, command, clock_.TickCount());
  };
  phone_.offNetwork = true;
  modem_->QueueMessage("A ok", "+111");
  for (int i = 0; i < 200 && standbyPhone_.received.empty(); ++i) Step();
  ASSERT_EQ(modem_->SendingPhone(), std::string("standby"));
  phone_.offNetwork = false;
  phone_.sendDelay = 4000;
  // The main phone takes back at its look, 30 s after the takeover, while the standby waits
  // for the answer to its AT+CSCS.
  for (int i = 0; i < 230; ++i) Step();
  modem_->QueueMessage(
      "B 80\xB0"
      "C",
      "+222");
  modem_->QueueMessage("C ok", "+333");
  modem_->QueueMessage(
      "D 90\xB0"
      "C",
      "+444");
  modem_->QueueMessage("E ok", "+555");
  for (int i = 0; i < 600 && modem_->QueuedCount() > 0; ++i) Step();
  for (int i = 0; i < 200; ++i) Step();
  ASSERT_TRUE(Logged("Main phone COM5 takes back from the standby - it answers and is registered"));
  std::vector<std::string> sent;
  for (const auto* phone : {&phone_, &standbyPhone_}) {
    for (const auto& sms : phone->received) sent.push_back(sms.number + " " + sms.text);
  }
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, (std::vector<std::string>{"+111 A ok", "+333 C ok", "+555 E ok",
                                            "002B003200320032 004200200038003000B00043",
                                            "002B003400340034 004400200039003000B00043"}));
  EXPECT_EQ(modem_->Tally().sent, 5u);
  EXPECT_EQ(modem_->QueuedCount(), 0);
}

// --- Replies: the SMS that reach the phone ------------------------------------------------

class ListeningModemTest : public ModemTest {
 protected:
  // Ready and listening, the listings after the initialisation done.
  void MakeListening() {
    Make();
    modem_->ListenForReplies();
    ASSERT_TRUE(StepUntilReady());
    for (int i = 0; i < 20; ++i) Step();  // each listing ends half a second after its bytes
    ASSERT_EQ(port_->writes.back(), kListUnreadCommand);
    ASSERT_EQ(modem_->WhenToStep().kind, NextStep::kIdle);  // Ready, the listing over
    port_->writes.clear();
  }

  // Steps, taking each message handed over as "sender: text".
  std::vector<std::string> StepAndTake(int steps) {
    std::vector<std::string> taken;
    for (int i = 0; i < steps; ++i) {
      Step();
      ModemEvents events;
      modem_->TakeEvents(&events);
      for (int e = 0; e < events.Count(); ++e) {
        if (events.At(e).kind != ModemEvent::kIncoming) continue;
        const IncomingSms& message = events.At(e).incoming;
        taken.push_back(std::string(message.sender) + ": " + message.text);
      }
    }
    return taken;
  }
};

// After text mode the phone is asked to announce each SMS; one that refuses goes on all the
// same. Ready lists the SMS read, then those unread.
TEST_F(ListeningModemTest, TheInitialisationAsksForAnnouncementsAndGoesOnIfRefused) {
  for (const char* answer : {"\r\nOK\r\n", "\r\n+CMS ERROR: 303\r\n", "\r\nERROR\r\n"}) {
    SCOPED_TRACE(answer);
    Make();
    modem_->ListenForReplies();
    port_->onWrite = [&](const std::string& command) {
      port_->Answer(command == "AT+CNMI=2,1\r" ? answer : phone_.AnswerTo(command));
    };
    ASSERT_TRUE(StepUntilReady());
    Step();
    Step();
    EXPECT_EQ(port_->writes, (Writes{"ATZ\r", "AT+CMEE=1\r", "ATE0\r", "AT+CMGF=1\r",
                                     "AT+CNMI=2,1\r", "AT+CSCA?\r", kListReadCommand}));
  }
}

// Each SMS is read, handed over once and deleted; announced, at once, one a step of Ready;
// not announced, at the next listing, 30 s after the last. Sending comes first.
TEST_F(ListeningModemTest, SmsAreReadHandedOverOnceAndDeletedSendingFirst) {
  MakeListening();
  phone_.Receive(*port_, "+4917100001", "Ack");
  phone_.Receive(*port_, "+49 171 00002", "status");
  modem_->QueueMessage("Pump 3 failed", "+4917100001");
  EXPECT_EQ(StepAndTake(40),
            (std::vector<std::string>{"+4917100001: Ack", "+49 171 00002: status"}));
  EXPECT_EQ(port_->writes, (Writes{"AT+CMGS=\"+4917100001\"\r", "Pump 3 failed\x1a", "AT+CMGR=1\r",
                                   "AT+CMGD=1\r", "AT+CMGR=2\r", "AT+CMGD=2\r"}));
  EXPECT_EQ(phone_.deleted, 2);
  EXPECT_EQ(phone_.StoredCount(), 0);

  // Unannounced (the line purged before the phone read the announcement).
  phone_.Receive(*port_, "+4917100003", "a text\r\nOK\r\n+CMGS: 5");
  port_->Purge();
  port_->writes.clear();
  EXPECT_EQ(StepAndTake(150), std::vector<std::string>{});
  EXPECT_EQ(StepAndTake(200), std::vector<std::string>{"+4917100003: a text OK +CMGS: 5"});
  port_->writes.erase(std::remove(port_->writes.begin(), port_->writes.end(), "AT+CSQ\r"),
                      port_->writes.end());
  EXPECT_EQ(port_->writes, (Writes{kListUnreadCommand, "AT+CMGR=1\r", "AT+CMGD=1\r"}));
}

// An SMS stored to be sent, which a forged listing line could point at, is not taken and
// not deleted; a place with no SMS is not deleted either.
// A caller's RING and +CLIP just after the answer to a reading command, as a ringing call
// sends them, leave the answer ended: the SMS is read, handed over and deleted, nothing is
// reset. A text's own line "RING" stays text.
TEST_F(ListeningModemTest, AnIncomingCallAfterAReadingAnswerLeavesItEnded) {
  MakeListening();
  console_.Clear();
  const std::string ring = "\r\nRING\r\n\r\n+CLIP: \"+4479777\",145,,,\"OK\",0\r\n";
  auto answer = port_->onWrite;
  port_->onWrite = [&](const std::string& write) {
    answer(write);
    if (write.rfind("AT+CMG", 0) == 0 && write.rfind("AT+CMGS", 0) != 0) port_->Answer(ring);
  };
  phone_.Receive(*port_, "+4917100001", "RING\r\nme");
  EXPECT_EQ(StepAndTake(40), std::vector<std::string>{"+4917100001: RING me"});
  EXPECT_EQ(phone_.deleted, 1);
  EXPECT_EQ(StepAndTake(400), std::vector<std::string>{});  // the next listing too
  EXPECT_EQ(CountWrites(kListUnreadCommand), 1);
  EXPECT_EQ(CountWrites("ATZ\r"), 0);
  EXPECT_EQ(CountLogged("Timeout"), 0);
}

TEST_F(ListeningModemTest, OnlyAnSmsReceivedIsHandedOverAndDeleted) {
  MakeListening();
  port_->onWrite = [&](const std::string& command) {
    if (command == "AT+CMGR=7\r") {
      port_->Answer("\r\n+CMGR: \"STO UNSENT\",\"+4917100001\",\r\nS\r\n\r\nOK\r\n");
    } else {
      port_->Answer(command == "AT+CMGR=8\r" ? "\r\nOK\r\n" : phone_.AnswerTo(command));
    }
  };
  port_->Arrive("\r\n+CMTI: \"SM\",7\r\n\r\n+CMTI: \"SM\",8\r\n");
  EXPECT_EQ(StepAndTake(30), std::vector<std::string>{});
  EXPECT_EQ(port_->writes, (Writes{"AT+CMGR=7\r", "AT+CMGR=8\r"}));
}

// A phone reads a listing from the SIM entry by entry, and may pause anywhere in an answer:
// in a header, after an index's "+CMGL: ", after a text that reads "OK". The answer ends
// only at its own final line followed by quiet, so every SMS is still read and deleted. A
// read whose header came garbled is read again, three times at most.
TEST_F(ListeningModemTest, AnAnswerThatPausesAnywhereIsReadWholeAGarbledOneReadAgain) {
  const std::string kStamp = "\",,\"26/12/07,14:03:22+04\"\r\n";
  const std::vector<std::string> kBoth = {"+4917100001: Ack", "+4917100002: S"};
  const std::string kGarbled = "\r\n+CMGR: \"REC UNREAD\",\"+4917100\r\nAck\r\n\r\nOK\r\n";
  const struct {
    const char* command;  // whose answer comes in pieces, 250 ms apart
    std::vector<std::string> pieces;
    bool every;      // every answer to it so, not just the first
    bool announced;  // SMS 1 announced, so read at once; else listed
    std::vector<std::string> taken;
    int sent;  // times the command went out
  } cases[] = {
      {"AT+CMGR=1\r",
       {"\r\n+CMGR: \"REC UNREAD\",\"+49171", "00001" + kStamp + "Ack\r\n\r\nOK\r\n"},
       false,
       true,
       kBoth,
       1},
      {kListUnreadCommand,
       {"\r\n+CMGL: ", "1,\"REC UNREAD\",\"+4917100001" + kStamp +
                           "Ack\r\n\r\n+CMGL: 2,\"REC UNREAD\",\"+4917100002" + kStamp +
                           "S\r\n\r\nOK\r\n"},
       false,
       false,
       kBoth,
       1},
      {kListUnreadCommand,
       {"\r\n+CMGL: 1,\"REC UNREAD\",\"+4917100001" + kStamp + "OK\r\n",
        "\r\n+CMGL: 2,\"REC UNREAD\",\"+4917100002" + kStamp + "S\r\n\r\nOK\r\n"},
       false,
       false,
       kBoth,
       1},
      {"AT+CMGR=1\r", {kGarbled}, false, true, kBoth, 2},
      // A place that never reads is left after three reads (a later listing finds it).
      {"AT+CMGR=1\r", {kGarbled}, true, false, {kBoth[1]}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pieces[0]);
    phone_ = ScriptedPhone();
    Make();
    port_->clock = &clock_;
    modem_->ListenForReplies();
    for (const std::string& sms : kBoth) {
      size_t colon = sms.find(':');
      phone_.Receive(*port_, sms.substr(0, colon).c_str(), sms.substr(colon + 2).c_str());
    }
    int sent = 0;
    port_->onWrite = [&](const std::string& command) {
      bool scripted = command == c.command && (c.every || sent++ == 0);
      if (!scripted) phone_.Take(*port_, command, clock_.TickCount());
      if (command == "AT+CNMI=2,1\r" && c.announced) port_->Answer("\r\n+CMTI: \"SM\",1\r\n");
      for (size_t i = 0; scripted && i < c.pieces.size(); ++i) {
        port_->AnswerAfter(static_cast<uint32_t>(1 + 250 * i), c.pieces[i]);
      }
    };
    EXPECT_EQ(StepAndTake(150), c.taken);
    EXPECT_EQ(phone_.StoredCount(), 2 - static_cast<int>(c.taken.size()));
    EXPECT_EQ(CountWrites("AT+CMGD=1\r"), c.taken.size() == 2 ? 1 : 0);
    EXPECT_EQ(CountWrites(c.command), c.sent);
  }
}

// A read that never ends resets the modem as any command does: a silent phone 10 s after
// the read, a line that chatters once the read has taken kLongestReadAnswer bytes.
TEST_F(ListeningModemTest, AReadThatNeverEndsEndsInAReset) {
  for (bool chattering : {false, true}) {
    SCOPED_TRACE(chattering);
    MakeListening();
    const std::string chatter = "\r\n+CMGR: \"REC UNREAD\",\"+1\",,\r\n" + std::string(200, 'x');
    port_->onWrite = [&](const std::string& command) {
      if (command.rfind("AT+CMGR=", 0) == 0) {
        port_->idle = chattering ? chatter : "";
        return;
      }
      port_->Answer(phone_.AnswerTo(command));
    };
    port_->Arrive("\r\n+CMTI: \"SM\",1\r\n");
    Step();
    ASSERT_EQ(port_->writes, Writes{"AT+CMGR=1\r"});
    int steps = 0;
    while (CountWrites("ATZ\r") == 0 && steps++ < 1000) Step();
    EXPECT_EQ(port_->writes, (Writes{"AT+CMGR=1\r", "ATZ\r"}));
    int taken = chattering ? static_cast<int>(kLongestReadAnswer / chatter.size()) : 0;
    EXPECT_EQ(steps, taken + 101);
    port_->idle.clear();
  }
}

// --- A port that fails -------------------------------------------------------------------

// A device that stays away is tried at every reset, with one pair of lines each time; at
// the first reset after it is back, the reset command goes out on a fresh handle and the
// SMS queued meanwhile is sent.
TEST_F(ModemTest, APortThatStaysAwayIsTriedAtEachResetWithOnePairOfLines) {
  MakeReady();
  phone_.silent = true;
  port_->readResult = port_->writeResult = port_->openResult = false;
  modem_->QueueMessage("Pump 3 failed", "+99955501234");
  for (int i = 0; i < 600; ++i) Step();  // a minute
  int resets = CountLogged("Timeout");
  EXPECT_GE(resets, 5);
  EXPECT_EQ(CountLogged("Port COM5 failed - reopening"), resets);
  EXPECT_EQ(CountLogged("Can't get a handle to COM5 driver"), resets);
  EXPECT_EQ(CountLogged("Write timeout"), resets + 1);  // the resets' ATZ, and the AT+CMGS
  EXPECT_EQ(console_.Lines().size(), 5u * resets + 2);
  EXPECT_NE(console_.coloured().find(
                "<71|Port COM5 failed - reopening|>\r\nCan't get a handle to COM5 driver\r\n"),
            std::string::npos);

  phone_.silent = false;
  port_->readResult = port_->writeResult = port_->openResult = true;
  console_.Clear();
  for (int i = 0; i < 300 && modem_->QueuedCount() > 0; ++i) Step();
  EXPECT_EQ(modem_->QueuedCount(), 0);
  EXPECT_EQ(console_.coloured().find("<23|Timeout|>\r\n<71|Port COM5 failed - reopening|>\r\n"
                                     "Port COM5 reopened\r\n<71|TX>>ATZ|>"),
            0u);
  EXPECT_EQ(CountLogged("Port COM5 reopened"), 1);
}

// --- No port ------------------------------------------------------------------------------

TEST_F(ModemTest, APortThatDoesNotOpenLeavesTheDialogueResettingAndQueueing) {
  auto port = std::make_unique<FakeSerialPort>();
  port->openResult = false;
  port_ = port.get();
  modem_ = std::make_unique<SmsModem>("COM9", nullptr, std::move(port), log_, clock_);
  EXPECT_EQ(console_.Lines(), std::vector<std::string>{"Can't get a handle to COM9 driver"});
  Step();
  EXPECT_NE(console_.coloured().find("<70|Write timeout|>"), std::string::npos);
  EXPECT_TRUE(port_->writes.empty());
  EXPECT_TRUE(modem_->QueueMessage("text", "+111"));

  modem_ = std::make_unique<SmsModem>("COM1", nullptr, nullptr, log_, clock_);  // no port
  Step();
  EXPECT_EQ(CountLogged("Timeout"), 2);
}

// A wake-up call rings at most 30 s, polled every 3 s, and ends as soon as the phone says
// how it went; an answered call is hung up at once and said. A phone that refuses ATH is
// hung up with AT+CHUP from then on. Some phones answer ATD only once the call is answered:
// the call is theirs as long as it may ring, and nothing is reset.
TEST_F(ModemTest, AWakeUpCallRingsItsTimeOrEndsAsThePhoneSays) {
  const std::string alerting = "\r\n+CLCC: 1,0,3,0,0,\"+4479001\",145\r\n\r\nOK\r\n";
  const std::string active = "\r\n+CLCC: 1,0,0,0,0,\"+4479001\",145\r\n\r\nOK\r\n";
  const struct {
    const char* what;
    std::string calls;              // the answer to AT+CLCC
    std::string unasked;            // arrives `unaskedAt` ms into the call
    std::string hangUp;             // the answer to ATH
    std::vector<std::string> last;  // the commands that end the call
    std::string said;
    uint32_t longest;  // ms from ATD to the end
    const char* words;
    std::string dial = "\r\nOK\r\n";  // the answer to ATD at once
    uint32_t unaskedAt = 4000;
  } cases[] = {
      {"rings out",
       alerting,
       "",
       "\r\nOK\r\n",
       {"AT+CLCC\r", "ATH\r"},
       "Call to +4479001 not answered in 30 s - hung up",
       31000,
       "not answered"},
      {"busy",
       alerting,
       "\r\nBUSY\r\n",
       "\r\nOK\r\n",
       {"ATD+4479001;\r", "AT+CLCC\r"},
       "Call to +4479001 - busy",
       5000,
       "busy"},
      {"no answer",
       alerting,
       "\r\nNO ANSWER\r\n",
       "",
       {"ATD+4479001;\r", "AT+CLCC\r"},
       "Call to +4479001 - no answer",
       5000,
       "no answer"},
      {"answered",
       active,
       "",
       "\r\nOK\r\n",
       {"AT+CLCC\r", "ATH\r"},
       "Call to +4479001 answered - hung up, it acknowledges nothing",
       4000,
       "answered"},
      {"gone from the list",
       "\r\nOK\r\n",
       "",
       "",
       {"ATD+4479001;\r", "AT+CLCC\r"},
       "Call to +4479001 ended before it was answered",
       4000,
       "ended unanswered"},
      {"ATD answered on connect, after 20 s",
       active,
       "\r\nOK\r\n",
       "\r\nOK\r\n",
       {"AT+CLCC\r", "ATH\r"},
       "Call to +4479001 answered - hung up, it acknowledges nothing",
       24000,
       "answered",
       "",
       20000},
      {"ATH refused",
       alerting,
       "",
       "\r\nERROR\r\n",
       {"ATH\r", "AT+CHUP\r"},
       "Call to +4479001 not answered in 30 s - hung up",
       32000,
       "not answered"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    phone_.calls = c.calls;
    phone_.hangUp = c.hangUp;
    phone_.dial = c.dial;
    console_.Clear();
    MakeReady();
    for (const char* forged : {"", "+4479001;ATA", "*99#", "+44A"}) {
      EXPECT_FALSE(modem_->StartCall(forged)) << forged;  // no phone number: nothing dialled
    }
    ASSERT_TRUE(modem_->StartCall("+4479001"));
    EXPECT_FALSE(modem_->StartCall("+4479001"));  // one call at a time
    uint32_t start = clock_.TickCount();
    for (int i = 0; i < 400 && modem_->Calling(); ++i) {
      if (clock_.TickCount() - start == c.unaskedAt && !c.unasked.empty()) {
        port_->Arrive(c.unasked);
      }
      Step();
    }
    EXPECT_FALSE(modem_->Calling());
    EXPECT_LE(clock_.TickCount() - start, c.longest);
    EXPECT_EQ(port_->writes.front(), "ATD+4479001;\r");
    ASSERT_GE(port_->writes.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(port_->writes.end() - 2, port_->writes.end()), c.last);
    EXPECT_LE(CountWrites("AT+CLCC\r"), 10);
    EXPECT_EQ(CountLogged(c.said), 1) << console_.text();
    EXPECT_STREQ(CallEndWords(modem_->LastCallMade().end), c.words);
    EXPECT_EQ(CountWrites("ATZ\r"), 0);
    EXPECT_FALSE(Logged("Timeout"));
  }
  phone_.dial = "\r\nOK\r\n";
  phone_.hangUp = "\r\nERROR\r\n";
  port_->writes.clear();
  ASSERT_TRUE(modem_->StartCall("+4479001"));
  for (int i = 0; i < 400 && modem_->Calling(); ++i) Step();
  EXPECT_EQ(CountWrites("ATH\r"), 0) << "ATH is refused: AT+CHUP at once";
}

// A call given up (its ATD or a poll unanswered in time) is hung up before the phone is reset:
// a phone whose ATZ does not end a voice call would keep the line up.
TEST_F(ModemTest, ACallGivenUpIsHungUpBeforeThePhoneIsReset) {
  const std::string ok = "\r\nOK\r\n";
  const struct {
    const char* what;
    std::string dial;    // the answer to ATD
    std::string hangUp;  // the answer to ATH
    bool silent;         // the phone answers nothing after ATD
    std::vector<std::string> writes;
    uint32_t earliest;  // ms from ATD to the reset
  } cases[] = {
      {"ATD never answered", "", ok, false, {"ATD+4479001;\r", "ATH\r", "ATZ\r"}, 30000},
      {"ATD never answered, ATH refused",
       "",
       "\r\nERROR\r\n",
       false,
       {"ATD+4479001;\r", "ATH\r", "AT+CHUP\r", "ATZ\r"},
       30000},
      {"a poll unanswered",
       ok,
       ok,
       false,
       {"ATD+4479001;\r", "AT+CLCC\r", "ATH\r", "ATZ\r"},
       13000},
      {"the phone falls silent", "", "", true, {"ATD+4479001;\r", "ATH\r", "ATZ\r"}, 40000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    phone_.dial = c.dial;
    phone_.calls = "";
    phone_.hangUp = c.hangUp;
    phone_.silent = false;
    MakeReady();
    ASSERT_TRUE(modem_->StartCall("+4479001"));
    phone_.silent = c.silent;
    uint32_t start = clock_.TickCount();
    for (int i = 0; i < 500 && CountWrites("ATZ\r") == 0; ++i) Step();
    EXPECT_GE(clock_.TickCount() - start, c.earliest);
    ASSERT_GE(port_->writes.size(), c.writes.size());
    EXPECT_EQ(
        std::vector<std::string>(port_->writes.begin(), port_->writes.begin() + c.writes.size()),
        c.writes);
    EXPECT_EQ(CountLogged("Call to +4479001 cut short - the phone was reset"), 1);
    EXPECT_STREQ(CallEndWords(modem_->LastCallMade().end), "cut short");
  }
}

// A phone without voice service refuses ATD: said once, and no call for an hour. SMS come
// first: no call starts while one waits, and one queued during a call goes once it ends.
TEST_F(ModemTest, ARefusedCallHoldsCallsAnHourAndSmsNeverWaitLongerThanACall) {
  phone_.dial = "\r\n+CME ERROR: 4\r\n";
  MakeReady();
  ASSERT_TRUE(modem_->StartCall("+4479001"));
  for (int i = 0; i < 5; ++i) Step();
  EXPECT_FALSE(modem_->Calling());
  EXPECT_EQ(CountLogged("Call to +4479001 refused by the phone - has it voice service? No call "
                        "for an hour"),
            1);
  Step(3599000);
  EXPECT_FALSE(modem_->StartCall("+4479001"));
  Step(1001);
  ASSERT_TRUE(modem_->StartCall("+4479001"));
  for (int i = 0; i < 5; ++i) Step();
  EXPECT_EQ(CountWrites("ATD+4479001;\r"), 2);
  EXPECT_EQ(console_.text().find("refused by the phone", console_.text().find("refused by") + 1),
            std::string::npos)
      << "said once";

  phone_.dial = "\r\nOK\r\n";
  Step(3600001);  // refused again: another hour
  modem_->QueueMessage("Pump 3 failed", "+4479002");
  EXPECT_FALSE(modem_->StartCall("+4479001"));
  for (int i = 0; i < 60 && !modem_->StartCall("+4479001"); ++i) Step();
  EXPECT_EQ(phone_.To("+4479002").size(), 1u);
  ASSERT_TRUE(modem_->Calling());
  Step();
  modem_->QueueMessage("Pump 4 failed", "+4479002");
  uint32_t queued = clock_.TickCount();
  for (int i = 0; i < 400 && phone_.To("+4479002").size() < 2; ++i) Step();
  ASSERT_EQ(phone_.To("+4479002").size(), 2u);
  EXPECT_LE(clock_.TickCount() - queued, 32000u);
}

// An incoming call rings (RING, +CLIP with a name from the phone book) for minutes at an idle
// phone and while an SMS awaits its prompt: its lines are no answer, so the SMS goes once,
// no error is taken from the name, nothing is reset, and the call is never taken.
TEST_F(ModemTest, AnIncomingCallChangesNothing) {
  MakeReady();
  const std::string ring = "\r\nRING\r\n\r\n+CLIP: \"+4479777\",145,,,\"+CMS ERROR: 500 >\",0\r\n";
  auto answer = port_->onWrite;
  port_->onWrite = [&](const std::string& write) {
    if (write.rfind("AT+CMGS", 0) == 0) port_->Arrive(ring);  // before the prompt
    answer(write);
  };
  for (int i = 0; i < 120; ++i) {
    if (i == 60) modem_->QueueMessage("Pump 3 failed", "+4479002");
    port_->Arrive(ring);
    Step(1000);
  }
  EXPECT_EQ(phone_.To("+4479002").size(), 1u);
  EXPECT_EQ(port_->writes.size(), CountWrites("AT+CSQ\r") + 2u);
  EXPECT_EQ(CountWrites("ATZ\r"), 0);
  EXPECT_EQ(CountWrites("ATA\r"), 0);
  EXPECT_EQ(modem_->LastError(), 0);
  EXPECT_EQ(console_.text().find("+CMS ERROR: 500 means"), std::string::npos);
}

}  // namespace
}  // namespace kelvor::test
