#include "app/spool_format.h"

#include <cstring>

#include "modem/modem_dialogue.h"

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

}  // namespace

SpoolEncoder::SpoolEncoder(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {
  Bytes(kHeader, kSpoolHeaderSize);
}

void SpoolEncoder::Sms(int32_t attempts, const char* number, const char* text) {
  Record(SpoolRecord::kSms, attempts, 0, number, text);
  ++records_;
}

void SpoolEncoder::Batch(uint32_t pendingSince, const char* number, const char* text) {
  Record(SpoolRecord::kBatch, 0, pendingSince, number, text);
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

void SpoolEncoder::Record(char kind, int32_t attempts, uint32_t tick, const char* number,
                          const char* text) {
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

}  // namespace kelvor
