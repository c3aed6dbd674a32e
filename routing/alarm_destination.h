// One SMS recipient: its filter, message form, delay and batch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modem/sms_outbox.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "scada/scada.h"

namespace kelvor {

// What a destination needs while it handles alarms.
struct RoutingContext {
  Console& console;
  Scada& scada;
  Clock& clock;
  SmsOutbox& outbox;
};

// Sizes of the texts a destination works with.
constexpr size_t kDestinationFieldSize = 32;  // number and enable tag parts: 31 and a NUL
constexpr size_t kHeaderLength = 12;          // "Fix Alarms\r\n", the longer header
constexpr size_t kStatusNameMax = 5;          // longest status name, "ERROR"
constexpr size_t kTagNameMax = 31;            // the alarm record's tag name field
constexpr size_t kTagTextMax = kTagTextSize - 1;
constexpr size_t kSmallNumberMax = 4;  // a signed 8-bit number printed: "-128"

// "d/hh:mm\n" with each number as wide as a signed 8-bit value can print.
constexpr size_t kTimeLineMax = 3 * kSmallNumberMax + 3;
// The full form: time, tag, status name, description, "=" and the value, each on a line.
constexpr size_t kFullTextMax = kTimeLineMax + (kTagNameMax + 1) + (kStatusNameMax + 1) +
                                (kTagTextMax + 1) + (1 + kTagTextMax + 1);
constexpr size_t kShortTextMax = kTimeLineMax + kTagTextMax + 1;
constexpr size_t kAlarmTextSize = kFullTextMax + 1;

// A batch stays within the SMS limit, except for a restarted batch (the header) that takes
// a text too long to share an SMS; the modem queue shortens that one.
constexpr size_t kBatchCapacity =
    (kSmsTextLimit > kHeaderLength + kFullTextMax ? kSmsTextLimit : kHeaderLength + kFullTextMax) +
    1;
static_assert(kFullTextMax == 150, "full form: 15 + 32 + 6 + 48 + 49");
static_assert(kBatchCapacity == 163, "a header and one full text");
static_assert(kShortTextMax < kFullTextMax, "the full form is the longest text");

class AlarmDestination {
 public:
  // Reads a destination specification; the text is cut up in place while it is read.
  // Echoes the destination, or prints the format error, as a plain console line.
  //
  // Whatever the destination specification did not set keeps a fixed default: no number,
  // area mask 0, priority -1, delay 0, description-only messages, no enable tag. So an
  // incomplete specification, or one with a bad priority letter, never routes alarms on
  // chance values.
  // A token too long for its 32-byte field refuses the whole specification with a line
  // naming the token: a cut number or tag would name another phone or block than the
  // operator wrote. A refused destination keeps every default and takes no alarm.
  AlarmDestination(char* specification, Console& console);

  // Filters one alarm and, if it concerns this destination, adds its text to the batch.
  void OfferAlarm(const AlarmRecord& record, RoutingContext& context);
  // Hands the batch to the modem once its delay has run out.
  void FlushIfDue(RoutingContext& context);

  int8_t Priority() const { return priority_; }
  int16_t AreaMask() const { return areaMask_; }
  int32_t Delay() const { return delay_; }
  uint32_t Deadline() const { return deadline_; }
  bool BatchPending() const { return batchPending_; }
  bool FullMessages() const { return fullMessages_; }
  const char* Number() const { return number_; }
  bool HasEnableTag() const { return enableTagPresent_; }
  const char* EnableNode() const { return enableNode_; }
  const char* EnableTag() const { return enableTag_; }
  const char* EnableField() const { return enableField_; }
  const char* Batch() const { return batch_; }

 private:
  enum class Parse { kComplete, kIncomplete, kTooLong };
  AlarmDestination() = default;  // every field at its default

  Parse ReadSpecification(char* specification, const char** longToken);
  void SetBatch(const char* header);
  void AppendToBatch(const char* text, size_t length);
  void SendBatch(RoutingContext& context);
  bool EnabledFor(const AlarmRecord& record, RoutingContext& context);
  size_t FormatText(const AlarmRecord& record, RoutingContext& context, char* text);

  // Fields in the order of the destination record.
  int8_t priority_ = -1;  // takes no alarm of the priorities 0 to 2 until set
  int16_t areaMask_ = 0;
  int32_t delay_ = 0;
  uint32_t deadline_ = 0;
  bool batchPending_ = false;
  bool fullMessages_ = false;
  char number_[kDestinationFieldSize] = {};
  bool enableTagPresent_ = false;
  char enableNode_[kDestinationFieldSize] = {};
  char enableTag_[kDestinationFieldSize] = {};
  char enableField_[kDestinationFieldSize] = {};  // kept, not consulted
  char batch_[kBatchCapacity] = {};
  size_t batchLength_ = 0;
};

}  // namespace kelvor
