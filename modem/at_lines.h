// The lines a phone writes, each sorted once by its head, and the answer to one command as
// its information lines and final results.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modem/modem_errors.h"

namespace kelvor {

constexpr size_t kLineSize = 256;         // bytes of one line sorted; the rest is dropped
constexpr size_t kInformationSize = 256;  // bytes of information one answer keeps, NULs included
// Unsolicited lines that put an answer's time-out off: a call that rings for ever does not.
constexpr uint32_t kHeardPerAnswer = 128;

enum class LineKind : uint8_t { kInformation, kFinal, kPrompt, kUnsolicited };

// The results that end a command's answer (a call's end ends ATD's).
enum class FinalResult : uint8_t {
  kNone,
  kOk,
  kError,
  kPhoneError,  // +CME ERROR
  kSmsError,    // +CMS ERROR
  kNoCarrier,
  kBusy,
  kNoAnswer,
  kNoDialtone,
};

// What an unsolicited line tells.
enum class Heard : uint8_t {
  kNone,
  kCall,          // RING, +CRING, +CLIP, +CCWA: Kelvor never answers a call
  kSmsArrived,    // +CMTI
  kReport,        // +CDS, +CDSI: a status report
  kRegistration,  // +CREG, unasked
  kUssd,          // +CUSD
};

struct SortedLine {
  LineKind kind;
  FinalResult final;  // for kFinal
  Heard heard;        // for kUnsolicited
};

// Sorts a line (without its line end) by the first row whose head it bears; a line of no row
// is information.
SortedLine SortLine(const char* line, size_t length);
// The number of a "+CME ERROR: n" or "+CMS ERROR: n" line, NUL-ended; false without the colon.
bool ErrorNumber(const char* line, int32_t* code);

// The lines taken since the answer was last cleared. Final results are kept whatever came
// before them; information lines only while they fit kInformationSize, the rest counted.
class AtAnswer {
 public:
  bool Said(FinalResult result) const { return (finals_ & Bit(result)) != 0; }
  bool Ok() const { return Said(FinalResult::kOk); }
  // ERROR, +CME ERROR or +CMS ERROR.
  bool Refused() const;
  // OK or a refusal: the end of a command's answer (a call's end is none).
  bool Ended() const { return Ok() || Refused(); }
  // The number of the first "+CME ERROR: n" (kPhone) or "+CMS ERROR: n" (kSms).
  bool ErrorCode(ErrorKind kind, int32_t* code) const;
  bool Prompted() const { return prompted_; }
  // The fields after `prefix` of the first information line bearing it, after the line of
  // `after` when given (a result of this call); null when none.
  const char* Information(const char* prefix, const char* after = nullptr) const;

  void Clear();
  void Prompt() { prompted_ = true; }
  // False when the result, and its number, came already. `line` is NUL-ended.
  bool AddFinal(FinalResult result, const char* line);
  // False when the line did not fit and was dropped.
  bool AddInformation(const char* line, size_t length);
  // Counts an unsolicited line; false beyond kHeardPerAnswer.
  bool CountHeard() { return ++heard_ <= kHeardPerAnswer; }
  // Lines dropped since the answer was cleared.
  uint32_t Dropped() const { return dropped_; }

 private:
  static uint16_t Bit(FinalResult result) {
    return static_cast<uint16_t>(1u << static_cast<unsigned>(result));
  }

  uint16_t finals_ = 0;  // a bit per FinalResult said
  uint8_t coded_ = 0;    // a bit per ErrorKind whose number came
  int32_t codes_[2] = {};
  bool prompted_ = false;
  char information_[kInformationSize] = {};  // lines, each ended by a NUL
  size_t used_ = 0;
  uint32_t dropped_ = 0;
  uint32_t heard_ = 0;
};

}  // namespace kelvor
