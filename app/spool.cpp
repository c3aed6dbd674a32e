#include "app/spool.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "platform/clock.h"
#include "platform/file.h"

namespace kelvor {
namespace {

// Hands restored records to the modem's queue and the destinations.
class Restorer : public SpoolRecordSink {
 public:
  Restorer(SmsModem& modem, DestinationList& destinations, Escalation& escalation,
           WakeUpCalls& calls, uint32_t now, SpoolRestored& restored)
      : modem_(modem),
        destinations_(destinations),
        escalation_(escalation),
        calls_(calls),
        now_(now),
        restored_(restored) {}

  void Take(const SpoolRecord& record) override {
    if (record.kind == SpoolRecord::kSms) {
      Count(modem_.Requeue(record.text, record.number, record.attempts, record.smsKind,
                           record.urgency, record.id) != 0,
            restored_.sms);
    } else if (record.kind == SpoolRecord::kRing) {
      ++(calls_.Restore(record.ring, now_) ? restored_.calls : restored_.notCalled);
    } else if (record.kind == SpoolRecord::kEscalation) {
      RestoreEscalation(record.escalation);
    } else if (record.kind == SpoolRecord::kReport) {
      // Without DELIVERY= now, no report is matched: the SMS is forgotten.
      DeliveryWatch& watch = modem_.Deliveries();
      restored_.reports += watch.On() && watch.Restore(record.report, now_) ? 1 : 0;
    } else if (destinations_.RestoreBatch(record.number, record.text, now_,
                                          record.batchAlarmsKept ? &record.batchAlarms : nullptr)) {
      ++restored_.batches;
    } else {
      Count(modem_.QueueMessage(record.text, record.number) != 0, restored_.orphans);
    }
  }

 private:
  // The escalated SMS a record waits for keeps its id.
  void RestoreEscalation(EscalationRecord escalation) {
    if (!escalation.delivered && escalation.sentId == 0) escalation.sentId = Relink(escalation);
    bool held = escalation_.Restore(escalation, now_) == Escalation::kRestored;
    ++(held ? restored_.escalations : restored_.notEscalated);
  }

  // A file that kept no ids: the record waits for the oldest escalated SMS queued to its
  // holder that no record before it took; 0 when there is none.
  uint32_t Relink(const EscalationRecord& escalation) {
    for (int i = 0; i < modem_.QueuedCount() && i < kQueueCapacity; ++i) {
      const OutgoingSms& sms = modem_.Queued(i);
      bool free = (linked_ >> i & 1u) == 0;
      if (free && sms.kind == SmsKind::kEscalated && strcmp(sms.number, escalation.holder) == 0) {
        linked_ |= 1u << i;
        return sms.id;
      }
    }
    return 0;
  }

  void Count(bool taken, int& counter) { ++(taken ? counter : restored_.refused); }

  SmsModem& modem_;
  DestinationList& destinations_;
  Escalation& escalation_;
  WakeUpCalls& calls_;
  uint32_t now_;
  SpoolRestored& restored_;
  uint32_t linked_ = 0;  // bit n: the SMS n places after the head was relinked
};
static_assert(kQueueCapacity <= 32, "a bit for each SMS queued");

// The highest id a file names, of an SMS or an escalation record's.
class HighestId : public SpoolRecordSink {
 public:
  void Take(const SpoolRecord& record) override {
    for (uint32_t id :
         {record.id, record.escalation.alarmId, record.escalation.sentId, record.report.id}) {
      if (id > highest) highest = id;
    }
  }
  uint32_t highest = 0;
};

}  // namespace

bool Spooled(const OutgoingSms& sms) {
  return sms.kind == SmsKind::kAlarm || sms.kind == SmsKind::kEscalated;
}

int SpooledCount(const SmsModem& modem) {
  int count = 0;
  for (int i = 0; i < modem.QueuedCount(); ++i) count += Spooled(modem.Queued(i)) ? 1 : 0;
  return count;
}

size_t EncodeSpool(const SmsModem& modem, const DestinationList& destinations,
                   const Escalation& escalation, const WakeUpCalls& calls, uint32_t now,
                   char* buffer, size_t capacity) {
  SpoolEncoder encoder(buffer, capacity);
  for (int i = 0; i < modem.QueuedCount(); ++i) {
    const OutgoingSms& sms = modem.Queued(i);
    if (Spooled(sms)) {
      encoder.Sms(sms.attempts, sms.number, sms.text, sms.kind, sms.urgency, sms.id);
    }
  }
  destinations.ForEachPendingBatch([&encoder](const PendingBatch& batch) {
    // A batch without a number is never sent, so it is not kept either.
    if (batch.number[0] != '\0') {
      encoder.Batch(batch.since, batch.number, batch.text, *batch.alarms);
    }
  });
  // Each record the escalation and the wake-up calls keep, to the encoder.
  class Kept : public EscalationRecordSink, public RingRecordSink, public AwaitedReportSink {
   public:
    explicit Kept(SpoolEncoder& encoder) : encoder_(encoder) {}
    void Take(const EscalationRecord& record) override { encoder_.Escalation(record); }
    void Take(const RingRecord& record) override { encoder_.Ring(record); }
    void Take(const AwaitedReport& awaited) override { encoder_.Report(awaited); }

   private:
    SpoolEncoder& encoder_;
  } kept(encoder);
  escalation.Save(now, kept);
  calls.Save(now, kept);
  modem.Deliveries().Save(now, kept);
  return encoder.Finish();
}

SpoolRestored RestoreSpool(const char* bytes, size_t length, SmsModem& modem,
                           DestinationList& destinations, Escalation& escalation,
                           WakeUpCalls& calls, uint32_t now) {
  SpoolRestored restored;
  restored.found = true;
  // No SMS queued from now on, a batch's before the rest, takes an id the file names.
  HighestId ids;
  DecodeSpool(bytes, length, ids);
  modem.IdsAbove(ids.highest);
  Restorer restorer(modem, destinations, escalation, calls, now, restored);
  restored.reading = DecodeSpool(bytes, length, restorer);
  return restored;
}

Spool::Spool(const char* path) : buffer_(new char[kSpoolCapacity + 1]) {
  snprintf(path_, sizeof path_, "%s", path);
  snprintf(newPath_, sizeof newPath_, "%s.new", path_);
  snprintf(badPath_, sizeof badPath_, "%s.bad", path_);
  snprintf(lockPath_, sizeof lockPath_, "%s.lck", path_);
}

bool Spool::TakeClaim() {
  return lock_.Acquire(lockPath_) != FileLock::kInUse;
}

SpoolRestored Spool::Restore(SmsModem& modem, DestinationList& destinations, Escalation& escalation,
                             WakeUpCalls& calls, uint32_t now) {
  FileReader reader;
  if (!reader.Open(path_)) return SpoolRestored{};
  uint32_t length = 0;
  uint32_t got = 0;
  bool read = true;
  const size_t size = kSpoolCapacity + 1;
  char* buffer = buffer_.get();
  while (length < size &&
         (read = reader.Read(buffer + length, static_cast<uint32_t>(size - length), &got)) &&
         got > 0) {
    length += got;
  }
  reader.Close();  // Windows renames no file that is open
  if (!read) {
    SpoolRestored unreadable;
    unreadable.found = true;
    unreadable.unreadable = true;
    return unreadable;
  }
  SpoolRestored restored =
      RestoreSpool(buffer, length, modem, destinations, escalation, calls, now);
  if (restored.reading.damaged) restored.keptBad = RenameOver(path_, badPath_);
  return restored;
}

Spool::Write Spool::WriteIfChanged(const SmsModem& modem, const DestinationList& destinations,
                                   const Escalation& escalation, const WakeUpCalls& calls,
                                   uint32_t now) {
  uint32_t changes = modem.QueueChanges() + destinations.Changes() + escalation.Changes() +
                     calls.Changes() + modem.Deliveries().Changes();
  bool retry = !upToDate_ && DeadlinePassed(now, retryAt_);
  if (written_ && changes == changes_ && !retry) return kUnchanged;
  if (!lock_.Held() && !TakeClaim()) return kTaken;
  written_ = true;
  changes_ = changes;
  size_t length =
      EncodeSpool(modem, destinations, escalation, calls, now, buffer_.get(), kSpoolCapacity + 1);
  upToDate_ = length > 0 && WriteFile(length);
  retryAt_ = now + kSpoolRetryMs;
  return upToDate_ ? kWritten : kFailed;
}

Spool::Write Spool::WriteLast(const SmsModem& modem, const DestinationList& destinations,
                              const Escalation& escalation, const WakeUpCalls& calls,
                              uint32_t now) {
  if (!upToDate_) retryAt_ = PassedDeadline(now);
  return WriteIfChanged(modem, destinations, escalation, calls, now);
}

// The whole file is written anew beside the old one, flushed to the disk, and renamed over
// it: a power cut leaves either the old file or the new one, never a mix, and the reader
// needs no journal replay or compaction. A journal would write fewer bytes per change, but
// the file is at most about 160 KB (most of it the escalation's records, seldom all in use), and
// what a write costs is the flush, which a journal would pay at every change all the same.
bool Spool::WriteFile(size_t length) {
  FileWriter writer;
  bool written = writer.Open(newPath_, FileWriter::kTruncate) &&
                 writer.Write(buffer_.get(), length) && writer.Flush();
  writer.Close();  // Windows renames no file that is open
  if (written && RenameOver(newPath_, path_)) return true;
  RemoveFile(newPath_);
  return false;
}

void RunSpool::Start(const char* path) {
  spool_.emplace(path);
  if (!spool_->TakeClaim()) LetGo();
}

void RunSpool::Restore(SmsModem& modem, DestinationList& destinations, Escalation& escalation,
                       WakeUpCalls& calls, uint32_t now) {
  if (!spool_) return;
  SayRestored(spool_->Restore(modem, destinations, escalation, calls, now));
  Write(modem, destinations, escalation, calls, now);
}

void RunSpool::Write(const SmsModem& modem, const DestinationList& destinations,
                     const Escalation& escalation, const WakeUpCalls& calls, uint32_t now) {
  if (spool_) Say(spool_->WriteIfChanged(modem, destinations, escalation, calls, now));
}

void RunSpool::Finish(const SmsModem& modem, const DestinationList& destinations,
                      const Escalation& escalation, const WakeUpCalls& calls, uint32_t now) {
  if (!spool_) return;
  Spool::Write written = spool_->WriteLast(modem, destinations, escalation, calls, now);
  if (written == Spool::kFailed) {
    log_.LogMessage(Colour::kError, "Spool %.120s: last write at shutdown failed\r\n",
                    spool_->Path());
    failing_ = true;
  } else {
    Say(written);
  }
}

void RunSpool::Say(Spool::Write written) {
  if (written == Spool::kTaken) {
    LetGo();
  } else if (written == Spool::kFailed && !failing_) {
    log_.LogMessage(Colour::kError, "Spool %.120s cannot be written - going on from memory\r\n",
                    spool_->Path());
    failing_ = true;
  } else if (written == Spool::kWritten && failing_) {
    log_.LogMessage(Colour::kNormal, "Spool %.120s written again\r\n", spool_->Path());
    failing_ = false;
  }
}

void RunSpool::LetGo() {
  log_.LogMessage(Colour::kError, "Spool %.120s in use by another run - SPOOL ignored\r\n",
                  spool_->Path());
  spool_.reset();
  failing_ = false;
}

void RunSpool::SayRestored(const SpoolRestored& restored) {
  if (!restored.found) {
    log_.LogMessage(Colour::kNormal, "Spool %.120s: no file yet, nothing to restore\r\n",
                    spool_->Path());
    return;
  }
  if (restored.unreadable) {
    log_.LogMessage(Colour::kError, "Spool %.120s cannot be read - nothing restored\r\n",
                    spool_->Path());
    return;
  }
  log_.LogMessage(Colour::kNormal,
                  "Spool restores SMS queued: %d, alarm batches pending: %d, batches queued as "
                  "SMS: %d, refused: %d\r\n",
                  restored.sms, restored.batches, restored.orphans, restored.refused);
  if (restored.escalations + restored.notEscalated > 0) {
    log_.LogMessage(Colour::kNormal,
                    "Spool restores alarm SMS awaiting an answer: %d, no longer escalated: %d\r\n",
                    restored.escalations, restored.notEscalated);
  }
  if (restored.calls + restored.notCalled > 0) {
    log_.LogMessage(Colour::kNormal,
                    "Spool restores wake-up calls waited for: %d, no longer rung: %d",
                    restored.calls, restored.notCalled);
  }
  if (restored.reports > 0) {
    log_.LogMessage(Colour::kNormal, "Spool restores SMS awaiting a status report: %d\r\n",
                    restored.reports);
  }
  if (!restored.reading.damaged) return;
  log_.LogMessage(Colour::kError,
                  "Spool %.80s damaged at byte %u: whole records before it "
                  "restored, the file %s %.80s.bad\r\n",
                  spool_->Path(), static_cast<unsigned>(restored.reading.damagedAt),
                  restored.keptBad ? "kept as" : "could not be kept as", spool_->Path());
}

}  // namespace kelvor
