#include "gsm_phone.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

namespace kelvor::sim {
namespace {

constexpr char kCtrlZ = 26;
constexpr char kEscape = 27;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

bool Fields(const std::string& text, std::vector<int>* fields) {
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    std::string field = text.substr(start, comma == std::string::npos ? comma : comma - start);
    if (field.size() > 6 || field.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    fields->push_back(field.empty() ? -1 : std::stoi(field));
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

int Index(const std::string& arguments) {
  std::vector<int> fields;
  if (arguments.empty() || arguments[0] != '=' || !Fields(arguments.substr(1), &fields) ||
      fields.size() != 1) {
    return 0;
  }
  return std::max(fields[0], 0);
}

const char* NumberType(const std::string& number) {
  return !number.empty() && number[0] == '+' ? "145" : "129";
}

namespace {

// Where a registered phone is, for AT+CREG=2.
const char kLocation[] = ",\"00A1\",\"1B2C\"";

// The GSM 7-bit default alphabet as a handset shows it: code 0x00 to 0x1F, then the codes
// above that are not ASCII's own; 0x1B escapes to the extension table.
const char32_t kGsmLow[32] = {0x40,  0xA3,  0x24,  0xA5,  0xE8,  0xE9,  0xF9,  0xEC,
                              0xF2,  0xC7,  0x0A,  0xD8,  0xF8,  0x0D,  0xC5,  0xE5,
                              0x394, 0x5F,  0x3A6, 0x393, 0x39B, 0x3A9, 0x3A0, 0x3A8,
                              0x3A3, 0x398, 0x39E, 0x1B,  0xC6,  0xE6,  0xDF,  0xC9};
// Pairs of a code and its character; plain arrays, so that the soak's heap count holds the
// phone's SMS alone.
struct Code {
  unsigned code;
  char32_t character;
};
constexpr Code kGsmHigh[] = {{0x24, 0xA4}, {0x40, 0xA1}, {0x5B, 0xC4}, {0x5C, 0xD6}, {0x5D, 0xD1},
                             {0x5E, 0xDC}, {0x5F, 0xA7}, {0x60, 0xBF}, {0x7B, 0xE4}, {0x7C, 0xF6},
                             {0x7D, 0xF1}, {0x7E, 0xFC}, {0x7F, 0xE0}};
constexpr Code kGsmExtension[] = {{0x0A, 0x0C}, {0x14, '^'},   {0x28, '{'}, {0x29, '}'},
                                  {0x2F, '\\'}, {0x3C, '['},   {0x3D, '~'}, {0x3E, ']'},
                                  {0x40, '|'},  {0x65, 0x20AC}};

char32_t GsmCharacter(unsigned code) {
  if (code < 32) return kGsmLow[code];
  for (const Code& high : kGsmHigh) {
    if (high.code == code) return high.character;
  }
  return code;
}

// The extension table's character of `code`, or 0.
char32_t GsmExtension(unsigned code) {
  for (const Code& extension : kGsmExtension) {
    if (extension.code == code) return extension.character;
  }
  return 0;
}

// Septets a character takes in the alphabet: 1, 2 in the extension table, 0 in neither.
int Septets(char32_t character) {
  for (unsigned code = 0; code < 128; ++code) {
    if (code != 0x1B && GsmCharacter(code) == character) return 1;
  }
  for (const Code& extension : kGsmExtension) {
    if (extension.character == character) return 2;
  }
  return 0;
}

std::string Utf8(const std::u32string& text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The characters a 7-bit text stands for in `charset`; what the alphabet lacks becomes '?',
// as the phone's conversion would make it.
std::u32string SevenBit(const std::string& line, const std::string& charset, bool* valid) {
  std::u32string text;
  if (charset == "UCS2") {
    *valid = FromUcs2Hex(line, &text);
    for (char32_t& c : text) c = Septets(c) > 0 ? c : U'?';
    return text;
  }
  *valid = true;
  for (size_t i = 0; i < line.size(); ++i) {
    unsigned byte = static_cast<unsigned char>(line[i]);
    if (charset != "GSM") {
      bool known = byte < 0x80 || charset == "8859-1";
      text += known && Septets(byte) > 0 ? byte : U'?';
    } else if (byte == 0x1B && i + 1 < line.size() &&
               GsmExtension(static_cast<unsigned char>(line[i + 1])) != 0) {
      text += GsmExtension(static_cast<unsigned char>(line[++i]));
    } else {
      text += byte < 0x80 && byte != 0x1B ? GsmCharacter(byte) : U'?';
    }
  }
  return text;
}

}  // namespace

std::string Ucs2Hex(const std::u32string& text) {
  std::string out;
  for (char32_t c : text) {
    char hex[8];
    snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(c & 0xFFFF));
    out += hex;
  }
  return out;
}

bool FromUcs2Hex(const std::string& hex, std::u32string* text) {
  text->clear();
  if (hex.size() % 4 != 0 || hex.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
    return false;
  }
  for (size_t at = 0; at < hex.size(); at += 4) {
    *text += static_cast<char32_t>(std::stoul(hex.substr(at, 4), nullptr, 16));
  }
  return true;
}

bool HandsetText(const std::string& line, const std::string& charset, int dcs, std::string* shown) {
  std::u32string text;
  bool valid = true;
  size_t length = 0;
  if (dcs == 8) {
    valid = FromUcs2Hex(line, &text);
    length = text.size();
  } else {
    text = SevenBit(line, charset, &valid);
    for (char32_t c : text) length += static_cast<size_t>(std::max(Septets(c), 1));
  }
  if (!valid || length > (dcs == 8 ? 70u : 160u)) return false;
  std::u32string lines;  // a line end as LF, whichever the text carried
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == U'\r' && i + 1 < text.size() && text[i + 1] == U'\n') continue;
    lines += text[i] == U'\r' ? U'\n' : text[i];
  }
  *shown = Utf8(lines);
  return true;
}

bool QuotedArgument(const std::string& arguments, std::string* value) {
  if (arguments.size() < 2 || arguments[0] != '"') return false;
  size_t close = arguments.find('"', 1);
  if (close == std::string::npos) return false;
  std::string rest = arguments.substr(close + 1);
  if (!rest.empty() && rest[0] != ',') return false;
  *value = arguments.substr(1, close - 1);
  return true;
}

bool Unescaped(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
      continue;
    }
    char kind = ++i < text.size() ? text[i] : '\0';
    if (kind == '\\') {
      *out += '\\';
    } else if (kind == 'n') {
      *out += '\n';
    } else if (kind == 'r') {
      *out += '\r';
    } else if (kind == 'x' && i + 2 < text.size() &&
               isxdigit(static_cast<unsigned char>(text[i + 1])) &&
               isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      *out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 32 || c > 126) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string EscapedWord(const std::string& text) {
  std::string out;
  for (char c : Escaped(text)) out += c == ' ' ? std::string("\\x20") : std::string(1, c);
  return out;
}

GsmPhone::GsmPhone(const PhoneOptions& options) : options_(options) {
  if (options_.strayPrompt) {
    inText_ = true;
    strayText_ = true;
  }
  simBusy_ = options_.simBusy;
  network_ = options_.network;
  hang_ = options_.radioHang;
  announced_ = Registration();
  reference_ = options_.firstReference & 0xFF;
  ResetReports();
}

void GsmPhone::Reset() {
  echo_ = true;
  errorMode_ = 0;
  textMode_ = 0;
  cregMode_ = 0;
  cnmiMode_ = 0;
  cnmiMt_ = 0;
  charset_ = "GSM";
  fo_ = 17;
  vp_ = 167;
  pid_ = 0;
  dcs_ = 0;
  ResetReports();
  line_.clear();
  inText_ = false;
  strayText_ = false;
  held_.clear();
}

void GsmPhone::PowerOff() {
  DropCalls("power-off");
  on_ = false;
  simBusy_ = false;
  Reset();
}

std::string GsmPhone::PowerOn() {
  on_ = true;
  Reset();
  unlocked_ = false;
  if (options_.simBusy) {
    simBusy_ = true;
    Event("SIM busy");
  }
  announced_ = Registration();
  return Settle();
}

std::string GsmPhone::SetNetwork(int stat) {
  network_ = stat;
  Event("NETWORK " + std::to_string(stat));
  return Settle();
}

std::string GsmPhone::EndSimBusy() {
  if (!simBusy_) return "";
  simBusy_ = false;
  Event("SIM ready");
  return Settle();
}

std::string GsmPhone::Arrive(const IncomingSms& sms) {
  if (on_ && Registered()) return Store(sms);
  waiting_.push_back(sms);
  Event("SMS in waiting for the phone from=" + EscapedWord(sms.sender) +
        " text=" + Escaped(sms.text));
  return "";
}

// A locked SIM keeps the phone off the network; while the SIM is busy it is still looking.
int GsmPhone::Registration() const {
  if (Locked() || radioOff_) return 0;
  if (simBusy_) return 2;
  return network_;
}

bool GsmPhone::Registered() const {
  int stat = Registration();
  return stat == 1 || stat == 5;
}

// Says a change of registration when asked to, and takes the SMS the network held once
// the phone is back on it.
std::string GsmPhone::Settle() {
  if (!on_) return "";
  std::string out;
  int stat = Registration();
  if (stat != announced_) {
    announced_ = stat;
    std::string location = cregMode_ == 2 && Registered() ? kLocation : "";
    if (cregMode_ > 0) out += Unasked("\r\n+CREG: " + std::to_string(stat) + location + "\r\n");
  }
  if (!Registered()) {  // no call outlives the network
    ringing_ = false;
    if (call_.underWay) {
      Hung("network");
      out += Unasked("\r\nNO CARRIER\r\n");
    }
  }
  while (Registered() && !waiting_.empty()) {
    out += Store(waiting_.front());
    waiting_.pop_front();
  }
  return out + SettleReports();
}

// Lines the phone sends unasked wait while it takes the text of an SMS.
std::string GsmPhone::Unasked(const std::string& bytes) {
  if (!inText_) return bytes;
  held_ += bytes;
  return "";
}

std::string GsmPhone::Store(const IncomingSms& sms) {
  std::string about = " from=" + EscapedWord(sms.sender) + " text=" + Escaped(sms.text);
  int index = 1;
  while (index <= options_.storeSize && store_.count(index) != 0) ++index;
  if (index > options_.storeSize) {
    Event("SMS in lost, SIM full" + about);
    return "";
  }
  store_[index] = {false, sms.sender, sms.timestamp, sms.text};
  Event("SMS in index=" + std::to_string(index) + about);
  if (cnmiMode_ == 0 || cnmiMt_ == 0) return "";
  return Unasked("\r\n+CMTI: \"SM\"," + std::to_string(index) + "\r\n");
}

std::string GsmPhone::SmsError(int code) const {
  return errorMode_ == 0 ? Error() : "\r\n+CMS ERROR: " + std::to_string(code) + "\r\n";
}

std::string GsmPhone::PhoneError(int code) const {
  return errorMode_ == 0 ? Error() : "\r\n+CME ERROR: " + std::to_string(code) + "\r\n";
}

std::string GsmPhone::Receive(const char* data, size_t length) {
  std::string out;
  for (const Answer& answer : Answers(data, length)) out += answer.bytes;
  return out;
}

std::vector<Answer> GsmPhone::Answers(const char* data, size_t length) {
  if (!on_) return {};
  std::vector<Answer> answers(1);
  for (size_t i = 0; i < length; ++i) {
    char c = data[i];
    if (inText_) {
      if (c == kCtrlZ || c == kEscape) {
        bool sent = c == kCtrlZ && !strayText_;
        std::string answer = EndText(c) + held_;
        held_.clear();
        if (sent) {
          answers.push_back({answer, true});
          answers.push_back({});
        } else {
          answers.back().bytes += answer;
        }
      } else if (c == '\r') {
        text_ += '\n';
        answers.back().bytes += "\r\n> ";
      } else if (c == '\n') {
        if (text_.empty() || text_.back() != '\n') text_ += '\n';
      } else {
        text_ += c;
        if (echo_) answers.back().bytes += c;
      }
      continue;
    }
    if (echo_ && c != kCtrlZ) answers.back().bytes += c;
    if (c == '\r') {
      std::string line = line_;
      line_.clear();
      if (!SlowToAnswer(line)) {
        answers.back().bytes += Command(line);
        continue;
      }
      answers.push_back({Command(line), false, options_.cscsDelay});
      answers.push_back({});
    } else if (c != '\n' && c != kCtrlZ && line_.size() < 1024) {
      line_ += c;
    }
  }
  answers.back().bytes += Settle();
  answers.erase(std::remove_if(answers.begin(), answers.end(),
                               [](const Answer& answer) { return answer.bytes.empty(); }),
                answers.end());
  return answers;
}

// AT+CSCS=<set> with --cscs-delay; the query of the sets offered is answered as usual.
bool GsmPhone::SlowToAnswer(const std::string& line) const {
  std::string upper = Upper(line);
  size_t start = upper.find("AT");
  if (options_.cscsDelay < 0 || start == std::string::npos) return false;
  upper.erase(0, start);
  return StartsWith(upper, "AT+CSCS=") && upper != "AT+CSCS=?";
}

std::string GsmPhone::Command(const std::string& line) {
  size_t start = Upper(line).find("AT");
  if (start == std::string::npos) return "";
  std::string command = line.substr(start);
  std::string upper = Upper(command);
  Trace("command " + Escaped(command));
  if (upper == "AT") return Ok();
  if (upper == "ATZ" || upper == "ATZ0") {
    Reset();
    return Ok();
  }
  if (upper == "ATE0" || upper == "ATE") {
    echo_ = false;
    return Ok();
  }
  if (upper == "ATE1") {
    echo_ = true;
    return Ok();
  }
  if (upper == "ATI") return "\r\nKelvor GSM modem simulator\r\n\r\nOK\r\n";
  if (upper == "AT+CMEE=0" || upper == "AT+CMEE=1" || upper == "AT+CMEE=2") {
    errorMode_ = upper.back() - '0';
    return Ok();
  }
  if (upper == "AT+CSQ") {
    return "\r\n+CSQ: " + std::to_string(options_.rssi) + "," + std::to_string(options_.ber) +
           "\r\n" + Ok();
  }
  if (StartsWith(upper, "AT+CPIN")) return PinCommand(upper, command);
  if (StartsWith(upper, "AT+CREG")) return RegistrationCommand(upper);
  if (StartsWith(upper, "AT+CFUN")) return RadioCommand(upper);
  if (StartsWith(upper, "AT+CSCS") || StartsWith(upper, "AT+CSMP")) {
    return CharsetCommand(upper, command);
  }
  if (StartsWith(upper, "ATD") || StartsWith(upper, "ATH") || upper == "ATA" ||
      upper == "AT+CHUP" || upper == "AT+CLCC") {
    return CallCommand(upper, command);
  }
  std::string refusal = SimRefusal(upper);
  if (!refusal.empty()) return refusal;
  return SmsCommand(upper, command);
}

std::string GsmPhone::PinCommand(const std::string& upper, const std::string& command) {
  if (upper == "AT+CPIN?") {
    if (simBusy_) return PhoneError(14);
    std::string state = blocked_ ? "SIM PUK" : Locked() ? "SIM PIN" : "READY";
    return "\r\n+CPIN: " + state + "\r\n" + Ok();
  }
  if (!StartsWith(upper, "AT+CPIN=")) return Error();
  std::string arguments = command.substr(8);
  std::string pin;
  if (!QuotedArgument(arguments, &pin)) pin = arguments.substr(0, arguments.find(','));
  // The events say how a PIN was taken, never the PIN itself.
  if (simBusy_) {
    Event("PIN tried busy");
    return PhoneError(14);
  }
  if (blocked_) {
    Event("PIN tried blocked");
    return PhoneError(12);
  }
  if (!Locked()) {
    Event("PIN tried unneeded");
    return PhoneError(3);  // operation not allowed
  }
  if (pin == options_.pin) {
    Event("PIN tried right");
    unlocked_ = true;
    wrongPins_ = 0;
    if (options_.simBusy) {
      simBusy_ = true;
      Event("SIM busy");
    }
    return Ok();
  }
  Event("PIN tried wrong");
  if (++wrongPins_ >= 3) {
    blocked_ = true;
    Event("SIM blocked, PUK wanted");
  }
  return PhoneError(16);
}

std::string GsmPhone::RegistrationCommand(const std::string& upper) {
  if (upper == "AT+CREG?") {
    int stat = Registration();
    std::string location = cregMode_ == 2 && Registered() ? kLocation : "";
    return "\r\n+CREG: " + std::to_string(cregMode_) + "," + std::to_string(stat) + location +
           "\r\n" + Ok();
  }
  if (upper == "AT+CREG=0" || upper == "AT+CREG=1" || upper == "AT+CREG=2") {
    cregMode_ = upper.back() - '0';
    return Ok();
  }
  return Error();
}

// AT+CFUN=1,1 restarts the phone as a power cycle does (the SIM wants its PIN again);
// AT+CFUN=0 turns the radio off and AT+CFUN=1 on. Either restart ends a hang.
std::string GsmPhone::RadioCommand(const std::string& upper) {
  if (upper == "AT+CFUN?") {
    return "\r\n+CFUN: " + std::string(radioOff_ ? "0" : "1") + "\r\n" + Ok();
  }
  if (upper == "AT+CFUN=0") {
    radioOff_ = true;
    return Ok();
  }
  bool reset = upper == "AT+CFUN=1,1";
  if (!reset && upper != "AT+CFUN=1") return Error();
  Event(reset ? "RADIO restarted" : "RADIO on");
  radioOff_ = false;
  hang_ = PhoneOptions::kWorks;
  if (!reset) return Ok();
  std::string ok = Ok();
  DropCalls("restart");
  Reset();
  unlocked_ = false;
  if (options_.simBusy) {
    simBusy_ = true;
    Event("SIM busy");
  }
  return ok;
}

// AT+CSCS: the sets offered, the one in force, one selected; AT+CSMP: the data coding.
std::string GsmPhone::CharsetCommand(const std::string& upper, const std::string& command) {
  const std::vector<std::string>& offered = options_.charsets;
  if (upper == "AT+CSCS=?" && !offered.empty()) {
    std::string list;
    for (const std::string& name : offered) list += (list.empty() ? "\"" : ",\"") + name + "\"";
    return "\r\n+CSCS: (" + list + ")\r\n" + Ok();
  }
  if (upper == "AT+CSCS?") return "\r\n+CSCS: \"" + charset_ + "\"\r\n" + Ok();
  std::string name;
  if (StartsWith(upper, "AT+CSCS=") && QuotedArgument(command.substr(8), &name) &&
      std::find(offered.begin(), offered.end(), name) != offered.end()) {
    charset_ = name;
    return Ok();
  }
  if (upper == "AT+CSMP?") {
    return "\r\n+CSMP: " + std::to_string(fo_) + "," + std::to_string(vp_) + "," +
           std::to_string(pid_) + "," + std::to_string(dcs_) + "\r\n" + Ok();
  }
  std::vector<int> fields;
  if (StartsWith(upper, "AT+CSMP=") && Fields(upper.substr(8), &fields) && fields.size() == 4 &&
      (fields[3] == 0 || fields[3] == 8) && *std::max_element(fields.begin(), fields.end()) < 256) {
    int* octets[] = {&fo_, &vp_, &pid_};  // an empty field keeps its value
    for (int i = 0; i < 3; ++i) *octets[i] = fields[i] < 0 ? *octets[i] : fields[i];
    dcs_ = fields[3];
    return Ok();
  }
  return PhoneError(4);  // operation not supported
}

std::string GsmPhone::CallCommand(const std::string& upper, const std::string& command) {
  if (StartsWith(upper, "ATD")) return Dial(command.substr(3));
  if (upper == "AT+CLCC") return CallList();
  if (upper == "ATH" || upper == "ATH0" || upper == "AT+CHUP") return HangUp(upper == "AT+CHUP");
  if (upper != "ATA") return Error();
  if (!ringing_) return "\r\nNO CARRIER\r\n";
  ringing_ = false;  // what follows an answered call is not simulated
  Event("CALL in answered");
  return Ok();
}

// ATD<number>; is a voice call, taken with OK at once as many phones do (with atdOnConnect
// only once it is answered); the network then says how it ends. Without the ';' it is a data
// call, which this phone never connects.
std::string GsmPhone::Dial(const std::string& dialString) {
  bool voice = !dialString.empty() && dialString.back() == ';';
  std::string number = voice ? dialString.substr(0, dialString.size() - 1) : dialString;
  if (number.empty()) return Error();
  if (!voice) return "\r\nNO CARRIER\r\n";
  std::string to = " to=" + EscapedWord(number);
  if (options_.noVoice) {
    Event("CALL refused" + to);
    return PhoneError(4);  // operation not supported
  }
  if (call_.underWay) return Error();
  if (!Registered()) {
    Event("CALL refused" + to + ", off the network");
    return Ok() + "\r\nNO CARRIER\r\n";
  }
  call_ = {true, number, false, options_.atdOnConnect};
  Event("CALL dialled" + to);
  if (onDialled) onDialled(number);
  return call_.dialling ? "" : Ok();
}

// ATH and AT+CHUP end Kelvor's call; without one there is nothing to refuse. A call whose ATD
// awaits its answer gets that answer first: NO CARRIER.
std::string GsmPhone::HangUp(bool chup) {
  if (!call_.underWay) return Ok();
  if (!chup && options_.refusesAth) return PhoneError(3);  // operation not allowed
  bool dialling = call_.dialling;
  Hung(chup ? "kelvor-chup" : "kelvor-ath");
  return (dialling ? "\r\nNO CARRIER\r\n" : "") + Ok();
}

// Kelvor's call (1, outgoing: alerting, 3, or active, 0) and an incoming one while it rings
// (2, incoming, 4).
std::string GsmPhone::CallList() const {
  std::string out;
  auto line = [this, &out](const char* head, const std::string& number) {
    out += head + ForTerminal(number) + "\"," + NumberType(number) + "\r\n";
  };
  if (call_.underWay)
    line(call_.answered ? "+CLCC: 1,0,0,0,0,\"" : "+CLCC: 1,0,3,0,0,\"", call_.number);
  if (ringing_) line("+CLCC: 2,1,4,0,0,\"", caller_);
  return (out.empty() ? "" : "\r\n" + out) + Ok();
}

void GsmPhone::Hung(const char* by) {
  Event("CALL ended to=" + EscapedWord(call_.number) + " by=" + by);
  call_ = {};
}

// A phone switched off or restarted loses its calls without a word.
void GsmPhone::DropCalls(const char* by) {
  if (call_.underWay) Hung(by);
  ringing_ = false;
}

std::string GsmPhone::AnswerCall() {
  if (!call_.underWay || call_.answered) return "";
  call_.answered = true;
  Event("CALL answered to=" + EscapedWord(call_.number));
  if (!call_.dialling) return "";
  call_.dialling = false;
  return Unasked(Ok());
}

std::string GsmPhone::EndCall(CallEnd end) {
  static const char* const kBy[] = {"busy", "no-answer", "other-side"};
  static const char* const kCodes[] = {"\r\nBUSY\r\n", "\r\nNO ANSWER\r\n", "\r\nNO CARRIER\r\n"};
  if (!call_.underWay) return "";
  Hung(kBy[static_cast<int>(end)]);
  return Unasked(kCodes[static_cast<int>(end)]);
}

std::string GsmPhone::Ring(const std::string& caller) {
  if (!on_ || !Registered()) return "";
  ringing_ = true;
  caller_ = caller;
  Event("CALL in from=" + EscapedWord(caller));
  return Unasked("\r\nRING\r\n\r\n+CLIP: \"" + ForTerminal(caller) + "\"," + NumberType(caller) +
                 ",\"\",,\"\",0\r\n");
}

// A sender or a text the phone gives the terminal: as hex under UCS2, a byte a character.
std::string GsmPhone::ForTerminal(const std::string& text) const {
  if (charset_ != "UCS2") return text;
  std::u32string characters;
  for (unsigned char c : text) characters += c;
  return Ucs2Hex(characters);
}

// Commands that need the SIM are refused while it is locked or busy.
std::string GsmPhone::SimRefusal(const std::string& upper) const {
  static const char* const kSimCommands[] = {"AT+CMGF", "AT+CSCA", "AT+CMGS", "AT+CMGL",
                                             "AT+CMGR", "AT+CMGD", "AT+CNMI", "AT+CPMS"};
  bool needsSim = std::any_of(std::begin(kSimCommands), std::end(kSimCommands),
                              [&upper](const char* prefix) { return StartsWith(upper, prefix); });
  if (!needsSim) return "";
  bool send = StartsWith(upper, "AT+CMGS");
  if (blocked_) return send ? SmsError(312) : PhoneError(12);
  if (Locked()) return send ? SmsError(311) : PhoneError(11);
  if (simBusy_) return send ? SmsError(314) : PhoneError(14);
  return "";
}

std::string GsmPhone::SmsCommand(const std::string& upper, const std::string& command) {
  if (upper == "AT+CMGF=0" || upper == "AT+CMGF=1") {
    textMode_ = upper.back() - '0';
    return Ok();
  }
  if (upper == "AT+CMGF?") return "\r\n+CMGF: " + std::to_string(textMode_) + "\r\n" + Ok();
  if (upper == "AT+CSCA?") {
    if (options_.serviceCentre.empty()) return SmsError(330);  // SMSC address unknown
    return "\r\n+CSCA: \"" + options_.serviceCentre + "\",145\r\n" + Ok();
  }
  std::string number;
  if (StartsWith(upper, "AT+CSCA=")) {
    if (!QuotedArgument(command.substr(8), &number)) return SmsError(304);
    options_.serviceCentre = number;
    Trace("service centre " + Escaped(number));
    return Ok();
  }
  if (StartsWith(upper, "AT+CMGS=")) {
    if (textMode_ != 1 || !QuotedArgument(command.substr(8), &number) || number.empty()) {
      return SmsError(304);  // invalid PDU mode parameter
    }
    std::u32string hex;
    if (charset_ == "UCS2" && !FromUcs2Hex(number, &hex)) return SmsError(304);
    if (charset_ == "UCS2") number = Utf8(hex);
    number_ = number;
    text_.clear();
    inText_ = true;
    return "\r\n> ";
  }
  return StoreCommand(upper);
}

// The SMS the SIM holds: announced, listed, read and deleted.
std::string GsmPhone::StoreCommand(const std::string& upper) {
  if (ForReports(upper)) return ReportCommand(upper);
  if (StartsWith(upper, "AT+CNMI")) return NewMessageIndication(upper.substr(7));
  if (StartsWith(upper, "AT+CPMS")) return Storage(upper.substr(7));
  if (StartsWith(upper, "AT+CMGD")) return Delete(upper.substr(7));
  bool list = StartsWith(upper, "AT+CMGL");
  if (!list && !StartsWith(upper, "AT+CMGR")) return Error();
  if (textMode_ != 1) return SmsError(302);  // only text mode is simulated
  return list ? List(upper.substr(7)) : Read(upper.substr(7));
}

std::string GsmPhone::NewMessageIndication(const std::string& arguments) {
  if (arguments == "?") {
    return "\r\n+CNMI: " + std::to_string(cnmiMode_) + "," + std::to_string(cnmiMt_) + ",0," +
           std::to_string(reports_.ds) + ",0\r\n" + Ok();
  }
  if (arguments == "=?") return IndicationsOffered();
  std::vector<int> fields;
  if (arguments.empty() || arguments[0] != '=' || !Fields(arguments.substr(1), &fields) ||
      fields.size() > 5 || fields[0] > 3 || (fields.size() > 1 && fields[1] > 3) ||
      (fields.size() > 3 && fields[3] > 2)) {
    return SmsError(305);  // invalid text mode parameter
  }
  int mt = fields.size() > 1 ? std::max(fields[1], 0) : 0;
  int ds = fields.size() > 3 ? std::max(fields[3], 0) : 0;
  // SMS shown at once (+CMT) is not simulated, nor a way of giving reports the phone lacks
  if (mt > 1 || !Routes(ds)) return SmsError(303);
  cnmiMode_ = std::max(fields[0], 0);
  cnmiMt_ = mt;
  reports_.ds = ds;
  return Ok();
}

std::string GsmPhone::MarkRead(int index, StoredSms* sms) {
  std::string status = sms->read ? "REC READ" : "REC UNREAD";
  if (!sms->read) Event("SMS in read index=" + std::to_string(index));
  sms->read = true;
  return status;
}

bool ListedStatus(const std::string& arguments, std::string* wanted) {
  *wanted = "REC UNREAD";
  if (!arguments.empty() && (arguments[0] != '=' || !QuotedArgument(arguments.substr(1), wanted))) {
    return false;
  }
  static const char* const kStatuses[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT",
                                          "ALL"};
  return std::find(std::begin(kStatuses), std::end(kStatuses), *wanted) != std::end(kStatuses);
}

std::string GsmPhone::List(const std::string& arguments) {
  std::string wanted;
  if (!ListedStatus(arguments, &wanted)) return SmsError(305);
  std::string out;
  for (auto& [index, sms] : store_) {
    bool all = wanted == "ALL";
    if (!all && wanted != (sms.read ? "REC READ" : "REC UNREAD")) continue;
    out += "+CMGL: " + std::to_string(index) + ",\"" + MarkRead(index, &sms) + "\",\"" +
           ForTerminal(sms.sender) + "\",,\"" + sms.timestamp + "\"\r\n" + ForTerminal(sms.text) +
           "\r\n";
  }
  return (out.empty() ? "" : "\r\n" + out) + Ok();
}

std::string GsmPhone::Read(const std::string& arguments) {
  auto found = store_.find(Index(arguments));
  if (found == store_.end()) return SmsError(321);  // invalid memory index
  StoredSms& sms = found->second;
  std::string status = MarkRead(found->first, &sms);
  return "\r\n+CMGR: \"" + status + "\",\"" + ForTerminal(sms.sender) + "\",,\"" + sms.timestamp +
         "\"\r\n" + ForTerminal(sms.text) + "\r\n" + Ok();
}

// AT+CMGD=<index>[,<flag>] for a store of `size` places: the index and the flag, or the error
// to answer (empty when there is none).
std::string GsmPhone::DeleteArguments(const std::string& arguments, int size, int* index,
                                      int* flag) const {
  std::vector<int> fields;
  if (arguments.empty() || arguments[0] != '=' || !Fields(arguments.substr(1), &fields) ||
      fields.size() > 2) {
    return SmsError(305);
  }
  *index = fields[0];
  *flag = fields.size() > 1 ? std::max(fields[1], 0) : 0;
  if (*flag > 4) return SmsError(305);
  if (*flag == 0 && (*index < 1 || *index > size)) return SmsError(321);
  return "";
}

// AT+CMGD=<index>[,<flag>]: flag 1 to 3 deletes every SMS read (the SIM holds no sent ones),
// 4 every SMS, whatever the index.
std::string GsmPhone::Delete(const std::string& arguments) {
  int index = 0, flag = 0;
  std::string error = DeleteArguments(arguments, options_.storeSize, &index, &flag);
  if (!error.empty()) return error;
  for (auto at = store_.begin(); at != store_.end();) {
    bool gone = flag == 0 ? at->first == index : flag == 4 || at->second.read;
    if (gone) Event("SMS in deleted index=" + std::to_string(at->first));
    at = gone ? store_.erase(at) : std::next(at);
  }
  return Ok();
}

std::string GsmPhone::EndText(char end) {
  inText_ = false;
  if (strayText_ || end == kEscape) {
    Trace("text abandoned: " + Escaped(text_));
    strayText_ = false;
    text_.clear();
    return Ok();
  }
  std::string refused = "SMS refused to=" + EscapedWord(number_) + " code=";
  if (!Registered()) {
    Event(refused + std::to_string(options_.networkError));
    return SmsError(options_.networkError);
  }
  if (hang_ == PhoneOptions::kQuiet) {
    Event("SMS unanswered to=" + EscapedWord(number_) + ", the radio hung");
    return "";
  }
  if (hang_ == PhoneOptions::kRefuses) {
    Event(refused + std::to_string(options_.failCode) + ", the radio hung");
    return SmsError(options_.failCode);
  }
  auto cause = options_.failFor.find(number_);
  if (cause != options_.failFor.end()) {  // the network's answer about this number
    Event(refused + std::to_string(cause->second));
    return SmsError(cause->second);
  }
  int sending = ++sendings_;
  if (options_.failingSends.count(sending) != 0) {
    Trace("text " + std::to_string(sending) + " refused");
    Event(refused + std::to_string(options_.failCode));
    return SmsError(options_.failCode);
  }
  std::string shown;
  if (!HandsetText(text_, charset_, dcs_, &shown)) {  // a network would refuse it too
    Trace("text " + std::to_string(sending) + " not of " + charset_ + ": " + Escaped(text_));
    Event(refused + "305");
    return SmsError(305);  // invalid text mode parameter
  }
  DeliveredSms sms{reference_, number_, shown, (fo_ & 0x20) != 0};
  reference_ = (reference_ + 1) % 256;
  if (onDelivered) onDelivered(sms);
  return "\r\n+CMGS: " + std::to_string(sms.reference) + "\r\n" + Ok();
}

}  // namespace kelvor::sim
