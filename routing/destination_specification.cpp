#include "routing/destination_specification.h"

#include <cstdio>
#include <cstring>

#include "modem/sms_outbox.h"
#include "platform/text.h"

namespace kelvor {
namespace {

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

bool Fits(const char* token) {
  return strlen(token) < kDestinationFieldSize;
}

// Copies a token into a 32-byte field; false, leaving the field alone, when it is too long.
bool CopyField(char (&field)[kDestinationFieldSize], const char* token) {
  if (!Fits(token)) return false;
  memcpy(field, token, strlen(token) + 1);
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

// Only the first letter counts: "high" is H.
int8_t PriorityOf(const char* token) {
  switch (Upper(token[0])) {
    case 'H':
      return 0;
    case 'M':
      return 1;
    case 'L':
      return 2;
    default:
      return kNoPriority;
  }
}

ParsedDestination::Outcome Read(char* text, DestinationSpecification& s, const char** longToken) {
  Tokeniser tokens(text);
  char* token = tokens.Next(text[0] == '=' ? "=," : ",");
  if (token == nullptr) return ParsedDestination::kIncomplete;
  if (!CopyField(s.number, token)) return *longToken = token, ParsedDestination::kTooLong;
  if ((token = tokens.Next(",")) == nullptr) return ParsedDestination::kIncomplete;
  s.areaMask = AreaMaskOf(token);
  if ((token = tokens.Next(",")) == nullptr) return ParsedDestination::kIncomplete;
  s.priority = PriorityOf(token);
  if ((token = tokens.Next(",")) == nullptr) return ParsedDestination::kIncomplete;
  s.delay = ReadLeadingInteger(token);  // as atol reads it

  token = tokens.Next(",");
  s.fullMessages = token != nullptr && strchr(token, 'F') != nullptr;

  // node:tag.field, node.tag.field and node,tag,field read alike. The field must be there,
  // but the value is always read from F_CV: it is checked and not kept.
  char* parts[3] = {tokens.Next(",:."), tokens.Next(",:."), tokens.Next(",:.\r\n")};
  for (char* part : parts) {
    if (part != nullptr && !Fits(part)) {
      *longToken = part;
      return ParsedDestination::kTooLong;
    }
  }
  if (parts[0] != nullptr) CopyField(s.enableNode, parts[0]);
  if (parts[1] != nullptr) CopyField(s.enableTag, parts[1]);
  s.enableTagPresent = parts[0] != nullptr && parts[1] != nullptr && parts[2] != nullptr;
  return ParsedDestination::kComplete;
}

}  // namespace

ParsedDestination ParseDestination(char* text) {
  ParsedDestination parsed;
  if (text == nullptr) return parsed;
  const char* longToken = nullptr;
  parsed.outcome = Read(text, parsed.specification, &longToken);
  if (longToken != nullptr) {
    snprintf(parsed.longToken, sizeof parsed.longToken, "%.*s", static_cast<int>(kShownTokenLength),
             longToken);
  }
  bool complete = parsed.outcome == ParsedDestination::kComplete;
  if (complete && !FitsCommand(parsed.specification.number)) {
    parsed.outcome = ParsedDestination::kBadNumber;
    PrintableCopy(parsed.specification.number, parsed.shownNumber, sizeof parsed.shownNumber);
  }
  // A refused specification sets nothing: its fields keep every default.
  if (parsed.outcome == ParsedDestination::kTooLong ||
      parsed.outcome == ParsedDestination::kBadNumber) {
    parsed.specification = {};
  }
  return parsed;
}

void ReportDestination(const ParsedDestination& parsed, Log& log) {
  const DestinationSpecification& s = parsed.specification;
  switch (parsed.outcome) {
    case ParsedDestination::kComplete:
      // The mask is printed as a signed 16-bit value widened to 32 bits: area P shows FFFF8001.
      log.Print("New dest = %s,%X,%d,%d\r\n", s.number,
                static_cast<unsigned>(static_cast<int32_t>(s.areaMask)), s.priority,
                static_cast<int>(s.delay));
      break;
    case ParsedDestination::kIncomplete:
      log.Print("Error format is DEST=<cell no>,<A Area>,<priority>,<delay in sec>,[F]\r\n");
      break;
    case ParsedDestination::kTooLong:
      log.Print("Error field longer than %d characters, dest refused: %s\r\n",
                static_cast<int>(kDestinationFieldSize - 1), parsed.longToken);
      break;
    case ParsedDestination::kBadNumber:
      log.Print("Error number %s holds a quote, CR, LF, Ctrl-Z or ESC, dest refused\r\n",
                parsed.shownNumber);
      break;
  }
}

}  // namespace kelvor
