// An SMS that reached the phone, as the program sees it once the modem has read it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modem/sms_outbox.h"

namespace kelvor {

constexpr size_t kIncomingTextSize = 161;  // the first 160 characters of a text, and a NUL
constexpr size_t kExcerptSize = 41;        // 40 characters of a text for the console, a NUL

enum class SmsStatus : uint8_t { kUnknown, kUnread, kRead, kStored };

struct IncomingSms {
  uint16_t index = 0;
  SmsStatus status = SmsStatus::kUnknown;
  // As the phone gave it, control bytes shown as '?'; empty when it gave none or one longer
  // than 31 characters (no number Kelvor knows is that long). Compare it with SameNumber.
  char sender[kNumberSize] = {};
  // The text, its line breaks and tabs as single spaces, its other control bytes as '?'. 8-bit
  // bytes stay as they came: show it on the console only through PrintableExcerpt.
  char text[kIncomingTextSize] = {};
  bool textCut = false;  // the text went on beyond `text`
};

// The first 40 characters of `text` for a console line, every byte that is not printable
// ASCII shown as '?'; `size` at least kExcerptSize for all 40.
void PrintableExcerpt(const char* text, char* excerpt, size_t size);

}  // namespace kelvor
