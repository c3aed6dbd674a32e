#include "modem/at_lines.h"

#include <cstring>

#include "platform/text.h"

namespace kelvor {
namespace {

// +CREG unasked has one field or a quoted second (<stat>,"<lac>",...); AT+CREG? answers <n>,<stat>.
bool UnaskedRegistration(const char* fields, size_t length) {
  const char* comma = static_cast<const char*>(memchr(fields, ',', length));
  if (comma == nullptr) return true;
  const char* end = fields + length;
  const char* at = comma + 1;
  while (at < end && *at == ' ') ++at;
  return at < end && *at == '"';
}

struct Row {
  const char* head;
  bool whole;  // the line is the head and nothing else
  SortedLine sorted;
  bool (*fits)(const char* fields, size_t length);  // null: every line bearing the head
};

constexpr SortedLine Final(FinalResult result) {
  return {LineKind::kFinal, result, Heard::kNone};
}
constexpr SortedLine Unsolicited(Heard heard) {
  return {LineKind::kUnsolicited, FinalResult::kNone, heard};
}

// "+CME ERROR" and "+CMS ERROR" need no colon to end an answer, only to carry a number.
constexpr Row kRows[] = {
    {"OK", true, Final(FinalResult::kOk), nullptr},
    {"ERROR", true, Final(FinalResult::kError), nullptr},
    {"+CME ERROR", false, Final(FinalResult::kPhoneError), nullptr},
    {"+CMS ERROR", false, Final(FinalResult::kSmsError), nullptr},
    {"NO CARRIER", true, Final(FinalResult::kNoCarrier), nullptr},
    {"BUSY", true, Final(FinalResult::kBusy), nullptr},
    {"NO ANSWER", true, Final(FinalResult::kNoAnswer), nullptr},
    {"NO DIALTONE", true, Final(FinalResult::kNoDialtone), nullptr},
    {">", false, {LineKind::kPrompt, FinalResult::kNone, Heard::kNone}, nullptr},
    {"RING", true, Unsolicited(Heard::kCall), nullptr},
    {"+CRING:", false, Unsolicited(Heard::kCall), nullptr},
    {"+CLIP:", false, Unsolicited(Heard::kCall), nullptr},
    {"+CCWA:", false, Unsolicited(Heard::kCall), nullptr},
    {"+CMTI:", false, Unsolicited(Heard::kSmsArrived), nullptr},
    {"+CDS:", false, Unsolicited(Heard::kReport), nullptr},
    {"+CDSI:", false, Unsolicited(Heard::kReport), nullptr},
    {"+CREG:", false, Unsolicited(Heard::kRegistration), UnaskedRegistration},
    {"+CUSD:", false, Unsolicited(Heard::kUssd), nullptr},
};

bool Bears(const Row& row, const char* line, size_t length) {
  size_t head = strlen(row.head);
  if (length < head || memcmp(line, row.head, head) != 0) return false;
  if (row.whole) return length == head;
  return row.fits == nullptr || row.fits(line + head, length - head);
}

}  // namespace

SortedLine SortLine(const char* line, size_t length) {
  for (const Row& row : kRows) {
    if (Bears(row, line, length)) return row.sorted;
  }
  return {LineKind::kInformation, FinalResult::kNone, Heard::kNone};
}

bool AtAnswer::Refused() const {
  return Said(FinalResult::kError) || Said(FinalResult::kPhoneError) ||
         Said(FinalResult::kSmsError);
}

bool AtAnswer::ErrorCode(ErrorKind kind, int32_t* code) const {
  unsigned index = kind == ErrorKind::kPhone ? 0 : 1;
  if ((coded_ & (1u << index)) == 0) return false;
  *code = codes_[index];
  return true;
}

const char* AtAnswer::Information(const char* prefix, const char* after) const {
  size_t length = strlen(prefix);
  const char* end = information_ + used_;
  const char* at = after != nullptr ? after + strlen(after) + 1 : information_;
  for (; at < end; at += strlen(at) + 1) {
    if (strncmp(at, prefix, length) == 0) return at + length;
  }
  return nullptr;
}

void AtAnswer::Clear() {
  finals_ = 0;
  coded_ = 0;
  prompted_ = false;
  used_ = 0;
  dropped_ = 0;
  heard_ = 0;
}

bool ErrorNumber(const char* line, int32_t* code) {
  constexpr size_t kHead = sizeof "+CME ERROR" - 1;
  if (strlen(line) <= kHead || line[kHead] != ':') return false;
  *code = ReadLeadingInteger(line + kHead + 1);
  return true;
}

// The first number of each kind is kept: the first error is the one that answered.
bool AtAnswer::AddFinal(FinalResult result, const char* line) {
  bool news = !Said(result);
  finals_ = static_cast<uint16_t>(finals_ | Bit(result));
  bool phone = result == FinalResult::kPhoneError;
  if (!phone && result != FinalResult::kSmsError) return news;
  unsigned index = phone ? 0 : 1;
  if ((coded_ & (1u << index)) != 0 || !ErrorNumber(line, &codes_[index])) return news;
  coded_ = static_cast<uint8_t>(coded_ | (1u << index));
  return true;
}

bool AtAnswer::AddInformation(const char* line, size_t length) {
  if (length >= kInformationSize - used_) {
    ++dropped_;
    return false;
  }
  memcpy(information_ + used_, line, length);
  information_[used_ + length] = '\0';
  used_ += length + 1;
  return true;
}

}  // namespace kelvor
