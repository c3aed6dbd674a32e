// The modem's parts put together as SmsModem puts them, with the dialogue in reach, for the
// tests of the dialogue itself.
#pragma once

#include <memory>

#include "modem/incoming_sms_reader.h"
#include "modem/modem_dialogue.h"
#include "modem/outgoing_queue.h"
#include "modem/serial_link.h"

namespace kelvor::test {

struct ModemParts {
  // A null `name` opens nothing, a null `mode` keeps the port's settings.
  ModemParts(const char* name, const char* mode, std::unique_ptr<SerialPort> port, Log& log,
             Clock& clock)
      : link(std::move(port), log), queue(log), dialogue(link, queue, reader, log, clock) {
    if (name != nullptr) link.OpenPort(name, mode);
    dialogue.Start();
    link.PurgePort();
  }

  SerialLink link;
  OutgoingQueue queue;
  IncomingSmsReader reader;
  ModemDialogue dialogue;
};

}  // namespace kelvor::test
