// Destination specifications: the tokeniser, the fields they fill and the echo lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "routing/destination_list.h"
#include "routing_test_support.h"

namespace kelvor {
namespace {

struct SpecCase {
  const char* name;
  const char* specification;
  const char* line;  // the one console line creation prints
  const char* number;
  int16_t areaMask;
  int priority;
  int delay;
  bool full;
  bool enable;
  const char* enableNode = "";
  const char* enableTag = "";
  const char* enableField = "";
};

const char kFormatError[] = "Error format is DEST=<cell no>,<A Area>,<priority>,<delay in sec>,[F]";

const SpecCase kSpecCases[] = {
    {"UsageExample", "=+99955501234,AD,H,30", "New dest = +99955501234,9,0,30", "+99955501234", 9,
     0, 30, false, false},
    {"FullForm", "=+1,A,M,5,F", "New dest = +1,1,1,5", "+1", 1, 1, 5, true, false},
    {"FormLettersAnywhere", "=+1,A,L,5,OFF", "New dest = +1,1,2,5", "+1", 1, 2, 5, true, false},
    {"LowerCaseFormIsNotFull", "=+1,A,L,5,f", "New dest = +1,1,2,5", "+1", 1, 2, 5, false, false},
    {"LowerCaseAreas", "=+1,ad,h,0", "New dest = +1,9,0,0", "+1", 9, 0, 0, false, false},
    {"AreasBeyondPSetNothing", "=+1,AZqz,H,0", "New dest = +1,1,0,0", "+1", 1, 0, 0, false, false},
    {"AreaPPrintsSignExtended", "=+1,AP,H,0", "New dest = +1,FFFF8001,0,0", "+1",
     static_cast<int16_t>(0x8001), 0, 0, false, false},
    {"DigitZeroIsAreaP", "=+1,0,H,0", "New dest = +1,FFFF8000,0,0", "+1",
     static_cast<int16_t>(0x8000), 0, 0, false, false},
    {"PriorityWordCountsByFirstLetter", "=+1,A,low,1", "New dest = +1,1,2,1", "+1", 1, 2, 1, false,
     false},
    {"BadPriorityLetterTakesNoPriority", "=+1,A,X,30", "New dest = +1,1,-1,30", "+1", 1, -1, 30,
     false, false},
    {"DelayOfLettersIsZero", "=+1,A,H,abc", "New dest = +1,1,0,0", "+1", 1, 0, 0, false, false},
    {"NegativeDelay", "=+1,A,H,-5", "New dest = +1,1,0,-5", "+1", 1, 0, -5, false, false},
    {"DelayReadLikeAtol", "=+1,A,H, 12s", "New dest = +1,1,0,12", "+1", 1, 0, 12, false, false},
    {"RunsOfDelimitersCountAsOne", "==+1,,,A,,H,,,7,", "New dest = +1,1,0,7", "+1", 1, 0, 7, false,
     false},
    {"EqualsInsideFileNumberStays", "+12=34,A,H,1", "New dest = +12=34,1,0,1", "+12=34", 1, 0, 1,
     false, false},
    // The empty areas field vanishes: H is read as areas, 30 as priority, the delay is missing.
    {"EmptyAreasShiftsTokens", "=+1,,H,30", kFormatError, "+1", 0x80, -1, 0, false, false},
    // Without a form field the enable tag is taken as the form; F_CV holds a capital F.
    {"EnableTagTakenAsForm", "=+1,A,H,30,NODE:TAG.F_CV", "New dest = +1,1,0,30", "+1", 1, 0, 30,
     true, false},
    {"EnableTagAfterForm", "=+1,A,H,30,S,NODE:TAG.F_CV", "New dest = +1,1,0,30", "+1", 1, 0, 30,
     false, true, "NODE", "TAG", "F_CV"},
    {"EnableTagWithDots", "=+1,A,H,30,S,NODE.TAG.A_CV", "New dest = +1,1,0,30", "+1", 1, 0, 30,
     false, true, "NODE", "TAG", "A_CV"},
    {"EnableTagWithCommas", "=+1,A,H,30,S,NODE,TAG,X\r\n", "New dest = +1,1,0,30", "+1", 1, 0, 30,
     false, true, "NODE", "TAG", "X"},
    {"TwoPartEnableTagIsNone", "=+1,A,H,30,S,NODE:TAG", "New dest = +1,1,0,30", "+1", 1, 0, 30,
     false, false, "NODE", "TAG", ""},
    {"NothingAfterEquals", "=", kFormatError, "", 0, -1, 0, false, false},
    {"NumberOnly", "=+1", kFormatError, "+1", 0, -1, 0, false, false},
    {"NoPriority", "=+1,A", kFormatError, "+1", 1, -1, 0, false, false},
    {"NoDelay", "=+1,A,H", kFormatError, "+1", 1, 0, 0, false, false},
    {"NumberOf31Fits", "=1234567890123456789012345678901,A,H,1",
     "New dest = 1234567890123456789012345678901,1,0,1", "1234567890123456789012345678901", 1, 0, 1,
     false, false},
};

void PrintTo(const SpecCase& c, std::ostream* os) {
  *os << c.name;
}

class SpecificationTest : public testing::TestWithParam<SpecCase> {};

TEST_P(SpecificationTest, FillsFieldsAndPrintsOneLine) {
  const SpecCase& c = GetParam();
  test::RoutingWorld world;
  AlarmDestination destination = world.Make(c.specification);
  EXPECT_EQ(world.console.Lines(), std::vector<std::string>{c.line});
  EXPECT_EQ(world.console.text().substr(world.console.text().size() - 2), "\r\n");
  EXPECT_STREQ(destination.Number(), c.number);
  EXPECT_EQ(destination.AreaMask(), c.areaMask);
  EXPECT_EQ(destination.Priority(), c.priority);
  EXPECT_EQ(destination.Delay(), c.delay);
  EXPECT_EQ(destination.FullMessages(), c.full);
  EXPECT_EQ(destination.HasEnableTag(), c.enable);
  EXPECT_STREQ(destination.EnableNode(), c.enableNode);
  EXPECT_STREQ(destination.EnableTag(), c.enableTag);
  EXPECT_STREQ(destination.EnableField(), c.enableField);
  EXPECT_STREQ(destination.Batch(), c.full ? "Fix Alarms\n" : "");
  EXPECT_FALSE(destination.BatchPending());
  EXPECT_EQ(destination.Deadline(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, SpecificationTest, testing::ValuesIn(kSpecCases),
                         [](const testing::TestParamInfo<SpecCase>& info) {
                           return std::string(info.param.name);
                         });

// Tokens too long for their 32-byte fields refuse the specification: a cut number or tag
// would name another phone or block.
TEST(SpecificationTest, TooLongTokenRefusesTheWholeSpecification) {
  const std::string longToken(32, '9');
  const std::string specifications[] = {
      "=" + longToken + ",A,H,1",
      "=+1,A,H,1,S," + longToken + ":TAG.F_CV",
      "=+1,A,H,1,S,NODE:" + longToken + ".F_CV",
      "=+1,A,H,1,S,NODE:TAG." + longToken,
  };
  for (const std::string& specification : specifications) {
    SCOPED_TRACE(specification);
    test::RoutingWorld world;
    AlarmDestination destination = world.Make(specification);
    EXPECT_EQ(world.console.Lines(),
              std::vector<std::string>{"Error field longer than 31 characters, dest refused: " +
                                       longToken});
    EXPECT_STREQ(destination.Number(), "");
    EXPECT_EQ(destination.AreaMask(), 0);
    EXPECT_EQ(destination.Priority(), -1);
    EXPECT_FALSE(destination.HasEnableTag());
    EXPECT_STREQ(destination.EnableNode(), "");

    // It takes no alarm and never queues.
    destination.OfferAlarm(test::AlarmBuilder{}.Build(), world.context);
    world.clock.Advance(10000);
    destination.FlushIfDue(world.context);
    EXPECT_TRUE(world.outbox.queued.empty());
    EXPECT_EQ(world.console.Lines().back(), "Ignoring alm ALARM");
  }
}

// Destinations whose specification stopped early, or named no valid priority, must not
// route alarms on values nobody gave.
TEST(SpecificationTest, IncompleteOrBadPriorityTakesNoAlarm) {
  for (const char* specification : {"=+1", "=+1,A", "=+1,,H,30", "=+1,A,X,0"}) {
    SCOPED_TRACE(specification);
    test::RoutingWorld world;
    AlarmDestination destination = world.Make(specification);
    for (int8_t priority : {0, 1, 2}) {
      test::AlarmBuilder alarm;
      alarm.areas = 0xFFFF;
      alarm.priority = priority;
      destination.OfferAlarm(alarm.Build(), world.context);
    }
    world.clock.Advance(1000);
    destination.FlushIfDue(world.context);
    EXPECT_FALSE(destination.BatchPending());
    EXPECT_TRUE(world.outbox.queued.empty());
  }
}

TEST(DestinationListTest, The32ndDestinationIsReportedAndPassedOver) {
  test::FakeConsole console;
  DestinationList list(console);
  for (int i = 0; i < 32; ++i) {
    std::string specification = "=+" + std::to_string(1000 + i) + ",A,H,1";
    std::vector<char> text(specification.c_str(), specification.c_str() + specification.size() + 1);
    EXPECT_EQ(list.Add(text.data()), i < 31) << i;
  }
  EXPECT_EQ(list.Count(), 31);
  EXPECT_STREQ(list[30].Number(), "+1030");
  std::vector<std::string> lines = console.Lines();
  ASSERT_EQ(lines.size(), 32u);
  EXPECT_EQ(lines[30], "New dest = +1030,1,0,1");
  EXPECT_EQ(lines[31], "Destination list full (31), ignoring =+1031,A,H,1");
}

}  // namespace
}  // namespace kelvor
