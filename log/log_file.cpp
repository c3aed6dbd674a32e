#include "log/log_file.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace kelvor {

LogArgument ReadLogArgument(const char* value) {
  LogArgument read;
  const char* comma = strrchr(value, ',');
  size_t length = comma != nullptr ? static_cast<size_t>(comma - value) : strlen(value);
  if (length == 0 || length >= kLogPathSize) {
    read.refused = 1;
  } else if (comma &&
             !ReadInRange(comma + 1, strlen(comma + 1), 1, kLargestLogKbytes, &read.kbytes)) {
    read.refused = 2;
  } else {
    memcpy(read.path, value, length);
  }
  return read;
}

void LogFile::Start(const char* path, uint32_t kbytes) {
  snprintf(path_, sizeof path_, "%s", path);
  snprintf(older_, sizeof older_, "%s.1", path_);
  limit_ = static_cast<uint64_t>(kbytes) * 1024;
  // A file left from an earlier run is continued; one already past the size is renamed
  // at the first line.
  rotateAt_ = limit_;
  Open();
}

void LogFile::WriteLine(const char* text, size_t length) {
  Put(text, length, "\r\n");
}

void LogFile::WritePlain(const char* text, size_t length) {
  while (length > 0) {
    const char* end = static_cast<const char*>(memchr(text, '\n', length));
    size_t piece = end != nullptr ? static_cast<size_t>(end - text) + 1 : length;
    Put(text, piece, nullptr);
    text += piece;
    length -= piece;
  }
}

LogFile::Event LogFile::TakeEvent() {
  Event event = event_;
  event_ = kNoEvent;
  return event;
}

// One write per piece: the stamp when the piece starts a line, the text, the line end if
// one is given. A line is never split between two files: the size is only tested where a
// line starts.
void LogFile::Put(const char* text, size_t length, const char* lineEnd) {
  bool startsLine = atLineStart_;
  size_t used = startsLine ? Stamp(line_) : 0;
  size_t room = sizeof line_ - used - (lineEnd != nullptr ? strlen(lineEnd) : 0);
  if (length > room) length = room;
  memcpy(line_ + used, text, length);
  used += length;
  if (lineEnd != nullptr) {
    memcpy(line_ + used, lineEnd, strlen(lineEnd));
    used += strlen(lineEnd);
  }
  atLineStart_ = used > 0 && line_[used - 1] == '\n';

  if (startsLine && reached_ > 0 && reached_ + used > rotateAt_) Rotate();
  // Room is kept for the last line, and the line end before it.
  if (writer_.IsOpen() && reached_ + used + sizeof line_ + 2 > 2 * limit_) Stop(!startsLine);
  Append(line_, used);
}

// The bytes count as written whether the file takes them or not: a file let go is tried
// again once that count passes the rotation point.
void LogFile::Append(const char* bytes, size_t length) {
  reached_ += length;
  if (!writer_.IsOpen()) return;
  if (!writer_.Write(bytes, length)) {
    writer_.Close();
    Fail();
  }
}

// A file whose rename fails is written on, and tried again at the next line; one let go
// at twice its size is left alone until another size's worth of lines has gone by.
void LogFile::Rotate() {
  writer_.Close();
  bool renamed = RenameOver(path_, older_);
  if (renamed) {
    reached_ = 0;
    notRenamed_ = false;
    stopped_ = false;
  } else if (stopped_) {
    rotateAt_ = reached_ + limit_;
    return;
  } else if (!failed_ && !notRenamed_) {
    notRenamed_ = true;
    event_ = kNotRenamed;
  }
  Open();
  rotateAt_ = renamed || failed_ ? reached_ + limit_ : limit_;
}

void LogFile::Stop(bool midLine) {
  WriteNote(kLogStoppedFormat, midLine);
  writer_.Close();
  failed_ = true;
  stopped_ = true;
  event_ = kStopped;
  rotateAt_ = reached_ + limit_;
}

// A file that opens again after a failure says first that it is written again: the lines
// it missed meanwhile are the gap that line explains.
void LogFile::Open() {
  if (!writer_.Open(path_, FileWriter::kAppend)) {
    Fail();
    return;
  }
  reached_ = writer_.Size();
  if (failed_) {
    failed_ = false;
    event_ = kResumed;
    WriteNote(kLogResumedFormat, false);
  }
}

// The line as the log would write it, cut where the log cuts its lines, after a line end
// when the file stands within a line. It has a buffer of its own: the line that found the
// file writable, or at its end, waits in line_.
void LogFile::WriteNote(const char* format, bool midLine) {
  char line[sizeof line_ + 2];
  size_t used = midLine ? 2 : 0;
  memcpy(line, "\r\n", used);
  used += Stamp(line + used);
  int length = snprintf(line + used, Log::kLineSize, format, path_);
  size_t kept = length > 0 ? static_cast<size_t>(length) : 0;
  used += kept < Log::kLineSize ? kept : Log::kLineSize - 1;
  memcpy(line + used, "\r\n", 2);
  Append(line, used + 2);
}

void LogFile::Fail() {
  if (failed_) return;
  failed_ = true;
  event_ = kFailed;
}

size_t LogFile::Stamp(char* line) {
  LocalTime now = clock_.Now();
  int length =
      snprintf(line, kStampLength + 1, "%04d-%02d-%02d %02d:%02d:%02d ", now.year % 10000,
               now.month % 100, now.day % 100, now.hour % 100, now.minute % 100, now.second % 100);
  if (length < 0) return 0;
  return static_cast<size_t>(length) < kStampLength ? static_cast<size_t>(length) : kStampLength;
}

}  // namespace kelvor
