#include "app/spool_format.h"

#include <cstring>

#include "modem/sms_outbox.h"

namespace kelvor {
namespace {

constexpr char kHeader[] = "KELVOR SPOOL 3\r\n";
constexpr char kHeaderWithoutReports[] = "KELVOR SPOOL 2\r\n";
constexpr char kHeaderWithoutIds[] = "KELVOR SPOOL 1\r\n";
static_assert(sizeof kHeader - 1 == kSpoolHeaderSize, "the header's size");
static_assert(sizeof kHeaderWithoutIds - 1 == kSpoolHeaderSize, "the header's size");
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

// Reads the fields of a record one after the other, each within the bytes there are.
class FieldReader {
 public:
  FieldReader(const char* bytes, size_t length) : at_(bytes), end_(bytes + length) {}

  const char* At() const { return at_; }
  bool Byte(uint32_t* value) {
    if (end_ - at_ < 1) return false;
    *value = static_cast<unsigned char>(*at_++);
    return true;
  }
  // A text of `length` bytes without a NUL, copied with its NUL into `to`.
  bool Text(size_t length, char* to) {
    if (static_cast<size_t>(end_ - at_) < length || Holds(at_, length, '\0')) return false;
    memcpy(to, at_, length);
    to[length] = '\0';
    at_ += length;
    return true;
  }
  bool U32(uint32_t* value) {
    if (end_ - at_ < 4) return false;
    *value = GetU32(at_);
    at_ += 4;
    return true;
  }
  // A length (1 byte) below `size`, then that text.
  bool Counted(size_t size, char* to) {
    uint32_t length = 0;
    return Byte(&length) && length < size && Text(length, to);
  }

 private:
  const char* at_;
  const char* end_;
};

// What follows the text of a 'B' of attempts 1: its alarms, named and counted, within the
// text's `textLength` characters and the limits a batch keeps.
bool ParseBatchAlarms(FieldReader& fields, size_t textLength, BatchAlarms* alarms) {
  uint32_t count = 0;
  if (!fields.Byte(&count) || count > static_cast<uint32_t>(kNamedCapacity)) return false;
  alarms->namedCount = static_cast<int>(count);
  size_t named = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t length = 0, priority = 0, hour = 0, minute = 0;
    if (!fields.Byte(&length) || !fields.Byte(&priority) || !fields.Byte(&hour) ||
        !fields.Byte(&minute) || priority >= static_cast<uint32_t>(kPriorities)) {
      return false;
    }
    NamedAlarm& alarm = alarms->named[i];
    alarm.length = static_cast<uint8_t>(length);
    alarm.priority = static_cast<int8_t>(priority);
    alarm.hour = static_cast<int8_t>(hour);
    alarm.minute = static_cast<int8_t>(minute);
    named += length;
  }
  AlarmCount& counted = alarms->counted;
  for (uint32_t& byPriority : counted.byPriority) {
    if (!fields.U32(&byPriority) || byPriority > kCountMost) return false;
  }
  uint32_t hour = 0, minute = 0, since = 0;
  if (!fields.Byte(&hour) || !fields.Byte(&minute) || !fields.Byte(&since)) return false;
  counted.hour = static_cast<int8_t>(hour);
  counted.minute = static_cast<int8_t>(minute);
  counted.namedSince = static_cast<uint8_t>(since);
  return since <= count && named <= textLength;
}

// What follows the text of an 'A': the number passed over, and the numbers reached.
bool ParseEscalationTail(FieldReader& fields, EscalationRecord* escalation) {
  uint32_t low = 0, high = 0, count = 0;
  if (!fields.Byte(&low) || !fields.Byte(&high)) return false;
  escalation->passedMinutes = low | high << 8;
  if (!fields.Counted(kNumberSize, escalation->passedOver)) return false;
  bool passed = escalation->passedOver[0] != '\0';
  if (passed != (escalation->passedMinutes != 0)) return false;
  if (escalation->passedMinutes > kLongestEscalationMinutes) return false;
  if (!fields.Byte(&count) || count == 0 || count > kEscalationNumberCapacity) return false;
  escalation->reachedCount = static_cast<int>(count);
  for (uint32_t i = 0; i < count; ++i) {
    EscalationRecord::Reached& reached = escalation->reached[i];
    uint32_t confirmed = 0;
    if (!fields.Byte(&confirmed) || confirmed > 1) return false;
    reached.confirmed = confirmed == 1;
    if (!fields.Counted(kNumberSize, reached.number) || reached.number[0] == '\0') return false;
  }
  return true;
}

// The ids a record of version 2 ends with; an SMS awaiting its report, its id, kind and phone.
bool ParseIds(FieldReader& fields, char kind, SpoolRecord* record) {
  if (kind == SpoolRecord::kSms) return fields.U32(&record->id);
  if (kind == SpoolRecord::kReport) {
    uint32_t smsKind = 0;
    uint32_t phone = 0;
    AwaitedReport& awaited = record->report;
    if (!fields.U32(&awaited.id) || !fields.Byte(&smsKind) || !fields.Byte(&phone)) return false;
    if (smsKind > static_cast<uint32_t>(SmsKind::kEscalated) || phone >= kPhoneCount) return false;
    awaited.kind = static_cast<SmsKind>(smsKind);
    awaited.phone = static_cast<uint8_t>(phone);
    return true;
  }
  if (kind == SpoolRecord::kEscalation) {
    return fields.U32(&record->escalation.alarmId) && fields.U32(&record->escalation.sentId);
  }
  return true;
}

Parsed ParseRecord(const char* bytes, size_t length, int version, SpoolRecord* record) {
  bool ids = version >= 2;
  Parsed parsed;
  if (length < kSpoolRecordOverhead) return parsed;
  char kind = bytes[0];
  int32_t attempts = static_cast<unsigned char>(bytes[1]);
  uint32_t tick = GetU32(bytes + 2);
  size_t numberLength = static_cast<unsigned char>(bytes[6]);
  size_t textLength = static_cast<unsigned char>(bytes[7]);
  bool escalation = kind == SpoolRecord::kEscalation;
  bool ring = kind == SpoolRecord::kRing;
  bool report = kind == SpoolRecord::kReport && version >= 3;
  size_t textLimit = kind == SpoolRecord::kSms || escalation ? kSmsTextLimit
                     : kind == SpoolRecord::kBatch           ? kBatchCapacity - 1
                                                             : 0;
  bool known = kind == SpoolRecord::kSms || kind == SpoolRecord::kBatch || escalation || ring ||
               report || kind == kEnd;
  if (!known || textLength > textLimit || numberLength >= kNumberSize) return parsed;
  if ((kind == kEnd) != (numberLength == 0)) return parsed;  // only the end has no number
  int32_t mostAttempts = kind == SpoolRecord::kSms ? kMaxAttempts
                         : kind == kEnd            ? 0
                         : ring || report          ? 255
                                                   : 1;
  if (attempts > mostAttempts) return parsed;
  // An SMS's kind and urgency.
  if (kind == SpoolRecord::kSms && ((tick & 0xFFu) > 1 || tick >> 8 > kPriorities)) {
    return parsed;
  }

  FieldReader fields(bytes + kFixedPart, length - kFixedPart);
  if (!fields.Text(numberLength, record->number) || !fields.Text(textLength, record->text)) {
    return parsed;
  }
  if (escalation && !ParseEscalationTail(fields, &record->escalation)) return parsed;
  record->batchAlarmsKept = kind == SpoolRecord::kBatch && attempts == 1;
  if (record->batchAlarmsKept && !ParseBatchAlarms(fields, textLength, &record->batchAlarms)) {
    return parsed;
  }
  record->id = 0;
  record->escalation.alarmId = record->escalation.sentId = 0;
  if (ids && !ParseIds(fields, kind, record)) return parsed;
  size_t body = static_cast<size_t>(fields.At() - bytes);
  if (length < body + kCrcSize || Crc32(bytes, body) != GetU32(bytes + body)) return parsed;

  record->kind = kind == kEnd ? SpoolRecord::kSms : static_cast<SpoolRecord::Kind>(kind);
  record->attempts = attempts;
  record->pendingSince = tick;
  record->smsKind = (tick & 0xFFu) == 1 ? SmsKind::kEscalated : SmsKind::kAlarm;
  record->urgency = static_cast<int8_t>(static_cast<int32_t>(tick >> 8) - 1);
  if (ring) {
    memcpy(record->ring.number, record->number, sizeof record->ring.number);
    record->ring.unanswered = static_cast<uint32_t>(attempts);
    record->ring.wait = tick;
  }
  if (report) {
    memcpy(record->report.number, record->number, sizeof record->report.number);
    record->report.reference = attempts;
    record->report.age = tick;
  }
  if (escalation) {
    EscalationRecord& held = record->escalation;
    memcpy(held.holder, record->number, sizeof held.holder);
    memcpy(held.text, record->text, sizeof held.text);
    held.delivered = attempts == 1;
    held.wait = tick;
  }
  parsed.kind = kind;
  parsed.size = body + kCrcSize;
  parsed.tick = tick;
  return parsed;
}

}  // namespace

SpoolEncoder::SpoolEncoder(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {
  Bytes(kHeader, kSpoolHeaderSize);
}

void SpoolEncoder::Sms(int32_t attempts, const char* number, const char* text, SmsKind kind,
                       int8_t urgency, uint32_t id) {
  uint32_t known = urgency >= 0 && urgency < kPriorities ? urgency + 1u : 0u;
  size_t start = used_;
  Head(SpoolRecord::kSms, attempts, (kind == SmsKind::kEscalated ? 1u : 0u) | known << 8, number,
       text);
  U32(id);
  Crc(start);
  ++records_;
}

void SpoolEncoder::Ring(const RingRecord& record) {
  Record(SpoolRecord::kRing,
         record.unanswered < 255 ? static_cast<int32_t>(record.unanswered) : 255, record.wait,
         record.number, "");
  ++records_;
}

void SpoolEncoder::Report(const AwaitedReport& awaited) {
  size_t start = used_;
  Head(SpoolRecord::kReport, awaited.reference, awaited.age, awaited.number, "");
  U32(awaited.id);
  Byte(static_cast<uint32_t>(awaited.kind));
  Byte(awaited.phone);
  Crc(start);
  ++records_;
}

void SpoolEncoder::Batch(uint32_t pendingSince, const char* number, const char* text,
                         const BatchAlarms& alarms) {
  size_t start = used_;
  Head(SpoolRecord::kBatch, 1, pendingSince, number, text);
  Byte(static_cast<uint32_t>(alarms.namedCount));
  for (int i = 0; i < alarms.namedCount; ++i) {
    const NamedAlarm& alarm = alarms.named[i];
    Byte(alarm.length);
    Byte(static_cast<uint32_t>(alarm.priority));
    Byte(static_cast<uint8_t>(alarm.hour));
    Byte(static_cast<uint8_t>(alarm.minute));
  }
  for (uint32_t byPriority : alarms.counted.byPriority) U32(byPriority);
  Byte(static_cast<uint8_t>(alarms.counted.hour));
  Byte(static_cast<uint8_t>(alarms.counted.minute));
  Byte(alarms.counted.namedSince);
  Crc(start);
  ++records_;
}

void SpoolEncoder::Escalation(const EscalationRecord& record) {
  size_t start = used_;
  Head(SpoolRecord::kEscalation, record.delivered ? 1 : 0, record.wait, record.holder, record.text);
  Byte(record.passedMinutes & 0xFFu);
  Byte(record.passedMinutes >> 8);
  Counted(record.passedOver);
  Byte(static_cast<uint32_t>(record.reachedCount));
  for (int i = 0; i < record.reachedCount; ++i) {
    Byte(record.reached[i].confirmed ? 1 : 0);
    Counted(record.reached[i].number);
  }
  U32(record.alarmId);
  U32(record.sentId);
  Crc(start);
  ++records_;
}

size_t SpoolEncoder::Finish() {
  Record(kEnd, 0, records_, "", "");
  return full_ ? 0 : used_;
}

void SpoolEncoder::Bytes(const char* data, size_t length) {
  if (length > capacity_ - used_) {
    full_ = true;
    return;
  }
  memcpy(buffer_ + used_, data, length);
  used_ += length;
}

void SpoolEncoder::Byte(uint32_t value) {
  char byte = static_cast<char>(value & 0xFFu);
  Bytes(&byte, 1);
}

void SpoolEncoder::U32(uint32_t value) {
  char bytes[4];
  PutU32(bytes, value);
  Bytes(bytes, sizeof bytes);
}

void SpoolEncoder::Counted(const char* text) {
  size_t length = strlen(text);
  Byte(static_cast<uint32_t>(length));
  Bytes(text, length);
}

void SpoolEncoder::Head(char kind, int32_t attempts, uint32_t tick, const char* number,
                        const char* text) {
  size_t numberLength = strlen(number);
  size_t textLength = strlen(text);
  char fixed[kFixedPart] = {kind, static_cast<char>(attempts)};
  PutU32(fixed + 2, tick);
  fixed[6] = static_cast<char>(numberLength);
  fixed[7] = static_cast<char>(textLength);
  Bytes(fixed, sizeof fixed);
  Bytes(number, numberLength);
  Bytes(text, textLength);
}

// The CRC of the record begun at `start`.
void SpoolEncoder::Crc(size_t start) {
  if (full_) return;
  char crc[kCrcSize];
  PutU32(crc, Crc32(buffer_ + start, used_ - start));
  Bytes(crc, sizeof crc);
}

void SpoolEncoder::Record(char kind, int32_t attempts, uint32_t tick, const char* number,
                          const char* text) {
  size_t start = used_;
  Head(kind, attempts, tick, number, text);
  Crc(start);
}

SpoolReading DecodeSpool(const char* bytes, size_t length, SpoolRecordSink& sink) {
  SpoolReading reading;
  reading.damaged = true;
  if (length < kSpoolHeaderSize) return reading;
  int version = memcmp(bytes, kHeader, kSpoolHeaderSize) == 0                 ? 3
                : memcmp(bytes, kHeaderWithoutReports, kSpoolHeaderSize) == 0 ? 2
                : memcmp(bytes, kHeaderWithoutIds, kSpoolHeaderSize) == 0     ? 1
                                                                              : 0;
  if (version == 0) return reading;
  size_t at = kSpoolHeaderSize;
  int sms = 0;
  int batches = 0;
  int escalations = 0;
  int rings = 0;
  int reports = 0;
  SpoolRecord record;
  for (;;) {
    reading.damagedAt = static_cast<uint32_t>(at);
    Parsed parsed = ParseRecord(bytes + at, length - at, version, &record);
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
    int& kept = parsed.kind == SpoolRecord::kSms      ? sms
                : parsed.kind == SpoolRecord::kBatch  ? batches
                : parsed.kind == SpoolRecord::kRing   ? rings
                : parsed.kind == SpoolRecord::kReport ? reports
                                                      : escalations;
    int limit = parsed.kind == SpoolRecord::kSms      ? kQueueCapacity
                : parsed.kind == SpoolRecord::kBatch  ? DestinationList::kCapacity
                : parsed.kind == SpoolRecord::kRing   ? kRingRuleCapacity
                : parsed.kind == SpoolRecord::kReport ? kAwaitedCapacity
                                                      : kEscalationCapacity;
    if (++kept > limit) return reading;
    sink.Take(record);
    ++reading.records;
    at += parsed.size;
  }
}

}  // namespace kelvor
