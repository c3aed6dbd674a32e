#include "modem/sms_inbox.h"

#include "modem/modem_events.h"

namespace kelvor {

SmsInbox::SmsInbox(AtChannel& channel, Clock& clock, ModemEvents& events, uint8_t phone)
    : channel_(channel), clock_(clock), events_(events), phone_(phone) {}

void SmsInbox::Listen() {
  listening_ = true;
  channel_.Overhear(&reader_);
}

// An SMS announced or listed is read; otherwise, at most every kListingGap, a listing of the
// SMS unread finds those not announced. An index comes from the reader as a number, never
// as text.
bool SmsInbox::Start() {
  if (!listening_) return false;
  uint16_t index = 0;
  if (!NextRead(&index)) return StartListing();
  char command[sizeof "AT+CMGR=65535\r"];
  FormatReadCommand(index, command, sizeof command);
  reader_.ExpectMessage(index);
  Begin(Stage::kRead, command);
  return true;
}

bool SmsInbox::NextRead(uint16_t* index) {
  if (!readAgain_) return reader_.NextIndex(index);
  readAgain_ = false;
  *index = rereadIndex_;
  return true;
}

// A phone marks what it lists or shows as read, so the SMS read but not yet deleted (a read
// cut short by a reset, a run stopped in between, a listing longer than the reader keeps)
// are listed once the start-up script has ended, and after such a listing.
bool SmsInbox::StartListing() {
  uint32_t now = clock_.TickCount();
  bool listRead = listReadNext_;
  if (!listRead && listed_ && Elapsed(now, listedAt_) < kListingGap) return false;
  if (listRead) {
    listReadNext_ = false;
  } else {
    listed_ = true;
    listedAt_ = now;
  }
  droppedBefore_ = reader_.Dropped();
  reader_.ExpectListing();
  Begin(Stage::kList, listRead ? kListReadCommand : kListUnreadCommand);
  return true;
}

void SmsInbox::Begin(Stage stage, const char* command) {
  stage_ = stage;
  channel_.SendReading(command);
}

// A reading answer ends at a final line followed by kAnswerQuiet without new bytes.
bool SmsInbox::Step() {
  if (channel_.ReadingQuietFor(kAnswerQuiet)) reader_.Quiet();
  if (reader_.State() == IncomingSmsReader::kPending) return true;
  if (stage_ == Stage::kList && reader_.Dropped() != droppedBefore_) listReadNext_ = true;
  bool read = stage_ == Stage::kRead && reader_.HasMessage();
  if (stage_ == Stage::kRead) ReadAgainIfGarbled();
  stage_ = Stage::kNone;
  channel_.EndReading();
  channel_.Discard();
  if (read) PassOn();
  return stage_ != Stage::kNone;
}

// A read whose answer came garbled is read again next, kReadTries times in a row at most;
// the SMS stays on the SIM, marked read, for the listing of those read to find.
void SmsInbox::ReadAgainIfGarbled() {
  if (!reader_.Garbled()) {
    garbledReads_ = 0;
    return;
  }
  readAgain_ = ++garbledReads_ < kReadTries;
  if (!readAgain_) garbledReads_ = 0;
  rereadIndex_ = reader_.Message().index;
}

// An SMS received is handed to the program and deleted at once, so that the SIM never
// fills. One stored to be sent (which a forged listing line could point at) is neither.
void SmsInbox::PassOn() {
  const IncomingSms& message = reader_.Message();
  if (message.status != SmsStatus::kUnread && message.status != SmsStatus::kRead) return;
  ModemEvent* event = events_.Add(ModemEvent::kIncoming);
  event->phone = phone_;
  event->incoming = message;
  char command[sizeof "AT+CMGD=65535\r"];
  FormatDeleteCommand(message.index, command, sizeof command);
  reader_.ExpectAnswer();
  Begin(Stage::kDelete, command);
}

}  // namespace kelvor
