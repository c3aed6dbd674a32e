// The log file: every console line again, with the local date and time before it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace kelvor {

constexpr size_t kLogPathSize = 254;  // a path of at most 253 characters, so "path.1" fits 256
constexpr uint32_t kLargestLogKbytes = 1048576;  // 1 GB: the file stays within 32-bit sizes
constexpr uint32_t kDefaultLogKbytes = 1024;

// LOG=path[,kbytes] after its keyword. A value after the last comma is the size, so a path
// with a comma must give it. Refused 1 a path not 1 to kLogPathSize - 1 characters, 2 a size
// not 1 to kLargestLogKbytes.
struct LogArgument {
  int refused = 0;
  char path[kLogPathSize] = {};
  uint32_t kbytes = kDefaultLogKbytes;
};
LogArgument ReadLogArgument(const char* value);
constexpr size_t kStampLength = 20;  // "2026-12-07 14:03:22 "

// The line a file written again after a gap begins with; the console shows it too.
constexpr char kLogResumedFormat[] =
    "Log file %s written again - some earlier lines are missing from it";
// The last line of a file that could not be rotated and reached twice its size; the console
// shows it too.
constexpr char kLogStoppedFormat[] =
    "Log file %s not rotated and at twice its size - console only until its next rotation";

// Appends each line it is given, and each plain print split at its line ends, to the file,
// each line after its local date and time: "2026-12-07 14:03:22 Going to ready\r\n". Every
// line goes to the system with one write as it comes, so a crash of the program loses none;
// nothing is allocated per line.
//
// The file is kept to its size: a line that would take it past the size is written to a new
// file, after the old one is renamed to path.1 (replacing an older path.1). A file that
// cannot be opened or written is let go: its lines are counted as if written, and the file
// is tried again at the rotation point, when that count passes the size, or at the next
// start. A rename that fails (another program holds the file open) is tried again at each
// line past the size, the file growing meanwhile; at twice its size the file ends with the
// kLogStoppedFormat line and is let go as a failed one is, so that no held file fills the
// disk. Its rotation is tried again when another size's worth of lines has gone by.
class LogFile {
 public:
  // What happened to the file since the last TakeEvent, for the log to report.
  enum Event { kNoEvent, kFailed, kResumed, kNotRenamed, kStopped };

  explicit LogFile(Clock& clock) : clock_(clock) {}
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens the file for appending; a file that cannot be opened is a kFailed event. `path`
  // holds 1 to kLogPathSize - 1 characters, `kbytes` is 1 to kLargestLogKbytes.
  void Start(const char* path, uint32_t kbytes);

  // A whole line: `text` (no line end in it), then CR LF.
  void WriteLine(const char* text, size_t length);
  // A plain print: its text as it is, a line end being LF (CR LF included); a print
  // without one leaves the line open for the next write to continue.
  void WritePlain(const char* text, size_t length);

  // The last event since the previous call: a failure is reported once, until the file
  // is written again. The file itself begins again with the kLogResumedFormat line, ahead
  // of the line that found it writable.
  Event TakeEvent();

  const char* Path() const { return path_; }

 private:
  void Put(const char* text, size_t length, const char* lineEnd);
  void Append(const char* bytes, size_t length);
  void Rotate();
  void Open();
  void Fail();
  void Stop(bool midLine);
  void WriteNote(const char* format, bool midLine);
  size_t Stamp(char* line);

  Clock& clock_;
  FileWriter writer_;
  char path_[kLogPathSize] = {};
  char older_[kLogPathSize + 2] = {};  // path.1
  uint64_t limit_ = 0;
  uint64_t reached_ = 0;   // the file's size, or the size it would have had since a failure
  uint64_t rotateAt_ = 0;  // the rotation point
  bool atLineStart_ = true;
  bool failed_ = false;
  bool notRenamed_ = false;  // the last rotation's rename failed, and that was said
  bool stopped_ = false;     // let go at twice the size, its rename failing
  Event event_ = kNoEvent;
  char line_[kStampLength + Log::kLineSize + 2] = {};  // stamp, text, CR LF
};

}  // namespace kelvor
