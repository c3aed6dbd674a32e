// Reading the SMS that reach one phone, when the program listens for replies: each SMS
// announced or listed is read, handed over and deleted, so that the SIM never fills. One
// reading command at a time, from Ready with nothing to send.
#pragma once

#include <cstdint>

#include "modem/at_channel.h"
#include "modem/incoming_sms_reader.h"
#include "platform/clock.h"

namespace kelvor {

class ModemEvents;

constexpr uint32_t kListingGap = 30000;  // ms from one listing of the SMS received to the next
// ms of quiet after its final line that end the answer to a reading command. A phone reads
// a listing from the SIM entry by entry and may pause between entries (tens to a few
// hundred ms), and a text's own "OK" line is followed by its next entry after such a pause;
// half a second bridges them, and costs a reading command, which goes out only while
// nothing waits to be sent, no more than the loop's own pace.
constexpr uint32_t kAnswerQuiet = 500;
// Reads in a row of one SMS whose answer came garbled (bytes lost on the line) before it is
// left to a later listing, so that a place that never reads cannot hold the reading up.
constexpr int kReadTries = 3;

class SmsInbox {
 public:
  // Each SMS read goes to `events` as it is read, told of `phone`.
  SmsInbox(AtChannel& channel, Clock& clock, ModemEvents& events, uint8_t phone);

  // Reads the SMS that reach the phone from now on.
  void Listen();
  bool Listening() const { return listening_; }
  // The start-up script has ended: the SMS read but not deleted (a reset may have cut a
  // read short) are listed first.
  void AfterStartup() { listReadNext_ = listening_; }
  // In Ready with nothing to send: true when a reading command went.
  bool Start();
  // One step on the answer; false once the phone is back in Ready.
  bool Step();

 private:
  enum class Stage : uint8_t {
    kNone,    // nothing read: the phone is in Ready, or busy with another matter
    kList,    // a listing went: collecting the indexes listed
    kRead,    // AT+CMGR went for one SMS
    kDelete,  // AT+CMGD went for the SMS read
  };

  bool NextRead(uint16_t* index);
  bool StartListing();
  void Begin(Stage stage, const char* command);
  void ReadAgainIfGarbled();
  void PassOn();

  AtChannel& channel_;
  Clock& clock_;
  ModemEvents& events_;
  uint8_t phone_;
  IncomingSmsReader reader_;
  bool listening_ = false;
  Stage stage_ = Stage::kNone;
  bool listed_ = false;         // a listing of the SMS unread went out since the start
  uint32_t listedAt_ = 0;       // when the last one went out
  bool listReadNext_ = false;   // a listing of the SMS read is due first
  uint32_t droppedBefore_ = 0;  // the reader's dropped indexes when the listing went out
  bool readAgain_ = false;      // the SMS at rereadIndex_ is read next
  uint16_t rereadIndex_ = 0;
  int garbledReads_ = 0;  // of that SMS, in a row
};

}  // namespace kelvor
