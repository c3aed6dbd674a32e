// How a text of the SCADA database, in its code page, becomes what a handset shows
// (CHARSET=): 7-bit in the GSM alphabet, or UCS-2. Without a charset chosen the text's bytes
// go as they always went. The rule of what one SMS holds is here, so that the queue and the
// batches ask it rather than count characters themselves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/code_page.h"

namespace kelvor {

enum class Charset : uint8_t {
  kAsGiven,  // none chosen: the bytes as they are, 159 of them an SMS
  kAuto,     // 7-bit where the GSM alphabet has every character, otherwise UCS-2
  kGsm,      // always 7-bit, a character outside the alphabet as '?'
  kUcs2,     // always UCS-2
};

// "AUTO", "GSM" or "UCS2", as CHARSET= names a charset; "" for kAsGiven.
const char* CharsetName(Charset charset);
// The charset `name` names, in any case; kAsGiven for any other text.
Charset CharsetNamed(const char* name);

constexpr size_t kSeptetLimit = 160;  // of an SMS of 7-bit data coding
constexpr size_t kUcs2Limit = 70;     // characters of an SMS of UCS-2 data coding

// The character sets a phone may be given texts in (AT+CSCS), as bits of what it offers.
enum class TextSet : uint8_t {
  kNone = 0,    // none selected: the phone's own, or the text's bytes as they are
  kGsm = 1,     // GSM alphabet codes: '@' is byte 0, the extension needs ESC
  kIra = 2,     // ASCII, which the phone maps into the alphabet
  kLatin1 = 4,  // "8859-1": ASCII and the alphabet's Latin letters, which the phone maps
  kUcs2 = 8,    // four hex digits a character, numbers too
};
const char* SetName(TextSet set);  // as AT+CSCS names it
// The sets an answer to AT+CSCS=? lists, ("GSM","IRA","8859-1","UCS2"), as bits; others
// are passed over.
uint8_t OfferedSets(const char* answer);
// The 7-bit set a phone is kept in, of those offered: 8859-1, which carries every letter of
// the alphabet but the Greek capitals; else IRA; else GSM, in which '@' and the extension
// cannot go.
TextSet RestSet(uint8_t offered);

enum class DataCoding : uint8_t { kNotKnown, kSevenBit, kUcs2 };

// The character sets of one phone: found by the start-up script, kept by the sending.
struct PhoneCharsets {
  uint8_t offered = 0;               // bits of TextSet, as the phone listed them
  TextSet rest = TextSet::kNone;     // the 7-bit set selected at start-up, and for reading
  TextSet inForce = TextSet::kNone;  // since the last reset; kNone: the phone's own
  // The data coding AT+CSMP set since the last reset; none is known after a reset, since a
  // phone's stored profile may bring back either.
  DataCoding coding = DataCoding::kNotKnown;
  bool unusableSaid = false;  // a phone that offers nothing usable was said, once
  bool listed = false;        // the phone has answered what it offers, once a run
};

// The longest text a phone is given for one SMS: 70 characters of four hex digits.
constexpr size_t kWireTextSize = kUcs2Limit * 4 + 1;

class SmsCoding {
 public:
  SmsCoding();
  // Texts are read in the code page of `table` and go as `charset` asks.
  void Set(Charset charset, const CodePageTable& table);
  Charset Chosen() const { return charset_; }

  // The 7-bit sets texts may go in (bits of TextSet; kUcs2 among them for a phone that has
  // none): a text is 7-bit only where each of them carries every character of it, otherwise
  // it holds kUcs2Limit characters an SMS. Until set, any set a phone may be kept in.
  void SetSevenBitSets(uint8_t sets) { sevenBitSets_ = sets; }
  static constexpr uint8_t kAnySevenBitSet = 1 | 2 | 4;  // GSM, IRA, 8859-1

  // True when `text` (its first `length` bytes) fits one SMS of its coding.
  bool FitsOne(const char* text, size_t length) const;
  // How many of the first bytes of `text` its first SMS takes: all of them when they fit
  // one; otherwise as many as fit, ending after its last line end where one stands in the
  // second half of them. At least one.
  size_t FirstPart(const char* text, size_t length) const;

  // The set a text that fits one SMS goes in, of those `offered` (bits of TextSet) with
  // `rest` the 7-bit one the phone is kept in: kUcs2, `rest`, or kNone for its bytes as
  // they are (no charset chosen, or nothing offered that would do).
  TextSet SetFor(const char* text, size_t length, uint8_t offered, TextSet rest) const;
  // `text` as the phone takes it in `set` (not kNone) into `wire` (kWireTextSize bytes):
  // four hex digits a character in kUcs2; otherwise a byte a character, '?' for one the set
  // or the alphabet lacks. Never byte 0, 26 or 27. Returns its length.
  size_t Encode(const char* text, size_t length, TextSet set, char* wire) const;

 private:
  uint16_t Character(char byte) const { return characters_[static_cast<unsigned char>(byte)]; }
  int Septets(char byte) const { return septets_[static_cast<unsigned char>(byte)]; }
  bool Prefix(bool* gsm, size_t* septets, size_t count, char byte) const;
  bool Carries(TextSet set, uint16_t character) const;
  bool CarriedBySevenBitSets(uint16_t character) const;

  Charset charset_ = Charset::kAsGiven;
  uint8_t sevenBitSets_ = kAnySevenBitSet;
  uint16_t characters_[256];  // of each byte: a control but LF and CR as a blank, none as '?'
  uint8_t septets_[256];      // of each byte's character
};

}  // namespace kelvor
