// The SIM's PIN: what Kelvor takes as one, and the rules it is given by. Three wrong PINs
// block a SIM for good, so a PIN the SIM may have counted wrong is never sent again in
// that run; the PIN shows nowhere.
#pragma once

#include <cstddef>

namespace kelvor {

class AtChannel;
class Log;

constexpr size_t kShortestPin = 4;  // digits of a SIM's PIN
constexpr size_t kLongestPin = 8;

// True when `text` is a PIN: 4 to 8 digits and nothing else.
bool IsPin(const char* text);

class SimPin {
 public:
  explicit SimPin(Log& log) : log_(log) {}

  // Takes a PIN, 4 to 8 digits; false, taking none, for anything else. Null takes none.
  bool Set(const char* pin);
  bool Given() const { return pin_[0] != '\0'; }
  // The PIN's digits, "" without one: masked wherever the phone's lines would show them.
  const char* Digits() const { return pin_; }

  // The initialisation begins anew: the SIM has not been busy in it yet.
  void Restart() { busyAnswers_ = 0; }
  // True when the SIM's state (the text after "+CPIN:") asks for the PIN and it is to go.
  // A SIM that asks again after a PIN went out unanswered may have counted it wrong: that
  // is a refusal.
  bool ToSend(const char* state);
  // The PIN goes out in `format` ("...%s..."), its line masked; it counts as unanswered
  // until Answered or Refused.
  void Send(AtChannel& channel, const char* format);
  // The SIM took the PIN ("OK"), or was too busy to try it.
  void Answered() { unanswered_ = false; }
  // The SIM refused it: never sent again in this run.
  void Refused();
  // A busy SIM (+CME ERROR: 14): true while it is worth asking again a little later.
  bool Busy();

 private:
  Log& log_;
  char pin_[kLongestPin + 1] = {};  // empty: none given
  bool refused_ = false;
  bool unanswered_ = false;  // the PIN went out, and neither "OK" nor a refusal came
  int busyAnswers_ = 0;      // in this initialisation
};

}  // namespace kelvor
