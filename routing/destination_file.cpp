#include "routing/destination_file.h"

#include <cstring>

namespace kelvor {

bool DestinationFile::Open(const char* fileName) {
  if (!file_.Open(fileName)) return false;
  if (!file_.Read(window_, kWindowRead, &got_)) got_ = 0;
  window_[got_] = '\0';
  lineStart_ = 0;
  lineEnd_ = kNone;
  // With no line end known yet, this passes over the first line.
  return NextLine();
}

bool DestinationFile::NextLine() {
  if (lineEnd_ == kNone && (lineEnd_ = FindLineEnd()) == kNone) return false;
  lineStart_ += static_cast<uint32_t>(lineEnd_) + 2;
  if (!file_.Seek(lineStart_)) return false;
  if (!file_.Read(window_, kWindowRead, &got_)) got_ = 0;
  if (got_ == 0) return false;
  window_[got_] = '\0';
  lineEnd_ = FindLineEnd();
  if (lineEnd_ == kNone) return false;
  window_[lineEnd_] = '\0';
  field_ = 0;
  return true;
}

bool DestinationFile::SkipField() {
  if (lineEnd_ == kNone) return false;
  const void* comma = memchr(window_ + field_, ',', static_cast<size_t>(lineEnd_ - field_));
  if (comma == nullptr) return false;
  field_ = static_cast<int>(static_cast<const char*>(comma) - window_) + 1;
  return true;
}

// The first CR LF within the bytes read: a CR alone, or one whose LF was not read, is an
// ordinary character.
int DestinationFile::FindLineEnd() const {
  for (uint32_t p = 0; p + 1 < got_; ++p) {
    if (window_[p] == '\r' && window_[p + 1] == '\n') return static_cast<int>(p);
  }
  return kNone;
}

void ReadDestinationFile(const char* path, SpecificationSink& sink) {
  DestinationFile file;
  if (!file.Open(path)) return;
  file.SkipField();
  do {
    if (file.Field()[0] == '\0') return;
    sink.Take(file.Field());
    if (!file.NextLine()) return;
    file.SkipField();
  } while (true);
}

}  // namespace kelvor
