// The simulated phone: AT commands of SMS text mode in, answers out. No I/O and no
// clock: the program around it owns the pseudo-terminal and the timing.
#pragma once

#include <functional>
#include <set>
#include <string>

namespace kelvor::sim {

struct PhoneOptions {
  std::string serviceCentre = "+99912345";  // empty: not known, AT+CSCA? is refused
  int rssi = 15;
  int ber = 99;
  std::set<int> failingSends;  // numbers (from 1) of the SMS texts refused
  int failCode = 500;          // the +CMS ERROR number of a refused text
  bool strayPrompt = false;    // starts waiting for the text of an SMS nobody finishes
};

struct DeliveredSms {
  int reference;
  std::string number;
  std::string text;
};

class GsmPhone {
 public:
  explicit GsmPhone(const PhoneOptions& options);

  // Takes bytes from the line; returns what the phone sends back, echo included.
  std::string Receive(const char* data, size_t length);
  // Back to the settings of switching on: echo on, plain ERROR, PDU mode.
  void Reset();

  std::function<void(const DeliveredSms&)> onDelivered;
  std::function<void(const std::string&)> onTrace;  // one line per event

 private:
  std::string Command(const std::string& line);
  std::string SmsCommand(const std::string& upper, const std::string& line);
  std::string EndText(char end);
  std::string Ok() const { return "\r\nOK\r\n"; }
  std::string Error() const { return "\r\nERROR\r\n"; }
  std::string SmsError(int code) const;
  void Trace(const std::string& line) {
    if (onTrace) onTrace(line);
  }

  PhoneOptions options_;
  bool echo_ = true;
  int errorMode_ = 0;  // AT+CMEE
  int textMode_ = 0;   // AT+CMGF
  std::string line_;
  bool inText_ = false;
  bool strayText_ = false;
  std::string number_;
  std::string text_;
  int sendings_ = 0;
  int reference_ = 0;
};

// The quoted number of AT+CMGS="..." or AT+CSCA="...", with an optional ",type" after it.
bool QuotedArgument(const std::string& arguments, std::string* value);

// A text on one line: backslash, control bytes and bytes above 126 written as escapes.
std::string Escaped(const std::string& text);

}  // namespace kelvor::sim
