#include "modem/sms_coding.h"

#include <cstring>

#include "modem/gsm_alphabet.h"
#include "modem/sms_outbox.h"
#include "platform/text.h"

namespace kelvor {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool Offers(uint8_t offered, TextSet set) {
  return (offered & static_cast<uint8_t>(set)) != 0;
}

}  // namespace

constexpr const char* kCharsetNames[] = {"", "AUTO", "GSM", "UCS2"};  // as Charset numbers them

const char* CharsetName(Charset charset) {
  return kCharsetNames[static_cast<int>(charset)];
}

Charset CharsetNamed(const char* name) {
  for (int i = 1; i < 4; ++i) {
    size_t length = strlen(kCharsetNames[i]);
    bool same = strlen(name) == length;
    for (size_t at = 0; same && at < length; ++at) same = Upper(name[at]) == kCharsetNames[i][at];
    if (same) return static_cast<Charset>(i);
  }
  return Charset::kAsGiven;
}

const char* SetName(TextSet set) {
  switch (set) {
    case TextSet::kGsm:
      return "GSM";
    case TextSet::kIra:
      return "IRA";
    case TextSet::kLatin1:
      return "8859-1";
    case TextSet::kUcs2:
      return "UCS2";
    case TextSet::kNone:
      break;
  }
  return "";
}

uint8_t OfferedSets(const char* answer) {
  constexpr TextSet kSets[] = {TextSet::kGsm, TextSet::kIra, TextSet::kLatin1, TextSet::kUcs2};
  uint8_t offered = 0;
  for (const char* quote = strchr(answer, '"'); quote != nullptr;) {
    const char* close = strchr(quote + 1, '"');
    if (close == nullptr) break;
    size_t length = static_cast<size_t>(close - quote - 1);
    for (TextSet set : kSets) {
      const char* name = SetName(set);
      if (strlen(name) == length && memcmp(name, quote + 1, length) == 0) {
        offered = static_cast<uint8_t>(offered | static_cast<uint8_t>(set));
      }
    }
    quote = strchr(close + 1, '"');
  }
  return offered;
}

TextSet RestSet(uint8_t offered) {
  constexpr TextSet kPreferred[] = {TextSet::kLatin1, TextSet::kIra, TextSet::kGsm};
  for (TextSet set : kPreferred) {
    if (Offers(offered, set)) return set;
  }
  return TextSet::kNone;
}

SmsCoding::SmsCoding() {
  CodePageTable ascii;
  for (int byte = 0; byte < 256; ++byte) {
    ascii.characters[byte] = static_cast<uint16_t>(byte < 128 ? byte : 0);
  }
  Set(Charset::kAsGiven, ascii);
}

// A control character but LF and CR becomes a blank, as Ctrl-Z and ESC always did in the
// queue; a byte without a character (or a C1 control) becomes '?'.
void SmsCoding::Set(Charset charset, const CodePageTable& table) {
  charset_ = charset;
  for (int byte = 0; byte < 256; ++byte) {
    uint16_t character = table.characters[byte];
    bool lineEnd = character == '\n' || character == '\r';
    if (character == 0 || (character >= 0x7F && character <= 0x9F) || character >= 0xFFFD) {
      character = '?';
    }
    if (character < 0x20 && !lineEnd) character = ' ';
    characters_[byte] = character;
    septets_[byte] = static_cast<uint8_t>(GsmSeptets(character));
  }
}

// Whether the first `count` characters and `byte` after them still fit one SMS; `gsm` and
// `septets` carry what the characters before needed.
bool SmsCoding::Prefix(bool* gsm, size_t* septets, size_t count, char byte) const {
  int needed = Septets(byte);
  switch (charset_) {
    case Charset::kAsGiven:
      return count < kSmsTextLimit;
    case Charset::kGsm:
      *septets += needed > 0 ? needed : 1;  // '?' in place of the character
      return *septets <= kSeptetLimit && count < kSmsTextLimit;
    case Charset::kUcs2:
      return count < kUcs2Limit;
    case Charset::kAuto:
      *gsm = *gsm && needed > 0 && CarriedBySevenBitSets(Character(byte));
      *septets += needed;
      return (*gsm && *septets <= kSeptetLimit && count < kSmsTextLimit) || count < kUcs2Limit;
  }
  return false;
}

bool SmsCoding::FitsOne(const char* text, size_t length) const {
  return FirstPart(text, length) == length;
}

size_t SmsCoding::FirstPart(const char* text, size_t length) const {
  bool gsm = true;
  size_t septets = 0;
  size_t taken = 0;
  while (taken < length && Prefix(&gsm, &septets, taken, text[taken])) ++taken;
  if (taken == length) return length;
  for (size_t at = taken; at > taken / 2; --at) {
    if (text[at - 1] == '\n') return at;
  }
  return taken > 0 ? taken : 1;
}

bool SmsCoding::Carries(TextSet set, uint16_t character) const {
  if (GsmSeptets(character) == 0) return false;
  switch (set) {
    case TextSet::kLatin1:
      return character <= 0xFF;
    case TextSet::kIra:
      return character < 0x80;
    case TextSet::kGsm: {
      // '@' would be byte 0, Ξ Ctrl-Z; the extension needs ESC, which abandons a text.
      uint8_t code = GsmCode(character);
      return code != kGsmNone && code != 0x00 && code != 0x1A;
    }
    case TextSet::kUcs2:
      return true;
    case TextSet::kNone:
      break;
  }
  return false;
}

// The same rule as the sending's below, for whichever phone may send the text.
bool SmsCoding::CarriedBySevenBitSets(uint16_t character) const {
  constexpr TextSet kSets[] = {TextSet::kGsm, TextSet::kIra, TextSet::kLatin1, TextSet::kUcs2};
  for (TextSet set : kSets) {
    if (Offers(sevenBitSets_, set) && (set == TextSet::kUcs2 || !Carries(set, character))) {
      return false;
    }
  }
  return true;
}

TextSet SmsCoding::SetFor(const char* text, size_t length, uint8_t offered, TextSet rest) const {
  if (charset_ == Charset::kAsGiven) return TextSet::kNone;
  bool seven = charset_ != Charset::kUcs2;
  if (charset_ == Charset::kAuto) {
    size_t septets = 0;
    for (size_t i = 0; i < length && seven; ++i) {
      septets += static_cast<size_t>(Septets(text[i]));
      seven = Carries(rest, Character(text[i])) && septets <= kSeptetLimit;
    }
  }
  bool ucs2 = Offers(offered, TextSet::kUcs2) && length <= kUcs2Limit;
  if (!seven && ucs2) return TextSet::kUcs2;
  if (rest != TextSet::kNone) return rest;
  return ucs2 && charset_ != Charset::kGsm ? TextSet::kUcs2 : TextSet::kNone;
}

size_t SmsCoding::Encode(const char* text, size_t length, TextSet set, char* wire) const {
  size_t out = 0;
  if (set == TextSet::kUcs2) {
    for (size_t i = 0; i < length && i < kUcs2Limit; ++i) {
      uint16_t character = Character(text[i]);
      for (int shift = 12; shift >= 0; shift -= 4)
        wire[out++] = kHexDigits[(character >> shift) & 15];
    }
  } else {
    for (size_t i = 0; i < length && out < kSeptetLimit; ++i) {
      uint16_t character = Character(text[i]);
      bool carried = Carries(set, character);
      uint8_t byte = set == TextSet::kGsm ? GsmCode(character) : static_cast<uint8_t>(character);
      wire[out++] = carried ? static_cast<char>(byte) : '?';
    }
  }
  wire[out] = '\0';
  return out;
}

}  // namespace kelvor
