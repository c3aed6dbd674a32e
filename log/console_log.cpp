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
// logged there. Its return is shown on the console too; the file, where it marks the gap,
// has begun with the same line already.
void ConsoleLog::ReportFile() {
  LogFile::Event event = file_->TakeEvent();
  if (event == LogFile::kNoEvent) return;
  LogFile* file = file_;
  file_ = nullptr;
  if (event == LogFile::kFailed) {
    LogMessage(Colour::kError,
               "Log file %s cannot be written - console only until its next rotation",
               file->Path());
  } else if (event == LogFile::kNotRenamed) {
    LogMessage(Colour::kError,
               "Log file %s cannot be renamed for its rotation - tried again at each line",
               file->Path());
  } else if (event == LogFile::kStopped) {
    LogMessage(Colour::kError, kLogStoppedFormat, file->Path());
  } else {
    LogMessage(Colour::kNormal, kLogResumedFormat, file->Path());
  }
  file_ = file;
}

}  // namespace kelvor
