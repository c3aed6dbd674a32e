// Status reports: what the network says of an SMS the phone sent with one asked for, what the
// phone keeps of them, and how the command line plans them. The phone's side of them (+CDS,
// +CDSI, the "SR" storage and AT+CPMS, AT+CNMA, AT+CSMS) is GsmPhone's, in status_reports.cpp.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace kelvor::sim {

struct PhoneOptions;

// A report as it reaches the phone.
struct StatusReport {
  int reference;           // the SMS's +CMGS: <mr>
  std::string number;      // its recipient, as the phone read it
  std::string sent;        // when the service centre took it (<scts>), yy/MM/dd,hh:mm:ss+zz
  std::string discharged;  // when its status came about (<dt>), the same way
  int status;              // <st>: 0 to 31 delivered, 32 to 63 still tried, 64 up failed
};

// What the phone keeps of reports; AT+CSMP's first octet, which asks for them, aside.
struct ReportState {
  int ds = 0;           // AT+CNMI's <ds>: 0 none given, 1 pushed (+CDS), 2 stored (+CDSI)
  bool srRead = false;  // AT+CPMS="SR": AT+CMGL, AT+CMGR and AT+CMGD act on the reports
  int service = 0;      // AT+CSMS: 1 wants AT+CNMA for each +CDS
  int pushed = 0;       // the +CDS given so far, which numbers them
  struct Unacknowledged {
    int pushed;
    StatusReport report;
  };
  std::deque<Unacknowledged> unacknowledged;  // oldest first
  struct Stored {
    bool read;
    StatusReport report;
  };
  std::map<int, Stored> stored;      // the "SR" storage, by index from 1
  std::deque<StatusReport> waiting;  // held by the network while the phone is away
};

// The reports the network sends on each SMS that asks for one: the statuses given for its
// number in turn, each a delay after the one before (the first after the +CMGS).
class ReportPlan {
 public:
  struct Step {
    long after;  // ms from the +CMGS
    int status;
  };

  static bool Takes(const std::string& option);
  // One of the options Takes and its value; false on a bad value.
  bool Read(const std::string& option, const std::string& value, PhoneOptions* phone);
  std::vector<Step> For(const std::string& number) const;

 private:
  long delay_ = 2000;
  std::map<std::string, std::vector<int>> statuses_;  // by number; empty: no report
  std::map<std::string, long> delays_;
};

// The --help section of reports.
extern const char kReportsHelp[];

}  // namespace kelvor::sim
