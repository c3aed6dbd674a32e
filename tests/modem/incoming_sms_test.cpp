// The reader of the SMS that reach the phone, fed the phone's answers in awkward chunks,
// and the rule by which two numbers are the same.
#include "modem/incoming_sms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modem/phone_number.h"

namespace kelvor::test {
namespace {

std::vector<uint16_t> Drain(IncomingSmsReader& reader) {
  std::vector<uint16_t> indexes;
  uint16_t index;
  while (reader.NextIndex(&index)) indexes.push_back(index);
  return indexes;
}

const std::string kHeader =
    "\r\n+CMGR: \"REC UNREAD\",\"+49 171 1234\",,\"24/01/15,10:30:00+04\"\r\n";

TEST(IncomingSmsTest, AnswersInAnyChunkingEndOnlyAtAFinalLineFollowedByQuiet) {
  const struct Case {
    const char* name;
    bool listing;  // else a read
    std::string answer;
    IncomingSmsReader::Answer end;
    std::vector<uint16_t> indexes;
    std::string sender;
    std::string text;
    bool cut;
  } cases[] = {
      {"a listing: an OK line in a text is text, a header-like line in one is a hint",
       true,
       "\r\n+CMGL: 1,\"REC UNREAD\",\"+4917\",,\"24/01/15,10:30:00+04\"\r\nOK\r\n+CMGL: 9,x\r\n"
       "+CMGL: 3,\"REC UNREAD\",\"+4917\",,\"24/01/15,10:31:00+04\"\r\nS\r\n\r\nOK\r\n",
       IncomingSmsReader::kDone,
       {1, 9, 3},
       "",
       "",
       false},
      {"indexes: repeats once, six digits or past 65535 or no comma after it none",
       true,
       "\r\n+CMGL: 7,\"REC UNREAD\"\r\n+CMGL: 7,\"x\"\r\n+CMGL: 000012,\"x\"\r\n+CMGL: "
       "65536,\"x\"\r\n"
       "+CMGL: 8\r\n+CMGL: 65535,\"x\"\r\n\r\nOK\r\n",
       IncomingSmsReader::kDone,
       {7, 65535},
       "",
       "",
       false},
      {"a text that is just OK",
       false,
       kHeader + "OK\r\n\r\nOK\r\n",
       IncomingSmsReader::kDone,
       {},
       "+49 171 1234",
       "OK",
       false},
      {"a phone that puts no empty line before its OK",
       false,
       kHeader + "Ack\r\nOK\r\n",
       IncomingSmsReader::kDone,
       {},
       "+49 171 1234",
       "Ack",
       false},
      {"quotes, commands, a prompt, Ctrl-Z, ESC, tab, NUL and 8-bit bytes are text",
       false,
       kHeader + "He said \"OK\"\r\n+CMGS: 5\r\n> \x1a\x1b[2J\tX" + std::string(1, '\0') +
           "\xe9\r\nOK\r\nERROR\r\n+CMGR: \"REC READ\",\"+1\"\r\n\r\nOK\r\n",
       IncomingSmsReader::kDone,
       {},
       "+49 171 1234",
       "He said \"OK\" +CMGS: 5 > ??[2J X?\xe9 OK ERROR +CMGR: \"REC READ\",\"+1\"",
       false},
      {"a long text keeps its first 160 characters",
       false,
       kHeader + std::string(150, 'a') + "\r\n" + std::string(300, 'b') + "\r\n\r\nOK\r\n",
       IncomingSmsReader::kDone,
       {},
       "+49 171 1234",
       std::string(150, 'a') + " " + std::string(9, 'b'),
       true},
      {"an announcement between the final line and the quiet is no text",
       false,
       kHeader + "S\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",4\r\n",
       IncomingSmsReader::kDone,
       {4},
       "+49 171 1234",
       "S",
       false},
      {"a sender too long for any number is none",
       false,
       "\r\n+CMGR: \"REC UNREAD\",\"" + std::string(32, '1') + "\",,\"x\"\r\nhi\r\n\r\nOK\r\n",
       IncomingSmsReader::kDone,
       {},
       "",
       "hi",
       false},
      {"an empty place answers OK alone",
       false,
       "\r\nOK\r\n",
       IncomingSmsReader::kDone,
       {},
       "",
       "",
       false},
      {"an error ends a read",
       false,
       "\r\n+CMS ERROR: 321\r\n",
       IncomingSmsReader::kFailed,
       {},
       "",
       "",
       false},
  };
  for (const Case& c : cases) {
    for (size_t chunk : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{64}, c.answer.size()}) {
      SCOPED_TRACE(std::string(c.name) + ", chunks of " + std::to_string(chunk));
      IncomingSmsReader reader;
      if (c.listing) {
        reader.ExpectListing();
      } else {
        reader.ExpectMessage(5);
      }
      for (size_t at = 0; at < c.answer.size(); at += chunk) {
        reader.Take(c.answer.data() + at, std::min(chunk, c.answer.size() - at));
      }
      EXPECT_EQ(reader.State(), IncomingSmsReader::kPending);  // a text may go on
      reader.Quiet();
      EXPECT_EQ(reader.State(), c.end);
      EXPECT_EQ(Drain(reader), c.indexes);
      bool header = !c.listing && c.answer.find("+CMGR:") != std::string::npos;
      EXPECT_EQ(reader.HasMessage(), header && c.end == IncomingSmsReader::kDone);
      EXPECT_EQ(reader.Message().sender, c.sender);
      EXPECT_EQ(reader.Message().text, c.text);
      EXPECT_EQ(reader.Message().textCut, c.cut);
    }
  }
}

TEST(IncomingSmsTest, QuietAfterATextLineDoesNotEndTheAnswer) {
  IncomingSmsReader reader;
  reader.ExpectMessage(2);
  std::string begun = kHeader + "first line\r\n";
  reader.Take(begun.data(), begun.size());
  reader.Quiet();
  EXPECT_EQ(reader.State(), IncomingSmsReader::kPending);
  reader.Take("\r\nOK\r\n", 6);
  reader.Quiet();
  EXPECT_EQ(reader.State(), IncomingSmsReader::kDone);
  EXPECT_EQ(reader.Message().index, 2);
  EXPECT_STREQ(reader.Message().text, "first line");
}

TEST(IncomingSmsTest, AnnouncementsAreHeardInAnyStateAndHeldUpToTheCap) {
  IncomingSmsReader reader;
  for (int i = 0; i < 40; ++i) {
    std::string announcement = "\r\n+CMTI: \"SM\"," + std::to_string(i % 35) + " \r\n";
    reader.Take(announcement.data(), announcement.size());
  }
  EXPECT_EQ(reader.Waiting(), kIndexCapacity);
  EXPECT_EQ(reader.Dropped(), 3u);  // 32, 33 and 34; the repeats are no loss
  uint16_t index = 0;
  ASSERT_TRUE(reader.NextIndex(&index));
  char command[16];
  FormatReadCommand(index, command, sizeof command);
  EXPECT_STREQ(command, "AT+CMGR=0\r");
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
