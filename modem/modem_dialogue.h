// The AT-command dialogue: resets and initialises the modem for SMS text mode (giving the
// SIM its PIN when one is given and the SIM asks), sends the queued SMS one at a time,
// holding them while the network is away, and asks for the signal quality while nothing
// waits. The errors a site engineer must act on are said in words. When the program
// listens for replies, it also reads the SMS that reach the phone, and deletes each.
#pragma once

#include <cstdint>

#include "log/log.h"
#include "modem/incoming_sms_reader.h"
#include "modem/modem_errors.h"
#include "modem/outgoing_queue.h"
#include "modem/serial_link.h"
#include "modem/sim_pin.h"
#include "platform/clock.h"

namespace kelvor {

enum ModemState : int32_t {
  WaitReset = 0,
  WaitErrorMode = 1,
  WaitEchoOff = 2,
  WaitTextMode = 3,
  WaitServiceSet = 4,
  WaitServiceQuery = 5,
  Ready = 6,
  WaitPrompt = 7,
  WaitSendResult = 8,
  WaitSignal = 9,
  WaitPinQuery = 10,      // "AT+CPIN?" sent (with a PIN given); waiting for "+CPIN:"
  WaitPin = 11,           // the PIN sent; waiting for "OK" or the SIM's refusal
  WaitRegistration = 12,  // "AT+CREG?" sent after the signal query; waiting for "+CREG:"
  // Listening for replies only:
  WaitIndication = 13,  // "AT+CNMI=2,1" sent after text mode; waiting for "OK" or an error
  WaitList = 14,        // a listing of the SMS received sent; waiting for its end
  WaitRead = 15,        // AT+CMGR sent for one SMS; waiting for its end
  WaitDelete = 16,      // AT+CMGD sent for the SMS read; waiting for its end
};

constexpr uint32_t kAnswerTimeout = 10000;  // ms the modem has to answer a command
constexpr uint32_t kPauseAfterSend = 1000;  // ms the dialogue rests after a confirmed SMS
constexpr int32_t kSendFailed = 515;        // last error after a refused SMS
constexpr size_t kResponseSize = 256;
constexpr uint32_t kSimBusyPause = 3000;  // ms before a busy SIM is asked again
constexpr int kSimBusyAsks = 10;          // busy answers waited out before the time-out may reset
constexpr int32_t kRegistrationUnknown = -1;
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
// Bytes of one answer to a reading command taken before the rest is dropped and the
// time-out may come: a listing of 80 SMS of 160 characters, not a line that chatters.
constexpr uint32_t kLongestReadAnswer = 20000;

// When the dialogue's next step is worth taking, for a caller that sleeps between steps.
struct NextStep {
  enum Kind {
    kIdle,        // Ready with nothing queued: whenever the caller steps anyway
    kOnBytes,     // a command awaits its answer: as soon as bytes arrive
    kAfterPause,  // the pause after a confirmed SMS holds the dialogue: in `milliseconds`
    kNow,         // an SMS waits to be addressed, or the pause is over
  };
  Kind kind;
  uint32_t milliseconds;
};

class ModemDialogue {
 public:
  ModemDialogue(SerialLink& link, OutgoingQueue& queue, IncomingSmsReader& reader, Log& log,
                Clock& clock);

  // Back to the start: WaitReset, no service number, an empty response, and a deadline
  // that has passed, so the first step without an answer resets the modem.
  void Start();

  // One step: read once, then take the time-out path or act on the state. While the pause
  // after a confirmed SMS lasts, a step does nothing.
  void PollModem();
  NextStep WhenToStep() const;
  // Takes the service-centre number and logs the number held. A null `number` takes
  // nothing; one that does not fit 31 characters or holds a character that would break the
  // AT+CSCA command is refused with a console line: the number held stays as it was.
  void SetServiceNumber(const char* number);
  // Takes the SIM's PIN, 4 to 8 digits, sent when the SIM asks for it; false, taking none,
  // for anything else. Null takes none. Without a PIN not one command changes.
  bool SetPin(const char* pin);

  // Reads the SMS that reach the phone from now on; see SmsModem::ListenForReplies.
  void ListenForReplies() { listening_ = true; }
  bool TakeIncoming(IncomingSms* sms);

  // True once the dialogue has reached Ready, since Start.
  bool HasBeenReady() const { return hasBeenReady_; }
  int SignalStrength() const { return signalStrength_; }
  int LastError() const { return lastError_; }
  // The phone's last answer to AT+CREG? (0 to 5), or kRegistrationUnknown before the
  // first. It is asked only while an SMS waits for the network.
  int32_t Registration() const { return registration_; }

 private:
  bool ReceiveResponse();
  void SendRaw(const char* data, uint32_t length);
  void SendCommand(const char* format, ...) KELVOR_PRINTF(2, 3);
  void SendCtrlZ();
  void DiscardResponse();
  bool Contains(const char* text) const;
  bool LineEnded(const char* answer) const;
  bool TimedOut();
  bool HeldByPause();
  uint32_t PauseLeft() const;
  void Step();
  bool AdvanceOnOk();
  void Advance(const char* logLine, ModemState next);
  void StepReady();
  void StepPrompt();
  void StepSendResult();
  void StepSignal();
  void DropExhausted();
  void TakeError(const char* marker);
  void RefusedSend(const char* marker, ErrorKind kind);
  void RenewDeadline();
  bool ErrorCode(const char* marker, int32_t* code) const;
  void ShowReceived(const char* chunk, uint32_t count);
  void SayErrors(size_t from);
  void SayError(ErrorKind kind, int32_t code);
  void StepEchoOff();
  void StepPinQuery();
  void StepPin();
  void TakePinState(const char* state);
  bool LineEndedError() const;
  void SendPin();
  void RefusePin();
  void WaitForSim();
  void GoToTextMode();
  void PromptRefused(const char* marker, ErrorKind kind);
  void HoldHead(Refusal refusal);
  void StepRegistration();
  void TakeRegistration(const char* fields);
  bool Reading() const;
  bool ReceiveReading(const char* chunk, uint32_t count);
  void StepTextMode();
  void StepIndication();
  bool StartReading();
  void BeginReading(ModemState state, const char* command);
  void StepReading();
  void TakeMessage();
  bool NextRead(uint16_t* index);
  void ReadAgainIfGarbled();

  SerialLink& link_;
  OutgoingQueue& queue_;
  IncomingSmsReader& reader_;
  Log& log_;
  Clock& clock_;
  ModemState state_ = WaitReset;
  bool hasBeenReady_ = false;
  char serviceNumber_[kNumberSize] = {};
  uint32_t deadline_ = 0;
  bool pausing_ = false;
  uint32_t pauseEnd_ = 0;
  uint32_t accumulatedLength_ = 0;
  int32_t signalStrength_ = 0;
  int32_t lastError_ = 0;
  char response_[kResponseSize] = {};
  char command_[kResponseSize] = {};

  char pin_[kLongestPin + 1] = {};  // empty: none given
  bool pinRefused_ = false;
  bool pinUnanswered_ = false;  // the PIN went out, and neither "OK" nor a refusal came
  bool askPinLater_ = false;    // the SIM was busy: AT+CPIN? again at askPinAt_
  uint32_t askPinAt_ = 0;
  int simBusyAnswers_ = 0;  // since the PIN query of this initialisation
  bool networkAway_ = false;
  int32_t registration_ = kRegistrationUnknown;
  // The error seen last; an error is said in words again only when another came between,
  // or the modem was ready or sent an SMS since.
  bool errorSeen_ = false;
  ErrorKind seenKind_ = ErrorKind::kPhone;
  int32_t seenCode_ = 0;

  // Replies: off unless the program listens for them.
  bool listening_ = false;
  bool received_ = false;       // the step under way read a chunk
  uint32_t readBytes_ = 0;      // of the answer to the reading command under way
  uint32_t readBytesAt_ = 0;    // when its last bytes (or the command) went by
  bool listed_ = false;         // a listing of the SMS unread went out since Start
  uint32_t listedAt_ = 0;       // when the last one went out
  bool listReadNext_ = false;   // a listing of the SMS read is due first
  uint32_t droppedBefore_ = 0;  // the reader's dropped indexes when the listing went out
  bool readAgain_ = false;      // the SMS at rereadIndex_ is read next
  uint16_t rereadIndex_ = 0;
  int garbledReads_ = 0;  // of that SMS, in a row
  IncomingSms inbox_;     // a message read, until the program takes it
  bool inboxFull_ = false;
};

// The registration state (+CREG <stat>) in words; null for kRegistrationUnknown.
const char* RegistrationWords(int32_t registration);

// The percentage of a +CSQ rssi: 0 to 31 scale to 0 to 100; 99 (not measurable) and
// anything else outside 0 to 31 give 0.
int32_t SignalPercent(int32_t rssi);

}  // namespace kelvor
