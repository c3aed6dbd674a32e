// SPOOL=path: the queued alarm SMS, pending batches, escalations and wake-up calls kept in a
// file (format: spool_format.h), so that a restart sends them instead of losing them. It is
// in app/ because it copies the modem's queue record by record, which routing never sees.
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

// MAX_PATH, with room for the ".new", ".bad" and ".lck" files beside it.
constexpr size_t kSpoolPathSize = 260;
constexpr size_t kSpoolSuffixLength = 4;
constexpr size_t kLongestSpoolPath = kSpoolPathSize - 1 - kSpoolSuffixLength;  // SPOOL='s
// A failed write is tried again this often while nothing changes.
constexpr uint32_t kSpoolRetryMs = 1000;

// Alarm SMS (escalated ones too) are kept; Kelvor's own would be stale after a restart.
bool Spooled(const OutgoingSms& sms);
// The SMS of the modem's queue that the spool keeps.
int SpooledCount(const SmsModem& modem);

// The file's bytes, each wait as the time left at `now`; 0 when `capacity` is too small.
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

// Puts the whole records of `bytes` back, waits starting at `now`. A batch goes to a free
// destination with its number, or else into the queue as an SMS.
SpoolRestored RestoreSpool(const char* bytes, size_t length, SmsModem& modem,
                           DestinationList& destinations, Escalation& escalation,
                           WakeUpCalls& calls, uint32_t now);

// One run at a time holds the spool, by the lock file path.lck that the system lets go of
// however the process ends: two runs would wipe each other's SMS and send them twice.
class Spool {
 public:
  enum Write { kUnchanged, kWritten, kFailed, kTaken };  // kTaken: another run claimed it

  // `path` holds at most kLongestSpoolPath characters.
  explicit Spool(const char* path);
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // False when another run holds the lock. One that cannot be made is tried at each write.
  bool TakeClaim();

  // A damaged file is renamed to path.bad; one that cannot be read is left as it is.
  SpoolRestored Restore(SmsModem& modem, DestinationList& destinations, Escalation& escalation,
                        WakeUpCalls& calls, uint32_t now);

  // Writes on a change since the last write (an idle pass costs three sums), or a failed
  // write again after kSpoolRetryMs. Not written while another run has the lock.
  Write WriteIfChanged(const SmsModem& modem, const DestinationList& destinations,
                       const Escalation& escalation, const WakeUpCalls& calls, uint32_t now);
  // The run's last write, tried whatever the pace of retries.
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
  // kSpoolCapacity + 1 (longer is damaged), from the heap once.
  std::unique_ptr<char[]> buffer_;
};

// The spool through a run, each turn said. A spool another run holds is left to it, and
// this run goes on as without SPOOL=.
class RunSpool {
 public:
  explicit RunSpool(Log& log) : log_(log) {}

  // SPOOL=path taken: the spool is this run's unless another run holds it.
  void Start(const char* path);
  // What the last run left goes on, and is written again at once.
  void Restore(SmsModem& modem, DestinationList& destinations, Escalation& escalation,
               WakeUpCalls& calls, uint32_t now);
  // A failing spool is said once, and again when a write succeeds.
  void Write(const SmsModem& modem, const DestinationList& destinations,
             const Escalation& escalation, const WakeUpCalls& calls, uint32_t now);
  // At shutdown: the last write, even after failures; a failure is said.
  void Finish(const SmsModem& modem, const DestinationList& destinations,
              const Escalation& escalation, const WakeUpCalls& calls, uint32_t now);
  // The file holds what the run ends with.
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
