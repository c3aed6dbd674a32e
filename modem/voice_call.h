// A wake-up call through one phone: an SMS tone does not wake a sleeping engineer, a
// ringing phone does. ATD+number; goes out from Ready, then AT+CLCC every kCallPollGap while
// the call rings; the call is hung up (ATH, or AT+CHUP on a phone that refuses ATH) once it
// has rung kLongestRinging, or as soon as it is answered, and ends at once when the phone
// says BUSY, NO ANSWER or NO CARRIER. An answered call acknowledges nothing (voicemail
// answers calls too): it is said, no more. A phone that refuses ATD has no voice service: it
// is said once, and the phone tries no call for kCallsHeldAfterRefusal. Some phones answer
// ATD only once the call is answered, so ATD may wait as long as the call may ring; a call
// given up because an answer is overdue is hung up before the phone is reset.
#pragma once

#include <cstdint>

#include "log/log.h"
#include "modem/at_channel.h"
#include "modem/sms_outbox.h"
#include "platform/clock.h"

namespace kelvor {

class ModemEvents;

constexpr uint32_t kCallPollGap = 3000;               // ms from one AT+CLCC to the next
constexpr uint32_t kLongestRinging = 30000;           // ms a call rings before it is hung up
constexpr uint32_t kCallsHeldAfterRefusal = 3600000;  // ms without a call after ATD refused

// How a call ended. kNone while none ended since the last taken.
enum class CallEnd : uint8_t {
  kNone,
  kAnswered,     // answered: hung up at once, it acknowledges nothing
  kNotAnswered,  // rang kLongestRinging: hung up
  kBusy,         // BUSY
  kNoAnswer,     // NO ANSWER: the network gave up
  kEnded,        // ended before it was answered: NO CARRIER, or no longer listed
  kRefused,      // the phone refused ATD
  kCutShort,     // the phone was reset during the call
};
// A few words for the end, for the status: "answered", "busy"...
const char* CallEndWords(CallEnd end);

struct CallOutcome {
  char number[kNumberSize] = {};
  CallEnd end = CallEnd::kNone;
};

class VoiceCall {
 public:
  // Each call's end goes to `events` as it comes, told of `phone`.
  VoiceCall(AtChannel& channel, Log& log, Clock& clock, ModemEvents& events, uint8_t phone);

  // Once a step: the hour without calls after a refusal ends when it is over.
  void Pass();
  // The phone takes a call now: no call is under way, and it has not refused ATD within the
  // hour.
  bool Allowed() const;
  // From Ready: dials `number`, a phone number (see IsPhoneNumber). False when it is none, or
  // not Allowed.
  bool Start(const char* number);
  // One step on the response; false once the phone is back in Ready.
  bool Step();
  // A command of the call awaits its answer; between two polls the call only waits.
  bool AwaitsAnswer() const { return stage_ != Stage::kRinging; }
  // Ms the command under way has for its answer: ATD as long as the call may ring.
  uint32_t AnswerTime() const { return stage_ == Stage::kDial ? kLongestRinging : kAnswerTimeout; }
  // The answer awaited is overdue and the phone is to be reset. True: the call may be up,
  // and its hang-up went; the call ends cut short once that is answered. False: the call
  // has ended (its hang-up was the command unanswered).
  bool GiveUp();

 private:
  enum class Stage : uint8_t {
    kNone,     // no call: the phone is in Ready, or busy with another matter
    kDial,     // ATD went
    kRinging,  // the call rings: waiting for the next poll
    kList,     // AT+CLCC went
    kHangUp,   // ATH went
    kChup,     // AT+CHUP went, ATH having been refused
  };

  bool StepDial();
  bool StepRinging();
  bool StepList();
  bool StepHangUp();
  bool SaidEnd();
  bool Finish(CallEnd end);
  bool HangUp(CallEnd end);
  // The phone is reset during the call: the call ends cut short, unless it had ended.
  void Abandon();
  void Send(Stage stage, const char* command);
  void Say(CallEnd end);

  AtChannel& channel_;
  Log& log_;
  Clock& clock_;
  ModemEvents& events_;
  uint8_t phone_;
  Stage stage_ = Stage::kNone;
  CallOutcome call_;           // the call under way, and its end once decided
  uint32_t ringingSince_ = 0;  // ATD answered OK
  uint32_t polledAt_ = 0;
  bool refusesAth_ = false;  // the phone refused ATH once: AT+CHUP from then on
  bool held_ = false;        // ATD refused: no call until heldUntil_
  uint32_t heldUntil_ = 0;
  bool refusalSaid_ = false;  // a refused ATD is said once a run
};

}  // namespace kelvor
