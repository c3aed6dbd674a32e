// The simulated phone: AT commands of SMS text mode and of voice calls in, answers out. No
// I/O and no clock: the program around it owns the pseudo-terminal and the timing, and steers
// what a real phone gets from outside (power, the network, the SIM's start-up, incoming SMS,
// what becomes of a call, incoming calls).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "status_reports.h"

namespace kelvor::sim {

struct PhoneOptions {
  std::string serviceCentre = "+99912345";  // empty: not known, AT+CSCA? is refused
  int rssi = 15;
  int ber = 99;
  std::set<int> failingSends;  // numbers (from 1) of the SMS texts refused
  int failCode = 500;          // the +CMS ERROR number of a refused text
  bool strayPrompt = false;    // starts waiting for the text of an SMS nobody finishes
  std::string pin;             // the SIM's PIN; empty: the SIM asks for none
  bool simBusy = false;        // the SIM is busy after power-on and after its PIN
  int network = 1;             // registration state at start (+CREG <stat>)
  int networkError = 331;      // the +CMS ERROR number of a text sent off the network
  int firstReference = 1;      // the message reference (+CMGS: <mr>) of the first text, 0 to 255
  int storeSize = 20;          // SMS the SIM holds
  // A radio that hangs from the start: every text refused with failCode (kRefuses) or never
  // answered (kQuiet), until AT+CFUN restarts it.
  enum Hang { kWorks, kRefuses, kQuiet };
  Hang radioHang = kWorks;
  // The character sets AT+CSCS=? lists and AT+CSCS= takes; none: both are refused.
  std::vector<std::string> charsets = {"GSM", "IRA", "8859-1", "UCS2"};
  bool noVoice = false;       // no voice service: ATD is refused
  bool refusesAth = false;    // ATH is refused during a call; only AT+CHUP ends it
  bool atdOnConnect = false;  // ATD<number>; is answered OK only once the call is answered
  long cscsDelay = -1;        // ms before the answer to AT+CSCS=<set>; -1: as any command's
  // Texts to these numbers are refused by the network with this cause (+CMS ERROR 1 to 127).
  std::map<std::string, int> failFor;
  // Status reports go as AT+CNMI's <ds> asks (1 pushed, 2 stored), or the phone takes only one
  // of those, or it takes both and never gives a report.
  enum Reports { kReportsAsAsked, kReportsPushed, kReportsStored, kReportsNever };
  Reports reports = kReportsAsAsked;
  bool cnmaNeeded = false;   // AT+CSMS is 1 at power-on: each +CDS wants its AT+CNMA
  int reportStoreSize = 20;  // reports the "SR" storage holds
};

// The voice call dialled with ATD<number>; as AT+CLCC shows it.
struct VoiceCall {
  bool underWay = false;  // dialled and not ended yet
  std::string number;
  bool answered = false;  // by the other side
  bool dialling = false;  // ATD awaits its answer (atdOnConnect)
};

// How the network or the other side ends a call, each with its result code sent unasked.
enum class CallEnd { kBusy, kNoAnswer, kOtherSide };

struct DeliveredSms {
  int reference;
  std::string number;         // as the phone read it, hex decoded under UCS2
  std::string text;           // as the handset shows it, in UTF-8, a line end as LF
  bool reportWanted = false;  // AT+CSMP's first octet asked the network for a status report
};

// An SMS that reaches the phone from the network.
struct IncomingSms {
  std::string sender;
  std::string text;       // any bytes
  std::string timestamp;  // the service centre's time stamp, yy/MM/dd,hh:mm:ss+zz
};

// What the phone sends back, in order; the answer to an SMS text (after its Ctrl-Z) apart,
// since the network takes longer over it than the phone over a command.
struct Answer {
  std::string bytes;
  bool toText = false;
  long delay = -1;  // ms before it goes out; -1: the program's own for its kind
};

class GsmPhone {
 public:
  explicit GsmPhone(const PhoneOptions& options);

  // Takes bytes from the line; returns what the phone sends back, echo included.
  std::string Receive(const char* data, size_t length);
  std::vector<Answer> Answers(const char* data, size_t length);
  // Back to the settings of switching on: echo on, plain ERROR, PDU mode.
  void Reset();

  // Switched off, the phone takes and answers nothing; switched on again it has the
  // settings of ATZ and a SIM that wants its PIN again (the count of wrong tries stays).
  // The outside world. Each returns what the phone then sends unasked (+CREG, +CMTI).
  void PowerOff();
  std::string PowerOn();
  bool IsOn() const { return on_; }
  std::string SetNetwork(int stat);  // registration as +CREG reports it
  std::string EndSimBusy();
  bool SimBusy() const { return simBusy_; }
  std::string Arrive(const IncomingSms& sms);

  // The call dialled, as the outside steers it: the other side answers it (AnswerCall returns
  // the OK that ATD awaited with atdOnConnect, else nothing) or it ends (EndCall returns BUSY,
  // NO ANSWER or NO CARRIER to send unasked); neither does anything without a call.
  const VoiceCall& Call() const { return call_; }
  std::string AnswerCall();
  std::string EndCall(CallEnd end);
  // One ring of an incoming call (RING and +CLIP); it rings until the caller gives up
  // (StopRinging: nothing is sent) or ATA answers it. A phone off or off the network hears none.
  std::string Ring(const std::string& caller);
  void StopRinging() { ringing_ = false; }
  bool Ringing() const { return ringing_; }

  // A status report on an SMS that asked for one, given as AT+CNMI's <ds> says (the network
  // holds it while the phone is away); returns what the phone sends unasked.
  std::string Report(const StatusReport& report);
  // Each +CDS given counts; under AT+CSMS=1 it wants an AT+CNMA, and AcknowledgementMissed(n)
  // is the network's time for the n-th running out: unacknowledged, it turns routing off.
  int ReportsPushed() const { return reports_.pushed; }
  void AcknowledgementMissed(int pushed);

  std::function<void(const DeliveredSms&)> onDelivered;
  std::function<void(const std::string&)> onDialled;  // the number of each call dialled
  std::function<void(const std::string&)> onEvent;    // an event line for the tests
  std::function<void(const std::string&)> onTrace;    // one line per command, for debugging

 private:
  struct StoredSms {
    bool read = false;
    std::string sender;
    std::string timestamp;
    std::string text;
  };

  std::string Command(const std::string& line);
  bool SlowToAnswer(const std::string& line) const;
  std::string PinCommand(const std::string& upper, const std::string& command);
  std::string RegistrationCommand(const std::string& upper);
  std::string RadioCommand(const std::string& upper);
  std::string CharsetCommand(const std::string& upper, const std::string& command);
  std::string CallCommand(const std::string& upper, const std::string& command);
  std::string Dial(const std::string& dialString);
  std::string HangUp(bool chup);
  std::string CallList() const;
  void Hung(const char* by);
  void DropCalls(const char* by);
  std::string ForTerminal(const std::string& text) const;
  std::string SimRefusal(const std::string& upper) const;
  std::string SmsCommand(const std::string& upper, const std::string& command);
  std::string StoreCommand(const std::string& upper);
  std::string List(const std::string& arguments);
  std::string Read(const std::string& arguments);
  std::string DeleteArguments(const std::string& arguments, int size, int* index, int* flag) const;
  std::string Delete(const std::string& arguments);
  std::string NewMessageIndication(const std::string& arguments);
  std::string Storage(const std::string& arguments);
  void ResetReports();
  bool ForReports(const std::string& upper) const;
  std::string ReportCommand(const std::string& upper);
  std::string IndicationsOffered() const;
  bool Routes(int ds) const;
  std::string SettleReports();
  std::string RouteReport(const StatusReport& report);
  std::string StoreReport(const StatusReport& report);
  std::string ReportFields(const StatusReport& report) const;
  std::string ReportsUsed() const;
  std::string ListReports(const std::string& arguments);
  std::string ReadReport(const std::string& arguments);
  std::string DeleteReports(const std::string& arguments);
  std::string MarkReportRead(int index, ReportState::Stored* stored);
  std::string Acknowledge(const std::string& upper);
  std::string MessageService(const std::string& upper);
  std::string EndText(char end);
  std::string Store(const IncomingSms& sms);
  std::string Settle();
  std::string Unasked(const std::string& bytes);
  int Registration() const;
  bool Registered() const;
  bool Locked() const { return !options_.pin.empty() && !unlocked_; }
  std::string MarkRead(int index, StoredSms* sms);
  std::string Ok() const { return "\r\nOK\r\n"; }
  std::string Error() const { return "\r\nERROR\r\n"; }
  std::string SmsError(int code) const;
  std::string PhoneError(int code) const;
  void Trace(const std::string& line) {
    if (onTrace) onTrace(line);
  }
  void Event(const std::string& line) {
    if (onEvent) onEvent(line);
  }

  PhoneOptions options_;
  bool on_ = true;
  bool echo_ = true;
  int errorMode_ = 0;  // AT+CMEE
  int textMode_ = 0;   // AT+CMGF
  int cregMode_ = 0;   // AT+CREG=n: 0 quiet, 1 and 2 a +CREG line when registration changes
  int cnmiMode_ = 0;   // AT+CNMI=<mode>,<mt>: +CMTI for each new SMS when both are non-zero
  int cnmiMt_ = 0;
  std::string charset_ = "GSM";  // AT+CSCS: the set of texts and numbers on the line
  int fo_ = 17;                  // AT+CSMP's first octet: 0x20 asks for a status report
  int vp_ = 167;                 // its validity period
  int pid_ = 0;                  // its protocol identifier
  int dcs_ = 0;                  // AT+CSMP's data coding: 0 7-bit, 8 UCS-2
  std::string line_;
  bool inText_ = false;
  bool strayText_ = false;
  std::string number_;
  std::string text_;
  std::string held_;  // unasked lines kept back while the phone takes an SMS text
  int sendings_ = 0;
  int reference_ = 1;  // the next text's; one octet on the air, so it wraps from 255 to 0
  bool unlocked_ = false;
  int wrongPins_ = 0;  // kept across ATZ and power cycles, as the SIM keeps it
  bool blocked_ = false;
  bool simBusy_ = false;
  int network_ = 1;
  PhoneOptions::Hang hang_ = PhoneOptions::kWorks;
  bool radioOff_ = false;            // AT+CFUN=0
  int announced_ = 1;                // the registration state last reported
  std::map<int, StoredSms> store_;   // by index, 1 to storeSize
  std::deque<IncomingSms> waiting_;  // SMS the network holds while the phone is away
  VoiceCall call_;
  bool ringing_ = false;  // an incoming call rings
  std::string caller_;
  ReportState reports_;
};

// An SMS text as the phone took it on the line, in the character set `charset` and data
// coding `dcs`, as a handset shows it (UTF-8); false when it is no text of that set (hex
// that is not) or does not fit one SMS (160 septets, 70 UCS-2 characters).
bool HandsetText(const std::string& line, const std::string& charset, int dcs, std::string* shown);
// Four hex digits a character: UCS-2 text as a phone gives it under AT+CSCS="UCS2", and back.
std::string Ucs2Hex(const std::u32string& text);
bool FromUcs2Hex(const std::string& hex, std::u32string* text);

// Pieces of the commands' arguments and answers.
bool StartsWith(const std::string& text, const char* prefix);
// Decimal fields separated by commas, an empty one -1; false on anything else.
bool Fields(const std::string& text, std::vector<int>* fields);
// The index of AT+CMGR=<index>, or 0.
int Index(const std::string& arguments);
// The type of a number in +CLCC, +CLIP and +CDS: 145 international, 129 any other.
const char* NumberType(const std::string& number);
// The status AT+CMGL[=<stat>] lists ("REC UNREAD" without one); false when it is none.
bool ListedStatus(const std::string& arguments, std::string* wanted);
// The quoted number of AT+CMGS="..." or AT+CSCA="...", with an optional ",type" after it.
bool QuotedArgument(const std::string& arguments, std::string* value);

// A text on one line: backslash, control bytes and bytes above 126 written as escapes.
std::string Escaped(const std::string& text);
// The same with blanks escaped too (\x20), for a number or sender in an event line.
std::string EscapedWord(const std::string& text);
// The text an Escaped one stands for; false on a bad escape.
bool Unescaped(const std::string& text, std::string* out);

}  // namespace kelvor::sim
