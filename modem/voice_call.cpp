#include "modem/voice_call.h"

#include <cstdlib>
#include <cstring>

#include "modem/phone_number.h"

namespace kelvor {
namespace {

// The phone's own result codes that end a call before it was answered.
struct EndCode {
  FinalResult code;
  CallEnd end;
};
constexpr EndCode kEndCodes[] = {
    {FinalResult::kBusy, CallEnd::kBusy},
    {FinalResult::kNoAnswer, CallEnd::kNoAnswer},
    {FinalResult::kNoCarrier, CallEnd::kEnded},
    {FinalResult::kNoDialtone, CallEnd::kEnded},
};

// The fields of a line of AT+CLCC's answer, "id,dir,stat,mode,...": the state of the call this
// phone made (dir 0), voice or not. -1 when the line is another's (an incoming call).
int OutgoingCallState(const char* fields) {
  char* end = nullptr;
  strtol(fields, &end, 10);  // the call's id
  if (*end != ',') return -1;
  long dir = strtol(end + 1, &end, 10);
  if (*end != ',' || dir != 0) return -1;
  long stat = strtol(end + 1, &end, 10);
  return *end == ',' && stat >= 0 && stat <= 7 ? static_cast<int>(stat) : -1;
}

constexpr int kCallActive = 0;

}  // namespace

const char* CallEndWords(CallEnd end) {
  switch (end) {
    case CallEnd::kAnswered:
      return "answered";
    case CallEnd::kNotAnswered:
      return "not answered";
    case CallEnd::kBusy:
      return "busy";
    case CallEnd::kNoAnswer:
      return "no answer";
    case CallEnd::kEnded:
      return "ended unanswered";
    case CallEnd::kRefused:
      return "refused by the phone";
    case CallEnd::kCutShort:
      return "cut short";
    case CallEnd::kNone:
      break;
  }
  return "ringing";
}

VoiceCall::VoiceCall(AtChannel& channel, Log& log, Clock& clock)
    : channel_(channel), log_(log), clock_(clock) {}

void VoiceCall::Pass() {
  if (held_ && DeadlinePassed(clock_.TickCount(), heldUntil_)) held_ = false;
}

bool VoiceCall::Allowed() const {
  return stage_ == Stage::kNone && !held_;
}

bool VoiceCall::Start(const char* number) {
  // Digits, blanks and a leading "+" alone: a ";" or a letter would dial something else, or
  // chain another command after the dial.
  if (!Allowed() || !IsPhoneNumber(number)) return false;
  call_ = CallOutcome{};
  memcpy(call_.number, number, strlen(number) + 1);
  channel_.Discard();
  channel_.SendFormatted("ATD%s;\r", call_.number);
  stage_ = Stage::kDial;
  return true;
}

bool VoiceCall::Step() {
  switch (stage_) {
    case Stage::kDial:
      return StepDial();
    case Stage::kRinging:
      return StepRinging();
    case Stage::kList:
      return StepList();
    case Stage::kHangUp:
    case Stage::kChup:
      return StepHangUp();
    case Stage::kNone:
      break;
  }
  return false;
}

// OK: the call rings. A refusal means the phone has no voice service (or no call can go out
// now): said once a run, and no call for an hour.
bool VoiceCall::StepDial() {
  if (SaidEnd()) return Finish(call_.end);
  if (channel_.Answer().Refused()) {
    held_ = true;
    heldUntil_ = clock_.TickCount() + kCallsHeldAfterRefusal;
    return Finish(CallEnd::kRefused);
  }
  if (!channel_.Answer().Ok()) return true;
  ringingSince_ = polledAt_ = clock_.TickCount();
  channel_.Discard();
  stage_ = Stage::kRinging;
  return true;
}

// Between polls: a result code the phone sends unasked ends the call at once.
bool VoiceCall::StepRinging() {
  if (SaidEnd()) return Finish(call_.end);
  uint32_t now = clock_.TickCount();
  if (Elapsed(now, ringingSince_) >= kLongestRinging) return HangUp(CallEnd::kNotAnswered);
  if (Elapsed(now, polledAt_) < kCallPollGap) return true;
  polledAt_ = now;
  Send(Stage::kList, "AT+CLCC\r");
  return true;
}

// The call this phone made, once the answer has ended: answered, still ringing, or gone. A
// phone that refuses AT+CLCC leaves the call to ring its time, or to a result code.
bool VoiceCall::StepList() {
  if (SaidEnd()) return Finish(call_.end);
  const AtAnswer& answer = channel_.Answer();
  bool refused = answer.Refused();
  if (!refused && !answer.Ok()) return true;
  int state = -1;
  for (const char* line = answer.Information("+CLCC:"); line != nullptr && state < 0;
       line = answer.Information("+CLCC:", line)) {
    state = OutgoingCallState(line);
  }
  channel_.Discard();
  if (state == kCallActive) return HangUp(CallEnd::kAnswered);
  if (state < 0 && !refused) return Finish(CallEnd::kEnded);
  stage_ = Stage::kRinging;
  return true;
}

// ATH refused: AT+CHUP, which the phone is asked from then on. Whatever becomes of that, the
// call's end was decided already.
bool VoiceCall::StepHangUp() {
  if (stage_ == Stage::kHangUp && channel_.Answer().Refused()) {
    refusesAth_ = true;
    Send(Stage::kChup, "AT+CHUP\r");
    return true;
  }
  if (!channel_.Answer().Ended()) return true;
  return Finish(call_.end);
}

// BUSY, NO ANSWER or NO CARRIER on a line of its own, once the line has ended.
bool VoiceCall::SaidEnd() {
  for (const EndCode& code : kEndCodes) {
    if (!channel_.Answer().Said(code.code)) continue;
    call_.end = code.end;
    return true;
  }
  return false;
}

bool VoiceCall::HangUp(CallEnd end) {
  call_.end = end;
  if (end == CallEnd::kAnswered) Say(end);
  Send(refusesAth_ ? Stage::kChup : Stage::kHangUp, refusesAth_ ? "AT+CHUP\r" : "ATH\r");
  return true;
}

bool VoiceCall::Finish(CallEnd end) {
  if (call_.end != CallEnd::kAnswered || end != CallEnd::kAnswered) Say(end);
  call_.end = end;
  ended_ = call_;
  untaken_ = true;
  stage_ = Stage::kNone;
  channel_.Discard();
  return false;
}

bool VoiceCall::GiveUp() {
  if (stage_ == Stage::kNone) return false;
  if (stage_ == Stage::kHangUp || stage_ == Stage::kChup) {
    Abandon();
    return false;
  }
  return HangUp(CallEnd::kCutShort);
}

void VoiceCall::Abandon() {
  if (stage_ == Stage::kNone) return;
  CallEnd decided = call_.end;
  call_.end = CallEnd::kNone;  // said now, whatever was said of it
  Finish(decided != CallEnd::kNone ? decided : CallEnd::kCutShort);
}

void VoiceCall::Send(Stage stage, const char* command) {
  channel_.Discard();
  channel_.Send(command);
  stage_ = stage;
}

void VoiceCall::Say(CallEnd end) {
  const char* number = call_.number;
  switch (end) {
    case CallEnd::kAnswered:
      log_.LogMessage(Colour::kNormal, "Call to %s answered - hung up, it acknowledges nothing",
                      number);
      break;
    case CallEnd::kNotAnswered:
      log_.LogMessage(Colour::kError, "Call to %s not answered in %u s - hung up", number,
                      static_cast<unsigned>(kLongestRinging / 1000));
      break;
    case CallEnd::kBusy:
      log_.LogMessage(Colour::kError, "Call to %s - busy", number);
      break;
    case CallEnd::kNoAnswer:
      log_.LogMessage(Colour::kError, "Call to %s - no answer", number);
      break;
    case CallEnd::kEnded:
      log_.LogMessage(Colour::kError, "Call to %s ended before it was answered", number);
      break;
    case CallEnd::kRefused:
      if (refusalSaid_) break;
      refusalSaid_ = true;
      log_.LogMessage(Colour::kError,
                      "Call to %s refused by the phone - has it voice service? No call for an hour",
                      number);
      break;
    case CallEnd::kCutShort:
      log_.LogMessage(Colour::kError, "Call to %s cut short - the phone was reset", number);
      break;
    case CallEnd::kNone:
      break;
  }
}

bool VoiceCall::Take(CallOutcome* outcome) {
  if (!untaken_) return false;
  *outcome = ended_;
  untaken_ = false;
  return true;
}

}  // namespace kelvor
