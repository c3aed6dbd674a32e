// The phone's own settings, each argument a row (at the end) and its reader: its SIM's PIN,
// its pause after each SMS, the coding of texts, a standby phone with its SIM's PIN, SHARE=.
#include <cstring>

#include "app/command_line.h"
#include "modem/sim_pin.h"
#include "modem/status_report.h"
#include "platform/code_page.h"
#include "platform/serial.h"
#include "platform/text.h"

namespace kelvor {
namespace {

// PIN=nnnn and STANDBY_PIN=nnnn: 4 to 8 digits, kept whole; refused 1. Neither the PIN nor the
// argument shows, refused or not: a PIN that is nearly right would give most of it away.

void ReadPin(ArgumentTurn& t) {
  t.value.refused = !IsPin(t.Value());
  if (t.value.refused == 0) memcpy(t.value.text, t.Value(), strlen(t.Value()) + 1);
  bool standby = t.row.text[0] == 'S';
  if (t.value.refused) {
    t.log.LogMessage(Colour::kError, "Bad PIN - %s takes %d to %d digits; no PIN sent\r\n",
                     t.row.text, static_cast<int>(kShortestPin), static_cast<int>(kLongestPin));
  } else {
    t.log.LogMessage(Colour::kNormal, "%sSIM PIN **** given - sent when %s SIM asks for it",
                     standby ? "Standby " : "", standby ? "that" : "the");
  }
}

// PAUSE=seconds: 0 to 60, tenths allowed, kept in ms; refused, the pause stays a second.
void ReadPause(ArgumentTurn& t) {
  uint32_t tenths = 0;
  t.value.refused =
      !ReadTenths(t.Value(), strlen(t.Value()), kLongestPauseAfterSend / 100, &tenths);
  t.value.amount = t.value.refused ? kDefaultPauseAfterSend : tenths * 100;
  uint32_t shown = t.value.amount / 100;
  if (t.value.refused == 0) {
    t.log.LogMessage(Colour::kNormal, "Pause after each SMS %u.%u s", shown / 10, shown % 10);
  } else {
    t.log.LogMessage(Colour::kError,
                     "Bad pause - PAUSE= takes 0 to %u seconds, tenths allowed: "
                     "%.60s; pause of %u s kept",
                     kLongestPauseAfterSend / 1000, t.argument, shown / 10);
  }
}

// CHARSET=AUTO|GSM|UCS2 (code: the Charset) and CODEPAGE=1..65535: texts as written. A code page
// counts only with a charset; without one, the node's own (SystemCodePage).

void ReadCharset(ArgumentTurn& t) {
  Charset charset = CharsetNamed(t.Value());
  t.value.code = static_cast<int>(charset);
  t.value.refused = charset == Charset::kAsGiven;
  const ArgumentStep* paged = t.c.Find(kCodePageKeyword);
  unsigned page = paged && !paged->value.refused ? paged->value.amount : SystemCodePage();
  if (t.value.refused) {
    t.log.LogMessage(Colour::kError, "Bad character set - CHARSET=AUTO, GSM or UCS2: %.60s; %s",
                     t.argument, "texts go as they are");
  } else if (t.run.ChooseCharset(charset, page)) {
    t.log.LogMessage(Colour::kNormal, "Character set %s for SMS texts, read in code page %u",
                     CharsetName(charset), page);
  } else {
    t.log.LogMessage(Colour::kError,
                     "Code page %u cannot be read here (one byte a character: "
                     "1250, 1251, 1252...) - its letters above 127 go as ?",
                     page);
  }
}

// A code page taken is said with the charset; one refused or given alone is said here.
void ReadCodePage(ArgumentTurn& t) {
  t.value.refused = !ReadInRange(t.Value(), strlen(t.Value()), 1, 65535, &t.value.amount);
  const ArgumentStep* charset = t.c.Find(kCharsetKeyword);
  if (t.value.refused) {
    t.log.LogMessage(Colour::kError,
                     "Bad code page - CODEPAGE= takes its number, as 1252: %.60s; "
                     "code page %u used",
                     t.argument, SystemCodePage());
  } else if (!charset || charset->value.refused) {
    t.log.LogMessage(Colour::kError, "Code page %u without CHARSET= - texts go as they are",
                     t.value.amount);
  }
}

// DELIVERY=minutes: a status report for every SMS, valid 1 to 1440 minutes.
void ReadDelivery(ArgumentTurn& t) {
  t.value.refused = !ReadInRange(t.Value(), strlen(t.Value()), kShortestDeliveryMinutes,
                                 kLongestDeliveryMinutes, &t.value.amount);
  if (t.value.refused == 0) t.run.AskReports(t.value.amount);
  t.log.LogMessage(t.value.refused ? Colour::kError : Colour::kNormal,
                   t.value.refused ? "Bad DELIVERY= - 1 to %u minutes: %.60s; no status reports"
                                   : "Status report asked for every SMS, valid %u min%.0s",
                   t.value.refused ? kLongestDeliveryMinutes : t.value.amount, t.argument);
}

// STANDBY=COMx=mode: the COM argument's grammar; refused 1 when too long, 2 without a port
// (a standby that can never open would be said to stand by).
void ReadStandby(ArgumentTurn& t) {
  PortSetting port = {};
  t.value.refused = !ReadPortSetting(t.Value(), &port) ? 1 : port.name[0] == '\0' ? 2 : 0;
  if (t.reading != nullptr) return;  // the last COM argument may yet come
  if (StandbyPort(t.c, &port)) {
    t.log.LogMessage(Colour::kNormal, "Standby phone on %s - sends while the main phone has failed",
                     port.name);
  } else if (t.value.refused == 1) {
    t.log.LogMessage(Colour::kError, "STANDBY argument too long - %.40s...; no standby\r\n",
                     t.argument);
  } else if (t.value.refused == 2) {
    t.log.LogMessage(Colour::kError, "Bad standby port - STANDBY=COMx=settings: %.60s; no standby",
                     t.argument);
  } else {
    t.log.LogMessage(Colour::kError, "Standby phone on the main phone's port %s - no standby",
                     port.name);
  }
}

// SHARE=ON: both phones send while both are well; refused 1 for another value.
void ReadShare(ArgumentTurn& t) {
  PortSetting port = {};
  t.value.refused = strcmp(t.Value(), "ON") != 0;
  if (t.value.refused || !StandbyPort(t.c, &port)) {
    t.log.LogMessage(Colour::kError, "%.60s ignored - %s", t.argument,
                     t.value.refused ? "SHARE=ON or none" : "no standby phone to share with");
  } else {
    t.log.LogMessage(Colour::kNormal, "Both phones send while both are well - they share the SMS");
  }
}

}  // namespace

bool StandbyPort(const Configuration& c, PortSetting* standby) {
  const ArgumentStep* step = c.Find(kStandbyKeyword);
  if (step == nullptr || step->value.refused ||
      !ReadPortSetting(step->argument + strlen(kStandbyKeyword), standby)) {
    return false;
  }
  const ArgumentStep* last = c.Find("COM", true);
  PortSetting port = {};
  if (last != nullptr) ReadPortSetting(last->argument, &port);
  // The same device by another name (\\.\COM5, a /dev/serial/by-id link) is no standby.
  return last == nullptr || !SamePortDevice(port.name, standby->name);
}

const ArgumentRow kPhoneRows[] = {
    {kPinKeyword, "PIN", "PIN=****", ReadPin},
    {kPauseKeyword, "pause", nullptr, ReadPause},
    {kCharsetKeyword, "character set", nullptr, ReadCharset},
    {kCodePageKeyword, "code page", nullptr, ReadCodePage},
    {kStandbyKeyword, "standby phone", nullptr, ReadStandby},
    {kStandbyPinKeyword, "standby PIN", "STANDBY_PIN=****", ReadPin},
    {"DELIVERY=", "delivery reports", nullptr, ReadDelivery},
    {kShareKeyword, "sharing", nullptr, ReadShare},
};
const ArgumentRows kPhoneArguments = Rows(kPhoneRows);

}  // namespace kelvor
