// The coding of SMS texts (CHARSET=): any bytes, in any code page, any charset and any sets
// the phone offers. The queue keeps the text whole, in records that each fit one SMS of its
// coding (one record when the whole text fits), none over 159 characters nor holding byte 26
// or 27; what the phone is given for each is never byte 0, 26 or 27, at most 160 bytes of a
// 7-bit set or well-formed UCS-2 hex of at most 70 characters.
#include <map>
#include <string>

#include "fuzz_support.h"
#include "log/console_log.h"
#include "modem/outgoing_queue.h"
#include "modem/sms_coding.h"
#include "platform/code_page.h"

using namespace kelvor;

namespace {

const CodePageTable& Table(uint8_t pick) {
  static const uint32_t kCodePages[] = {1250, 1251, 1252, 1253, 1254, 1257, 28591, 932};
  static std::map<uint32_t, CodePageTable> tables;
  uint32_t number = kCodePages[pick % (sizeof kCodePages / sizeof kCodePages[0])];
  auto found = tables.find(number);
  if (found != tables.end()) return found->second;
  CodePageTable& table = tables[number];
  ReadCodePage(number, &table);  // one the system cannot read is ASCII
  return table;
}

void CheckWire(const char* wire, size_t length, TextSet set) {
  FUZZ_CHECK(strlen(wire) == length);
  FUZZ_CHECK(strchr(wire, 26) == nullptr && strchr(wire, 27) == nullptr);
  if (set != TextSet::kUcs2) {
    FUZZ_CHECK(length <= kSeptetLimit);
    return;
  }
  FUZZ_CHECK(length % 4 == 0 && length / 4 <= kUcs2Limit);
  FUZZ_CHECK(strspn(wire, "0123456789ABCDEF") == length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const CodePageTable& table = Table(input.Byte());
  Charset charset = static_cast<Charset>(input.Byte() % 4);
  uint8_t offered = input.Byte() & 15;
  std::string text = input.Bytes(size);
  text = text.substr(0, text.find('\0'));

  test::NullConsole console;
  ConsoleLog log(console, nullptr);
  SmsCoding coding;
  coding.Set(charset, table);
  ModemEvents events;
  OutgoingQueue queue(log, events);
  queue.SetCoding(coding);
  FUZZ_CHECK(queue.QueueMessage(text.c_str(), "+1"));

  std::string kept = text.substr(0, kSmsTextLimit);
  for (char& c : kept) c = c == 26 || c == 27 ? ' ' : c;
  FUZZ_CHECK(coding.FitsOne(kept.c_str(), kept.size()) == (queue.Count() == 1));
  std::string joined;
  for (int i = 0; i < queue.Count(); ++i) {
    const char* record = queue.At(i).text;
    size_t length = strlen(record);
    joined += record;
    FUZZ_CHECK(length <= kSmsTextLimit && (length > 0 || kept.empty()));
    FUZZ_CHECK(coding.FitsOne(record, length));
    TextSet set = coding.SetFor(record, length, offered, RestSet(offered));
    if (set == TextSet::kNone) continue;
    char wire[kWireTextSize];
    CheckWire(wire, coding.Encode(record, length, set, wire), set);
  }
  FUZZ_CHECK(joined == kept);
  return 0;
}
