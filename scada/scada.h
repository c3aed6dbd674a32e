// The four operations the program calls in the SCADA system.
#pragma once

#include <cstdint>

#include "scada/alarm_record.h"

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

// Size of the buffer a tag text read fills: at most 47 characters and a NUL.
constexpr int kTagTextSize = 48;

class Scada {
 public:
  virtual ~Scada() = default;

  // Non-zero while the SCADA system runs.
  virtual int32_t ScadaRunning() = 0;

  // Reads one alarm into `record`; returns 0 when one was delivered, otherwise a status.
  virtual int16_t ReadAlarmQueue(int32_t mode, AlarmRecord& record) = 0;

  // Reads a field of a database block as text into `text` (kTagTextSize bytes), cut to 47
  // characters. A failed read leaves `text` as it was; the node reports it as non-zero, the
  // SCADA libraries do not report it at all (0).
  virtual int16_t ReadTagText(const char* node, const char* tag, const char* field, char* text) = 0;

  // Reads a field of a database block as a number; 0 when read.
  virtual int16_t ReadTagNumber(const char* node, const char* tag, const char* field,
                                float* value) = 0;
};

// The SCADA system of this platform: the SCADA libraries on Windows, a SCADA node reached
// over TCP on Linux.
Scada& SystemScada();

}  // namespace kelvor
