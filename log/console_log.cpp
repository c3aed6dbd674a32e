#include "log/console_log.h"

namespace kelvor {

ConsoleLog::ConsoleLog(Console& console, const char* title, LogFile* file)
    : console_(console), file_(file) {
  if (title != nullptr) LogMessage(Colour::kNormal, "%s", title);
}

void ConsoleLog::WriteLine(Colour colour, const char* text, size_t length) {
  ConsoleLine(colour, text, length);
  if (file_ == nullptr) return;
  file_->WriteLine(text, length);
  ReportFile();
}

void ConsoleLog::WritePlain(const char* text, size_t length) {
  console_.Write(text, length);
  if (file_ == nullptr) return;
  file_->WritePlain(text, length);
  ReportFile();
}

void ConsoleLog::ConsoleLine(Colour colour, const char* text, size_t length) {
  console_.SetColour(colour);
  console_.Write(text, length);
  console_.SetColour(Colour::kNormal);
  console_.Write("\r\n", 2);
}

// A failing file is reported on the console alone, once: alarms go on being forwarded and
// logged there. Its return is logged everywhere, so that the file shows where its gap is.
void ConsoleLog::ReportFile() {
  switch (file_->TakeEvent()) {
    case LogFile::kFailed: {
      LogFile* file = file_;
      file_ = nullptr;
      LogMessage(Colour::kError,
                 "Log file %s cannot be written - console only until its next rotation",
                 file->Path());
      file_ = file;
      break;
    }
    case LogFile::kResumed:
      LogMessage(Colour::kNormal,
                 "Log file %s written again - some earlier lines are missing from it",
                 file_->Path());
      break;
    case LogFile::kNoEvent:
      break;
  }
}

}  // namespace kelvor
