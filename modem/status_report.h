// Status reports: what DELIVERY= asks of every SMS (AT+CSMP's first octet and the validity
// period in its TP-VP coding), and a report as the phone gives it in text mode, read from the
// fields of a +CDS line or of AT+CMGR's answer in the "SR" storage.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modem/sms_outbox.h"

namespace kelvor {

constexpr uint32_t kShortestDeliveryMinutes = 1;
constexpr uint32_t kLongestDeliveryMinutes = 1440;  // a day
// AT+CSMP's first octet: SMS-SUBMIT with a relative validity period (17), and a status
// report asked (49).
constexpr int kPlainFirstOctet = 17;
constexpr int kReportFirstOctet = 49;
constexpr int kPlainValidity = 167;  // a day, as the phone has it by default

// What DELIVERY= asks of one phone, shared by its start-up, its sending and its reports.
struct ReportSettings {
  bool asked = false;        // DELIVERY= given: every SMS asks for a report
  uint8_t validity = 0;      // TP-VP of the minutes given
  bool stored = false;       // the phone refused pushing reports: it stores them ("SR")
  bool acknowledge = false;  // its message service wants AT+CNMA for every +CDS

  int FirstOctet() const { return asked ? kReportFirstOctet : kPlainFirstOctet; }
  int Validity() const { return asked ? validity : kPlainValidity; }
};

// TP-VP, relative: 5-minute steps to 12 hours, then half hours to a day. A period between two
// steps takes the longer, so that the network tries at least as long as asked.
uint8_t ValidityCode(uint32_t minutes);
// The minutes a TP-VP code stands for (days and weeks too).
uint32_t ValidityMinutes(uint8_t code);

// <st>: 0 to 31 delivered, 32 to 63 the network still tries, 64 up given up.
constexpr int32_t kFirstPending = 32;
constexpr int32_t kFirstFailed = 64;

struct StatusReport {
  int32_t reference = 0;  // the +CMGS: <mr> of the SMS it is about, 0 to 255
  int32_t status = 0;
  char number[kNumberSize] = {};  // its recipient as the phone gave it ("" none)
};

// "<fo>,<mr>,"<ra>",<tora>,"<scts>","<dt>",<st>", after "+CDS:"; with `stored`, the same after
// AT+CMGR's "<stat>," (after "+CMGR:"). False when the reference or the status is missing or
// out of range.
bool ReadStatusReport(const char* fields, bool stored, StatusReport* report);
// The index of a `"SR",<index>` after "+CDSI:"; -1 when it names another storage or none.
int32_t StoredReportIndex(const char* fields);
// The number a report names is the number sent to: as given, or spelt as UCS-2 hex.
bool SameRecipient(const char* reported, const char* sent);
// Why the network gave an SMS up, in words, for <st> 64 up.
const char* UndeliveredReason(int32_t status);

}  // namespace kelvor
