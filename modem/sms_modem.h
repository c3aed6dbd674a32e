// The GSM phone or modem: serial link, outgoing queue and AT dialogue.
#pragma once

#include <cstdint>
#include <memory>

#include "log/log.h"
#include "modem/modem_dialogue.h"
#include "modem/outgoing_queue.h"
#include "modem/serial_link.h"
#include "modem/sms_outbox.h"
#include "platform/clock.h"
#include "platform/serial.h"

namespace kelvor {

class SmsModem : public SmsOutbox {
 public:
  // `argument` is the whole COM argument, for example "COM5=9600,n,8,1". The modem is
  // always made, whether or not the port opens; a null `port` never opens.
  SmsModem(const char* argument, std::unique_ptr<SerialPort> port, Log& log, Clock& clock);
  // Discards the SMS still waiting, then closes the port.
  ~SmsModem() override;
  SmsModem(const SmsModem&) = delete;
  SmsModem& operator=(const SmsModem&) = delete;

  bool QueueMessage(const char* text, const char* number) override;
  bool Full() const override;
  int QueuedCount() const;
  void SetServiceNumber(const char* argument);
  // One step of the AT dialogue.
  void PollModem();
  int SignalStrength() const;
  int LastError() const;
  // What became of the SMS offered since the run started, for the heartbeat.
  const SmsTally& Tally() const { return queue_.Tally(); }

  // The SMS waiting, for a copy kept on disk and put back at the next start.
  OutgoingQueue& Queue() { return queue_; }
  const OutgoingQueue& Queue() const { return queue_; }

  // The dialogue's state, for tests and the status line of a service manager.
  const ModemDialogue& Dialogue() const { return dialogue_; }

 private:
  SerialLink link_;
  OutgoingQueue queue_;
  ModemDialogue dialogue_;
};

}  // namespace kelvor
