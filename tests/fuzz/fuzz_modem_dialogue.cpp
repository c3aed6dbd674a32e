// The phone's AT dialogue, through the modem's face, fed arbitrary chunks at any point of
// any conversation, with SMS queued, service numbers and PINs set, replies listened for or
// not, writes failing and the clock jumping (across the tick wrap too). After every step:
// every console line within 255 bytes, the queue within 21 and each SMS within its four
// sendings, the signal within 0 to 100 %, every SMS text that went out at the prompt within
// 159 characters and free of the bytes that would end it early, every number in a command
// within 31 characters and free of the bytes that would break it; a PIN goes out only as
// the PIN given, never once the SIM has refused it, and no console line shows it. Replies:
// not one reading command before the program listens; a reading command is a listing or an
// index read or deleted as digits alone, and a delete follows the read of the same index; a
// message handed over holds its NUL within its fields and no control byte; no line received
// shows a control byte on the console. A charset chosen: a text longer than 159 bytes, or a
// number longer than 31, is well-formed UCS-2 hex (of at most 70 characters, of at most 31)
// selected since the last reset; no text holds byte 0. A standby phone may be added at any
// point, its port fed as the main one: without a charset each text goes out on a port after
// that port's AT+CMGS of the number it was queued for (two phones never send one SMS's text
// to another's number), and the main phone's PIN never reaches the standby's port. Every SMS
// is confirmed at most once, whichever phone sent it, and (without a charset) only as a text
// that went out at a prompt; none is lent to both phones at once, and none is lent again
// before it is returned. The standby may share the SMS (SHARE=ON): the two phones never hold
// SMS to one number at once, and the SMS to one number are confirmed in the order queued.
// Wake-up calls: the fuzzer may start one at any point, with any number, and feed a call's
// answers (BUSY, NO ANSWER, NO CARRIER, +CLCC lines of any call and state, RING, +CLIP of any
// name) among the others. ATD goes only for a call started, with no SMS queued (unless the
// phones share) and no call under way, as "ATD<number>;" of the number given; never ATA; a call
// polls AT+CLCC at most ten times (once per 3 s of its 30 s of ringing) and not after its hang-up,
// sends ATH and AT+CHUP once each at most, and is over once its phone has been quiet for 30 s of
// ringing, a poll and an answer's wait (the time-out that resets the phone) and its last command
// has waited that time-out; a reset or restart of its phone during the call comes after its
// hang-up; an ended call is taken once, with its number.
// The channel on its own: however the input's bytes are cut into reads, an "OK" line after
// them is taken as the answer's final result.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "fuzz_support.h"
#include "log/console_log.h"
#include "modem/at_channel.h"
#include "modem/incoming_sms_reader.h"
#include "modem/phone_number.h"
#include "modem/sms_modem.h"
#include "modem/voice_call.h"
#include "platform/code_page.h"
#include "support/fake_serial.h"
#include "support/fakes.h"

using namespace kelvor;

namespace {

// Answers a phone gives, so that the fuzzer walks the states quickly.
const char* const kAnswers[] = {
    "\r\nOK\r\n",
    "\r\n> ",
    "\r\n+CMGS: 5\r\n\r\nOK\r\n",
    "\r\nERROR\r\n",
    "\r\n+CMS ERROR: 500\r\n",
    "\r\n+CME ERROR: 10\r\n",
    "\r\n+CSQ: 15,99\r\n\r\nOK\r\n",
    "\r\nRING\r\n",
    ">",
    "\r\n+CSCA: \"+99912345\",145\r\n\r\nOK\r\n",
    "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n",
    "\r\n+CPIN: READY\r\n\r\nOK\r\n",
    "\r\n+CME ERROR: 14\r\n",
    "\r\n+CME ERROR: 16\r\n",
    "\r\n+CMS ERROR: 331\r\n",
    "\r\n+CMS ERROR: 311\r\n",
    "\r\n+CREG: 0,2\r\n\r\nOK\r\n",
    "\r\n+CREG: 0,1\r\n\r\nOK\r\n",
    "\r\n+CMTI: \"SM\",3\r\n",
    "\r\n+CMGL: 3,\"REC UNREAD\",\"+4917100001\",,\"26/12/07,14:03:22+04\"\r\nS\r\n\r\nOK\r\n",
    "\r\n+CMGR: \"REC UNREAD\",\"+4917100001\",,\"26/12/07,14:03:22+04\"\r\n",
    "\r\n+CMGR: \"STO UNSENT\",\"+4917100001\"\r\n",
    "OK\r\n+CMGS: 7\r\n> \x1b[2J\r\n",
    "\r\n+CSCS: (\"GSM\",\"IRA\",\"8859-1\",\"UCS2\")\r\n\r\nOK\r\n",
    "\r\n+CSCS: (\"GSM\",\"UCS2\")\r\n\r\nOK\r\n",
    "\r\n+CME ERROR: 4\r\n",
    "\r\nBUSY\r\n",
    "\r\nNO ANSWER\r\n",
    "\r\nNO CARRIER\r\n",
    "\r\n+CLCC: 1,0,3,0,0,\"+4917100001\",145\r\n\r\nOK\r\n",
    "\r\n+CLCC: 1,0,0,0,0,\"+4917100001\",145\r\n\r\nOK\r\n",
    "\r\n+CLCC: 2,1,4,0,0,\"+4917100002\",145\r\n\r\nOK\r\n",
    "\r\nRING\r\n\r\n+CLIP: \"+4917100002\",145,\"\",,\"OK\",0\r\n",
};
constexpr int kAnswerCount = sizeof kAnswers / sizeof kAnswers[0];

// Checks each console line as it is written: the line of the PIN command shows it masked
// (an SMS text's line ends in its Ctrl-Z, whatever it reads), no line of what came in shows
// the PIN, and a refusal of the PIN is noted.
class PinConsole : public fuzz::CheckingConsole {
 public:
  void Write(const char* text, size_t length) override {
    CheckingConsole::Write(text, length);
    std::string line(text, length);
    if (line.rfind("PIN refused by the SIM", 0) == 0) refused = true;
    if (line.rfind("RX<<", 0) == 0) {
      for (char c : line) FUZZ_CHECK(static_cast<unsigned char>(c) >= 32 && c != 127);
    }
    if (pin.empty()) return;
    if (line.rfind("TX>>AT+CPIN=\"", 0) == 0 && line.back() != '\x1a') {
      FUZZ_CHECK(line == "TX>>AT+CPIN=\"****\"");
    }
    if (line.rfind("RX<<", 0) == 0) FUZZ_CHECK(line.find(pin) == std::string::npos);
  }
  std::string pin;       // the PIN the phone holds
  bool refused = false;  // the SIM has refused it
};

// The PIN command, as the dialogue sends it.
bool PinWrite(const std::string& write) {
  return write.rfind("AT+CPIN=", 0) == 0 && write.back() != '\x1a';
}

// UCS-2 hex of at most `characters`.
bool Hex(const std::string& text, size_t characters) {
  return text.size() % 4 == 0 && text.size() / 4 <= characters &&
         text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

void CheckWrite(const std::string& write, bool ucs2) {
  FUZZ_CHECK(write.size() <= 300);
  if (write.size() > 1 && write.back() == '\x1a') {  // an SMS text and its Ctrl-Z
    std::string text = write.substr(0, write.size() - 1);
    FUZZ_CHECK(text.size() <= kSmsTextLimit || (ucs2 && Hex(text, kUcs2Limit)));
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    FUZZ_CHECK(text.find('\x1a') == std::string::npos);
    FUZZ_CHECK(text.find('\x1b') == std::string::npos);
    return;  // a text may look like a command; it goes out at the prompt all the same
  }
  for (const char* command : {"AT+CMGS=\"", "AT+CSCA=\""}) {
    if (write.rfind(command, 0) != 0) continue;
    std::string rest = write.substr(strlen(command));
    FUZZ_CHECK(rest.size() >= 2 && rest.compare(rest.size() - 2, 2, "\"\r") == 0);
    std::string number = rest.substr(0, rest.size() - 2);
    FUZZ_CHECK(number.size() <= 31 || (ucs2 && command[4] == 'M' && Hex(number, 31)));
    FUZZ_CHECK(number.find_first_of("\"\r\n\x1a\x1b") == std::string::npos);
  }
}

// The commands that read the SMS received: each a listing, or an index as digits alone,
// and a delete only of the index read last. None before the program listens.
struct ReadingCommands {
  bool listening = false;
  std::string lastRead;  // the digits of the last AT+CMGR

  void Check(const std::string& write) {
    if (write.size() > 1 && write.back() == '\x1a') return;  // an SMS text, whatever it reads
    const bool listing = write == kListUnreadCommand || write == kListReadCommand;
    const bool read = write.rfind("AT+CMGR=", 0) == 0;
    const bool remove = write.rfind("AT+CMGD=", 0) == 0;
    const bool announcing = write == "AT+CNMI=2,1\r";
    if (!listing && !read && !remove && !announcing) return;
    FUZZ_CHECK(listening);
    if (!read && !remove) return;
    std::string digits = write.substr(8, write.size() - 9);
    FUZZ_CHECK(write.back() == '\r' && !digits.empty() && digits.size() <= 5);
    FUZZ_CHECK(digits.find_first_not_of("0123456789") == std::string::npos);
    if (remove) FUZZ_CHECK(digits == lastRead);
    lastRead = read ? digits : "";
  }
};

// The texts queued and the numbers each was queued for, as the queue keeps them (cut at 159
// characters, Ctrl-Z and ESC as blanks); and on each port, the number of its last AT+CMGS.
struct Addressed {
  std::map<std::string, std::set<std::string>> queued;
  std::map<const test::FakeSerialPort*, std::string> number;

  void Queued(const std::string& given, const std::string& to) {
    std::string text = given.substr(0, strnlen(given.c_str(), kSmsTextLimit));
    for (char& c : text) c = c == '\x1a' || c == '\x1b' ? ' ' : c;
    queued[text].insert(to.c_str());
  }
  void Check(const test::FakeSerialPort& port, const std::string& write) {
    if (write.rfind("AT+CMGS=\"", 0) == 0 && write.size() >= 11) {
      number[&port] = write.substr(9, write.size() - 11);
    } else if (write.size() > 1 && write.back() == '\x1a') {
      auto found = queued.find(write.substr(0, write.size() - 1));
      FUZZ_CHECK(found != queued.end() && found->second.count(number[&port]) == 1);
    }
  }
};

// The wake-up calls, as the ports show them: each ATD a call the fuzzer started, and the
// commands of the call under way on its port, stamped with the tick they were seen at.
class CallWatch {
 public:
  // A call the program started: its ATD goes now, unless the port is down.
  void Started(const char* number) {
    number_ = number;
    calling_ = dialling_ = true;
    port_ = nullptr;
  }
  void Settled() { dialling_ = false; }
  void Write(const test::FakeSerialPort& port, const std::string& write, uint32_t now) {
    if (write.size() > 1 && write.back() == '\x1a') return;  // a text, whatever it reads
    FUZZ_CHECK(write.rfind("ATA", 0) != 0);
    if (write.rfind("ATD", 0) == 0) {
      FUZZ_CHECK(dialling_);
      dialling_ = false;
      FUZZ_CHECK(write == "ATD" + number_ + ";\r" && IsPhoneNumber(number_.c_str()));
      port_ = &port;
      unsure_ = false;
      polls_ = hangUps_ = chups_ = 0;
      heardAt_ = now;
    }
    if (!calling_ || &port != port_) return;
    wroteAt_ = now;
    if (write == "AT+CLCC\r") {
      FUZZ_CHECK(hangUps_ + chups_ == 0);
      FUZZ_CHECK(++polls_ <= static_cast<int>(kLongestRinging / kCallPollGap));
    }
    if (write == "ATZ\r" || write == "AT+CFUN=1,1\r") FUZZ_CHECK(unsure_ || hangUps_ + chups_ > 0);
    if (write == "ATH\r") FUZZ_CHECK(++hangUps_ == 1);
    if (write == "AT+CHUP\r") FUZZ_CHECK(++chups_ == 1);
  }
  // Before a step: whether the calling port brings bytes to it. The time-out is not
  // followed through a port that fails (the commands do not reach it) nor across ticks past
  // the reach of Kelvor's wrap-safe sums since the last step (no loop is that slow).
  void BeforeStep(uint32_t now, uint64_t sinceLastStep) {
    quiet_ = port_ == nullptr || port_->Waiting() == 0;
    if (!calling_ || port_ == nullptr) return;
    if (!quiet_) heardAt_ = now;
    bool failing = !port_->openResult || !port_->readResult || !port_->writeResult;
    if (failing || sinceLastStep >= (1ull << 31)) unsure_ = true;
  }
  void AfterStep(const SmsModem& modem, uint32_t now) {
    Ended(modem);
    if (!calling_ || port_ == nullptr || !quiet_ || unsure_) return;
    // A deadline passes once a later tick is strictly beyond it, the time-out's too.
    bool overdue = now - heardAt_ >= kLongestRinging + kCallPollGap + kAnswerTimeout &&
                   now - wroteAt_ > kAnswerTimeout;
    FUZZ_CHECK(!overdue);
  }
  void Ended(const SmsModem& modem) {
    if (!calling_ || modem.Calling()) return;
    calling_ = false;
    ended_ = number_;
    endUntaken_ = true;
  }
  // The end of the call that ended, told once, with its number.
  void Take(const CallOutcome& outcome) {
    FUZZ_CHECK(endUntaken_ && outcome.end != CallEnd::kNone);
    FUZZ_CHECK(fuzz::Terminated(outcome.number, kNumberSize) && ended_ == outcome.number);
    endUntaken_ = false;
  }

 private:
  std::string number_;
  bool calling_ = false;   // by the modem, since the call started
  bool dialling_ = false;  // started, its ATD not seen yet
  std::string ended_;      // the number of the call that ended last
  bool endUntaken_ = false;
  const test::FakeSerialPort* port_ = nullptr;  // where its ATD went
  bool quiet_ = true;
  bool unsure_ = false;
  int polls_ = 0;
  int hangUps_ = 0;
  int chups_ = 0;
  uint32_t heardAt_ = 0;  // the calling port's last bytes, or the ATD
  uint32_t wroteAt_ = 0;  // its last command
};

// A call's line of any fields: +CLCC of any id, direction and state, or RING and +CLIP of any
// number and name, with or without the final OK.
std::string CallLine(fuzz::Input& input) {
  uint8_t kind = input.Byte();
  std::string number = input.Text(24);
  if (kind % 2 == 0) {
    return "\r\nRING\r\n\r\n+CLIP: \"" + number + "\",145,\"\",,\"" + input.Text(40) + "\",0\r\n";
  }
  std::string line = "\r\n+CLCC: " + std::to_string(input.Byte() % 4) + "," +
                     std::to_string(input.Byte() % 3) + "," + std::to_string(input.Byte() % 9) +
                     ",0,0,\"" + number + "\",145\r\n";
  return kind % 4 == 1 ? line + "\r\nOK\r\n" : line;
}

// What a phone answers to a command when all is well, ready for SMS and calls.
const char* Compliant(const std::string& write) {
  static const struct {
    const char* command;
    const char* answer;
  } kAnswersTo[] = {
      {"AT+CPIN?", "\r\n+CPIN: READY\r\n\r\nOK\r\n"},
      {"AT+CSCS=?", "\r\n+CSCS: (\"GSM\",\"UCS2\")\r\n\r\nOK\r\n"},
      {"AT+CSCA?", "\r\n+CSCA: \"+99912345\",145\r\n\r\nOK\r\n"},
      {"AT+CSQ", "\r\n+CSQ: 15,99\r\n\r\nOK\r\n"},
      {"AT+CREG?", "\r\n+CREG: 0,1\r\n\r\nOK\r\n"},
      {"AT+CMGS=", "\r\n> "},
      {"AT+CLCC", "\r\n+CLCC: 1,0,3,0,0,\"+4917100001\",145\r\n\r\nOK\r\n"},
  };
  if (write.size() > 1 && write.back() == '\x1a') return "\r\n+CMGS: 5\r\n\r\nOK\r\n";
  for (const auto& answer : kAnswersTo) {
    if (write.rfind(answer.command, 0) == 0) return answer.answer;
  }
  return "\r\nOK\r\n";
}

void CheckIncoming(const IncomingSms& message) {
  FUZZ_CHECK(fuzz::Terminated(message.sender, kNumberSize));
  FUZZ_CHECK(fuzz::Terminated(message.text, kIncomingTextSize));
  for (const char* field : {message.sender, message.text}) {
    for (const char* c = field; *c != '\0'; ++c) {
      FUZZ_CHECK(static_cast<unsigned char>(*c) >= 32 && *c != 127);
    }
  }
  FUZZ_CHECK(message.status == SmsStatus::kUnread || message.status == SmsStatus::kRead);
}

void CheckModem(const SmsModem& modem) {
  FUZZ_CHECK(modem.QueuedCount() >= 0 && modem.QueuedCount() <= kQueueCapacity);
  for (int i = 0; i < modem.QueuedCount(); ++i) {
    FUZZ_CHECK(modem.Queued(i).attempts >= 0 && modem.Queued(i).attempts <= kMaxAttempts);
  }
  FUZZ_CHECK(modem.SignalStrength() >= 0 && modem.SignalStrength() <= 100);
}

void CheckWrites(const test::FakeSerialPort& port, const PinConsole& console, size_t* checked,
                 bool* pinRefused, ReadingCommands& reading, bool* ucs2, Addressed* addressed,
                 CallWatch& calls, uint32_t now) {
  static const bool trace = getenv("KELVOR_FUZZ_TRACE") != nullptr;  // to follow a crash
  for (; *checked < port.writes.size(); ++*checked) {
    const std::string& write = port.writes[*checked];
    if (trace) fprintf(stderr, "TX %s\n", write.c_str());
    if (write == "ATZ\r" || write.rfind("AT+CSCS=\"", 0) == 0) {
      *ucs2 = write == "AT+CSCS=\"UCS2\"\r";
    }
    CheckWrite(write, *ucs2);
    reading.Check(write);
    if (addressed != nullptr) addressed->Check(port, write);
    calls.Write(port, write, now);
    if (!PinWrite(write)) continue;
    FUZZ_CHECK(!*pinRefused && !console.pin.empty());
    FUZZ_CHECK(write == "AT+CPIN=\"" + console.pin + "\"\r");
  }
  *pinRefused = console.refused;
}

// `text` went out at a prompt of `port`, ended by Ctrl-Z.
bool Written(const test::FakeSerialPort& port, const char* text) {
  std::string written = std::string(text) + '\x1a';
  return std::find(port.writes.begin(), port.writes.end(), written) != port.writes.end();
}

// The input's bytes, then "OK" on a line of its own, in reads of 1 to 64 bytes as the input
// gives them: no line before it, however long or cut, loses the final result.
void CheckFinalKept(const uint8_t* data, size_t size) {
  fuzz::CheckingConsole console;
  ConsoleLog log(console, nullptr);
  test::VirtualClock clock(0);
  auto owned = std::make_unique<test::FakeSerialPort>();
  test::FakeSerialPort* port = owned.get();
  SerialLink link(std::move(owned), log);
  link.OpenPort("COM5", "9600,N,8,1");
  AtChannel channel(link, log, clock);
  channel.Start();
  std::string bytes = std::string(reinterpret_cast<const char*>(data), size) + "\r\nOK\r\n";
  for (size_t at = 0, i = 0; at < bytes.size(); at += 1 + (i < size ? data[i] : 0) % 64, ++i) {
    port->Arrive(bytes.substr(at, 1 + (i < size ? data[i] : 0) % 64));
  }
  while (port->Waiting() > 0) channel.Receive();
  FUZZ_CHECK(channel.Answer().Ok());
}

// An SMS is lent to one phone at a time: the two never hold the same one, and a phone that
// held an SMS before the step and holds another after it gave the first up, confirmed it or
// returned it during the step (or the queue called it back, which it says as a return).
void CheckLoans(const SmsModem& modem, const ModemEvents& events, uint32_t* borrowed) {
  uint32_t now[kPhoneCount] = {modem.Borrowed(kMainPhone), modem.Borrowed(kStandbyPhone)};
  FUZZ_CHECK(now[kMainPhone] == 0 || now[kMainPhone] != now[kStandbyPhone]);
  for (int phone = 0; phone < kPhoneCount; ++phone) {
    uint32_t before = borrowed[phone];
    bool ended = false;
    for (int i = 0; i < events.Count(); ++i) {
      const ModemEvent& event = events.At(i);
      bool loan = event.kind == ModemEvent::kConfirmed || event.kind == ModemEvent::kGivenUp ||
                  event.kind == ModemEvent::kReturned;
      ended = ended || (loan && event.sms.id == before && event.phone == phone);
    }
    FUZZ_CHECK(before == 0 || now[phone] == before || ended);
    // Held by the other phone now, it was given back by this one first.
    FUZZ_CHECK(before == 0 || before != now[1 - phone] || ended);
    borrowed[phone] = now[phone];
  }
}

// The SMS to one number keep their order: the phones never hold two of them at once, and
// they are confirmed oldest first (ids grow in the order queued).
void CheckOrder(const SmsModem& modem, const ModemEvents& events,
                std::map<std::string, uint32_t>* lastConfirmed) {
  const OutgoingSms* held[kPhoneCount] = {};
  for (int i = 0; i < modem.QueuedCount(); ++i) {
    const OutgoingSms& sms = modem.Queued(i);
    for (uint8_t phone = 0; phone < kPhoneCount; ++phone) {
      if (sms.id != 0 && modem.Borrowed(phone) == sms.id) held[phone] = &sms;
    }
  }
  if (held[kMainPhone] != nullptr && held[kStandbyPhone] != nullptr) {
    FUZZ_CHECK(strcmp(held[kMainPhone]->number, held[kStandbyPhone]->number) != 0);
  }
  for (int i = 0; i < events.Count(); ++i) {
    const ModemEvent& event = events.At(i);
    if (event.kind != ModemEvent::kConfirmed) continue;
    uint32_t& last = (*lastConfirmed)[event.sms.number];
    FUZZ_CHECK(event.sms.id > last);
    last = event.sms.id;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckFinalKept(data, size);
  fuzz::Input input(data, size);
  PinConsole console;
  ConsoleLog log(console, nullptr);
  test::VirtualClock clock(input.U32());  // any start, a few steps before the wrap included
  auto owned = std::make_unique<test::FakeSerialPort>();
  test::FakeSerialPort* port = owned.get();
  size_t checked = 0;
  SmsModem modem("COM5", "9600,N,8,1", std::move(owned), log, clock);
  bool pinRefused = false;  // as the last check found it
  ReadingCommands reading;
  bool ucs2 = false;  // selected since the last reset
  Addressed addressed;
  bool coded = false;                       // a charset was chosen: texts go converted
  test::FakeSerialPort* standby = nullptr;  // once added, with no PIN of its own
  size_t standbyChecked = 0;
  bool standbyUcs2 = false;
  PinConsole noPin;
  ReadingCommands standbyReading;
  CallWatch calls;
  uint64_t sinceLastStep = 0;  // ms the clock moved since the last step
  auto check = [&] {
    CheckModem(modem);
    Addressed* texts = coded ? nullptr : &addressed;
    uint32_t now = clock.TickCount();
    CheckWrites(*port, console, &checked, &pinRefused, reading, &ucs2, texts, calls, now);
    calls.Ended(modem);
    if (standby == nullptr) return;
    bool refused = false;
    CheckWrites(*standby, noPin, &standbyChecked, &refused, standbyReading, &standbyUcs2, texts,
                calls, now);
  };

  ModemEvents events;
  std::set<uint32_t> confirmedIds;
  uint32_t borrowed[kPhoneCount] = {};            // the SMS each phone held after the last step
  std::map<std::string, uint32_t> lastConfirmed;  // the last SMS confirmed to each number
  auto step = [&] {
    calls.BeforeStep(clock.TickCount(), sinceLastStep);
    sinceLastStep = 0;
    modem.PollModem();
    check();
    calls.AfterStep(modem, clock.TickCount());
    // The program takes what the step told after every step, as the main loop does.
    modem.TakeEvents(&events);
    CheckLoans(modem, events, borrowed);
    CheckOrder(modem, events, &lastConfirmed);
    for (int i = 0; i < events.Count(); ++i) {
      const ModemEvent& event = events.At(i);
      if (event.kind == ModemEvent::kIncoming) CheckIncoming(event.incoming);
      if (event.kind == ModemEvent::kConfirmed) {
        // Confirmed once, whichever phone sent it, and as a text that went to a phone.
        FUZZ_CHECK(event.sms.id != 0 && confirmedIds.insert(event.sms.id).second);
        bool sent = Written(*port, event.sms.text) ||
                    (standby != nullptr && Written(*standby, event.sms.text));
        FUZZ_CHECK(coded || sent);
      }
      if (event.kind == ModemEvent::kCallEnded) calls.Take(event.call);
    }
  };
  size_t answered = 0;  // the main port's writes the compliant phone has seen
  size_t standbyAnswered = 0;

  int steps = 0;
  while (!input.Empty() && steps < 2000) {
    switch (input.Byte() % 16) {
      case 0:  // raw bytes, up to a whole read and beyond
        port->Arrive(input.Bytes(input.Byte() * 3u));
        break;
      case 1:
        port->Arrive(kAnswers[input.Byte() % kAnswerCount]);
        break;
      case 2:
        port->Answer(kAnswers[input.Byte() % kAnswerCount]);
        break;
      case 3: {
        uint32_t step = input.Byte() * 250u;
        clock.Advance(step);
        sinceLastStep += step;
        break;
      }
      case 4: {
        uint32_t step = input.U32();
        clock.Advance(step);
        sinceLastStep += step;
        break;
      }
      case 5: {
        std::string text = input.Text(255);
        std::string number = input.Text(40);
        if (modem.QueueMessage(text.c_str(), number.c_str())) addressed.Queued(text, number);
        break;
      }
      case 6:
        modem.SetServiceNumber(input.Text(60).c_str());
        break;
      case 7:  // the port failing and coming back, which the resets reopen
        if (input.Byte() % 2 == 0) {
          port->writeResult = !port->writeResult;
        } else {
          port->readResult = port->openResult = !port->openResult;
        }
        break;
      case 8: {  // a PIN, or none: taken only when it is 4 to 8 digits
        std::string pin = input.Text(10);
        console.pin = modem.SetPin(pin.c_str()) ? pin.c_str() : "";  // to a NUL
        break;
      }
      case 9:  // the program listens for replies from now on
        modem.ListenForReplies();
        reading.listening = standbyReading.listening = true;
        break;
      case 10: {  // texts of code page 1252 go as a charset asks
        static CodePageTable table;
        static const bool read = ReadCodePage(1252, &table);
        FUZZ_CHECK(read);
        Charset charset = static_cast<Charset>(input.Byte() % 4);
        coded = coded || charset != Charset::kAsGiven;
        modem.SetCoding(charset, table);
        break;
      }
      case 11:  // a standby phone, then answers on its port
        if (standby == nullptr) {
          auto second = std::make_unique<test::FakeSerialPort>();
          standby = second.get();
          modem.AddStandby("COM6", nullptr, std::move(second), nullptr);
          if (input.Byte() % 2 == 0) modem.ShareLoad();
        } else if (input.Byte() % 2 == 0) {
          standby->Arrive(kAnswers[input.Byte() % kAnswerCount]);
        } else {
          standby->Answer(kAnswers[input.Byte() % kAnswerCount]);
        }
        break;
      case 12: {  // a wake-up call, when the program would ask for one or at any time
        std::string number = input.Byte() % 4 == 0 ? input.Text(40) : "+4917100001";
        bool calling = modem.Calling();
        int queued = modem.QueuedCount();
        if (modem.StartCall(number.c_str())) {
          FUZZ_CHECK(!calling && (queued == 0 || modem.Shares()));
          calls.Started(number.c_str());  // to a NUL
        }
        check();
        calls.Settled();
        break;
      }
      case 13:
        if (input.Byte() % 2 == 0) {  // a call's lines of any fields, on either port
          test::FakeSerialPort* to = standby != nullptr && input.Byte() % 2 ? standby : port;
          std::string line = CallLine(input);
          if (input.Byte() % 2 == 0) {
            to->Arrive(line);
          } else {
            to->Answer(line);
          }
          break;
        }
        // Phones that answer each command as asked, for a few steps at a pace of up to 5 s:
        // the dialogue reaches Ready, SMS go (by both, when they share) and calls ring their
        // time without the input spelling every answer out.
        for (int i = input.Byte() % 32 + 1, pace = input.Byte() * 20; i > 0; --i, ++steps) {
          if (answered < port->writes.size()) port->Answer(Compliant(port->writes.back()));
          answered = port->writes.size();
          if (standby != nullptr && standbyAnswered < standby->writes.size()) {
            standby->Answer(Compliant(standby->writes.back()));
          }
          if (standby != nullptr) standbyAnswered = standby->writes.size();
          clock.Advance(pace);
          sinceLastStep += pace;
          step();
        }
        break;
      default:
        for (int i = input.Byte() % 4 + 1; i > 0; --i, ++steps) {
          step();
          input.Byte();  // once when the program took what the step told, which it now always does
        }
        break;
    }
    check();
  }
  return 0;
}
