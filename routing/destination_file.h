// Destinations listed in a file: CR LF lines, the first skipped, the first field of every
// other line skipped, the rest of the line a destination specification.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file.h"

namespace kelvor {

// Reads a file of CR LF lines one line at a time through a 256-byte window that is
// re-read from the start of each line, so a line never straddles two reads. A line holds
// at most 253 characters before its CR LF; a longer one, or one without CR LF, ends the
// reading. The first line is skipped.
class DestinationFile {
 public:
  static constexpr uint32_t kWindowRead = 255;  // bytes read per line; one more for a NUL

  // Opens the file and makes its second line the current line; false when there is none.
  bool Open(const char* fileName);
  // Makes the next line the current line; false at the end of the file, after a failed
  // read, or when the next line's CR LF does not lie within the bytes read.
  bool NextLine();
  // Moves the current field past the next comma of the line; false, field unchanged, if
  // the line has no further comma.
  bool SkipField();

  // The current field: from the field's start to the end of the line. Writable, so that a
  // destination can be read from it in place.
  char* Field() { return window_ + field_; }

 private:
  static constexpr int kNone = -1;
  int FindLineEnd() const;

  char window_[kWindowRead + 1] = {};
  uint32_t got_ = 0;     // bytes of the file in the window
  int lineEnd_ = kNone;  // where the CR ending the current line stood
  int field_ = 0;
  uint32_t lineStart_ = 0;  // file offset of the window's first byte
  FileReader file_;
};

// Receives the destination specification of each line of a destination file in turn.
class SpecificationSink {
 public:
  // `specification` is writable, so that it can be read in place, and lasts until Take
  // returns.
  virtual void Take(char* specification) = 0;

 protected:
  ~SpecificationSink() = default;
};

// Reads the file at `path` and hands `sink` each line's specification, in file order, up to
// the first empty one. A file that cannot be read hands nothing. Prints nothing.
void ReadDestinationFile(const char* path, SpecificationSink& sink);

}  // namespace kelvor
