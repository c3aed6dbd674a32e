// A GSM phone in SMS text mode behind a FakeSerialPort, as the dialogue expects one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "support/fake_serial.h"

namespace kelvor::test {

// Answers each write at once, the answer arriving after any purge that follows it (or, with
// a delay, that many milliseconds later on the port's clock), and keeps the SMS texts it
// takes. Each answer can be changed; the phone can go silent, leave
// texts unconfirmed or refuse the texts to one number. SMS can reach it (Receive): its SIM
// stores them, announces each with +CMTI once asked to (AT+CNMI), lists, reads and deletes
// them. With `keep` off, and a port that does not record, a steady run takes nothing from
// the heap, SMS received included.
class ScriptedPhone {
 public:
  struct Sms {
    std::string number, text;
    uint32_t tick;  // when the phone took it, if it was given a clock
  };

  ScriptedPhone();

  // Puts the phone behind `port`: from now on it takes every write there.
  void Plug(FakeSerialPort& port, Clock* clock = nullptr);
  // Takes one write, and answers it on `port` unless silent.
  void Take(FakeSerialPort& port, const std::string& write, uint32_t tick);
  // The answer to a command, or to an SMS text and its Ctrl-Z; "" for none.
  const std::string& AnswerTo(const std::string& write) const;
  // The SMS taken for `number`, in order.
  std::vector<Sms> To(const std::string& number) const;
  // An SMS from `sender` reaches the phone: stored at the first free place of the SIM, and
  // announced on `port` if the phone was asked to. Its index (from 1), or 0: the SIM is full.
  int Receive(FakeSerialPort& port, const char* sender, const char* text);
  int StoredCount() const;

  std::string ok = "\r\nOK\r\n";
  std::string serviceQuery = "\r\n+CSCA: \"+99912345\",145\r\n\r\nOK\r\n";
  std::string prompt = "\r\n> ";
  std::string sendResult = "\r\n+CMGS: 5\r\n\r\nOK\r\n";
  std::string signal = "\r\n+CSQ: 15,99\r\n\r\nOK\r\n";  // 48 %
  std::string serviceSet = "\r\nOK\r\n";
  std::string refusal = "\r\n+CMS ERROR: 500\r\n";            // to a text for `refused`
  std::string registration = "\r\n+CREG: 0,1\r\n\r\nOK\r\n";  // to AT+CREG?: registered
  std::string charsets = "\r\n+CSCS: (\"GSM\",\"IRA\",\"8859-1\",\"UCS2\")\r\n\r\nOK\r\n";
  std::string dial = "\r\nOK\r\n";  // to ATD...;
  // To AT+CLCC: the call made rings (alerting), an incoming one waits.
  std::string calls =
      "\r\n+CLCC: 1,0,3,0,0,\"+4479001\",145\r\n+CLCC: 2,1,4,0,0,\"+4479777\",145\r\n\r\nOK\r\n";
  std::string hangUp = "\r\nOK\r\n";  // to ATH

  uint32_t delay = 0;       // ms to answer a command
  uint32_t sendDelay = 0;   // ms from a text's Ctrl-Z to its answer
  bool silent = false;      // answers nothing, as a phone switched off
  bool confirming = true;   // false: texts go unanswered and are not taken
  std::string refused;      // texts to this number are refused
  bool offNetwork = false;  // texts are refused with 331, and AT+CREG? says searching
  // A hung radio: texts are refused with `refusal` (or, `quietly`, never answered) until
  // AT+CFUN=1,1 restarts it (AT+CFUN=1 after AT+CFUN=0 where the phone refuses that).
  bool hung = false;
  bool quietly = false;
  bool refusesRestart = false;  // AT+CFUN=1,1 is answered ERROR
  int restarts = 0;             // AT+CFUN=1,1 taken, or AT+CFUN=1
  bool keep = true;             // false: `received` stays empty
  int taken = 0;                // texts taken, kept or not
  int deleted = 0;              // SMS received that were deleted
  std::vector<Sms> received;
  std::function<void(const Sms&)> onReceived;  // after each text taken

 private:
  struct Stored {
    bool used = false;
    bool read = false;
    std::string sender, text;
  };
  static constexpr int kSimSize = 20;

  void Reply(FakeSerialPort& port, const std::string& answer, uint32_t after) const;
  // The answer to a command about the SMS received, in answer_; false for another command.
  bool StoreCommand(const std::string& write);
  void Header(const char* command, int index, Stored& sms);

  std::vector<Stored> sim_;
  bool announcing_ = false;
  std::string answer_;

  std::string number_;  // of the SMS under way
  Sms last_;
  std::string none_;
  std::string error_ = "\r\nERROR\r\n";
  std::string offNetworkRefusal_ = "\r\n+CMS ERROR: 331\r\n";
  std::string searching_ = "\r\n+CREG: 0,2\r\n\r\nOK\r\n";
};

}  // namespace kelvor::test
