// Sending the queued SMS through one phone, one at a time: the character set and data coding
// the text needs, when a charset is chosen and they are not in force, the command and its
// prompt, the text and its confirmation, then a pause; holding them while the network is
// away; and, while nothing goes, asking the phone for its signal (and, during a hold or when
// watched, its network registration), which also shows that it still answers. The radio's
// refusals go to its RadioWatch.
#pragma once

#include <cstdint>

#include "log/log.h"
#include "modem/at_channel.h"
#include "modem/modem_errors.h"
#include "modem/outgoing_queue.h"
#include "modem/phone_health.h"
#include "modem/radio_watch.h"
#include "modem/sms_coding.h"
#include "modem/status_report.h"
#include "platform/clock.h"

namespace kelvor {

constexpr int32_t kSendFailed = 515;  // last error after a refused SMS

class SmsSending {
 public:
  // Borrows from `queue` as the phone `phone` (kMainPhone, kStandbyPhone).
  SmsSending(AtChannel& channel, OutgoingQueue& queue, uint8_t phone, PhoneHealth& health,
             RadioWatch& radio, PhoneCharsets& charsets, Log& log, Clock& clock);

  // True while an SMS waits to be addressed: the queue would lend one to this phone, and the
  // network is not away.
  bool HasWork() const { return queue_.HasLendable(phone_) && network_ == Network::kUsable; }
  // The lending policy lets this phone borrow.
  bool MayBorrow() const { return queue_.MayBorrow(phone_); }
  // The SMS this phone has borrowed and the queue has not called back, or 0.
  uint32_t Borrowed() const { return StillLent() ? held_.id : 0; }
  // The network refused a text and has not been seen back since.
  bool NetworkAway() const { return network_ == Network::kAway; }
  // From now on the registration is asked after every signal query, not only during a hold.
  void Watch() { watching_ = true; }
  // AT+CSMP's first octet and validity, for a status report or none.
  void AskReports(const ReportSettings* settings) { reports_ = settings; }
  // Gives up the SMS sent too often, then borrows the oldest the queue lends, if any, and
  // addresses it: true when its command went. Its number, text and coding are fixed as it is
  // lent. Until it is confirmed, every end of the conversation returns it.
  bool Start();
  // Selects the phone's 7-bit set again while UCS-2 is in force, in which the phone would
  // give the SMS it received as hex: true when the command went.
  bool RestoreSet();
  // Asks for the signal once the phone has been idle as long as an answer may take: true
  // when the query went.
  bool AskSignal();
  // One step on the response; false once the phone is back in Ready. A phone that no
  // longer `sends` (the other phone took over) finishes nothing it began for its SMS.
  bool Step(bool sends);
  // An SMS is on its way: its command or its text went, and its answer has not come.
  bool InFlight() const { return stage_ == Stage::kPrompt || stage_ == Stage::kResult; }
  // The phone is reset before its answer came: a text sent and never confirmed is a
  // sending the radio refused. The SMS goes back to the queue.
  void Abandon();

  // The pause after a confirmed SMS, 0 to kLongestPauseAfterSend ms (held there): the phone
  // neither reads nor steps meanwhile.
  void SetPause(uint32_t milliseconds);
  bool Pausing() const { return stage_ == Stage::kPause; }
  uint32_t PauseLeft() const;
  // True once the pause has ended; the response, and whatever came meanwhile, are dropped.
  bool PauseOver();

 private:
  enum class Stage : uint8_t {
    kNone,          // no SMS under way: the phone is in Ready, or busy with another matter
    kSelect,        // AT+CSCS went: the set the SMS needs, or the 7-bit set again
    kCoding,        // AT+CSMP went: the data coding the SMS needs
    kPrompt,        // AT+CMGS went: waiting for the prompt
    kResult,        // the text went: waiting for its confirmation
    kEscape,        // ESC went at the prompt, the SMS no longer this phone's: its answer
    kPause,         // confirmed: resting
    kSignal,        // AT+CSQ went
    kRegistration,  // AT+CREG? went after the signal, during a hold
  };
  // Whether SMS are held for the network. It outlasts the phone's resets: only the phone
  // registered again (or one that cannot say) ends a hold.
  enum class Network : uint8_t { kUsable, kAway };

  bool Done();
  void GiveBack();
  void DropExhausted();
  bool StillLent() const { return lent_ && queue_.IsLentTo(held_.id, phone_); }
  bool Address();
  bool StepSelect(bool sends);
  bool StepCoding(bool sends);
  bool CodingRefused(const char* command);
  void SendText();
  bool StepPrompt(bool sends);
  bool StepResult();
  bool StepEscape();
  bool StepSignal();
  bool StepRegistration();
  bool PromptRefused(ErrorKind kind);
  bool Refused(ErrorKind kind);
  bool Hold(Refusal refusal);
  void RadioRefused();
  void TakeRegistration(const char* fields);

  AtChannel& channel_;
  OutgoingQueue& queue_;
  uint8_t phone_;
  PhoneHealth& health_;
  RadioWatch& radio_;
  PhoneCharsets& charsets_;
  Log& log_;
  Clock& clock_;
  Stage stage_ = Stage::kNone;
  Network network_ = Network::kUsable;
  bool watching_ = false;
  bool refused_ = false;  // the text under way was refused: its time-out is no second refusal
  uint32_t pause_ = kDefaultPauseAfterSend;
  uint32_t pauseEnd_ = 0;
  TextSet wanted_ = TextSet::kNone;  // the set or coding asked for (kSelect, kCoding)
  bool restoring_ = false;           // kSelect for the 7-bit set, no SMS under way
  TextSet form_ = TextSet::kNone;    // the set the SMS under way goes in
  OutgoingSms held_{};               // the SMS under way, as it was lent
  bool lent_ = false;                // ... and not confirmed or returned yet
  const ReportSettings* reports_ = nullptr;
};

}  // namespace kelvor
