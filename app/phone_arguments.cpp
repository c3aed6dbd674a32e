// The arguments that set up the phone itself, each in one row as in arguments.cpp (its
// reader beside its take): the SIM's PIN (PIN=), the pause after each SMS (PAUSE=), the
// coding of texts (CHARSET=, CODEPAGE=) and a standby phone with its SIM's PIN (STANDBY=,
// STANDBY_PIN=). TakePort hands PIN=, PAUSE= and the standby to each modem made.
#include <cstring>

#include "app/command_line.h"
#include "platform/code_page.h"
#include "platform/serial.h"
#include "platform/text.h"

namespace kelvor {
namespace {

// --- PIN=nnnn: handed to each modem made (TakePort) ------------------------------------

// A PIN argument's text after its "=": taken when it is 4 to 8 digits.
void ReadPinDigits(PinSetting& read, const char* digits) {
  if (!IsPin(digits)) return;
  read.fine = true;
  memcpy(read.digits, digits, strlen(digits) + 1);
}

void ReadPin(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument);
  ReadPinDigits(c.pin.emplace(), argument + strlen(row.text));
}

// Neither the PIN nor the argument shows, refused or not: a PIN that is nearly right
// would give most of it away.
void TakePin(const Configuration& c, const ArgumentStep&, Log& log, RunSetup&) {
  if (c.pin->fine) {
    log.LogMessage(Colour::kNormal, "SIM PIN **** given - sent when the SIM asks for it\r\n");
  } else {
    log.LogMessage(Colour::kError, "Bad PIN - PIN= takes %d to %d digits; no PIN sent\r\n",
                   static_cast<int>(kShortestPin), static_cast<int>(kLongestPin));
  }
}

// --- PAUSE=seconds, in tenths: handed to each modem made (TakePort) --------------------

void ReadPause(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument);
  PauseSetting& read = c.pause.emplace();
  const char* value = argument + strlen(row.text);
  uint32_t tenths = 0;
  read.fine = ReadTenths(value, strlen(value), kLongestPauseAfterSend / 100, &tenths);
  if (read.fine) read.milliseconds = tenths * 100;
}

void TakePause(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup&) {
  unsigned tenths = static_cast<unsigned>(c.pause->milliseconds / 100);
  if (c.pause->fine) {
    log.LogMessage(Colour::kNormal, "Pause after each SMS %u.%u s", tenths / 10, tenths % 10);
  } else {
    log.LogMessage(Colour::kError,
                   "Bad pause - PAUSE= takes 0 to %u seconds, tenths allowed: "
                   "%.60s; pause of %u s kept",
                   static_cast<unsigned>(kLongestPauseAfterSend / 1000), step.argument,
                   tenths / 10);
  }
}

// --- CHARSET=AUTO|GSM|UCS2 and CODEPAGE=number: texts as written --------------------

void ReadCharset(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument);
  CharsetSetting& read = c.charset.emplace();
  read.charset = CharsetNamed(argument + strlen(row.text));
  read.fine = read.charset != Charset::kAsGiven;
}

// The code page is CODEPAGE='s, or the node's own; the line names it either way.
void TakeCharset(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup& run) {
  unsigned page = c.codePage && c.codePage->fine ? c.codePage->number : SystemCodePage();
  if (!c.charset->fine) {
    log.LogMessage(Colour::kError, "Bad character set - CHARSET=AUTO, GSM or UCS2: %.60s; %s",
                   step.argument, "texts go as they are");
  } else if (run.ChooseCharset(c.charset->charset, page)) {
    log.LogMessage(Colour::kNormal, "Character set %s for SMS texts, read in code page %u",
                   CharsetName(c.charset->charset), page);
  } else {
    log.LogMessage(Colour::kError,
                   "Code page %u cannot be read here (one byte a character: "
                   "1250, 1251, 1252...) - its letters above 127 go as ?",
                   page);
  }
}

void ReadCodePageArgument(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument);
  const char* value = argument + strlen(row.text);
  CodePageSetting& read = c.codePage.emplace();
  read.fine = ReadInRange(value, strlen(value), 1, 65535, &read.number);
}

// A code page taken is said with the charset; one refused or given alone is said here.
void TakeCodePage(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup&) {
  if (!c.codePage->fine) {
    log.LogMessage(Colour::kError,
                   "Bad code page - CODEPAGE= takes its number, as 1252: %.60s; "
                   "code page %u used",
                   step.argument, static_cast<unsigned>(SystemCodePage()));
  } else if (!c.charset || !c.charset->fine) {
    log.LogMessage(Colour::kError, "Code page %u without CHARSET= - texts go as they are",
                   static_cast<unsigned>(c.codePage->number));
  }
}

// --- STANDBY=COMx=mode and STANDBY_PIN=nnnn: handed to each modem made (TakePort) -------

void ReadStandby(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument);
  StandbySetting& read = c.standby.emplace();
  read.tooLong = !ReadPortSetting(argument + strlen(row.text), &read.port);
}

void TakeStandby(const Configuration& c, const ArgumentStep& step, Log& log, RunSetup&) {
  if (StandbyPort(c) != nullptr) {
    log.LogMessage(Colour::kNormal, "Standby phone on %s - sends while the main phone has failed",
                   c.standby->port.name);
  } else if (c.standby->tooLong) {
    log.LogMessage(Colour::kError, "STANDBY argument too long - %.40s...; no standby\r\n",
                   step.argument);
  } else {
    log.LogMessage(Colour::kError, "Standby phone on the main phone's port %s - no standby",
                   c.standby->port.name);
  }
}

void ReadStandbyPin(const ArgumentRow& row, const char* argument, Configuration& c) {
  AddStep(c, row, argument);
  ReadPinDigits(c.standbyPin.emplace(), argument + strlen(row.text));
}

void TakeStandbyPin(const Configuration& c, const ArgumentStep&, Log& log, RunSetup&) {
  if (c.standbyPin->fine) {
    log.LogMessage(Colour::kNormal, "Standby SIM PIN **** given - sent when that SIM asks for it");
  } else {
    log.LogMessage(Colour::kError, "Bad PIN - STANDBY_PIN= takes %d to %d digits; no PIN sent",
                   static_cast<int>(kShortestPin), static_cast<int>(kLongestPin));
  }
}

}  // namespace

const PortSetting* StandbyPort(const Configuration& c) {
  if (!c.standby || c.standby->tooLong) return nullptr;
  size_t ports = c.ports.Count();
  // The same device by another name (\\.\COM5, a /dev/serial/by-id link) is no standby.
  bool apart = ports == 0 || !SamePortDevice(c.ports[ports - 1].port.name, c.standby->port.name);
  return apart ? &c.standby->port : nullptr;
}

const ArgumentRow kPinArgument = {"PIN=", "PIN", "PIN=****", ReadPin, TakePin};
const ArgumentRow kPauseArgument = {"PAUSE=", "pause", nullptr, ReadPause, TakePause};
const ArgumentRow kCharsetArgument = {"CHARSET=", "character set", nullptr, ReadCharset,
                                      TakeCharset};
const ArgumentRow kCodePageArgument = {"CODEPAGE=", "code page", nullptr, ReadCodePageArgument,
                                       TakeCodePage};
const ArgumentRow kStandbyArgument = {"STANDBY=", "standby phone", nullptr, ReadStandby,
                                      TakeStandby};
const ArgumentRow kStandbyPinArgument = {"STANDBY_PIN=", "standby PIN", "STANDBY_PIN=****",
                                         ReadStandbyPin, TakeStandbyPin};

}  // namespace kelvor
