// The GSM phone or modem and the queue of SMS it sends, and a standby phone if one is
// given: app and routing see the modem through this face alone.
#pragma once

#include <cstdint>
#include <memory>

#include "log/log.h"
#include "log/prefixed_log.h"
#include "modem/delivery_watch.h"
#include "modem/failover.h"
#include "modem/incoming_sms.h"
#include "modem/modem_events.h"
#include "modem/outgoing_queue.h"
#include "modem/phone.h"
#include "modem/sharing.h"
#include "modem/sms_coding.h"
#include "modem/sms_outbox.h"
#include "platform/clock.h"
#include "platform/keyboard.h"
#include "platform/serial.h"

namespace kelvor {

constexpr uint32_t kLongestCallAge = 7 * 24 * 60 * kMinute;  // a week, in ms

class SmsModem : public SmsOutbox {
 public:
  // Opens the port by its name with its mode, or with the settings it has when `mode` is
  // null. A null `portName` opens nothing. The modem is always made, whether or not the
  // port opens; a null `port` never opens.
  SmsModem(const char* portName, const char* mode, std::unique_ptr<SerialPort> port, Log& log,
           Clock& clock);
  // Discards the SMS still waiting, then closes the port.
  ~SmsModem() override;
  SmsModem(const SmsModem&) = delete;
  SmsModem& operator=(const SmsModem&) = delete;

  uint32_t QueueMessage(const char* text, const char* number) override;
  uint32_t QueueAlarms(const char* text, const char* number, int8_t urgency) override;
  // Queues an SMS Kelvor writes about itself, not about alarms (a heartbeat, a status
  // answer, an acknowledgement's confirmation).
  uint32_t QueueServiceMessage(const char* text, const char* number);
  // Queues an alarm passed on to the next on call.
  uint32_t QueueEscalatedMessage(const char* text, const char* number);
  bool Full() const override;
  bool HasRoomFor(const char* text) const override { return queue_.HasRoomFor(text); }
  bool FitsOneSms(const char* text) const override;
  int QueuedCount() const;
  // Texts read in the code page of `table` go as `charset` asks, the phone asked for the
  // character sets it offers at each initialisation; without this call they go as given.
  void SetCoding(Charset charset, const CodePageTable& table);
  // Takes the service-centre number (null: none given) and logs the number held.
  void SetServiceNumber(const char* number);
  // Takes the SIM's PIN (4 to 8 digits; null: none), sent only when the SIM asks for it.
  bool SetPin(const char* pin);
  // A standby phone, opened as the constructor opens the main one, with its own SIM's PIN
  // (null: none): its lines begin "Standby ", it is initialised and watched (signal and
  // registration, the main phone's too from now on) and reads replies as the main phone
  // does; the queue lends it SMS only while the main phone has failed (see Failover).
  void AddStandby(const char* portName, const char* mode, std::unique_ptr<SerialPort> port,
                  const char* pin);
  // With a standby: both phones send while both are well (see Sharing).
  void ShareLoad();
  bool Shares() const { return sharing_.On(); }
  // Which phone sends: null without a standby, else "main" or "standby"; "both" while
  // sharing phones both send.
  const char* SendingPhone() const;
  // The SMS the phone `place` confirmed since the run started.
  uint32_t SentBy(uint8_t place) const { return sharing_.Sent(place); }
  // The phones' rest after each SMS they confirm: 0 to kLongestPauseAfterSend ms,
  // kDefaultPauseAfterSend unless set.
  void SetPause(uint32_t milliseconds);
  // From now on every SMS asks for a status report valid `minutes` (1 to 1440), and what the
  // reports say becomes kDelivery events (see DeliveryWatch).
  void AskReports(uint32_t minutes);
  const DeliveryWatch& Deliveries() const { return deliveries_; }
  DeliveryWatch& Deliveries() { return deliveries_; }
  // One step of the phone.
  void PollModem();
  // What happened in the steps since the last call, in order, into `events`; each event is
  // taken once. Take them after every step: the stream holds a few steps' worth.
  void TakeEvents(ModemEvents* events) {
    events_.MoveTo(events);
    watched_ = 0;
  }
  // When the next step is worth taking, for a loop that sleeps between steps; and the wait
  // for the bytes an answer brings, up to `milliseconds`, which a key at `keyboard` ends too.
  NextStep WhenToStep() const;
  WaitEnd WaitForAnswer(uint32_t milliseconds, Keyboard& keyboard);
  // The figures of the phone that sends.
  int SignalStrength() const;
  int LastError() const;
  // The phone's registration in words ("registered", "searching"...), or null while it is
  // not known: without a standby the phone is asked only after a sending refused for the
  // network.
  const char* Registration() const;
  // True once a phone has been initialised and ready, since the modem was made.
  bool HasBeenReady() const;
  // What became of the SMS offered since the run started, for the heartbeat.
  const SmsTally& Tally() const;

  // From now on the phone reads the SMS that reach it (each an event), and deletes each after
  // reading it. Without this call the phone gets not one command more.
  void ListenForReplies();

  // A wake-up call to `number` from the phone that sends, when no SMS waits to be sent and
  // that phone is in Ready and may call (see VoiceCall); false when it cannot start now.
  // Of two sharing phones, one free calls while the other sends. One call at a time: never
  // while either phone calls.
  bool StartCall(const char* number);
  bool Calling() const;
  // The last call made since the run started, for the status: none yet, or how long ago
  // (at most kLongestCallAge; a call older still shows that), and how it ended (kNone
  // while it rings).
  struct LastCall {
    bool made = false;
    uint32_t minutesAgo = 0;
    CallEnd end = CallEnd::kNone;
  };
  LastCall LastCallMade() const;

  // For a copy of the SMS waiting kept elsewhere, and put back at the next start: the SMS
  // `index` places after the oldest (0), index below QueuedCount(); a count that grows at
  // every change of the SMS waiting; an SMS queued again with the sendings and the id it had
  // (see OutgoingQueue::Requeue), and ids kept elsewhere that new SMS must not take.
  const OutgoingSms& Queued(int index) const;
  uint32_t QueueChanges() const;
  uint32_t Requeue(const char* text, const char* number, int32_t attempts, SmsKind kind,
                   int8_t urgency = kMostUrgent, uint32_t id = 0);
  void IdsAbove(uint32_t id) { queue_.IdsAbove(id); }
  // The SMS `phone` (kMainPhone, kStandbyPhone) has borrowed from the queue, or 0.
  uint32_t Borrowed(uint8_t phone) const;

 private:
  const Phone& Sender() const;
  Phone& Sender();
  bool StandbySends() const;
  void Arbitrate();
  void Share();
  bool CallerStarts(const char* number);
  void NoteCallEnds(int from);

  Log& log_;
  Clock& clock_;
  ModemEvents events_;  // before the queue, which tells of its SMS there
  OutgoingQueue queue_;
  Phone phone_;
  std::unique_ptr<PrefixedLog> standbyLog_;
  std::unique_ptr<Phone> standby_;
  Failover failover_;
  Sharing sharing_;
  bool callMade_ = false;  // the last call, for the status
  uint32_t callAt_ = 0;
  CallEnd callEnd_ = CallEnd::kNone;
  bool listening_ = false;                   // a standby added later reads replies too
  uint32_t pause_ = kDefaultPauseAfterSend;  // ... and rests as the main phone does
  uint32_t reportMinutes_ = 0;               // ... and asks for reports; 0: none
  DeliveryWatch deliveries_;
  int watched_ = 0;  // events the watch has seen; a call's start may add some between steps
};

}  // namespace kelvor
