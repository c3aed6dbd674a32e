#include "modem/incoming_sms_reader.h"

#include <cstdio>
#include <cstring>

#include "modem/phone_reports.h"
#include "platform/text.h"

namespace kelvor {
namespace {

// A tab is a blank; any other control byte is shown as '?'.
char Harmless(char c) {
  return c == '\t' ? ' ' : ShownByte(c);
}

// A field of a header line: a quoted text, or the bare text up to the next comma.
struct Field {
  const char* begin = nullptr;
  size_t length = 0;
  bool whole = false;  // its closing quote (or its end) was within the line
};

Field NextField(const char** at, const char* end) {
  Field field;
  const char* p = *at;
  while (p < end && *p == ' ') ++p;
  if (p < end && *p == '"') {
    field.begin = ++p;
    const void* quote = memchr(p, '"', static_cast<size_t>(end - p));
    p = quote != nullptr ? static_cast<const char*>(quote) : end;
    field.whole = quote != nullptr;
    field.length = static_cast<size_t>(p - field.begin);
    if (p < end) ++p;
  } else {
    field.begin = p;
    while (p < end && *p != ',') ++p;
    field.length = static_cast<size_t>(p - field.begin);
    field.whole = true;
  }
  if (p < end && *p == ',') ++p;
  *at = p;
  return field;
}

bool FieldIs(const Field& field, const char* text) {
  return field.length == strlen(text) && memcmp(field.begin, text, field.length) == 0;
}

SmsStatus StatusOf(const Field& stat) {
  if (FieldIs(stat, "REC UNREAD") || FieldIs(stat, "0")) return SmsStatus::kUnread;
  if (FieldIs(stat, "REC READ") || FieldIs(stat, "1")) return SmsStatus::kRead;
  if (FieldIs(stat, "STO UNSENT") || FieldIs(stat, "STO SENT") || FieldIs(stat, "2") ||
      FieldIs(stat, "3")) {
    return SmsStatus::kStored;
  }
  return SmsStatus::kUnknown;
}

// An index: blanks, then one to five digits worth at most 65535. Returns the byte after
// the digits, or nullptr.
const char* ReadIndex(const char* p, const char* end, uint16_t* index) {
  while (p < end && *p == ' ') ++p;
  uint64_t value = 0;
  size_t digits = ReadDigits(p, static_cast<size_t>(end - p), UINT32_MAX, &value);
  if (digits == 0 || digits > 5 || value > 0xFFFF) return nullptr;
  *index = static_cast<uint16_t>(value);
  return p + digits;
}

}  // namespace

void FormatReadCommand(uint16_t index, char* command, size_t size) {
  snprintf(command, size, "AT+CMGR=%u\r", static_cast<unsigned>(index));
}

void FormatDeleteCommand(uint16_t index, char* command, size_t size) {
  snprintf(command, size, "AT+CMGD=%u\r", static_cast<unsigned>(index));
}

void IncomingSmsReader::ExpectListing() {
  Begin(kListing);
}

void IncomingSmsReader::ExpectMessage(uint16_t index) {
  Begin(kMessage);
  message_.index = index;
}

void IncomingSmsReader::ExpectAnswer() {
  Begin(kPlain);
}

// Whatever was left of an earlier answer, a line begun included, belongs to it.
void IncomingSmsReader::Begin(Mode mode) {
  mode_ = mode;
  answer_ = kPending;
  last_ = kNotFinal;
  lineLength_ = 0;
  lineCut_ = false;
  headerSeen_ = false;
  headerWhole_ = false;
  strayLine_ = false;
  heldLength_ = 0;
  textLength_ = 0;
  message_ = IncomingSms{};
}

void IncomingSmsReader::Feed(const char* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    char c = bytes[i];
    if (c == '\r' || c == '\n') {
      EndLine();
    } else if (lineLength_ < kLineKept) {
      line_[lineLength_++] = c;
    } else {
      lineCut_ = true;
    }
  }
}

// A line begun is never ended by quiet: a phone may pause anywhere, within a line too.
void IncomingSmsReader::Quiet() {
  if (lineLength_ > 0 || lineCut_) return;
  if (answer_ != kPending || last_ == kNotFinal) return;
  answer_ = last_ == kOk ? kDone : kFailed;
  mode_ = kIdle;
}

// Empty lines (the CR LF around every answer, a text's blank lines) carry nothing.
void IncomingSmsReader::EndLine() {
  if (lineLength_ == 0 && !lineCut_) return;
  Line();
  lineLength_ = 0;
  lineCut_ = false;
}

// An incoming call's line after the final one leaves the answer ended; one within a text
// stays text, as any line of it, but right after a text line that looks final ("OK"), where
// it cannot be told from a call ringing after the real one, and is left out.
void IncomingSmsReader::Line() {
  if (StartsWith("+CMTI:")) {
    Announced(line_, lineLength_, lineCut_);
    return;
  }
  bool textGoesOn = mode_ == kMessage && headerSeen_ && last_ == kNotFinal;
  if (!textGoesOn && !lineCut_ && IsIncomingCallLine(line_, lineLength_)) return;
  // A report is told as a call line is: within a text it is the text's, so none is forged.
  if (!textGoesOn && !lineCut_ && (StartsWith("+CDS:") || StartsWith("+CDSI:"))) {
    char line[kLineKept + 1];
    memcpy(line, line_, lineLength_);
    line[lineLength_] = '\0';
    if (reports_ != nullptr) reports_->Heard(line);
    return;
  }
  Final final = FinalKind();
  if (mode_ == kMessage && headerSeen_) {
    TextLine(final);
    return;
  }
  last_ = final;
  if (mode_ == kListing && StartsWith("+CMGL:")) {
    uint16_t index;
    const char* end = line_ + lineLength_;
    const char* after = ReadIndex(line_ + 6, end, &index);
    if (after != nullptr && after < end && *after == ',') AddIndex(index);
  } else if (mode_ == kMessage && StartsWith("+CMGR:")) {
    ReadHeader();
  } else if (mode_ == kMessage && final == kNotFinal) {
    strayLine_ = true;
  }
}

// A line after the header is text, unless it is final-looking and nothing follows it.
void IncomingSmsReader::TextLine(Final final) {
  if (last_ != kNotFinal) AppendText(held_, heldLength_, false);
  last_ = final;
  if (final == kNotFinal) {
    AppendText(line_, lineLength_, lineCut_);
  } else {
    memcpy(held_, line_, lineLength_);  // a final line fits: FinalKind checks its length
    heldLength_ = lineLength_;
  }
}

void IncomingSmsReader::AppendText(const char* line, size_t length, bool cut) {
  char* text = message_.text;
  const size_t room = kIncomingTextSize - 1;
  if (textLength_ > 0) {
    if (textLength_ < room) {
      text[textLength_++] = ' ';  // the line break
    } else {
      message_.textCut = true;
    }
  }
  for (size_t i = 0; i < length; ++i) {
    if (textLength_ >= room) {
      message_.textCut = true;
      break;
    }
    text[textLength_++] = Harmless(line[i]);
  }
  text[textLength_] = '\0';
  if (cut) message_.textCut = true;
}

// +CMGR: "<stat>","<sender>",[<alpha>],["<timestamp>"]: only the first two fields count.
void IncomingSmsReader::ReadHeader() {
  headerSeen_ = true;
  const char* at = line_ + 6;
  const char* end = line_ + lineLength_;
  message_.status = StatusOf(NextField(&at, end));
  Field sender = NextField(&at, end);
  headerWhole_ = message_.status != SmsStatus::kUnknown && sender.whole && sender.begin < end;
  if (!sender.whole || sender.length == 0 || sender.length >= kNumberSize) return;
  for (size_t i = 0; i < sender.length; ++i) message_.sender[i] = Harmless(sender.begin[i]);
  message_.sender[sender.length] = '\0';
}

// +CMTI: "<mem>",<index>: the index after the last comma, blanks allowed after it.
void IncomingSmsReader::Announced(const char* line, size_t length, bool cut) {
  const char* end = line + length;
  const char* comma = nullptr;
  for (const char* p = line; p < end; ++p) {
    if (*p == ',') comma = p;
  }
  uint16_t index;
  const char* after = comma != nullptr ? ReadIndex(comma + 1, end, &index) : nullptr;
  if (after == nullptr || cut) return;
  while (after < end && *after == ' ') ++after;
  if (after == end) AddIndex(index);
}

void IncomingSmsReader::AddIndex(uint16_t index) {
  for (int i = 0; i < waiting_; ++i) {
    if (indexes_[i] == index) return;
  }
  if (waiting_ >= kIndexCapacity) {
    ++dropped_;
    return;
  }
  indexes_[waiting_++] = index;
}

bool IncomingSmsReader::NextIndex(uint16_t* index) {
  if (waiting_ == 0) return false;
  *index = indexes_[0];
  --waiting_;
  memmove(indexes_, indexes_ + 1, static_cast<size_t>(waiting_) * sizeof indexes_[0]);
  return true;
}

bool IsIncomingCallLine(const char* line, size_t length) {
  auto starts = [line, length](const char* prefix) {
    size_t size = strlen(prefix);
    return length >= size && memcmp(line, prefix, size) == 0;
  };
  return (length == 4 && starts("RING")) || starts("+CRING:") || starts("+CLIP:");
}

bool IncomingSmsReader::StartsWith(const char* prefix) const {
  size_t length = strlen(prefix);
  return lineLength_ >= length && memcmp(line_, prefix, length) == 0;
}

IncomingSmsReader::Final IncomingSmsReader::FinalKind() const {
  if (lineCut_ || lineLength_ >= kHeldSize) return kNotFinal;
  if (lineLength_ == 2 && memcmp(line_, "OK", 2) == 0) return kOk;
  if (lineLength_ == 5 && memcmp(line_, "ERROR", 5) == 0) return kError;
  if (StartsWith("+CMS ERROR:") || StartsWith("+CME ERROR:")) return kError;
  return kNotFinal;
}

}  // namespace kelvor
