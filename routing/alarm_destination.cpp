#include "routing/alarm_destination.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kelvor {
namespace {

constexpr char kFirstHeader[] = "Fix Alarms\n";
constexpr char kLaterHeader[] = "Fix Alarms\r\n";
static_assert(sizeof kLaterHeader - 1 == kHeaderLength, "the longer header");

// A deadline further ahead than this is pulled in to now.
constexpr uint32_t kLongestWait = 3600000;  // one hour in ms

// Cuts a text into tokens, each with its own delimiter set. Delimiters before a token are
// skipped, so a run of them counts as one and no token is empty; the one delimiter after a
// token is overwritten with a NUL. Keeps its place in itself, not in hidden static state.
class Tokeniser {
 public:
  explicit Tokeniser(char* text) : rest_(text) {}

  // The next token, or nullptr once the text is used up.
  char* Next(const char* delimiters) {
    char* start = rest_ + strspn(rest_, delimiters);
    if (*start == '\0') {
      rest_ = start;
      return nullptr;
    }
    char* end = start + strcspn(start, delimiters);
    rest_ = end;
    if (*end != '\0') {
      *end = '\0';
      rest_ = end + 1;
    }
    return start;
  }

 private:
  char* rest_;
};

// Copies a token into a 32-byte field; false, leaving the field alone, when it is too long.
bool CopyField(char (&field)[kDestinationFieldSize], const char* token) {
  size_t length = strlen(token);
  if (length >= kDestinationFieldSize) return false;
  memcpy(field, token, length + 1);
  return true;
}

// Each character c sets bit (c - 'A') mod 32 if that is 15 or less: 'A'..'P' and 'a'..'p'
// give areas A to P; 'Q'..'Z' give nothing.
int16_t AreaMaskOf(const char* token) {
  uint32_t mask = 0;
  for (const char* c = token; *c != '\0'; ++c) {
    uint32_t bit = (static_cast<unsigned char>(*c) - 65u) & 31u;
    if (bit <= 15) mask |= 1u << bit;
  }
  return static_cast<int16_t>(static_cast<uint16_t>(mask));
}

// As atol reads it, held within 32 bits.
int32_t DelayOf(const char* token) {
  long delay = strtol(token, nullptr, 10);
  if (delay > INT32_MAX) return INT32_MAX;
  if (delay < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(delay);
}

}  // namespace

AlarmDestination::AlarmDestination(char* specification, Console& console) {
  const char* longToken = nullptr;
  switch (ReadSpecification(specification, &longToken)) {
    case Parse::kComplete:
      SetBatch(fullMessages_ ? kFirstHeader : "");
      // The mask is printed as a signed 16-bit value widened to 32 bits: area P shows FFFF8001.
      ConsolePrint(console, "New dest = %s,%X,%d,%d\r\n", number_,
                   static_cast<unsigned>(static_cast<int32_t>(areaMask_)), priority_,
                   static_cast<int>(delay_));
      break;
    case Parse::kIncomplete:
      ConsolePrint(console,
                   "Error format is DEST=<cell no>,<A Area>,<priority>,<delay in sec>,[F]\r\n");
      break;
    case Parse::kTooLong:
      *this = AlarmDestination();
      ConsolePrint(console, "Error field longer than %d characters, dest refused: %.60s\r\n",
                   static_cast<int>(kDestinationFieldSize - 1), longToken);
      break;
  }
}

AlarmDestination::Parse AlarmDestination::ReadSpecification(char* specification,
                                                            const char** longToken) {
  if (specification == nullptr) return Parse::kIncomplete;
  Tokeniser tokens(specification);

  char* token = tokens.Next(specification[0] == '=' ? "=," : ",");
  if (token == nullptr) return Parse::kIncomplete;
  if (!CopyField(number_, token)) {
    *longToken = token;
    return Parse::kTooLong;
  }
  if ((token = tokens.Next(",")) == nullptr) return Parse::kIncomplete;
  areaMask_ = AreaMaskOf(token);

  if ((token = tokens.Next(",")) == nullptr) return Parse::kIncomplete;
  switch (toupper(static_cast<unsigned char>(token[0]))) {
    case 'H':
      priority_ = 0;
      break;
    case 'M':
      priority_ = 1;
      break;
    case 'L':
      priority_ = 2;
      break;
    default:
      break;  // the priority keeps its default
  }

  if ((token = tokens.Next(",")) == nullptr) return Parse::kIncomplete;
  delay_ = DelayOf(token);

  token = tokens.Next(",");
  fullMessages_ = token != nullptr && strchr(token, 'F') != nullptr;

  // node:tag.field, node.tag.field and node,tag,field read alike.
  char* parts[3] = {tokens.Next(",:."), tokens.Next(",:."), tokens.Next(",:.\r\n")};
  char(*fields[3])[kDestinationFieldSize] = {&enableNode_, &enableTag_, &enableField_};
  for (int i = 0; i < 3; ++i) {
    if (parts[i] != nullptr && !CopyField(*fields[i], parts[i])) {
      *longToken = parts[i];
      return Parse::kTooLong;
    }
  }
  enableTagPresent_ = parts[0] != nullptr && parts[1] != nullptr && parts[2] != nullptr;
  return Parse::kComplete;
}

void AlarmDestination::OfferAlarm(const AlarmRecord& record, RoutingContext& context) {
  const auto alarmText = record.AlarmText();
  if (record.Priority() > priority_ ||
      (record.AreaMask() & static_cast<uint16_t>(areaMask_)) == 0) {
    ConsolePrint(context.console, "Ignoring alm %.60s\r\n", alarmText.c_str());
    return;
  }
  if (enableTagPresent_ && !EnabledFor(record, context)) return;

  char text[kAlarmTextSize];
  size_t length = FormatText(record, context, text);
  if (batchLength_ + length > kSmsTextLimit) SendBatch(context);
  AppendToBatch(text, length);
  if (!batchPending_) {
    // Wraps like the tick count itself; a negative delay lies before now.
    deadline_ = context.clock.TickCount() + static_cast<uint32_t>(delay_) * 1000u;
  }
  batchPending_ = true;
  ConsolePrint(context.console, "Buffering alm %.60s\r\n", alarmText.c_str());
}

void AlarmDestination::FlushIfDue(RoutingContext& context) {
  if (!batchPending_) return;
  if (DeadlinePassed(context.clock.TickCount(), deadline_)) SendBatch(context);
  uint32_t now = context.clock.TickCount();
  if (deadline_ - now > kLongestWait) deadline_ = now;
}

// The enable tag's value, always read from "F_CV": zero or not a number disables.
bool AlarmDestination::EnabledFor(const AlarmRecord& record, RoutingContext& context) {
  float value = 0.0f;
  if (context.scada.ReadTagNumber(enableNode_, enableTag_, "F_CV", &value) != 0) {
    ConsolePrint(context.console, "Error reading enable tag ignoringalm %.50s\r\n",
                 record.AlarmText().c_str());
    return false;
  }
  if (value == 0.0f || std::isnan(value)) {
    ConsolePrint(context.console, "Disabled send alm %.60s\r\n", record.AlarmText().c_str());
    return false;
  }
  return true;
}

// Writes the alarm's text into `text` (kAlarmTextSize bytes); returns its length.
size_t AlarmDestination::FormatText(const AlarmRecord& record, RoutingContext& context,
                                    char* text) {
  const auto node = record.NodeName();
  const auto tag = record.TagName();
  // A failed read leaves "desc" showing.
  char description[kTagTextSize] = {'d', 'e', 's', 'c'};
  context.scada.ReadTagText(node.c_str(), tag.c_str(), "A_DESC", description);
  description[kTagTextMax] = '\0';

  int written;
  if (fullMessages_) {
    char value[kTagTextSize] = {};
    if (context.scada.ReadTagText(node.c_str(), tag.c_str(), "A_CV", value) != 0) value[0] = '\0';
    value[kTagTextMax] = '\0';
    const char* shown = value;
    while (*shown == ' ') ++shown;
    written = snprintf(text, kAlarmTextSize, "%d/%02d:%02d\n%s\n%s\n%s\n=%s\n", record.Day(),
                       record.Hour(), record.Minute(), tag.c_str(), StatusName(record.StatusCode()),
                       description, shown);
  } else {
    written = snprintf(text, kAlarmTextSize, "%d/%02d:%02d\n%s\n", record.Day(), record.Hour(),
                       record.Minute(), description);
  }
  if (written < 0) {
    text[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(written) < kAlarmTextSize ? static_cast<size_t>(written)
                                                       : kAlarmTextSize - 1;
}

// Hands the batch to the modem, whose answer is not examined: a refused batch is lost all
// the same. A destination without a number never queues anything.
void AlarmDestination::SendBatch(RoutingContext& context) {
  if (number_[0] != '\0') context.outbox.QueueMessage(batch_, number_);
  batchPending_ = false;
  SetBatch(fullMessages_ ? kLaterHeader : "");
}

void AlarmDestination::SetBatch(const char* header) {
  batchLength_ = 0;
  batch_[0] = '\0';
  AppendToBatch(header, strlen(header));
}

void AlarmDestination::AppendToBatch(const char* text, size_t length) {
  size_t room = kBatchCapacity - 1 - batchLength_;
  if (length > room) length = room;
  memcpy(batch_ + batchLength_, text, length);
  batchLength_ += length;
  batch_[batchLength_] = '\0';
}

}  // namespace kelvor
