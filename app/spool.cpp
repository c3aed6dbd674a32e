#include "app/spool.h"

#include <cstdio>
#include <cstring>

#include "modem/modem_dialogue.h"
#include "platform/file.h"

namespace kelvor {
namespace {

constexpr char kHeader[] = "KELVOR SPOOL 1\r\n";
static_assert(sizeof kHeader - 1 == kSpoolHeaderSize, "the header's size");
constexpr char kEnd = 'E';
constexpr size_t kFixedPart = 8;  // kind, attempts, tick, number length, text length
constexpr size_t kCrcSize = 4;
static_assert(kFixedPart + kCrcSize == kSpoolRecordOverhead, "a record's fixed bytes");
static_assert(kBatchCapacity - 1 <= 255 && kNumberSize - 1 <= 255, "lengths fit a byte");

// CRC-32 as zip and Ethernet compute it (reflected polynomial 0xEDB88320): every burst of
// changed bytes up to four long is caught, longer damage all but once in 2^32.
struct CrcTable {
  uint32_t entries[256] = {};
  constexpr CrcTable() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t crc = i;
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
      entries[i] = crc;
    }
  }
};
constexpr CrcTable kCrcTable;

uint32_t Crc32(const char* data, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) {
    crc = kCrcTable.entries[(crc ^ static_cast<unsigned char>(data[i])) & 0xFFu] ^ (crc >> 8);
  }
  return ~crc;
}

void PutU32(char* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

uint32_t GetU32(const char* at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(at[i]);
  return value;
}

// Appends records to a buffer that has room for them, or notes that it had not.
class Encoder {
 public:
  Encoder(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  void Bytes(const char* data, size_t length) {
    if (length > capacity_ - used_) {
      full_ = true;
      return;
    }
    memcpy(buffer_ + used_, data, length);
    used_ += length;
  }
  void Record(char kind, int32_t attempts, uint32_t tick, const char* number, const char* text) {
    size_t start = used_;
    size_t numberLength = strlen(number);
    size_t textLength = strlen(text);
    char fixed[kFixedPart] = {kind, static_cast<char>(attempts)};
    PutU32(fixed + 2, tick);
    fixed[6] = static_cast<char>(numberLength);
    fixed[7] = static_cast<char>(textLength);
    Bytes(fixed, sizeof fixed);
    Bytes(number, numberLength);
    Bytes(text, textLength);
    if (full_) return;
    char crc[kCrcSize];
    PutU32(crc, Crc32(buffer_ + start, used_ - start));
    Bytes(crc, sizeof crc);
  }
  size_t Length() const { return full_ ? 0 : used_; }

 private:
  char* buffer_;
  size_t capacity_;
  size_t used_ = 0;
  bool full_ = false;
};

// One record read from `bytes`: its kind and its size, or size 0 when the bytes there are
// not a whole record that Kelvor could have written.
struct Parsed {
  char kind = 0;
  size_t size = 0;
  uint32_t tick = 0;
};

bool Holds(const char* bytes, size_t length, char c) {
  return memchr(bytes, c, length) != nullptr;
}

Parsed ParseRecord(const char* bytes, size_t length, SpoolRecord* record) {
  Parsed parsed;
  if (length < kSpoolRecordOverhead) return parsed;
  char kind = bytes[0];
  int32_t attempts = static_cast<unsigned char>(bytes[1]);
  size_t numberLength = static_cast<unsigned char>(bytes[6]);
  size_t textLength = static_cast<unsigned char>(bytes[7]);
  size_t textLimit = kind == SpoolRecord::kSms     ? kSmsTextLimit
                     : kind == SpoolRecord::kBatch ? kBatchCapacity - 1
                                                   : 0;
  bool known = kind == SpoolRecord::kSms || kind == SpoolRecord::kBatch || kind == kEnd;
  if (!known || textLength > textLimit || numberLength >= kNumberSize) return parsed;
  if ((kind == kEnd) != (numberLength == 0)) return parsed;  // only the end has no number
  if (attempts > (kind == SpoolRecord::kSms ? kMaxAttempts : 0)) return parsed;
  size_t body = kFixedPart + numberLength + textLength;
  if (length < body + kCrcSize || Crc32(bytes, body) != GetU32(bytes + body)) return parsed;
  const char* number = bytes + kFixedPart;
  const char* text = number + numberLength;
  if (Holds(number, numberLength, '\0') || Holds(text, textLength, '\0')) return parsed;

  record->kind = kind == SpoolRecord::kSms ? SpoolRecord::kSms : SpoolRecord::kBatch;
  record->attempts = attempts;
  record->pendingSince = GetU32(bytes + 2);
  memcpy(record->number, number, numberLength);
  record->number[numberLength] = '\0';
  memcpy(record->text, text, textLength);
  record->text[textLength] = '\0';
  parsed.kind = kind;
  parsed.size = body + kCrcSize;
  parsed.tick = record->pendingSince;
  return parsed;
}

// Hands restored records to the queue and the destinations.
class Restorer : public SpoolRecordSink {
 public:
  Restorer(OutgoingQueue& queue, DestinationList& destinations, uint32_t now,
           SpoolRestored& restored)
      : queue_(queue), destinations_(destinations), now_(now), restored_(restored) {}

  void Take(const SpoolRecord& record) override {
    if (record.kind == SpoolRecord::kSms) {
      Count(queue_.Requeue(record.text, record.number, record.attempts), restored_.sms);
    } else if (BackToDestination(record)) {
      ++restored_.batches;
    } else {
      Count(queue_.QueueMessage(record.text, record.number), restored_.orphans);
    }
  }

 private:
  void Count(bool taken, int& counter) { ++(taken ? counter : restored_.refused); }
  bool BackToDestination(const SpoolRecord& record) {
    for (int i = 0; i < destinations_.Count(); ++i) {
      AlarmDestination& destination = destinations_[i];
      if (destination.BatchPending() || strcmp(destination.Number(), record.number) != 0) continue;
      if (destination.RestoreBatch(record.text, now_)) return true;
    }
    return false;
  }

  OutgoingQueue& queue_;
  DestinationList& destinations_;
  uint32_t now_;
  SpoolRestored& restored_;
};

}  // namespace

SpoolArgument ParseSpoolArgument(const char* argument) {
  SpoolArgument parsed;
  const char* path = strchr(argument, '=');
  path = path != nullptr ? path + 1 : "";
  size_t length = strlen(path);
  if (length == 0) {
    parsed.outcome = SpoolArgument::kEmpty;
  } else if (length > kSpoolPathSize - 1 - kSpoolSuffixLength) {
    parsed.outcome = SpoolArgument::kTooLong;
  } else {
    parsed.outcome = SpoolArgument::kPath;
    memcpy(parsed.path, path, length + 1);
  }
  return parsed;
}

size_t EncodeSpool(const OutgoingQueue& queue, const DestinationList& destinations, char* buffer,
                   size_t capacity) {
  Encoder encoder(buffer, capacity);
  encoder.Bytes(kHeader, kSpoolHeaderSize);
  uint32_t records = 0;
  for (int i = 0; i < queue.Count(); ++i, ++records) {
    const OutgoingSms& sms = queue.At(i);
    encoder.Record(SpoolRecord::kSms, sms.attempts, 0, sms.number, sms.text);
  }
  for (int i = 0; i < destinations.Count(); ++i) {
    const AlarmDestination& destination = destinations[i];
    // A batch without a number is never sent, so it is not kept either.
    if (!destination.BatchPending() || destination.Number()[0] == '\0') continue;
    encoder.Record(SpoolRecord::kBatch, 0, destination.PendingSince(), destination.Number(),
                   destination.Batch());
    ++records;
  }
  encoder.Record(kEnd, 0, records, "", "");
  return encoder.Length();
}

SpoolReading DecodeSpool(const char* bytes, size_t length, SpoolRecordSink& sink) {
  SpoolReading reading;
  reading.damaged = true;
  if (length < kSpoolHeaderSize || memcmp(bytes, kHeader, kSpoolHeaderSize) != 0) return reading;
  size_t at = kSpoolHeaderSize;
  int sms = 0;
  int batches = 0;
  SpoolRecord record;
  for (;;) {
    reading.damagedAt = static_cast<uint32_t>(at);
    Parsed parsed = ParseRecord(bytes + at, length - at, &record);
    if (parsed.size == 0) return reading;
    if (parsed.kind == kEnd) {
      // Whole only with every record before it and nothing after it.
      reading.damaged = parsed.tick != static_cast<uint32_t>(reading.records);
      if (at + parsed.size != length) {
        reading.damaged = true;
        reading.damagedAt = static_cast<uint32_t>(at + parsed.size);
      }
      return reading;
    }
    int& kept = parsed.kind == SpoolRecord::kSms ? sms : batches;
    int limit = parsed.kind == SpoolRecord::kSms ? kQueueCapacity : DestinationList::kCapacity;
    if (++kept > limit) return reading;
    sink.Take(record);
    ++reading.records;
    at += parsed.size;
  }
}

SpoolRestored RestoreSpool(const char* bytes, size_t length, OutgoingQueue& queue,
                           DestinationList& destinations, uint32_t now) {
  SpoolRestored restored;
  restored.found = true;
  Restorer restorer(queue, destinations, now, restored);
  restored.reading = DecodeSpool(bytes, length, restorer);
  return restored;
}

Spool::Spool(const char* path) {
  snprintf(path_, sizeof path_, "%s", path);
  snprintf(newPath_, sizeof newPath_, "%s.new", path_);
  snprintf(badPath_, sizeof badPath_, "%s.bad", path_);
}

SpoolRestored Spool::Restore(OutgoingQueue& queue, DestinationList& destinations, uint32_t now) {
  FileReader reader;
  if (!reader.Open(path_)) return SpoolRestored{};
  uint32_t length = 0;
  uint32_t got = 0;
  bool read = true;
  while (length < sizeof buffer_ &&
         (read = reader.Read(buffer_ + length, static_cast<uint32_t>(sizeof buffer_ - length),
                             &got)) &&
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
  SpoolRestored restored = RestoreSpool(buffer_, length, queue, destinations, now);
  if (restored.reading.damaged) restored.keptBad = RenameOver(path_, badPath_);
  return restored;
}

Spool::Write Spool::WriteIfChanged(const OutgoingQueue& queue,
                                   const DestinationList& destinations) {
  uint32_t changes = queue.Changes() + destinations.Changes();
  if (written_ && changes == changes_) return kUnchanged;
  written_ = true;
  changes_ = changes;
  size_t length = EncodeSpool(queue, destinations, buffer_, sizeof buffer_);
  upToDate_ = length > 0 && WriteFile(length);
  return upToDate_ ? kWritten : kFailed;
}

// The whole file is written anew beside the old one, flushed to the disk, and renamed over
// it: a power cut leaves either the old file or the new one, never a mix, and the reader
// needs no journal replay or compaction. A journal would write fewer bytes per change, but
// the file is at most about 10 KiB, and what a write costs is the flush, which a journal
// would pay at every change all the same.
bool Spool::WriteFile(size_t length) {
  FileWriter writer;
  bool written = writer.Open(newPath_, FileWriter::kTruncate) && writer.Write(buffer_, length) &&
                 writer.Flush();
  writer.Close();  // Windows renames no file that is open
  if (written && RenameOver(newPath_, path_)) return true;
  RemoveFile(newPath_);
  return false;
}

}  // namespace kelvor
