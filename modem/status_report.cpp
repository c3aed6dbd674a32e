#include "modem/status_report.h"

#include <cstring>

#include "platform/text.h"

namespace kelvor {
namespace {

constexpr uint32_t kFiveMinuteSteps = 144;  // codes 0 to 143: (code + 1) * 5 minutes
constexpr uint32_t kHalfDay = 720;

// The next field of a line of fields: quoted ones may hold commas (the time stamps do).
// `at` moves past the field and its comma; the field's text, unquoted, goes to `field`.
bool NextField(const char** at, char* field, size_t size) {
  const char* p = *at;
  while (*p == ' ') ++p;
  if (*p == '\0') return false;
  size_t length = 0;
  bool quoted = *p == '"';
  if (quoted) ++p;
  for (; *p != '\0' && (quoted ? *p != '"' : *p != ','); ++p) {
    if (length + 1 < size) field[length++] = *p;
  }
  field[length] = '\0';
  if (quoted && *p == '"') ++p;
  while (*p != '\0' && *p != ',') ++p;
  *at = *p == ',' ? p + 1 : p;
  return true;
}

bool FieldNumber(const char** at, uint32_t most, int32_t* value) {
  char field[16];
  uint32_t read = 0;
  if (!NextField(at, field, sizeof field)) return false;
  if (!ReadInRange(field, strlen(field), 0, most, &read)) return false;
  *value = static_cast<int32_t>(read);
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Upper(c);
  return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// A number under UCS2 comes as four hex digits a character; only its ASCII is compared.
bool SameAsHex(const char* hex, const char* sent) {
  size_t length = strlen(hex);
  if (length == 0 || length % 4 != 0 || length / 4 != strlen(sent)) return false;
  for (size_t i = 0; i < length; i += 4) {
    int value = 0;
    for (size_t j = 0; j < 4; ++j) {
      int digit = HexDigit(hex[i + j]);
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    if (value != static_cast<unsigned char>(sent[i / 4])) return false;
  }
  return true;
}

}  // namespace

uint8_t ValidityCode(uint32_t minutes) {
  if (minutes < kShortestDeliveryMinutes) minutes = kShortestDeliveryMinutes;
  if (minutes > kLongestDeliveryMinutes) minutes = kLongestDeliveryMinutes;
  if (minutes <= kHalfDay) return static_cast<uint8_t>((minutes + 4) / 5 - 1);
  return static_cast<uint8_t>(kFiveMinuteSteps - 1 + (minutes - kHalfDay + 29) / 30);
}

uint32_t ValidityMinutes(uint8_t code) {
  if (code < kFiveMinuteSteps) return (code + 1u) * 5;
  if (code <= 167) return kHalfDay + (code - 143u) * 30;
  if (code <= 196) return (code - 166u) * 1440;
  return (code - 192u) * 7 * 1440;
}

bool ReadStatusReport(const char* fields, bool stored, StatusReport* report) {
  const char* at = fields;
  char field[kNumberSize];
  int32_t ignored = 0;
  if (stored && !NextField(&at, field, sizeof field)) return false;  // "REC UNREAD"
  if (!FieldNumber(&at, 255, &ignored)) return false;                // <fo>
  if (!FieldNumber(&at, 255, &report->reference)) return false;
  if (!NextField(&at, report->number, sizeof report->number)) return false;
  for (int i = 0; i < 3; ++i) {  // <tora>, <scts>, <dt>
    if (!NextField(&at, field, sizeof field)) return false;
  }
  return FieldNumber(&at, 255, &report->status);
}

int32_t StoredReportIndex(const char* fields) {
  const char* at = fields;
  char memory[8];
  int32_t index = -1;
  if (!NextField(&at, memory, sizeof memory) || strcmp(memory, "SR") != 0) return -1;
  return FieldNumber(&at, 65535, &index) ? index : -1;
}

bool SameRecipient(const char* reported, const char* sent) {
  return reported[0] != '\0' && (strcmp(reported, sent) == 0 || SameAsHex(reported, sent));
}

const char* UndeliveredReason(int32_t status) {
  switch (status) {
    case 64:
      return "the network could not route it";
    case 65:
      return "the phone is not compatible";
    case 66:
      return "the phone refused it";
    case 67:
      return "the number is not an SMS subscriber";
    case 68:
      return "the network refused it";
    case 69:
      return "the SMS was removed";
    case 70:
      return "the validity period expired, the phone was off or unreachable";
    case 71:
      return "it was deleted by the sender";
    case 72:
      return "it was deleted by the network";
    case 73:
      return "the SMS does not exist";
    default:
      return status >= 96 ? "the network stopped trying" : "the network gave it up";
  }
}

}  // namespace kelvor
