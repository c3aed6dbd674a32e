#include "platform/serial_mode.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace kelvor {
namespace {

constexpr char kPathPrefix[] = "COM:";
constexpr size_t kPathPrefixLength = sizeof kPathPrefix - 1;

// A stretch of the mode text; never NUL-terminated on its own.
struct Piece {
  const char* text;
  size_t length;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool Is(Piece piece, const char* word) {
  size_t length = strlen(word);
  if (piece.length != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (Upper(piece.text[i]) != word[i]) return false;
  }
  return true;
}

Piece Trim(Piece piece) {
  while (piece.length > 0 && IsBlank(piece.text[0])) {
    ++piece.text;
    --piece.length;
  }
  while (piece.length > 0 && IsBlank(piece.text[piece.length - 1])) --piece.length;
  return piece;
}

// Skips a leading "COMn:" or "COMn " naming the port the text is meant for.
Piece SkipPortPrefix(Piece piece) {
  if (piece.length < 4 || !Is({piece.text, 3}, "COM")) return piece;
  uint64_t number = 0;
  size_t end = 3 + ReadDigits(piece.text + 3, piece.length - 3, UINT32_MAX, &number);
  if (end == 3) return piece;
  if (end < piece.length && (piece.text[end] == ':' || IsBlank(piece.text[end]))) {
    return {piece.text + end + 1, piece.length - end - 1};
  }
  return piece;
}

// Two-digit abbreviations stand for the old rates; any other number is the rate itself.
bool ReadBaud(Piece piece, uint32_t* baud) {
  static const struct {
    uint32_t abbreviation, rate;
  } kAbbreviations[] = {{11, 110},  {15, 150},  {30, 300},  {60, 600},  {12, 1200},
                        {24, 2400}, {48, 4800}, {96, 9600}, {19, 19200}};
  uint32_t number = 0;
  if (!ReadNumber(piece.text, piece.length, 9, &number) || number == 0) return false;
  if (piece.length == 2) {
    for (const auto& entry : kAbbreviations) {
      if (entry.abbreviation == number) number = entry.rate;
    }
  }
  *baud = number;
  return true;
}

bool ReadParity(Piece piece, char* parity) {
  if (piece.length != 1 || strchr("NOEMS", Upper(piece.text[0])) == nullptr) return false;
  *parity = Upper(piece.text[0]);
  return true;
}

bool ReadDataBits(Piece piece, uint8_t* bits) {
  uint32_t number = 0;
  if (!ReadNumber(piece.text, piece.length, 1, &number) || number < 5 || number > 8) return false;
  *bits = static_cast<uint8_t>(number);
  return true;
}

bool ReadStopBits(Piece piece, StopBits* stop) {
  if (Is(piece, "1")) {
    *stop = StopBits::kOne;
  } else if (Is(piece, "1.5")) {
    *stop = StopBits::kOnePointFive;
  } else if (Is(piece, "2")) {
    *stop = StopBits::kTwo;
  } else {
    return false;
  }
  return true;
}

// ON and OFF always; HS and TG only where the keyword takes them.
bool ReadSwitch(Piece piece, bool handshake, bool toggle, LineSwitch* value) {
  if (Is(piece, "ON")) {
    *value = LineSwitch::kOn;
  } else if (Is(piece, "OFF")) {
    *value = LineSwitch::kOff;
  } else if (handshake && Is(piece, "HS")) {
    *value = LineSwitch::kHandshake;
  } else if (toggle && Is(piece, "TG")) {
    *value = LineSwitch::kToggle;
  } else {
    return false;
  }
  return true;
}

// "baud,parity,data,stop[,X|,P]" with trailing fields optional.
bool ParseCommaForm(Piece text, SerialSettings* settings) {
  Piece fields[5];
  size_t count = 0;
  const char* start = text.text;
  const char* end = text.text + text.length;
  for (const char* p = start;; ++p) {
    if (p == end || *p == ',') {
      if (count == 5) return false;
      fields[count++] = Trim({start, static_cast<size_t>(p - start)});
      if (p == end) break;
      start = p + 1;
    }
  }
  if (!ReadBaud(fields[0], &settings->baud)) return false;
  if (count > 1 && !ReadParity(fields[1], &settings->parity)) return false;
  if (count > 2 && !ReadDataBits(fields[2], &settings->dataBits)) return false;
  if (count > 3 && !ReadStopBits(fields[3], &settings->stopBits)) return false;
  if (count > 4) {
    if (Is(fields[4], "X")) {
      settings->handshake = Handshake::kXonXoff;
    } else if (Is(fields[4], "P")) {
      settings->handshake = Handshake::kHardware;
    } else {
      return false;
    }
  }
  return true;
}

bool ParseKeyword(Piece key, Piece value, SerialSettings* settings) {
  if (Is(key, "BAUD")) return ReadBaud(value, &settings->baud);
  if (Is(key, "PARITY")) return ReadParity(value, &settings->parity);
  if (Is(key, "DATA")) return ReadDataBits(value, &settings->dataBits);
  if (Is(key, "STOP")) return ReadStopBits(value, &settings->stopBits);
  if (Is(key, "TO")) return ReadSwitch(value, false, false, &settings->timeout);
  if (Is(key, "XON")) return ReadSwitch(value, false, false, &settings->xon);
  if (Is(key, "ODSR")) return ReadSwitch(value, false, false, &settings->outDsr);
  if (Is(key, "OCTS")) return ReadSwitch(value, false, false, &settings->outCts);
  if (Is(key, "DTR")) return ReadSwitch(value, true, false, &settings->dtr);
  if (Is(key, "RTS")) return ReadSwitch(value, true, true, &settings->rts);
  if (Is(key, "IDSR")) return ReadSwitch(value, false, false, &settings->inDsr);
  return false;
}

// "KEY=VALUE" words separated by blanks; a comma anywhere mixes the forms.
bool ParseKeywordForm(Piece text, SerialSettings* settings) {
  const char* p = text.text;
  const char* end = text.text + text.length;
  while (p < end) {
    while (p < end && IsBlank(*p)) ++p;
    const char* word = p;
    while (p < end && !IsBlank(*p)) ++p;
    if (word == p) break;
    const char* equals = static_cast<const char*>(memchr(word, '=', static_cast<size_t>(p - word)));
    if (equals == nullptr || memchr(word, ',', static_cast<size_t>(p - word)) != nullptr) {
      return false;
    }
    Piece key{word, static_cast<size_t>(equals - word)};
    Piece value{equals + 1, static_cast<size_t>(p - equals - 1)};
    if (!ParseKeyword(key, value, settings)) return false;
  }
  return true;
}

// The n of COMn, the one rule for ReadPortName and ComPortNumber: 1 to 4 digits alone, not 0.
bool ReadComNumber(const char* digits, uint32_t* number) {
  return ReadNumber(digits, strlen(digits), 4, number) && *number != 0;
}

}  // namespace

bool ReadPortSetting(const char* text, PortSetting* setting) {
  size_t length = strlen(text);
  if (length >= kPortTextSize) return false;
  const char* equals = strchr(text, '=');
  size_t nameLength = equals != nullptr ? static_cast<size_t>(equals - text) : length;
  for (size_t i = 0; i < nameLength; ++i) setting->name[i] = Upper(text[i]);
  setting->name[nameLength] = '\0';
  if (strncmp(setting->name, kPathPrefix, kPathPrefixLength) == 0) {
    memcpy(setting->name + kPathPrefixLength, text + kPathPrefixLength,
           nameLength - kPathPrefixLength);
  }
  setting->hasMode = equals != nullptr;
  size_t modeLength = setting->hasMode ? length - nameLength - 1 : 0;
  for (size_t i = 0; i < modeLength; ++i) setting->mode[i] = Upper(equals[1 + i]);
  setting->mode[modeLength] = '\0';
  return true;
}

PortAddress ReadPortName(const char* name) {
  PortAddress address{PortAddress::kOther, 0, nullptr};
  if (strncmp(name, kPathPrefix, kPathPrefixLength) == 0) {
    address.kind = PortAddress::kPath;
    address.path = name + kPathPrefixLength;
  } else if (strncmp(name, "COM", 3) == 0 && ReadComNumber(name + 3, &address.number)) {
    address.kind = PortAddress::kNumbered;
  }
  return address;
}

uint32_t ComPortNumber(const char* name) {
  constexpr char kDeviceNamespace[] = "\\\\.\\";
  constexpr size_t kNamespaceLength = sizeof kDeviceNamespace - 1;
  if (strncmp(name, kDeviceNamespace, kNamespaceLength) == 0) name += kNamespaceLength;
  if (Upper(name[0]) != 'C' || Upper(name[1]) != 'O' || Upper(name[2]) != 'M') return 0;
  uint32_t number = 0;
  return ReadComNumber(name + 3, &number) ? number : 0;
}

void WindowsDeviceName(const char* name, char* device, size_t size) {
  PortAddress port = ReadPortName(name);
  if (port.kind == PortAddress::kPath) {
    snprintf(device, size, "%s", port.path);
  } else if (port.kind == PortAddress::kNumbered) {
    snprintf(device, size, "\\\\.\\COM%u", static_cast<unsigned>(port.number));
  } else {
    snprintf(device, size, "%s", name);
  }
}

bool ParseSerialMode(const char* text, SerialSettings* settings) {
  Piece whole = Trim(SkipPortPrefix(Trim({text, strlen(text)})));
  SerialSettings parsed;
  if (whole.length > 0) {
    bool keywords = memchr(whole.text, '=', whole.length) != nullptr;
    bool read = keywords ? ParseKeywordForm(whole, &parsed) : ParseCommaForm(whole, &parsed);
    if (!read) return false;
  }
  *settings = parsed;
  return true;
}

}  // namespace kelvor
