// The four operations the program calls in the SCADA system.
#pragma once

#include <cstdint>

#include "scada/alarm_record.h"
#include "scada/tag_reader.h"

namespace kelvor {

// Status values of the alarm-queue read.
enum AlarmQueueStatus : int16_t {
  kAlarmDelivered = 0,
  kIllegalStatusFirst = 1711,
  kIllegalStatusLast = 1713,
  kShutDown = 1964,
  kShutDown2 = 6507,
  kShutDown3 = 6508,
  kQueueEmpty = 6510,
};

// The mode the program passes to the alarm-queue read, unchanged.
constexpr int32_t kAlarmQueueMode = 64;

// The SCADA system: its running test and alarm queue, and the database reads.
class Scada : public TagReader {
 public:
  // Non-zero while the SCADA system runs.
  virtual int32_t ScadaRunning() = 0;

  // Reads one alarm into `record`; returns 0 when one was delivered, otherwise a status.
  virtual int16_t ReadAlarmQueue(int32_t mode, AlarmRecord& record) = 0;
};

// The SCADA system of this platform: the SCADA libraries on Windows, a SCADA node reached
// over TCP on Linux.
Scada& SystemScada();

}  // namespace kelvor
