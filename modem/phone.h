// One GSM phone or modem on its serial port: its AT channel and the conversations held over
// it. The start-up script brings the phone to Ready, after every reset too; in Ready the
// phone gives one conversation its turn: sending the SMS queued first, then reading the SMS
// received, then asking after its own signal; a wake-up call, when one is asked for, holds
// the phone until it ends. A command that gets no answer in time resets
// the phone; a radio found hung is restarted. The queue it sends from is not its own: it is
// the one above the phones, which lends each SMS to one phone: a phone its lending policy
// does not let borrow leaves it alone.
#pragma once

#include <cstdint>
#include <memory>

#include "log/log.h"
#include "modem/at_channel.h"
#include "modem/modem_events.h"
#include "modem/outgoing_queue.h"
#include "modem/phone_health.h"
#include "modem/phone_reports.h"
#include "modem/radio_watch.h"
#include "modem/serial_link.h"
#include "modem/sim_pin.h"
#include "modem/sms_inbox.h"
#include "modem/sms_sending.h"
#include "modem/startup_script.h"
#include "modem/voice_call.h"
#include "platform/clock.h"
#include "platform/keyboard.h"
#include "platform/serial.h"

namespace kelvor {

// When the phone's next step is worth taking, for a caller that sleeps between steps.
struct NextStep {
  enum Kind {
    kIdle,        // Ready with nothing queued: whenever the caller steps anyway
    kOnBytes,     // a command awaits its answer: as soon as bytes arrive
    kAfterPause,  // the pause after a confirmed SMS holds the phone: in `milliseconds`
    kNow,         // an SMS waits to be addressed, or the pause is over
  };
  Kind kind;
  uint32_t milliseconds;
};

class Phone {
 public:
  // Opens the port by its name with its mode, or with the settings it has when `mode` is
  // null; a null `portName` opens nothing, a null `port` never opens. The phone is made
  // whether or not the port opens: its first step without an answer resets it. It borrows
  // from `queue` as `place` (kMainPhone, kStandbyPhone).
  Phone(const char* portName, const char* mode, std::unique_ptr<SerialPort> port,
        OutgoingQueue& queue, ModemEvents& events, uint8_t place, Log& log, Clock& clock);
  Phone(const Phone&) = delete;
  Phone& operator=(const Phone&) = delete;

  void SetServiceNumber(const char* number) { startup_.SetServiceNumber(number); }
  bool SetPin(const char* pin) { return sim_.Set(pin); }
  void SetPause(uint32_t milliseconds) { sending_.SetPause(milliseconds); }
  void ListenForReplies();
  // From now on its registration is asked with every signal query.
  void WatchRegistration() { sending_.Watch(); }
  // From now on every SMS asks for a status report valid `minutes`, and the phone gives them.
  void AskReports(uint32_t minutes);

  // One step: read once, then reset the phone if its answer is overdue, or step the
  // conversation under way. While the pause after a confirmed SMS lasts, a step does nothing.
  void Poll();
  NextStep WhenToStep() const;
  WaitEnd WaitForAnswer(uint32_t milliseconds, Keyboard& keyboard);

  const PhoneHealth& Health() const { return health_; }
  // The 7-bit set its texts go in (bits of TextSet): its own, kUcs2 when it has none but
  // UCS-2, none when it takes texts as they are; any it may have until it has said.
  uint8_t SevenBitSets() const;
  // What is known to keep it from sending; kNone when nothing is.
  PhoneFault Fault() const;
  // It answered its start-up since its last reset.
  bool Answers() const { return turn_ != Turn::kStartup; }
  // An SMS is on its way through it: its command or text went, the answer has not come.
  bool InFlight() const { return turn_ == Turn::kSending && sending_.InFlight(); }
  // The SMS it has borrowed from the queue, or 0.
  uint32_t Borrowed() const { return sending_.Borrowed(); }
  const char* PortName() const { return link_.PortName(); }
  // Calls `number` now, when the phone is in Ready with nothing to do and may call (see
  // VoiceCall); false otherwise.
  bool StartCall(const char* number);
  bool Calling() const { return turn_ == Turn::kCalling; }

 private:
  enum class Turn : uint8_t {
    kStartup,  // the start-up script, from the reset to Ready
    kReady,    // nothing under way: the next step gives a conversation its turn
    kSending,  // the SMS queued, and the phone's signal
    kReading,  // the SMS received
    kCalling,  // a wake-up call
    kReports,  // a status report acknowledged, or read from the phone's storage
  };

  bool HeldByPause();
  // A phone the queue does not lend to still reads its SMS and asks after its signal.
  bool Sends() const { return sending_.MayBorrow() && !radio_.WaitsForRestart(); }
  bool RestartDue() const { return radio_.Hung() && radio_.RestartDue(); }
  void TimedOut();
  void Recover();
  void Reset();
  void RestartRadio();
  void Step();
  void StepReady();
  void TakeErrors(ErrorKind kind);

  Log& log_;
  SerialLink link_;
  AtChannel channel_;
  SimPin sim_;
  PhoneHealth health_;
  RadioWatch radio_;
  PhoneCharsets charsets_;
  ReportSettings reportSettings_;
  StartupScript startup_;
  SmsSending sending_;
  SmsInbox inbox_;
  VoiceCall call_;
  PhoneReports reports_;
  Turn turn_ = Turn::kStartup;
  bool heardSinceReset_ = true;    // bytes came since the last reset (none is awaited at first)
  bool silent_ = false;            // a reset went unanswered, and nothing came since
  bool recoverAfterCall_ = false;  // a time-out's reset waits for the call's hang-up
};

}  // namespace kelvor
