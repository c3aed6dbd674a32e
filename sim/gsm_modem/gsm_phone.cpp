#include "gsm_phone.h"

#include <cctype>
#include <cstdio>

namespace kelvor::sim {
namespace {

constexpr char kCtrlZ = 26;
constexpr char kEscape = 27;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

bool QuotedArgument(const std::string& arguments, std::string* value) {
  if (arguments.size() < 2 || arguments[0] != '"') return false;
  size_t close = arguments.find('"', 1);
  if (close == std::string::npos) return false;
  std::string rest = arguments.substr(close + 1);
  if (!rest.empty() && rest[0] != ',') return false;
  *value = arguments.substr(1, close - 1);
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

GsmPhone::GsmPhone(const PhoneOptions& options) : options_(options) {
  if (options_.strayPrompt) {
    inText_ = true;
    strayText_ = true;
  }
}

void GsmPhone::Reset() {
  echo_ = true;
  errorMode_ = 0;
  textMode_ = 0;
  line_.clear();
  inText_ = false;
  strayText_ = false;
}

std::string GsmPhone::SmsError(int code) const {
  return errorMode_ == 0 ? Error() : "\r\n+CMS ERROR: " + std::to_string(code) + "\r\n";
}

std::string GsmPhone::Receive(const char* data, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    char c = data[i];
    if (inText_) {
      if (c == kCtrlZ || c == kEscape) {
        out += EndText(c);
      } else if (c == '\r') {
        text_ += '\n';
        out += "\r\n> ";
      } else if (c == '\n') {
        if (text_.empty() || text_.back() != '\n') text_ += '\n';
      } else {
        text_ += c;
        if (echo_) out += c;
      }
      continue;
    }
    if (echo_ && c != kCtrlZ) out += c;
    if (c == '\r') {
      std::string line = line_;
      line_.clear();
      out += Command(line);
    } else if (c != '\n' && c != kCtrlZ && line_.size() < 1024) {
      line_ += c;
    }
  }
  return out;
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
  if (upper == "AT+CMGF=0" || upper == "AT+CMGF=1") {
    textMode_ = upper.back() - '0';
    return Ok();
  }
  if (upper == "AT+CMGF?") return "\r\n+CMGF: " + std::to_string(textMode_) + "\r\n" + Ok();
  if (upper == "AT+CSQ") {
    return "\r\n+CSQ: " + std::to_string(options_.rssi) + "," + std::to_string(options_.ber) +
           "\r\n" + Ok();
  }
  return SmsCommand(upper, command);
}

std::string GsmPhone::SmsCommand(const std::string& upper, const std::string& command) {
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
    number_ = number;
    text_.clear();
    inText_ = true;
    return "\r\n> ";
  }
  return Error();
}

std::string GsmPhone::EndText(char end) {
  inText_ = false;
  if (strayText_ || end == kEscape) {
    Trace("text abandoned: " + Escaped(text_));
    strayText_ = false;
    text_.clear();
    return Ok();
  }
  int sending = ++sendings_;
  if (options_.failingSends.count(sending) != 0) {
    Trace("text " + std::to_string(sending) + " refused");
    return SmsError(options_.failCode);
  }
  DeliveredSms sms{++reference_, number_, text_};
  if (onDelivered) onDelivered(sms);
  return "\r\n+CMGS: " + std::to_string(sms.reference) + "\r\n" + Ok();
}

}  // namespace kelvor::sim
