// The command line read into a configuration: one row a command line, the configuration
// written out step by step in the order of the arguments, then the exit status.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "support/temp_folder.h"

namespace kelvor {
namespace {

std::string Destination(const ParsedDestination& parsed) {
  const DestinationSpecification& s = parsed.specification;
  switch (parsed.outcome) {
    case ParsedDestination::kComplete: {
      std::string text = "dest " + std::string(s.number) + " " + std::to_string(s.areaMask) + " " +
                         std::to_string(s.priority) + " " + std::to_string(s.delay);
      if (s.fullMessages) text += " F";
      if (s.enableTagPresent) text += " tag " + std::string(s.enableNode) + ":" + s.enableTag;
      return text;
    }
    case ParsedDestination::kIncomplete:
      return "dest incomplete";
    case ParsedDestination::kTooLong:
      return "dest too long " + std::string(parsed.longToken);
    case ParsedDestination::kBadNumber:
      return "dest bad number " + std::string(parsed.shownNumber);
  }
  return "?";
}

std::string Step(const Configuration& c, const ArgumentStep& step) {
  const std::string kind = step.row->text;
  if (step.turn == ArgumentStep::kRepeated) {
    return "again " + kind + " " + step.row->once + " " + step.argument;
  }
  if (step.turn == ArgumentStep::kPassedOver) {
    return "passed over " + std::string(step.value.text);
  }
  const ArgumentValue& v = step.value;
  std::string text = v.text;
  if (kind == "COM" || kind == "STANDBY=") {
    // The port is read again at its turn: the step keeps the argument.
    PortSetting port = {};
    ReadPortSetting(step.argument + (kind == "COM" ? 0 : kind.size()), &port);
    text = port.name + (port.hasMode ? "=" + std::string(port.mode) : "");
  }
  if (kind == "COM") return v.refused ? "port too long" : "port " + text;
  if (kind == "SER") return "service " + (v.refused ? "none" : text);
  if (kind == "DEST=" || kind == "FILE=") return Destination(c.destinations[step.index]);
  if (kind == "LOG=") {
    const char* outcomes[] = {"log ", "log bad path", "log bad size"};
    return outcomes[v.refused] + text + (v.refused == 0 ? " " + std::to_string(v.amount) : "");
  }
  if (kind == "HEARTBEAT=") {
    const char* outcomes[] = {"heartbeat ", "heartbeat bad number ", "heartbeat bad minutes "};
    return outcomes[v.refused] + text + " " + std::to_string(v.amount);
  }
  if (kind == "SPOOL=") {
    const char* outcomes[] = {"spool ", "spool empty", "spool too long"};
    return outcomes[v.refused] + text;
  }
  if (kind == "PIN=") return v.refused ? "pin bad" : "pin " + text;
  if (kind == "REPLIES=") return v.refused ? "replies refused" : "replies on";
  if (kind == "STANDBY=") {
    const char* refusals[] = {"standby ", "standby too long", "standby without a port"};
    return refusals[v.refused] + (v.refused ? "" : text);
  }
  if (kind == "STANDBY_PIN=") return v.refused ? "standby pin bad" : "standby pin " + text;
  if (kind == "PAUSE=") return v.refused ? "pause refused" : "pause " + std::to_string(v.amount);
  if (kind == "CHARSET=") {
    const char* names[] = {"", "auto", "gsm", "ucs2"};
    return v.refused ? "charset refused" : "charset " + std::string(names[v.code]);
  }
  if (kind == "CODEPAGE=") {
    return v.refused ? "code page refused" : "code page " + std::to_string(v.amount);
  }
  if (kind == "HOURS=")
    return "hours " + std::string(HoursRefusalWords(ParsedHours::Refusal(v.refused)));
  if (kind == "HOLIDAYS=") return "holidays";
  if (kind == "ESCALATE=") {
    const char* outcomes[] = {"", "bad number ", "bad minutes ", "bad next ", "bad fields "};
    return "escalate " + std::string(outcomes[v.refused]) + text + " " + std::to_string(v.amount) +
           " " + v.next;
  }
  return "?";
}

std::string Read(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "kelvor");
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  Configuration c = ReadCommandLine(static_cast<int>(argv.size()), argv.data());
  std::string text;
  for (size_t i = 0; i < c.steps.Count(); ++i) text += Step(c, c.steps[i]) + "; ";
  return text + (c.ShowsUsage() ? "usage " : "status ") + std::to_string(c.ExitStatus());
}

TEST(CommandLine, EachArgumentIsReadInTurnIntoItsValuesOrItsRefusal) {
  test::TempFolder folder;
  const std::string file = folder.Path("dest.csv");
  std::ofstream(file, std::ios::binary) << "Name,Number\r\na,+1,A,H,1\r\nb,+2,B,L,5,F\r\n";
  const std::string path255 = "COM:/" + std::string(250, 'p');
  std::vector<std::string> many = {"COM5"};
  std::string manyRead = "port COM5; ";
  for (int i = 1; i <= 31; ++i) {
    many.push_back("DEST=+" + std::to_string(i) + ",A,H,1");
    manyRead += "dest +" + std::to_string(i) + " 1 0 1; ";
  }
  many.push_back("FILE=" + file);

  const struct {
    std::vector<std::string> arguments;
    std::string read;
  } cases[] = {
      {{}, "usage 0"},
      {{"COM5=9600,n,8,1", "DEST=+99955501234,AD,H,30"},
       "port COM5=9600,N,8,1; dest +99955501234 9 0 30; status 1"},
      // The port: split at the first "=", upper-cased but for a COM:<path>'s path.
      {{"COM3", "COM1=", "COM1=9600,n,8,1=x", "COM:/dev/Phone-X=9600,e", "xCOM:/dev/a", "com5"},
       "port COM3; port COM1=; port COM1=9600,N,8,1=X; port COM:/dev/Phone-X=9600,E; "
       "port XCOM:/DEV/A; usage 0"},
      {{path255, path255 + "x"}, "port " + path255 + "; port too long; usage 0"},
      // A SERVICE argument counts only after a COM argument, for the modem made last.
      {{"SERVICE=+1", "COM5", "SERVICE=+2", "COM6", "SERVICE=none", "DEST=+9,A,H,1"},
       "port COM5; service +2; port COM6; service none; dest +9 1 0 1; status 1"},
      {{"DEST=+1,A,H,30,S,NODE1:COMP101.F_CV", "DEST=+2,AP,l,-5,OFF", "DEST=+3,A",
        "DEST=+4\"x,A,H,1", "DEST=+5,A,H,1,S,N:T." + std::string(32, 'f')},
       "dest +1 1 0 30 tag NODE1:COMP101; dest +2 -32767 2 -5 F; dest incomplete; "
       "dest bad number +4?x; dest too long " +
           std::string(32, 'f') + "; usage 0"},
      // The file's lines at the FILE argument's turn; 31 destinations in all.
      {{"COM5", "FILE=" + file, "DEST=+3,C,M,2", "FILE=" + folder.Path("none.csv")},
       "port COM5; dest +1 1 0 1; dest +2 2 2 5 F; dest +3 4 1 2; status 3"},
      {many, manyRead + "passed over +1,A,H,1; passed over +2,B,L,5,F; status 31"},
      // Leading keywords first, whatever the argument holds; then the first text it holds.
      {{"LOG=C:\\COMMON\\k.log", "SPOOL=/srv/COMMON/SERVICE", "FILE=/srv/SERVICE/none.csv",
        "FILE=C:\\COMMON\\none.csv", "HEARTBEAT=+1SER,60", "PORT=COM5", "SERVICE=+1",
        "XDEST=+7,A,H,1", "DEST=+8,A,H,30,S,SERVER:T.F_CV", "XFILE=COM6", "dest=+1,A,H,1",
        "nonsense"},
       "log C:\\COMMON\\k.log 1024; spool /srv/COMMON/SERVICE; heartbeat +1SER 60; "
       "port PORT=COM5; service +1; dest +7 1 0 1; dest +8 1 0 30 tag SERVER:T; "
       "port XFILE=COM6; status 2"},
      // Of LOG, HEARTBEAT and SPOOL the first is the one, taken or refused.
      {{"LOG=k.log,64", "LOG=x", "HEARTBEAT=+1,0", "HEARTBEAT=+2,5", "SPOOL=", "SPOOL=s"},
       "log k.log 64; again LOG= log file LOG=x; heartbeat bad minutes +1 0; "
       "again HEARTBEAT= heartbeat HEARTBEAT=+2,5; spool empty; again SPOOL= spool SPOOL=s; "
       "usage 0"},
      {{"LOG="}, "log bad path; usage 0"},
      {{"LOG=" + std::string(254, 'x')}, "log bad path; usage 0"},
      {{"LOG=k,log,"}, "log bad size; usage 0"},
      {{"LOG=k.log,1048577"}, "log bad size; usage 0"},
      {{"LOG=k.log,00000064"}, "log bad size; usage 0"},
      {{"LOG=a,b.log,1048576"}, "log a,b.log 1048576; usage 0"},
      {{"HEARTBEAT=+4479001,10080"}, "heartbeat +4479001 10080; usage 0"},
      {{"HEARTBEAT=+1,10081"}, "heartbeat bad minutes +1 0; usage 0"},
      {{"HEARTBEAT=+1"}, "heartbeat bad minutes +1 0; usage 0"},
      {{"HEARTBEAT=,5"}, "heartbeat bad number  0; usage 0"},
      {{"HEARTBEAT=+44\"79\x1a,60"}, "heartbeat bad number +44?79? 0; usage 0"},
      {{"HEARTBEAT=+12345678901234567890123456789012,60"},
       "heartbeat bad number +123456789012345678901234567890 0; usage 0"},
      {{"SPOOL=" + std::string(255, 's')}, "spool " + std::string(255, 's') + "; usage 0"},
      {{"SPOOL=" + std::string(256, 's')}, "spool too long; usage 0"},
      // A PIN: 4 to 8 digits, nothing else; PIN=COM5 is no port.
      {{"PIN=0000", "PIN=12345678", "COM5", "DEST=+1,A,H,1"},
       "pin 0000; again PIN= PIN PIN=****; port COM5; dest +1 1 0 1; status 1"},
      {{"PIN=12345678"}, "pin 12345678; usage 0"},
      {{"PIN=123"}, "pin bad; usage 0"},
      {{"PIN=123456789"}, "pin bad; usage 0"},
      {{"PIN=+1234"}, "pin bad; usage 0"},
      {{"PIN=COM5"}, "pin bad; usage 0"},
      // A standby phone: the COM argument's grammar after STANDBY=, which no COM argument
      // reads; its PIN apart from the main phone's. Each once.
      {{"STANDBY=COM:/dev/ttyUSB1=9600,n,8,1", "STANDBY=COM7", "STANDBY_PIN=1357", "PIN=2468",
        "STANDBY_PIN=2468", "COM5", "DEST=+1,A,H,1"},
       "standby COM:/dev/ttyUSB1=9600,N,8,1; again STANDBY= standby phone STANDBY=COM7; "
       "standby pin 1357; pin 2468; again STANDBY_PIN= standby PIN STANDBY_PIN=****; port COM5; "
       "dest +1 1 0 1; status 1"},
      {{"STANDBY=" + path255 + "x"}, "standby too long; usage 0"},
      {{"STANDBY_PIN=13a7", "STANDBY=com6"}, "standby pin bad; standby COM6; usage 0"},
      {{"STANDBY=", "STANDBY=COM6"},
       "standby without a port; again STANDBY= standby phone "
       "STANDBY=COM6; usage 0"},
      {{"STANDBY==9600,n,8,1"}, "standby without a port; usage 0"},
      // REPLIES= once, ON in any case; ESCALATE= as often as given, whatever it holds.
      {{"REPLIES=on", "REPLIES=ON", "ESCALATE=+1,5,+2", "ESCALATE=+2,1440,+1",
        "ESCALATE=COM5,1,SERVICE"},
       "replies on; again REPLIES= replies REPLIES=ON; escalate +1 5 +2; escalate +2 1440 +1; "
       "escalate bad number COM5 0 ; usage 0"},
      {{"REPLIES=ONCE", "ESCALATE=+1,5"}, "replies refused; escalate bad fields  0 ; usage 0"},
      // PAUSE=: 0 to 60 seconds, whole or with one digit of tenths; PAUSE=COM5 is no port.
      {{"PAUSE=0", "PAUSE=2"}, "pause 0; again PAUSE= pause PAUSE=2; usage 0"},
      {{"PAUSE=60"}, "pause 60000; usage 0"},
      {{"PAUSE=0.1"}, "pause 100; usage 0"},
      {{"PAUSE=60.0"}, "pause 60000; usage 0"},
      {{"PAUSE=60.1"}, "pause refused; usage 0"},
      {{"PAUSE=61"}, "pause refused; usage 0"},
      {{"PAUSE=1.25"}, "pause refused; usage 0"},
      {{"PAUSE=.5"}, "pause refused; usage 0"},
      {{"PAUSE=COM5", "COM6", "DEST=+1,A,H,1"},
       "pause refused; port COM6; dest +1 1 0 1; status 1"},
      // CHARSET= and CODEPAGE= once each: AUTO, GSM or UCS2 in any case; 1 to 65535.
      {{"CHARSET=uCs2", "CHARSET=GSM", "CODEPAGE=1250", "CODEPAGE=1252", "CHARSET=COM5"},
       "charset ucs2; again CHARSET= character set CHARSET=GSM; code page 1250; "
       "again CODEPAGE= code page CODEPAGE=1252; again CHARSET= character set CHARSET=COM5; "
       "usage 0"},
      {{"CHARSET=gsm"}, "charset gsm; usage 0"},
      {{"CHARSET=Auto", "CODEPAGE=65535"}, "charset auto; code page 65535; usage 0"},
      {{"CHARSET=", "CODEPAGE=0"}, "charset refused; code page refused; usage 0"},
      {{"CHARSET=AUTOX", "CODEPAGE=65536"}, "charset refused; code page refused; usage 0"},
      {{"CHARSET=UCS", "CODEPAGE=1252x"}, "charset refused; code page refused; usage 0"},
      // ESCALATE=: exactly three fields; each number digits, blanks and a leading "+", at
      // most 31 characters; the minutes 1 to 1440 in at most four digits. A refused number
      // is kept as far as it fits, printable.
      {{"ESCALATE=+4917100001,5,+4917100002", "ESCALATE=+49 171 00001,1440,4917100002",
        "ESCALATE=+4917100001,5", "ESCALATE=+4917100001,5,+4917100002,",
        "ESCALATE=+49171\"\r\nATD,5,+1", "ESCALATE=+12345678901234567890123456789012,5,+1",
        "ESCALATE=,5,+1", "ESCALATE=+1,0,+2", "ESCALATE=+1,1441,+2", "ESCALATE=+1, 5,+2",
        "ESCALATE=+1,00005,+2", "ESCALATE=+1,0005,+2", "ESCALATE=+1,5,boss"},
       "escalate +4917100001 5 +4917100002; escalate +49 171 00001 1440 4917100002; "
       "escalate bad fields  0 ; escalate bad fields  0 ; escalate bad number +49171???ATD 0 ; "
       "escalate bad number +123456789012345678901234567890 0 ; escalate bad number  0 ; "
       "escalate bad minutes +1 0 ; escalate bad minutes +1 0 ; escalate bad minutes +1 0 ; "
       "escalate bad minutes +1 0 ; escalate +1 5 +2; escalate bad next +1 5 boss; usage 0"},
      // A tab is a blank in a number taken: the rule gets the number as written, not a
      // printable copy with '?' that no longer is a phone number.
      {{"ESCALATE=+49\t171,5,+2\t3"}, "escalate +49\t171 5 +2\t3; usage 0"},
      // HOURS= as often as given, each read whole or refused for its first bad field;
      // HOLIDAYS= once, its file read at its turn.
      {{"HOURS=+1,1-5,08:00-17:00;6,22:00-06:00", "HOURS=+2,1-8,08:00-17:00", "HOURS=+3,1,8-17",
        "HOURS=COM5,1,08:00-09:00", "HOLIDAYS=COM5", "HOLIDAYS=x"},
       "hours ; hours days; hours times; hours number; holidays; again HOLIDAYS= holidays file "
       "HOLIDAYS=x; usage 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    EXPECT_EQ(Read(c.arguments), c.read);
  }
}

// What start-up hands the run, as a run would hear it; lines are not its concern.
class HeardRun : public RunSetup, public Log {
 public:
  std::string heard;

 private:
  static std::string Text(const char* text) { return text != nullptr ? text : "none"; }
  void Hear(const std::string& what) { heard += what + "; "; }
  void MakeModem(const char* name, const char* mode, const char* pin, uint32_t pause) override {
    Hear("modem " + Text(name) + "=" + Text(mode) + " pin " + Text(pin) + " pause " +
         std::to_string(pause));
  }
  void AddStandby(const char* name, const char* mode, const char* pin, bool share) override {
    Hear("standby " + Text(name) + "=" + Text(mode) + " pin " + Text(pin) +
         (share ? " shares" : ""));
  }
  void SetServiceNumber(const char* number) override { Hear("service " + Text(number)); }
  void AddDestination(const ParsedDestination& read) override {
    Hear("dest " + std::string(read.specification.number));
  }
  void StartHeartbeat(const char* number, uint32_t minutes) override {
    Hear("heartbeat " + Text(number) + " " + std::to_string(minutes));
  }
  void StartSpool(const char* path) override { Hear("spool " + Text(path)); }
  void TurnOnReplies() override { Hear("replies"); }
  bool ChooseCharset(Charset charset, uint32_t codePage) override {
    Hear("charset " + std::to_string(int(charset)) + " " + std::to_string(codePage));
    return true;
  }
  Escalation::RuleOutcome AddEscalation(const char* number, uint32_t minutes,
                                        const char* next) override {
    Hear("escalate " + Text(number) + " " + std::to_string(minutes) + " " + Text(next));
    return Escalation::kAdded;
  }
  WakeUpCalls::RuleOutcome AddRing(const char* number, uint32_t minutes, int priority) override {
    Hear("ring " + Text(number) + " " + std::to_string(minutes) + " " + std::to_string(priority));
    return WakeUpCalls::kAdded;
  }
  DutyRoster::Outcome AddHours(const char* number, const DutySchedule& hours) override {
    char text[160];
    FormatSchedule(hours, text, sizeof text);
    Hear("hours " + Text(number) + " " + text);
    return DutyRoster::kAdded;
  }
  DutyRoster::Outcome AddHoliday(int32_t day) override {
    Hear("holiday " + std::to_string(day));
    return DutyRoster::kAdded;
  }
  void WriteLine(Colour, const char*, size_t) override {}
  void WritePlain(const char*, size_t) override {}
};

// Each argument is handed to the run at its turn, with what it needs of the others wherever
// they stand: the first PIN=, PAUSE=, STANDBY= and STANDBY_PIN= go with every modem, the
// first CODEPAGE= with the charset. Reading the command line hands over nothing.
TEST(CommandLine, StartUpHandsTheRunEachValueWithWhatItNeedsOfTheOthers) {
  const std::string page = " " + std::to_string(SystemCodePage()) + "; ";
  test::TempFolder folder;
  const std::string holidays = folder.Path("holidays.txt");
  std::ofstream(holidays, std::ios::binary) << "# days off\r\n2025-12-25\r\n25.12.2026\n\n"
                                               "2026-12-25 # Christmas";
  const struct {
    std::vector<std::string> arguments;
    std::string heard;
  } cases[] = {
      {{"COM5", "SERVICE=+1", "COM6=9600,n,8,1", "PIN=1234", "PAUSE=0.5", "STANDBY=COM:/dev/b",
        "STANDBY_PIN=4321", "PIN=9999", "PAUSE=2", "STANDBY=COM7", "STANDBY_PIN=8765"},
       "modem COM5=none pin 1234 pause 500; standby COM:/dev/b=none pin 4321; service +1; "
       "modem COM6=9600,N,8,1 pin 1234 pause 500; standby COM:/dev/b=none pin 4321; "},
      // Refused, a PIN or pause gives none; a standby on the last modem's port gives none.
      {{"STANDBY=com6", "PIN=12", "COM5", "PAUSE=61", "STANDBY_PIN=1", "COM6"},
       "modem COM5=none pin none pause 1000; modem COM6=none pin none pause 1000; "},
      {{"COM5", "STANDBY=COM6=4800"},
       "modem COM5=none pin none pause 1000; standby COM6=4800 pin none; "},
      {{"COM5", "STANDBY=", "STANDBY_PIN=1234"}, "modem COM5=none pin none pause 1000; "},
      // SHARE=ON, wherever it stands, makes the standby share; any other value does not.
      {{"SHARE=ON", "COM5", "STANDBY=COM6"},
       "modem COM5=none pin none pause 1000; standby COM6=none pin none shares; "},
      {{"COM5", "STANDBY=COM6", "SHARE=on", "SHARE=ON"},
       "modem COM5=none pin none pause 1000; standby COM6=none pin none; "},
      {{"COM:/" + std::string(251, 'p')}, "modem none=none pin none pause 1000; "},
      {{"CHARSET=ucs2", "CODEPAGE=1250", "CODEPAGE=1251"}, "charset 3 1250; "},
      {{"CODEPAGE=0", "CHARSET=GSM", "CHARSET=UCS2"}, "charset 2" + page},
      {{"CHARSET=x", "CODEPAGE=1250"}, ""},
      {{"HEARTBEAT=+1,5", "HEARTBEAT=+2,6", "HEARTBEAT=+3", "SPOOL=s", "SPOOL=t", "REPLIES=ON",
        "REPLIES=on", "ESCALATE=+1,5,+2", "ESCALATE=+1,0,+2", "ESCALATE=+3,6,+4", "RING=+5,7,m",
        "RING=+6,8,x", "RING=+7,9", "DEST=+8,A,H,1", "REPLIES=no", "SPOOL="},
       "heartbeat +1 5; spool s; replies; escalate +1 5 +2; escalate +3 6 +4; ring +5 7 1; "
       "ring +7 9 2; dest +8; "},
      // A refused HOURS= gives nothing; the holidays file's dates at its turn, bad lines skipped.
      {{"HOURS=+1,7,22:00-06:00", "HOURS=+2,1,9:00", "HOLIDAYS=" + holidays},
       "hours +1 7 22:00-06:00; holiday 20447; holiday 20812; "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    std::vector<const char*> argv = {"kelvor"};
    for (const std::string& argument : c.arguments) argv.push_back(argument.c_str());
    Configuration read = ReadCommandLine(static_cast<int>(argv.size()), argv.data());
    HeardRun run;
    ApplyArguments(read, run, run);
    EXPECT_EQ(run.heard, c.heard);
  }
}

}  // namespace
}  // namespace kelvor
