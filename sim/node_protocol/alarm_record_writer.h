// Alarm records made field by field, as a SCADA node's alarm queue delivers them: for the
// node simulator and the tests' fake SCADA system.
#pragma once

#include <cstdint>

#include "scada/alarm_record.h"

namespace kelvor {

// The fields of an alarm.
struct AlarmFields {
  uint16_t areas = 1;
  const char* text = "";
  uint8_t routing = 1;
  const char* tag = "";
  const char* node = "";
  int8_t day = 0;
  int8_t hour = 0;
  int8_t minute = 0;
  int8_t priority = 0;
  int8_t status = 0;
};

// A record holding `fields` and zero bytes elsewhere. A text longer than its field is cut;
// one as long as its field fills it without a NUL, as the SCADA side may deliver it.
AlarmRecord MakeAlarmRecord(const AlarmFields& fields);

}  // namespace kelvor
