// The COM argument and the command line around it. As a COM argument: the port's name and
// mode stay within their buffers and are split at the first "=", upper-cased but for a
// COM:<path>'s path; a name is COMn, COM:<path> or other exactly as written; a mode text
// is either read whole or refused without changing anything; the port's error text stays
// within its buffer; the link opens the port by the name read. Split at its line feeds, as
// a whole command line: each argument is read into steps that keep the rules (at most 31
// destinations, a service number only after a port, the once-only keywords once), with
// every value within its buffer, and a PIN of 4 to 8 digits that no step shows. A HOURS= taken
// holds 1 to 8 windows of days 1 to 7 within the day, its text as read within its buffer, and
// the roster reads them at any local time.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/heartbeat.h"
#include "app/spool.h"
#include "fuzz_support.h"
#include "log/console_log.h"
#include "log/log_file.h"
#include "modem/serial_link.h"
#include "modem/sim_pin.h"
#include "platform/serial_mode.h"
#include "support/fake_serial.h"

using namespace kelvor;

namespace {

bool InRange(const SerialSettings& settings) {
  return settings.baud <= 999999999 &&
         (settings.parity == 0 || strchr("NOEMS", settings.parity) != nullptr) &&
         (settings.dataBits == 0 || (settings.dataBits >= 5 && settings.dataBits <= 8)) &&
         settings.stopBits <= StopBits::kTwo && settings.handshake <= Handshake::kHardware &&
         settings.timeout <= LineSwitch::kToggle && settings.rts <= LineSwitch::kToggle &&
         settings.dtr <= LineSwitch::kToggle;
}

void CheckModeText(const char* mode) {
  SerialSettings settings;
  settings.baud = 12345;  // a mark that a refused text must leave alone
  settings.parity = 'Z';
  SerialSettings before = settings;
  if (ParseSerialMode(mode, &settings)) {
    FUZZ_CHECK(InRange(settings));
  } else {
    FUZZ_CHECK(memcmp(&settings, &before, sizeof settings) == 0);
  }

  // The system port reads the same text without being opened; its error text is cut to
  // the buffer it is given.
  auto port = NewSerialPort();
  const size_t kErrorSize = 12;
  std::unique_ptr<char[]> error(new char[kErrorSize]);
  if (!port->BuildMode(mode, error.get(), kErrorSize)) {
    FUZZ_CHECK(fuzz::Terminated(error.get(), kErrorSize));
  } else {
    SerialSettings again;
    FUZZ_CHECK(ParseSerialMode(mode, &again));
  }
}

bool HasLowerCase(const char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'a' && *text <= 'z') return true;
  }
  return false;
}

void CheckPortName(const char* name) {
  PortAddress address = ReadPortName(name);
  bool path = strncmp(name, "COM:", 4) == 0;
  FUZZ_CHECK((address.kind == PortAddress::kPath) == path);
  if (path) FUZZ_CHECK(address.path == name + 4);
  if (address.kind == PortAddress::kNumbered) {
    FUZZ_CHECK(address.number >= 1 && address.number <= 9999);
    FUZZ_CHECK(std::string(name) == "COM" + std::string(name + 3) &&
               strspn(name + 3, "0123456789") == strlen(name + 3) && strlen(name + 3) <= 4);
  }
}

void CheckPortSetting(const char* argument) {
  size_t length = strlen(argument);
  PortSetting setting;
  bool fits = ReadPortSetting(argument, &setting);
  FUZZ_CHECK(fits == (length < kPortTextSize));
  if (!fits) return;
  FUZZ_CHECK(fuzz::Terminated(setting.name, kPortTextSize));
  FUZZ_CHECK(fuzz::Terminated(setting.mode, kPortTextSize));
  const char* equals = strchr(argument, '=');
  FUZZ_CHECK(setting.hasMode == (equals != nullptr));
  size_t nameLength = equals != nullptr ? static_cast<size_t>(equals - argument) : length;
  FUZZ_CHECK(strlen(setting.name) == strnlen(argument, nameLength));
  bool path = strncmp(setting.name, "COM:", 4) == 0;
  FUZZ_CHECK(!HasLowerCase(path ? "" : setting.name));
  if (path) FUZZ_CHECK(memcmp(setting.name + 4, argument + 4, strlen(setting.name) - 4) == 0);
  CheckPortName(setting.name);

  fuzz::CheckingConsole console;
  ConsoleLog log(console, nullptr);
  auto port = std::make_unique<test::FakeSerialPort>();
  test::FakeSerialPort* fake = port.get();
  SerialLink link(std::move(port), log);
  link.OpenPort(setting.name, setting.hasMode ? setting.mode : nullptr);
  FUZZ_CHECK(!fake->calls.empty() && fake->calls[0] == std::string("Open ") + setting.name);

  if (!setting.hasMode) return;
  FUZZ_CHECK(strlen(setting.mode) == length - nameLength - 1 && !HasLowerCase(setting.mode));
  CheckModeText(setting.mode);
}

// A HOURS= value: taken, its windows lie within the week and the day, and hold at every hour
// of a week that has a holiday.
void CheckHours(const char* value) {
  ParsedHours hours = ParseHours(value);
  if (hours.refused != ParsedHours::kTaken) return;
  FUZZ_CHECK(IsPhoneNumber(hours.number));
  const DutySchedule& s = hours.schedule;
  FUZZ_CHECK(s.count >= 1 && s.count <= kDutyWindowCapacity);
  for (int i = 0; i < s.count; ++i) {
    const DutyWindow& w = s.windows[i];
    FUZZ_CHECK(w.days != 0 && w.days < 128 && w.start < 1440 && w.end <= 1440 && w.start != w.end);
  }
  char text[24];
  FormatSchedule(s, text, sizeof text);
  FUZZ_CHECK(fuzz::Terminated(text, sizeof text));
  DutyRoster roster;
  FUZZ_CHECK(roster.Add(hours.number, s) == DutyRoster::kAdded);
  FUZZ_CHECK(roster.Add(hours.number, s) == DutyRoster::kDuplicate);
  roster.AddHoliday(DayNumber(2026, 12, 9));
  fuzz::CheckingConsole console;
  ConsoleLog log(console, nullptr);
  for (int hour = 0; hour < 7 * 24; hour += 5)
    roster.Pass({2026, 12, 7 + hour / 24, hour % 24, 30, 0}, log);
}

// The input's lines as a command line. A FILE argument would read whatever file it names
// (standard input among them): those are left out, as the destination file has a target
// of its own.
void CheckCommandLine(const std::string& text) {
  std::vector<std::string> arguments = {"kelvor"};
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string argument = text.substr(start, end - start);
    if (argument.find("FILE=") == std::string::npos) arguments.push_back(argument);
    start = end + 1;
  }
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  Configuration c = ReadCommandLine(static_cast<int>(argv.size()), argv.data());

  FUZZ_CHECK(c.destinationCount <= Configuration::kDestinations);
  FUZZ_CHECK(c.ExitStatus() == (c.ShowsUsage() ? 0 : static_cast<int>(c.destinationCount)));
  std::map<std::string, size_t> counts;  // steps taken, by the text of their row
  for (size_t i = 0; i < c.steps.Count(); ++i) {
    const ArgumentStep& step = c.steps[i];
    const std::string kind = step.row->text;
    if (step.turn == ArgumentStep::kRepeated) {
      FUZZ_CHECK(step.row->once != nullptr);
      if (kind == "PIN=") FUZZ_CHECK(strcmp(step.argument, "PIN=****") == 0);
      continue;
    }
    if (step.turn == ArgumentStep::kPassedOver) {
      FUZZ_CHECK(c.destinationCount == Configuration::kDestinations);
      FUZZ_CHECK(strlen(step.value.text) <= kShownPassedOver);
      continue;
    }
    if (kind == "SER") FUZZ_CHECK(counts["COM"] > 0);
    // Destinations index their places in turn; kinds a run has one of come once.
    bool several = kind == "COM" || kind == "SER" || kind == "DEST=" || kind == "ESCALATE=" ||
                   kind == "RING=" || kind == "HOURS=";
    FUZZ_CHECK((kind != "DEST=" || step.index == counts[kind]) && (several || counts[kind] == 0));
    ++counts[kind];
  }
  FUZZ_CHECK(counts["DEST="] == c.destinationCount);
  FUZZ_CHECK(c.ShowsUsage() == (counts["COM"] == 0 || c.destinationCount == 0));
  for (size_t i = 0; i < c.steps.Count(); ++i) {
    const ArgumentStep& step = c.steps[i];
    const ArgumentValue& v = step.value;
    const std::string kind = step.row->text;
    if (step.turn != ArgumentStep::kTaken) continue;
    FUZZ_CHECK(fuzz::Terminated(v.text, sizeof v.text) && fuzz::Terminated(v.next, kNumberSize));
    // A refused number is kept cut and printable for its line: only values taken are checked.
    if (v.refused != 0) continue;
    if (kind == "RING=") {
      FUZZ_CHECK(CheckRingValues(v.text, v.amount, v.code) == RingValues::kFine);
    } else if (kind == "ESCALATE=") {
      FUZZ_CHECK(CheckRuleValues(v.text, v.amount, v.next) == RuleValues::kFine);
    } else if (kind == "PIN=") {
      size_t length = strlen(v.text);
      FUZZ_CHECK(length >= kShortestPin && length <= kLongestPin);
      FUZZ_CHECK(strspn(v.text, "0123456789") == length);
    } else if (kind == "LOG=") {
      FUZZ_CHECK(v.text[0] != '\0' && strlen(v.text) < kLogPathSize);
      FUZZ_CHECK(v.amount >= 1 && v.amount <= kLargestLogKbytes);
    } else if (kind == "HEARTBEAT=") {
      FUZZ_CHECK(v.text[0] != '\0' && SafeForCommand(v.text));
      FUZZ_CHECK(v.amount >= 1 && v.amount <= kLongestHeartbeatMinutes);
    } else if (kind == "HOURS=") {
      CheckHours(step.argument + strlen("HOURS="));
    } else if (kind == "SPOOL=") {
      size_t length = strlen(v.text);
      FUZZ_CHECK(length > 0 && length <= kSpoolPathSize - 1 - kSpoolSuffixLength);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> text(new char[size + 1]);
  memcpy(text.get(), data, size);
  text[size] = '\0';
  CheckPortSetting(text.get());
  CheckModeText(text.get());  // the whole text as a mode, "COMn:" prefix and all
  CheckCommandLine(std::string(text.get()));
  CheckHours(text.get());
  return 0;
}
