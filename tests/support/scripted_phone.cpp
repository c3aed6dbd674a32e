#include "support/scripted_phone.h"

namespace kelvor::test {

namespace {
constexpr size_t kLineRoom = 256;  // any write, so that steady runs do not grow strings
bool IsText(const std::string& write) {
  return write.size() > 1 && write.back() == '\x1a';
}
}  // namespace

ScriptedPhone::ScriptedPhone() {
  number_.reserve(kLineRoom);
  last_.number.reserve(kLineRoom);
  last_.text.reserve(kLineRoom);
}

void ScriptedPhone::Plug(FakeSerialPort& port, Clock* clock) {
  port.onWrite = [this, &port, clock](const std::string& write) {
    Take(port, write, clock != nullptr ? clock->TickCount() : 0);
  };
}

void ScriptedPhone::Take(FakeSerialPort& port, const std::string& write, uint32_t tick) {
  if (silent) return;
  if (write.rfind("AT+CMGS=\"", 0) == 0) number_.assign(write, 9, write.find('"', 9) - 9);
  if (IsText(write)) {
    if (!refused.empty() && number_ == refused) {
      Reply(port, refusal, sendDelay);
      return;
    }
    if (offNetwork) {
      Reply(port, offNetworkRefusal_, sendDelay);
      return;
    }
    if (!confirming) return;
    ++taken;
    last_.number.assign(number_);
    last_.text.assign(write, 0, write.size() - 1);
    last_.tick = tick;
    if (keep) received.push_back(last_);
    if (onReceived) onReceived(last_);
  }
  const std::string& answer = AnswerTo(write);
  if (!answer.empty()) Reply(port, answer, IsText(write) ? sendDelay : delay);
}

void ScriptedPhone::Reply(FakeSerialPort& port, const std::string& answer, uint32_t after) const {
  if (after == 0) {
    port.Answer(answer);
  } else {
    port.AnswerAfter(after, answer);
  }
}

const std::string& ScriptedPhone::AnswerTo(const std::string& write) const {
  if (write.rfind("AT+CMGS=", 0) == 0) return prompt;
  if (!write.empty() && write.back() == '\x1a') return IsText(write) ? sendResult : none_;
  if (write == "AT+CSCA?\r") return serviceQuery;
  if (write == "AT+CSQ\r") return signal;
  if (write == "AT+CREG?\r") return offNetwork ? searching_ : registration;
  if (write.rfind("AT+CSCA=", 0) == 0) return serviceSet;
  return ok;
}

std::vector<ScriptedPhone::Sms> ScriptedPhone::To(const std::string& number) const {
  std::vector<Sms> found;
  for (const Sms& sms : received) {
    if (sms.number == number) found.push_back(sms);
  }
  return found;
}

}  // namespace kelvor::test
