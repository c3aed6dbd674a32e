#include "support/scripted_phone.h"

#include <cstdlib>

namespace kelvor::test {

namespace {
constexpr size_t kLineRoom = 256;  // any write, so that steady runs do not grow strings
bool IsText(const std::string& write) {
  return write.size() > 1 && write.back() == '\x1a';
}
}  // namespace

ScriptedPhone::ScriptedPhone() : sim_(kSimSize) {
  number_.reserve(kLineRoom);
  last_.number.reserve(kLineRoom);
  last_.text.reserve(kLineRoom);
  for (Stored& sms : sim_) {
    sms.sender.reserve(kLineRoom);
    sms.text.reserve(kLineRoom);
  }
  answer_.reserve(kSimSize * 2 * kLineRoom);
}

void ScriptedPhone::Plug(FakeSerialPort& port, Clock* clock) {
  port.onWrite = [this, &port, clock](const std::string& write) {
    Take(port, write, clock != nullptr ? clock->TickCount() : 0);
  };
}

void ScriptedPhone::Take(FakeSerialPort& port, const std::string& write, uint32_t tick) {
  if (silent) return;
  if (write.rfind("AT+CMGS=\"", 0) == 0) number_.assign(write, 9, write.find('"', 9) - 9);
  if (write == "AT+CFUN=1,1\r" || write == "AT+CFUN=1\r") {
    bool refusing = refusesRestart && write == "AT+CFUN=1,1\r";
    if (!refusing) hung = false;
    restarts += refusing ? 0 : 1;
    Reply(port, refusing ? error_ : ok, delay);
    return;
  }
  if (IsText(write)) {
    if (hung && quietly) return;
    if ((!refused.empty() && number_ == refused) || hung) {
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
  if (StoreCommand(write)) {
    Reply(port, answer_, delay);
    return;
  }
  const std::string& answer = AnswerTo(write);
  if (!answer.empty()) Reply(port, answer, IsText(write) ? sendDelay : delay);
}

int ScriptedPhone::Receive(FakeSerialPort& port, const char* sender, const char* text) {
  for (int i = 0; i < kSimSize; ++i) {
    Stored& sms = sim_[static_cast<size_t>(i)];
    if (sms.used) continue;
    sms.used = true;
    sms.read = false;
    sms.sender.assign(sender);
    sms.text.assign(text);
    if (announcing_) {
      answer_.assign("\r\n+CMTI: \"SM\",").append(std::to_string(i + 1)).append("\r\n");
      port.Arrive(answer_);
    }
    return i + 1;
  }
  return 0;
}

int ScriptedPhone::StoredCount() const {
  int count = 0;
  for (const Stored& sms : sim_) count += sms.used ? 1 : 0;
  return count;
}

// "+CMGL: <index>," or "+CMGR: ", then the status, the sender and a time stamp, a line
// end and the text; the SMS is read from then on.
void ScriptedPhone::Header(const char* command, int index, Stored& sms) {
  answer_.append(command);
  if (index > 0) answer_.append(std::to_string(index)).append(",");
  answer_.append(sms.read ? "\"REC READ\",\"" : "\"REC UNREAD\",\"").append(sms.sender);
  answer_.append("\",,\"26/12/07,14:03:22+04\"\r\n").append(sms.text).append("\r\n");
  sms.read = true;
}

bool ScriptedPhone::StoreCommand(const std::string& write) {
  answer_.assign(ok);
  if (write == "AT+CNMI=2,1\r") {
    announcing_ = true;
    return true;
  }
  bool unread = write == "AT+CMGL=\"REC UNREAD\"\r";
  if (unread || write == "AT+CMGL=\"REC READ\"\r") {
    answer_.clear();
    for (int i = 0; i < kSimSize; ++i) {
      Stored& sms = sim_[static_cast<size_t>(i)];
      if (!sms.used || sms.read == unread) continue;
      if (answer_.empty()) answer_.assign("\r\n");
      Header("+CMGL: ", i + 1, sms);
    }
    answer_.append(ok);
    return true;
  }
  bool read = write.rfind("AT+CMGR=", 0) == 0;
  if (!read && write.rfind("AT+CMGD=", 0) != 0) return false;
  int index = atoi(write.c_str() + 8);
  Stored* sms = index >= 1 && index <= kSimSize ? &sim_[static_cast<size_t>(index - 1)] : nullptr;
  if (sms == nullptr || !sms->used) {
    answer_.assign(read ? "\r\n+CMS ERROR: 321\r\n" : ok);
  } else if (read) {
    answer_.assign("\r\n");
    Header("+CMGR: ", 0, *sms);
    answer_.append(ok);
  } else {
    sms->used = false;
    ++deleted;
  }
  return true;
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
  if (write == "AT+CSCS=?\r") return charsets;
  if (write.rfind("ATD", 0) == 0) return dial;
  if (write == "AT+CLCC\r") return calls;
  if (write == "ATH\r") return hangUp;
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
