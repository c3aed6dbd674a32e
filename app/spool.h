// SPOOL=path: the SMS waiting in the modem's queue, the destinations' pending batches, the
// alarm SMS awaiting an answer (escalation) and the wake-up calls waited for, kept in a file so
// that a restart (Q, a service manager, a crash, a power cut) sends them instead of losing them.
// The file's format is spool_format.h's.
//
// The spool lives in app/ rather than routing/: it copies the modem's queue record by
// record, attempts included, while routing sees the modem only as an SmsOutbox, and it is
// a file the command line asks for, read once at start-up and written from the main loop,
// both of which belong to the application.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "app/spool_format.h"
#include "log/log.h"
#include "modem/sms_modem.h"
#include "platform/file.h"
#include "routing/destination_list.h"
#include "routing/escalation.h"
#include "routing/wake_up_calls.h"

namespace kelvor {

// A path and its NUL, as Windows' MAX_PATH counts them, with room left for the ".new",
// ".bad" and ".lck" files beside it.
constexpr size_t kSpoolPathSize = 260;
constexpr size_t kSpoolSuffixLength = 4;
constexpr size_t kLongestSpoolPath = kSpoolPathSize - 1 - kSpoolSuffixLength;  // SPOOL='s
// A write that failed (the file held open by another program, a full disk) is tried again
// this often while nothing changes: the SCADA queue hands an alarm out once, so the file
// must catch up as soon as it can, but without a loop of writes that cannot succeed.
constexpr uint32_t kSpoolRetryMs = 1000;

// Whether the spool keeps an SMS of the queue: it does those that carry alarms, escalated
// ones included. One that Kelvor wrote about itself (a heartbeat, a status answer) would be
// stale after a restart, whose run says its own.
bool Spooled(const OutgoingSms& sms);
// The SMS of the modem's queue that the spool keeps.
int SpooledCount(const SmsModem& modem);

// Writes the spooled SMS of the modem's queue, the pending batches and the escalation's
// records, with the time each has left at `now`, into `buffer`; returns the length, or 0
// when `capacity` (at least kSpoolCapacity) is too small.
size_t EncodeSpool(const SmsModem& modem, const DestinationList& destinations,
                   const Escalation& escalation, const WakeUpCalls& calls, uint32_t now,
                   char* buffer, size_t capacity);

// What a restore did.
struct SpoolRestored {
  bool found = false;  // there was a file
  SpoolReading reading;
  int sms = 0;              // SMS back in the queue
  int batches = 0;          // batches back at a destination with their number
  int orphans = 0;          // batches whose destination is gone, queued as SMS to their number
  int refused = 0;          // records the queue refused (it says why)
  int escalations = 0;      // alarm SMS awaiting an answer, held again
  int notEscalated = 0;     // of those, the ones no rule names now, or with no room
  int calls = 0;            // wake-up calls waited for, held again
  int notCalled = 0;        // of those, the ones no rule names now
  int reports = 0;          // SMS awaiting a status report, awaited again
  bool keptBad = false;     // a damaged file was renamed to path.bad
  bool unreadable = false;  // the file is there but reading it failed (a folder, say)
};

// Puts the whole records of `bytes` back: SMS into the queue with their attempts; a batch
// to the first destination with its number that takes alarms and has none pending, its
// delay starting at `now`; a batch without such a destination into the queue; an alarm SMS
// awaiting an answer back to the escalation and a wake-up call to the calls, their waits
// starting at `now`.
SpoolRestored RestoreSpool(const char* bytes, size_t length, SmsModem& modem,
                           DestinationList& destinations, Escalation& escalation,
                           WakeUpCalls& calls, uint32_t now);

// The spool file of a run. One run at a time has it: two would each write the file from
// their own memory, wiping the other's SMS, and a second would send again what the first
// has on its way. A run holds a lock file of its own beside the spool, path.lck, from its
// claim to its end; the system lets go of it when the process ends, however it ends.
class Spool {
 public:
  enum Write { kUnchanged, kWritten, kFailed, kTaken };  // kTaken: another run claimed it

  // `path` holds at most kLongestSpoolPath characters.
  explicit Spool(const char* path);
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // Takes the lock for this run; false when another run holds it, and this run must then
  // neither read nor write the spool. A lock file that cannot be made (a missing folder) is
  // claimed again at each write.
  bool TakeClaim();

  // Reads the file, if there is one, back into the modem's queue and the destinations. A
  // damaged file is renamed to path.bad, so that it stays for a look and is not written
  // over; one that cannot be read is left where it is.
  SpoolRestored Restore(SmsModem& modem, DestinationList& destinations, Escalation& escalation,
                        WakeUpCalls& calls, uint32_t now);

  // Writes the file when the queue, a batch or the escalation changed since the last write,
  // or tried to: an idle pass costs three sums. A failed write is tried again at the next
  // change, and without one once kSpoolRetryMs have passed, until a write succeeds. A spool
  // not claimed yet is claimed first, and not written when another run has it.
  Write WriteIfChanged(const SmsModem& modem, const DestinationList& destinations,
                       const Escalation& escalation, const WakeUpCalls& calls, uint32_t now);
  // The run's last write: a failed one is tried again at once, whatever the pace of retries.
  Write WriteLast(const SmsModem& modem, const DestinationList& destinations,
                  const Escalation& escalation, const WakeUpCalls& calls, uint32_t now);
  // True when the file holds what the last call saw.
  bool UpToDate() const { return upToDate_; }
  const char* Path() const { return path_; }

 private:
  bool WriteFile(size_t length);

  char path_[kSpoolPathSize - kSpoolSuffixLength] = {};
  char newPath_[kSpoolPathSize] = {};
  char badPath_[kSpoolPathSize] = {};
  char lockPath_[kSpoolPathSize] = {};
  FileLock lock_;
  bool written_ = false;  // a write was tried; `changes_` is what it saw
  uint32_t changes_ = 0;
  bool upToDate_ = false;
  uint32_t retryAt_ = 0;  // after a failed write: when it is tried again without a change
  // kSpoolCapacity and one byte more, a longer file being damaged; from the heap, once,
  // as it is large.
  std::unique_ptr<char[]> buffer_;
};

// The spool through a run's life, from its SPOOL= argument to shutdown, each turn said on
// the console: claimed at start-up, restored once the destinations and the modem exist,
// written after every step that may change what it keeps. A spool another run holds is
// left to it, and this run goes on as without SPOOL=.
class RunSpool {
 public:
  explicit RunSpool(Log& log) : log_(log) {}

  // SPOOL=path taken: the spool is this run's unless another run holds it.
  void Start(const char* path);
  // What the last run left on its way goes on, and is on the disk again at once (a damaged
  // file has just been renamed).
  void Restore(SmsModem& modem, DestinationList& destinations, Escalation& escalation,
               WakeUpCalls& calls, uint32_t now);
  // A write when something changed, or a failed one tried again. A spool that cannot be
  // written is said once; the run goes on from memory and says when a write succeeds again.
  void Write(const SmsModem& modem, const DestinationList& destinations,
             const Escalation& escalation, const WakeUpCalls& calls, uint32_t now);
  // At shutdown (Q, Ctrl-C, the SCADA system gone): the last write, tried also when the
  // spool has been failing; a failure here is said.
  void Finish(const SmsModem& modem, const DestinationList& destinations,
              const Escalation& escalation, const WakeUpCalls& calls, uint32_t now);
  // True when the file holds what the run ends with: shutdown keeps it for the next start.
  bool Keeps() const { return spool_ && spool_->UpToDate(); }

 private:
  void Say(Spool::Write written);
  void LetGo();
  void SayRestored(const SpoolRestored& restored);

  Log& log_;
  std::optional<Spool> spool_;
  bool failing_ = false;  // the last write failed, and the operator was told
};

}  // namespace kelvor
