#include "app/command_line.h"

#include <cstring>
#include <initializer_list>

namespace kelvor {
namespace {

// The usage text, as operators know it ("SEVICE" included).
const char* const kUsage[] = {
    "Usage : Kelvor COMx=[baud,parity,bits,stopbits] SERVICE=+nnn DEST=+xxx,y,z,d,f\r\n",
    "COMx sets the serial port x, you can omit the parameters for an IR link\r\n",
    "SEVICE is the SMS service centre number, for most phones you can omit this\r\n",
    "       if the Number is programmed into the SIM card, for nokia always set this\r\n",
    "DEST is the alarm destination where\r\n",
    " xxx - is destination mobile number\r\n",
    " y - is a list of plant areas active for this destination eg ABC\r\n",
    " z - is the alarm priority active for this destination eg. H,M or L\r\n",
    "     the logic is :: if alarm priority greater than or equal to dest priority\r\n",
    " d - is the delay (s) before send, allowing >1 alarms per SMS to reduce SMS's\r\n",
    " f - If set to 'F' full alarm messages else description field only\r\n\r\n",
    "example - COM5=9600,n,8,1 SERVICE=+99912345 DEST=+99955501234,AD,H,30\r\n",
    "this sends all High priority alarms in Plant areas A&D to +99955501234\r\n",
    "The Message will be buffered for 30 sec, If another alarm arrives in this time\r\n",
    "It will be sent in the same SMS, this feature is limited to 160 chars per msg\r\n",
    "\r\nHit any Key to Exit\r\n",
};

// The first reading's log and run: it says nothing and hands nothing over.
class Silence : public Log {
  void WriteLine(Colour, const char*, size_t) override {}
  void WritePlain(const char*, size_t) override {}
};
struct NoRun : RunSetup {};

// The row of an argument: the keyword it begins with, else the first text it contains;
// null for none. Of a once-only kind, an argument after the first is `repeated`.
const ArgumentRow* RowOf(const char* argument, const Configuration& c, bool* repeated) {
  for (const ArgumentRows* table : {&kLeadingArguments, &kPhoneArguments, &kReplyArguments}) {
    for (size_t i = 0; i < table->count; ++i) {
      const ArgumentRow& row = table->rows[i];
      if (strncmp(argument, row.text, strlen(row.text)) != 0) continue;
      *repeated = row.once != nullptr && c.Find(row.text) != nullptr;
      return &row;
    }
  }
  for (size_t i = 0; i < kContainedArguments.count; ++i) {
    const ArgumentRow& row = kContainedArguments.rows[i];
    if (strstr(argument, row.text) != nullptr) return &row;
  }
  return nullptr;
}

}  // namespace

const ArgumentStep* Configuration::Find(const char* text, bool last) const {
  const ArgumentStep* found = nullptr;
  for (size_t i = 0; i < steps.Count() && (last || found == nullptr); ++i) {
    const ArgumentStep& step = steps[i];
    if (step.turn == ArgumentStep::kTaken && strcmp(step.row->text, text) == 0) found = &step;
  }
  return found;
}

Configuration ReadCommandLine(int argc, const char* const* argv) {
  Configuration c;
  c.argc = argc;
  Silence silence;
  NoRun nothing;
  for (int i = 1; i < argc; ++i) {
    bool repeated = false;
    const ArgumentRow* row = RowOf(argv[i], c, &repeated);
    if (row == nullptr) continue;
    if (repeated) {
      const char* shown = row->shown != nullptr ? row->shown : argv[i];
      c.steps.Add() = {row, ArgumentStep::kRepeated, shown, 0, {}};
      continue;
    }
    ArgumentTurn turn{*row, argv[i], c, &c, silence, nothing};
    row->read(turn);
    if (!turn.stepless) c.steps.Add() = {row, turn.turn, argv[i], turn.index, turn.value};
  }
  return c;
}

void ApplyArguments(const Configuration& c, Log& log, RunSetup& run) {
  for (size_t i = 0; i < c.steps.Count(); ++i) {
    const ArgumentStep& step = c.steps[i];
    const ArgumentRow& row = *step.row;
    ArgumentTurn turn{row, step.argument, c, nullptr, log, run, step.value, step.index, step.turn};
    if (step.turn != ArgumentStep::kRepeated) {
      row.read(turn);
    } else {
      log.LogMessage(Colour::kError, "Second %.*s argument ignored - one %s per run: %.60s",
                     static_cast<int>(strlen(row.text) - 1), row.text, row.once, step.argument);
    }
  }
}

void SayUsage(Log& log) {
  for (const char* line : kUsage) log.LogMessage(Colour::kAlarmQueue, "%s", line);
}

}  // namespace kelvor
