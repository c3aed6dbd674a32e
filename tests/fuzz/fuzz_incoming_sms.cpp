// The incoming-SMS reader fed any bytes, in chunks of any size, in any state, and driven as
// the inbox drives it: listings and reads begun, quiet steps, indexes taken and turned into
// commands, messages answered. After every operation: the sender and the text hold their
// NUL within their fields and no control byte (CR, LF, Ctrl-Z and ESC among them), a
// command holds only the digits of an index, the console excerpt only printable
// characters, and every reply goes to a number configured, never to a sender. A
// well-formed read with any text in it yields that text, its line breaks as spaces, up to
// 160 characters: no line inside it ends the read early. At the end at most 32 indexes
// wait, each once.
#include <string>

#include "app/replies.h"
#include "fuzz_support.h"
#include "modem/incoming_sms_reader.h"
#include "routing/escalation.h"

using namespace kelvor;

namespace {

const char* const kA = "+4917100001";
const char* const kB = "+4917100002";

// Pieces of a phone's answers, so that the fuzzer meets the lines that count quickly.
const char* const kPieces[] = {
    "\r\n",
    "\r\nOK\r\n",
    "\r\nERROR\r\n",
    "\r\n+CMS ERROR: 321\r\n",
    "\r\n+CMGL: ",
    ",\"REC UNREAD\",\"+4917100001\",,\"24/01/15,10:30:00+04\"\r\n",
    "\r\n+CMGR: \"REC UNREAD\",\"+4917100001\",,\"24/01/15,10:30:00+04\"\r\n",
    "\r\n+CMGR: \"REC READ\",\"+49 171 00002\"\r\n",
    "\r\n+CMTI: \"SM\",",
    "7",
    "65535",
    "S",
    "\x1a\x1b>",
};
constexpr int kPieceCount = sizeof kPieces / sizeof kPieces[0];

bool NoControlBytes(const char* text) {
  for (; *text != '\0'; ++text) {
    unsigned char c = static_cast<unsigned char>(*text);
    if (c < 32 || c == 127) return false;
  }
  return true;
}

void CheckCommand(const char* command, const char* verb) {
  size_t length = strlen(verb);
  FUZZ_CHECK(strncmp(command, verb, length) == 0);
  const char* digits = command + length;
  size_t count = strspn(digits, "0123456789");
  FUZZ_CHECK(count >= 1 && count <= 5);
  FUZZ_CHECK(strcmp(digits + count, "\r") == 0);
}

void CheckReader(const IncomingSmsReader& reader) {
  FUZZ_CHECK(reader.State() >= IncomingSmsReader::kNone &&
             reader.State() <= IncomingSmsReader::kFailed);
  const IncomingSms& message = reader.Message();
  FUZZ_CHECK(fuzz::Terminated(message.sender, kNumberSize));
  FUZZ_CHECK(fuzz::Terminated(message.text, kIncomingTextSize));
  FUZZ_CHECK(NoControlBytes(message.sender));
  FUZZ_CHECK(NoControlBytes(message.text));
}

// A line the reader may take for the answer's last: "OK" or an error, short enough to hold.
bool FinalLooking(const std::string& line) {
  return line.size() < 24 &&
         (line == "OK" || line == "ERROR" || line.compare(0, 11, "+CMS ERROR:") == 0 ||
          line.compare(0, 11, "+CME ERROR:") == 0);
}

// What a read of `text` gives: its lines, but blank ones, announcements and an incoming
// call's or a status report's lines right after a line that looks final (as a call ringing
// or a report pushed after the real "OK" sends them), joined by spaces, control bytes as '?' and
// tabs as spaces, cut at 160 characters.
std::string ExpectedText(const std::string& text, bool* cut) {
  std::string joined;
  bool afterFinal = false;
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    if (line.empty() || line.compare(0, 6, "+CMTI:") == 0) continue;
    bool whole = line.size() <= kLineKept;
    bool report = line.compare(0, 5, "+CDS:") == 0 || line.compare(0, 6, "+CDSI:") == 0;
    if (afterFinal && whole && (report || IsIncomingCallLine(line.data(), line.size()))) continue;
    afterFinal = FinalLooking(line);
    if (!joined.empty()) joined += ' ';
    for (char c : line) {
      unsigned char byte = static_cast<unsigned char>(c);
      joined += c == '\t' ? ' ' : (byte < 32 || byte == 127) ? '?' : c;
    }
  }
  *cut = joined.size() > kIncomingTextSize - 1;
  return joined.substr(0, kIncomingTextSize - 1);
}

void CheckWellFormedRead(IncomingSmsReader& reader, fuzz::Input& input) {
  std::string text = input.Text(255);
  size_t chunk = input.Byte() % 16 + 1;
  std::string answer = "\r\n+CMGR: \"REC UNREAD\",\"+4917100001\",,\"24/01/15,10:30:00+04\"\r\n" +
                       text + "\r\n\r\nOK\r\n";
  reader.ExpectMessage(3);
  for (size_t at = 0; at < answer.size(); at += chunk) {
    reader.Feed(answer.data() + at, std::min(chunk, answer.size() - at));
    FUZZ_CHECK(reader.State() == IncomingSmsReader::kPending);
  }
  reader.Quiet();
  bool cut = false;
  std::string expected = ExpectedText(text, &cut);
  FUZZ_CHECK(reader.HasMessage());
  FUZZ_CHECK(strcmp(reader.Message().sender, kA) == 0);
  FUZZ_CHECK(expected == reader.Message().text);
  FUZZ_CHECK(cut == reader.Message().textCut);
}

// Answers a message as the main loop will: a status request, or an acknowledgement whose
// confirmation must go to a number configured.
void Answer(const IncomingSms& message, Escalation& escalation, uint32_t now) {
  char excerpt[kExcerptSize];
  PrintableExcerpt(message.text, excerpt, sizeof excerpt);
  FUZZ_CHECK(strlen(excerpt) <= 40);
  for (const char* c = excerpt; *c != '\0'; ++c) FUZZ_CHECK(*c >= 32 && *c <= 126);
  if (IsStatusRequest(message.text, message.textCut)) return;
  escalation.Acknowledge(message.sender);
  EscalationSms sms;
  while (escalation.TakeDue(now, &sms)) {
    FUZZ_CHECK(strcmp(sms.number, kA) == 0 || strcmp(sms.number, kB) == 0);
    FUZZ_CHECK(strlen(sms.text) <= kSmsTextLimit);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  IncomingSmsReader reader;
  Escalation escalation;
  escalation.AddRule(kA, 1, kB);
  uint32_t now = input.U32();
  escalation.AlarmConfirmed(kA, 1, "7/09:05 Pump tripped", now);
  char command[16];
  int operations = 0;
  while (!input.Empty() && operations++ < 4000) {
    switch (input.Byte() % 8) {
      case 0: {  // raw bytes, up to a whole read and beyond
        std::string bytes = input.Bytes(input.Byte() * 3u);
        reader.Feed(bytes.data(), bytes.size());
        break;
      }
      case 1: {
        const char* piece = kPieces[input.Byte() % kPieceCount];
        reader.Feed(piece, strlen(piece));
        break;
      }
      case 2:
        reader.ExpectListing();
        break;
      case 3:
        reader.ExpectMessage(static_cast<uint16_t>(input.Byte() << 8 | input.Byte()));
        break;
      case 4:
        reader.Quiet();
        break;
      case 5: {  // the next index read, then deleted
        uint16_t index;
        if (!reader.NextIndex(&index)) break;
        FormatReadCommand(index, command, sizeof command);
        CheckCommand(command, "AT+CMGR=");
        FormatDeleteCommand(index, command, sizeof command);
        CheckCommand(command, "AT+CMGD=");
        reader.ExpectMessage(index);
        break;
      }
      case 6:
        CheckWellFormedRead(reader, input);
        break;
      default:
        if (reader.HasMessage()) Answer(reader.Message(), escalation, now);
        now += input.Byte() * 1000u;
        break;
    }
    CheckReader(reader);
  }
  uint16_t waiting[kIndexCapacity + 1];
  int count = 0;
  while (count <= kIndexCapacity && reader.NextIndex(&waiting[count])) ++count;
  FUZZ_CHECK(count <= kIndexCapacity);
  for (int i = 1; i < count; ++i) {
    for (int j = 0; j < i; ++j) FUZZ_CHECK(waiting[i] != waiting[j]);
  }
  return 0;
}
