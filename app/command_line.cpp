#include "app/command_line.h"

#include <cstring>

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

bool StartsWith(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

// Reads an argument that begins with a keyword; false when it begins with none. Of a
// once-only kind the first argument is the one, taken or refused.
bool ReadKeywordArgument(const char* argument, bool* seen, Configuration& c) {
  ArgumentRows keywords = LeadingKeywords();
  for (size_t i = 0; i < keywords.count; ++i) {
    const ArgumentRow& row = *keywords.rows[i];
    if (!StartsWith(argument, row.text)) continue;
    if (row.once != nullptr && seen[i]) {
      ArgumentStep& step = AddStep(c, row, row.shown != nullptr ? row.shown : argument);
      step.turn = ArgumentStep::kRepeated;
      return true;
    }
    seen[i] = true;
    row.read(row, argument, c);
    return true;
  }
  return false;
}

// Every other argument, by the first of the texts it contains; with none, it is passed over.
void ReadOtherArgument(const char* argument, Configuration& c) {
  ArgumentRows texts = ContainedTexts();
  for (size_t i = 0; i < texts.count; ++i) {
    const ArgumentRow& row = *texts.rows[i];
    if (strstr(argument, row.text) == nullptr) continue;
    row.read(row, argument, c);
    return;
  }
}

void SayRepeated(const ArgumentStep& step, Log& log) {
  const ArgumentRow& row = *step.row;
  log.LogMessage(Colour::kError, "Second %.*s argument ignored - one %s per run: %.60s",
                 static_cast<int>(strlen(row.text) - 1), row.text, row.once, step.argument);
}

}  // namespace

ArgumentStep& AddStep(Configuration& c, const ArgumentRow& row, const char* argument,
                      size_t index) {
  ArgumentStep& step = c.steps.Add();
  step.row = &row;
  step.argument = argument;
  step.index = index;
  return step;
}

Configuration ReadCommandLine(int argc, const char* const* argv) {
  Configuration c;
  c.argc = argc;
  std::unique_ptr<bool[]> seen(new bool[LeadingKeywords().count]());
  for (int i = 1; i < argc; ++i) {
    if (!ReadKeywordArgument(argv[i], seen.get(), c)) ReadOtherArgument(argv[i], c);
  }
  return c;
}

void TakeArguments(const Configuration& c, Log& log, RunSetup& run) {
  for (size_t i = 0; i < c.steps.Count(); ++i) {
    const ArgumentStep& step = c.steps[i];
    if (step.turn == ArgumentStep::kRepeated) {
      SayRepeated(step, log);
    } else {
      step.row->take(c, step, log, run);
    }
  }
}

void SayUsage(Log& log) {
  for (const char* line : kUsage) log.LogMessage(Colour::kAlarmQueue, "%s", line);
}

}  // namespace kelvor
