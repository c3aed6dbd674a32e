// The reader of the SMS that reach the phone, fed the phone's answers in awkward chunks,
// and the rule by which two numbers are the same.
#include "modem/incoming_sms_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "modem/phone_number.h"

namespace kelvor::test {
namespace {

// What the reader made of an answer, in one line: its end, the indexes waiting, and the
// message read, "..." when its text was cut.
std::string Outcome(IncomingSmsReader& reader) {
  static const char* const kEnds[] = {"none", "pending", "done", "failed"};
  std::string outcome = kEnds[reader.State()];
  uint16_t index;
  while (reader.NextIndex(&index)) outcome += " #" + std::to_string(index);
  const IncomingSms& message = reader.Message();
  if (reader.HasMessage()) outcome += std::string(" from ") + message.sender + ": " + message.text;
  return outcome + (message.textCut ? "..." : "");
}

const std::string kHeader =
    "\r\n+CMGR: \"REC UNREAD\",\"+49 171 1234\",,\"24/01/15,10:30:00+04\"\r\n";
const std::string kEnd = "\r\n\r\nOK\r\n";

TEST(IncomingSmsTest, AnswersInAnyChunkingEndOnlyAtAFinalLineFollowedByQuiet) {
  const struct {
    bool listing;  // else a read
    std::string answer;
    std::string outcome;
  } cases[] = {
      // A listing: an OK line in a text is text; a header-like line in one, a hint.
      {true,
       "\r\n+CMGL: 1,\"REC UNREAD\",\"+4917\",,\"x\"\r\nOK\r\n+CMGL: 9,x\r\n+CMGL: 3,\"REC "
       "UNREAD\"\r\nS" +
           kEnd,
       "done #1 #9 #3"},
      // An index repeated is one; six digits, past 65535 or no comma after it, none.
      {true,
       "\r\n+CMGL: 7,\"x\"\r\n+CMGL: 7,\"x\"\r\n+CMGL: 000012,\"x\"\r\n+CMGL: "
       "65536,\"x\"\r\n+CMGL: 8\r\n+CMGL: 65535,\"x\"" +
           kEnd,
       "done #7 #65535"},
      {false, kHeader + "OK" + kEnd, "done from +49 171 1234: OK"},
      {false, kHeader + "Ack\r\nOK\r\n", "done from +49 171 1234: Ack"},  // no empty line before OK
      {false,
       kHeader + "He said \"OK\"\r\n+CMGS: 5\r\n> \x1a\x1b[2J\tX" + std::string(1, '\0') +
           "\xe9\r\nOK\r\nERROR\r\n+CMGR: \"REC READ\",\"+1\"" + kEnd,
       "done from +49 171 1234: He said \"OK\" +CMGS: 5 > ??[2J X?\xe9 OK ERROR +CMGR: \"REC "
       "READ\",\"+1\""},
      {false, kHeader + std::string(150, 'a') + "\r\n" + std::string(300, 'b') + kEnd,
       "done from +49 171 1234: " + std::string(150, 'a') + " " + std::string(9, 'b') + "..."},
      // An announcement between the final line and the quiet is no text.
      {false, kHeader + "S" + kEnd + "\r\n+CMTI: \"SM\",4\r\n", "done #4 from +49 171 1234: S"},
      // A sender too long for any number is none.
      {false, "\r\n+CMGR: \"REC UNREAD\",\"" + std::string(32, '1') + "\",,\"x\"\r\nhi" + kEnd,
       "done from : hi"},
      {false, "\r\nOK\r\n", "done"},  // an empty place
      {false, "\r\n+CMS ERROR: 321\r\n", "failed"},
  };
  for (const auto& c : cases) {
    for (size_t chunk : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{64}, c.answer.size()}) {
      SCOPED_TRACE(c.answer + ", chunks of " + std::to_string(chunk));
      IncomingSmsReader reader;
      if (c.listing) {
        reader.ExpectListing();
      } else {
        reader.ExpectMessage(5);
      }
      for (size_t at = 0; at < c.answer.size(); at += chunk) {
        reader.Feed(c.answer.data() + at, std::min(chunk, c.answer.size() - at));
      }
      EXPECT_EQ(reader.State(), IncomingSmsReader::kPending);  // a text may go on
      reader.Quiet();
      EXPECT_EQ(Outcome(reader), c.outcome);
    }
  }
}

TEST(IncomingSmsTest, QuietAfterATextLineDoesNotEndTheAnswer) {
  IncomingSmsReader reader;
  reader.ExpectMessage(2);
  std::string begun = kHeader + "first line\r\n";
  reader.Feed(begun.data(), begun.size());
  reader.Quiet();
  EXPECT_EQ(reader.State(), IncomingSmsReader::kPending);
  reader.Feed("\r\nOK\r\n", 6);
  reader.Quiet();
  EXPECT_EQ(reader.State(), IncomingSmsReader::kDone);
  EXPECT_EQ(reader.Message().index, 2);
  EXPECT_STREQ(reader.Message().text, "first line");
}

TEST(IncomingSmsTest, AnnouncementsAreHeardInAnyStateAndHeldUpToTheCap) {
  IncomingSmsReader reader;
  for (int i = 0; i < 40; ++i) {
    std::string announcement = "\r\n+CMTI: \"SM\"," + std::to_string(i % 35) + " \r\n";
    reader.Feed(announcement.data(), announcement.size());
  }
  EXPECT_EQ(reader.Dropped(), 3u);  // 32, 33 and 34; the repeats are no loss
  uint16_t index = 0;
  ASSERT_TRUE(reader.NextIndex(&index));
  char command[16];
  FormatReadCommand(index, command, sizeof command);
  EXPECT_STREQ(command, "AT+CMGR=0\r");
  int waiting = 1;
  for (uint16_t next = 0; reader.NextIndex(&next); ++waiting) EXPECT_EQ(next, waiting);
  EXPECT_EQ(waiting, kIndexCapacity);
  FormatDeleteCommand(65535, command, sizeof command);
  EXPECT_STREQ(command, "AT+CMGD=65535\r");
}

TEST(IncomingSmsTest, TheConsoleSeesFortyPrintableCharacters) {
  char excerpt[kExcerptSize];
  PrintableExcerpt("\x1b[31mRed\xc3\xa9 and then a rather long text that goes on", excerpt,
                   sizeof excerpt);
  EXPECT_STREQ(excerpt, "?[31mRed?? and then a rather long text t");
}

TEST(PhoneNumberTest, TwoNumbersAreTheSameWhenTheirDigitsAre) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"+491711234", "491711234", true},
      {"+49 171 1234", "+491711234", true},
      {" +49\t171", "49171", true},
      {"0171", "+49171", false},
      {"+49171", "+491712", false},
      {"+491712", "+49171", false},
      {"", "", false},
      {"+", " + ", false},
      {"+49-171", "+49-171", false},
      {"Vodafone", "Vodafone", false},
      {"4+9", "4+9", false},
      {"++49", "+49", false},
      {"+49171?", "+49171?", false},
      {"+49171", "+49171\"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameNumber(c.a, c.b), c.same) << '"' << c.a << "\" \"" << c.b << '"';
    EXPECT_EQ(SameNumber(c.b, c.a), c.same) << '"' << c.b << "\" \"" << c.a << '"';
  }
}

}  // namespace
}  // namespace kelvor::test
