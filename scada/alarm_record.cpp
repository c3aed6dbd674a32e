#include "scada/alarm_record.h"

namespace kelvor {

const char* StatusName(int statusCode) {
  static const char* const kNames[] = {"OK",    "LOLO", "LO",  "HI",   "HIHI", "RATE",
                                       "COS",   "CFN",  "DEV", "??",   "MANL", "DSAB",
                                       "ERROR", "ANY",  "NEW", "RATE", "TIME"};
  constexpr int kCount = sizeof kNames / sizeof kNames[0];
  if (statusCode < 0 || statusCode >= kCount) return "???";
  return kNames[statusCode];
}

}  // namespace kelvor
