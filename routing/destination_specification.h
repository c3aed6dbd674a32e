// The destination specification: number,areas,priority,delay[,form][,node:tag.field], as a
// DEST argument or a line of a destination file gives it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log.h"
#include "modem/sms_outbox.h"

namespace kelvor {

constexpr size_t kDestinationFieldSize = 32;  // number and enable tag parts: 31 and a NUL
static_assert(kDestinationFieldSize == kNumberSize,
              "a destination's number is a number the queue takes");
constexpr int8_t kNoPriority = -1;        // the priority letter was not H, M or L
constexpr size_t kShownTokenLength = 60;  // of a refused token, what its line shows

// The fields a destination specification sets. Whatever it does not set keeps these defaults, so an
// incomplete specification, or one with a bad priority letter, never routes alarms on
// chance values: no number, area mask 0, no priority, delay 0, description-only
// messages, no enable tag.
struct DestinationSpecification {
  int8_t priority = kNoPriority;  // lowest priority taken: 0 high, 1 medium, 2 low
  int16_t areaMask = 0;           // bit n stands for plant area 'A'+n
  int32_t delay = 0;              // seconds from a batch's first alarm until it is due
  bool fullMessages = false;
  char number[kDestinationFieldSize] = {};
  bool enableTagPresent = false;
  char enableNode[kDestinationFieldSize] = {};
  char enableTag[kDestinationFieldSize] = {};
};

struct ParsedDestination {
  enum Outcome {
    kComplete,
    kIncomplete,  // number, areas, priority or delay missing: the fields read so far are set
    kTooLong,     // a token does not fit its field: the fields keep every default
    kBadNumber,   // the number holds a character an AT command cannot carry: the same
  };
  Outcome outcome = kIncomplete;
  DestinationSpecification specification;
  char longToken[kShownTokenLength + 1] = {};    // kTooLong: the token, as far as it is shown
  char shownNumber[kDestinationFieldSize] = {};  // kBadNumber: the number, printable
};

// Reads a destination specification; the text is cut up in place while it is read. A token too long
// for its 32-byte field refuses the whole specification: a cut number or tag would name
// another phone or block than the operator wrote. So does a number holding a double
// quote, CR, LF, Ctrl-Z or ESC, which every send to it would fail on or be broken by.
ParsedDestination ParseDestination(char* text);

// The plain console line that says what became of a destination specification: the echo "New dest =
// ...", the format error, or the refusal naming the long token or the bad number.
void ReportDestination(const ParsedDestination& parsed, Log& log);

}  // namespace kelvor
