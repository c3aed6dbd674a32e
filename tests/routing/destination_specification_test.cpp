// Destination specifications: the tokeniser, the fields they fill and the echo lines.
#include <gtest/gtest.h>

#include <string>

#include "routing_test_support.h"

namespace kelvor {
namespace {

const char kFormatError[] = "Error format is DEST=<cell no>,<A Area>,<priority>,<delay in sec>,[F]";

struct DestinationCase {
  const char* specification;
  const char* line;  // the one console line creation prints
  const char* number;
  int areaMask, priority, delay;
  bool full = false, enable = false;
};

TEST(SpecificationTest, FillsFieldsAndPrintsOneLine) {
  const DestinationCase cases[] = {
      {"=+99955501234,AD,H,30", "New dest = +99955501234,9,0,30", "+99955501234", 9, 0, 30},
      {"=+1,ad,l,5,OFF", "New dest = +1,9,2,5", "+1", 9, 2, 5, true},
      {"=+1,AZP0,m,-5", "New dest = +1,FFFF8001,1,-5", "+1", -32767, 1, -5},  // 0 sets P too
      {"==+1,,A,,high,,abc", "New dest = +1,1,0,0", "+1", 1, 0, 0},           // runs of delimiters
      {"+12=34,A,M,1,f", "New dest = +12=34,1,1,1", "+12=34", 1, 1, 1},       // no leading "="
      {"=+1,A,X,30", "New dest = +1,1,-1,30", "+1", 1, -1, 30},               // bad letter
      {"=+1,,H,30", kFormatError, "+1", 0x80, -1, 0},  // H read as areas, 30 as priority
      {"=+1,A,H,3,N:T.F_CV", "New dest = +1,1,0,3", "+1", 1, 0, 3, true},  // tag taken as form
      {"=+1,A,H,3,S,N:T.A_CV", "New dest = +1,1,0,3", "+1", 1, 0, 3, false, true},
      {"=+1,A,H,3,S,N.T", "New dest = +1,1,0,3", "+1", 1, 0, 3},  // two parts: no tag
      {"=+1,A", kFormatError, "+1", 1, -1, 0},
      {"=", kFormatError, "", 0, -1, 0},
      {"=1234567890123456789012345678901,A,H,1", "New dest = 1234567890123456789012345678901,1,0,1",
       "1234567890123456789012345678901", 1, 0, 1},
  };
  for (const DestinationCase& c : cases) {
    SCOPED_TRACE(c.specification);
    test::RoutingWorld world;
    ParsedDestination parsed = world.Parse(c.specification);
    const DestinationSpecification& s = parsed.specification;
    EXPECT_EQ(world.console.text(), std::string(c.line) + "\r\n");
    EXPECT_STREQ(s.number, c.number);
    EXPECT_EQ(s.areaMask, c.areaMask);
    EXPECT_EQ(s.priority, c.priority);
    EXPECT_EQ(s.delay, c.delay);
    EXPECT_EQ(s.fullMessages, c.full);
    EXPECT_EQ(s.enableTagPresent, c.enable);
    EXPECT_STREQ(AlarmDestination(parsed).Batch(), c.full ? "Fix Alarms\n" : "");
  }
}

// A cut number or tag would name another phone or block, and a number holding a quote,
// CR, LF, Ctrl-Z or ESC would break every command it goes into: the whole specification
// is refused; the destination keeps its defaults, takes no alarm and never queues.
TEST(SpecificationTest, RefusedDestinationsTakeNoAlarm) {
  const std::string token(32, '9');
  const std::string tooLong = "Error field longer than 31 characters, dest refused: " + token;
  const struct {
    std::string specification;
    std::string line;
  } cases[] = {
      {"=" + token + ",A,H,1", tooLong},
      {"=+1,A,H,1,S," + token + ":T.F", tooLong},
      {"=+1,A,H,1,S,N:" + token + ".F", tooLong},
      {"=+1,A,H,1,S,N:T." + token, tooLong},
      {"=+1\"x,A,H,1", "Error number +1?x holds a quote, CR, LF, Ctrl-Z or ESC, dest refused"},
      {"+1\r2,A,H,1", "Error number +1?2 holds a quote, CR, LF, Ctrl-Z or ESC, dest refused"},
      {"=+1\x1a,A,H,1", "Error number +1? holds a quote, CR, LF, Ctrl-Z or ESC, dest refused"},
      {"=+1\x1b\n,A,H,1", "Error number +1?? holds a quote, CR, LF, Ctrl-Z or ESC, dest refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.specification);
    test::RoutingWorld world;
    ParsedDestination parsed = world.Parse(c.specification);
    EXPECT_EQ(world.console.text(), c.line + "\r\n");
    EXPECT_STREQ(parsed.specification.number, "");
    EXPECT_EQ(parsed.specification.areaMask, 0);
    EXPECT_FALSE(parsed.specification.enableTagPresent);
    AlarmDestination destination(parsed);
    destination.OfferAlarm(test::AlarmBuilder{}.Build(), world.context);
    EXPECT_FALSE(destination.BatchPending());
  }
}

// Incomplete destinations and bad priority letters must not route on chance values:
// not even the fields read before the missing one, nor an alarm of a negative priority.
TEST(SpecificationTest, IncompleteOrBadPriorityTakesNoAlarm) {
  for (const char* specification : {"=+1", "=+1,A", "=+1,,H,30", "=+1,A,X,0", "=+1,A,H"}) {
    SCOPED_TRACE(specification);
    test::RoutingWorld world;
    AlarmDestination destination = world.Make(specification);
    for (int8_t priority : {-128, -1, 0, 1, 2}) {
      test::AlarmBuilder alarm;
      alarm.areas = 0xFFFF;
      alarm.priority = priority;
      destination.OfferAlarm(alarm.Build(), world.context);
    }
    EXPECT_FALSE(destination.BatchPending());
  }
}

}  // namespace
}  // namespace kelvor
