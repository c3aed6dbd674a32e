#include "modem/phone.h"

namespace kelvor {

Phone::Phone(const char* portName, const char* mode, std::unique_ptr<SerialPort> port,
             OutgoingQueue& queue, ModemEvents& events, uint8_t place, Log& log, Clock& clock)
    : log_(log),
      link_(std::move(port), log),
      channel_(link_, log, clock),
      sim_(log),
      radio_(clock),
      startup_(channel_, sim_, queue.Coding(), charsets_, log, clock),
      sending_(channel_, queue, place, health_, radio_, charsets_, log, clock),
      inbox_(channel_, clock, events, place),
      call_(channel_, log, clock, events, place),
      reports_(channel_, reportSettings_, events, place, log) {
  if (portName != nullptr) link_.OpenPort(portName, mode);
  channel_.Start();
  channel_.Mask(sim_.Digits());
  channel_.HearReports(&reports_);
  startup_.AskReports(&reportSettings_);
  sending_.AskReports(&reportSettings_);
  link_.PurgePort();
}

void Phone::ListenForReplies() {
  startup_.Announce();
  inbox_.Listen();
}

void Phone::AskReports(uint32_t minutes) {
  reportSettings_.asked = true;
  reportSettings_.validity = ValidityCode(minutes);
}

void Phone::Poll() {
  radio_.Pass();
  call_.Pass();
  if (HeldByPause()) return;
  reports_.NewStep();
  bool heard = channel_.Receive();
  if (heard) {
    heardSinceReset_ = true;
    silent_ = false;
  }
  // Only a step that brought nothing new can time out, and never in Ready or while a call
  // rings between two polls.
  bool waits = turn_ == Turn::kReady || (turn_ == Turn::kCalling && !call_.AwaitsAnswer());
  uint32_t answerTime = turn_ == Turn::kCalling ? call_.AnswerTime() : kAnswerTimeout;
  if (!heard && !waits && channel_.IdleFor(answerTime)) {
    TimedOut();
    return;
  }
  Step();
}

// A phone that has not answered since its reset is silent. A text it never confirmed is a
// sending its radio refused. A call that may be up is hung up first: not every phone's reset
// ends a voice call.
void Phone::TimedOut() {
  if (turn_ == Turn::kStartup && !heardSinceReset_) silent_ = true;
  if (turn_ == Turn::kSending) sending_.Abandon();
  reports_.Reset();
  recoverAfterCall_ = turn_ == Turn::kCalling && call_.GiveUp();
  if (!recoverAfterCall_) Recover();
}

// A radio that is hung is restarted instead of reset.
void Phone::Recover() {
  if (RestartDue()) {
    RestartRadio();
  } else {
    Reset();
  }
}

// Worst first: a phone whose port is gone is silent too.
PhoneFault Phone::Fault() const {
  if (!link_.IsOpen()) return PhoneFault::kPortGone;
  if (silent_) return PhoneFault::kSilent;
  // A locked SIM keeps the phone in its start-up.
  if (channel_.SimTrouble() && turn_ == Turn::kStartup) return PhoneFault::kSimLocked;
  int32_t stat = health_.registration;
  bool unregistered = stat != kRegistrationUnknown && stat != 1 && stat != 5;
  if (sending_.NetworkAway() || unregistered) return PhoneFault::kOffNetwork;
  if (radio_.Hung()) return PhoneFault::kRadioHung;
  return PhoneFault::kNone;
}

// What the phone offers, not the set it is in now: one it refused goes back at its reset, and
// batches should not shrink and grow meanwhile.
uint8_t Phone::SevenBitSets() const {
  if (!charsets_.listed) return SmsCoding::kAnySevenBitSet;
  TextSet rest = RestSet(charsets_.offered);
  if (rest != TextSet::kNone) return static_cast<uint8_t>(rest);
  return charsets_.offered & static_cast<uint8_t>(TextSet::kUcs2);
}

NextStep Phone::WhenToStep() const {
  if (turn_ == Turn::kSending && sending_.Pausing()) {
    uint32_t left = sending_.PauseLeft();
    return left > 0 ? NextStep{NextStep::kAfterPause, left} : NextStep{NextStep::kNow, 0};
  }
  if (turn_ != Turn::kReady) return {NextStep::kOnBytes, 0};
  // SMS held for the network, or left to another phone, are not addressed: Ready is as idle
  // as with none.
  bool work = (Sends() && sending_.HasWork()) || RestartDue() || reports_.HasWork();
  return {work ? NextStep::kNow : NextStep::kIdle, 0};
}

WaitEnd Phone::WaitForAnswer(uint32_t milliseconds, Keyboard& keyboard) {
  return channel_.WaitForBytes(milliseconds, keyboard);
}

// Some phones need a rest after a confirmed SMS. Only the phone rests: it neither reads nor
// steps until the pause is over, then goes on from Ready in the same step.
bool Phone::HeldByPause() {
  if (turn_ != Turn::kSending || !sending_.Pausing()) return false;
  if (!sending_.PauseOver()) return true;
  turn_ = Turn::kReady;
  return false;
}

// A phone that stays silent may be one whose port has gone (unplugged, re-enumerated): the
// reset command then goes out on a fresh handle. A working port is kept.
void Phone::Reset() {
  turn_ = Turn::kStartup;
  heardSinceReset_ = false;
  health_.registeredNow = false;
  log_.LogMessage(Colour::kModem, "Timeout\r\n");
  link_.ReopenIfFailed();
  startup_.Restart();
}

// The restart is the radio's reset: the start-up script follows it, the PIN included.
void Phone::RestartRadio() {
  turn_ = Turn::kStartup;
  heardSinceReset_ = false;
  health_.registeredNow = false;
  radio_.Restarting();
  startup_.Restart(true);
}

void Phone::Step() {
  switch (turn_) {
    case Turn::kStartup:
      if (!startup_.Step()) return;
      turn_ = Turn::kReady;
      health_.hasBeenReady = true;
      channel_.ClearSimTrouble();
      inbox_.AfterStartup();
      channel_.ForgetErrorSaid();  // whatever kept the phone from Ready is over
      return;
    case Turn::kReady:
      StepReady();
      return;
    case Turn::kSending:
      if (!sending_.Step(Sends())) turn_ = Turn::kReady;
      return;
    case Turn::kReading:
      if (!inbox_.Step()) turn_ = Turn::kReady;
      return;
    case Turn::kReports:
      if (!reports_.Step()) turn_ = Turn::kReady;
      return;
    case Turn::kCalling:
      if (call_.Step()) return;
      turn_ = Turn::kReady;
      if (recoverAfterCall_) Recover();
      recoverAfterCall_ = false;
      return;
  }
}

// A call waits for Ready: an SMS on its way, a reading command, the signal query and the
// rest after a confirmed SMS end first. A phone known to be off the network or hung waits
// too: its refusal would read as a phone without voice service.
bool Phone::StartCall(const char* number) {
  if (turn_ != Turn::kReady || Fault() != PhoneFault::kNone || RestartDue()) return false;
  if (!call_.Start(number)) return false;
  turn_ = Turn::kCalling;
  return true;
}

// Sending comes first; the SMS received are read only while none waits to be addressed, and
// in the phone's 7-bit set (under UCS2 it gives senders and texts as hex); the signal is
// asked only while the phone has nothing else to do. An error the phone reports unasked
// meanwhile becomes the last error.
void Phone::StepReady() {
  if (RestartDue()) {
    RestartRadio();
    return;
  }
  if (reports_.StartAcknowledging()) {  // the phone waits for it
    turn_ = Turn::kReports;
  } else if (Sends() && sending_.Start()) {
    turn_ = Turn::kSending;
  } else if (inbox_.Listening() && sending_.RestoreSet()) {
    turn_ = Turn::kSending;
  } else if (reports_.StartReading()) {
    turn_ = Turn::kReports;
  } else if (inbox_.Start()) {
    turn_ = Turn::kReading;
  } else if (sending_.AskSignal()) {
    turn_ = Turn::kSending;
  }
  TakeErrors(ErrorKind::kPhone);
  TakeErrors(ErrorKind::kSms);
}

void Phone::TakeErrors(ErrorKind kind) {
  if (channel_.Answer().ErrorCode(kind, &health_.lastError)) channel_.Discard();
}

}  // namespace kelvor
