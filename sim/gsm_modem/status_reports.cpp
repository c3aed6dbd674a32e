#include "status_reports.h"

#include <errno.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>

#include "gsm_phone.h"

namespace kelvor::sim {
namespace {

// The first octet of a status report in text mode: SMS-STATUS-REPORT, no more messages to send.
constexpr int kReportFirstOctet = 6;

// The part of an event line that names a report.
std::string About(const StatusReport& report) {
  return " to=" + EscapedWord(report.number) + " mr=" + std::to_string(report.reference) +
         " status=" + std::to_string(report.status);
}

// A count from the command line, 0 to `most`.
bool Count(const std::string& text, long most, long* value) {
  if (text.empty() || !isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  long number = strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || number > most) return false;
  *value = number;
  return true;
}

constexpr long kMostSeconds = 86400;

}  // namespace

void GsmPhone::ResetReports() {
  reports_.ds = 0;
  reports_.srRead = false;
  reports_.service = options_.cnmaNeeded ? 1 : 0;
  reports_.unacknowledged.clear();
}

// AT+CNMI=?: the <ds> offered are the ways of giving reports the phone has.
std::string GsmPhone::IndicationsOffered() const {
  static const char* const kDs[] = {"(0-2)", "(0,1)", "(0,2)", "(0-2)"};
  return "\r\n+CNMI: (0-3),(0,1),(0)," + std::string(kDs[options_.reports]) + ",(0,1)\r\n" + Ok();
}

bool GsmPhone::Routes(int ds) const {
  if (ds == 1) return options_.reports != PhoneOptions::kReportsStored;
  if (ds == 2) return options_.reports != PhoneOptions::kReportsPushed;
  return true;
}

std::string GsmPhone::Report(const StatusReport& report) {
  if (on_ && Registered()) return RouteReport(report);
  reports_.waiting.push_back(report);
  Event("REPORT waiting for the phone" + About(report));
  return "";
}

// The reports the network held come once the phone is back on it.
std::string GsmPhone::SettleReports() {
  std::string out;
  while (Registered() && !reports_.waiting.empty()) {
    out += RouteReport(reports_.waiting.front());
    reports_.waiting.pop_front();
  }
  return out;
}

// Pushed as +CDS or stored in "SR" as AT+CNMI's <ds> says; with <ds> 0, or a <mode> of 0 for
// a +CDS, the phone gives the terminal nothing and the report is lost.
std::string GsmPhone::RouteReport(const StatusReport& report) {
  bool pushed = reports_.ds == 1 && cnmiMode_ != 0;
  if (options_.reports == PhoneOptions::kReportsNever || (!pushed && reports_.ds != 2)) {
    Event("REPORT lost, not routed" + About(report));
    return "";
  }
  if (!pushed) return StoreReport(report);
  ++reports_.pushed;
  if (reports_.service == 1) reports_.unacknowledged.push_back({reports_.pushed, report});
  Event("REPORT sent" + About(report));
  return Unasked("\r\n+CDS: " + ReportFields(report) + "\r\n");
}

std::string GsmPhone::StoreReport(const StatusReport& report) {
  int index = 1;
  while (index <= options_.reportStoreSize && reports_.stored.count(index) != 0) ++index;
  if (index > options_.reportStoreSize) {
    Event("REPORT lost, SR full" + About(report));
    return "";
  }
  reports_.stored[index] = {false, report};
  Event("REPORT stored index=" + std::to_string(index) + About(report));
  if (cnmiMode_ == 0) return "";
  return Unasked("\r\n+CDSI: \"SR\"," + std::to_string(index) + "\r\n");
}

// <fo>,<mr>,"<ra>",<tora>,"<scts>","<dt>",<st>: a report as text mode gives it.
std::string GsmPhone::ReportFields(const StatusReport& report) const {
  return std::to_string(kReportFirstOctet) + "," + std::to_string(report.reference) + ",\"" +
         ForTerminal(report.number) + "\"," + NumberType(report.number) + ",\"" + report.sent +
         "\",\"" + report.discharged + "\"," + std::to_string(report.status);
}

// AT+CPMS: the SIM's "SM" for all three memories; the first, where SMS are listed, read and
// deleted, may be "SR" instead, where the reports are stored.
std::string GsmPhone::Storage(const std::string& arguments) {
  std::string used = std::to_string(store_.size()) + "," + std::to_string(options_.storeSize);
  if (arguments == "?") {
    std::string memory = "\"SM\"," + used;
    std::string first = reports_.srRead ? "\"SR\"," + ReportsUsed() : memory;
    return "\r\n+CPMS: " + first + "," + memory + "," + memory + "\r\n" + Ok();
  }
  if (arguments.empty() || arguments[0] != '=') return SmsError(305);
  std::string memories = arguments.substr(1) + ",";
  bool sr = memories.compare(0, 5, "\"SR\",") == 0;
  for (size_t at = sr ? 5 : 0; at < memories.size(); at += 5) {
    if (memories.compare(at, 5, "\"SM\",") != 0 || at >= 15) return SmsError(302);
  }
  reports_.srRead = sr;
  return "\r\n+CPMS: " + (sr ? ReportsUsed() : used) + "," + used + "," + used + "\r\n" + Ok();
}

std::string GsmPhone::ReportsUsed() const {
  return std::to_string(reports_.stored.size()) + "," + std::to_string(options_.reportStoreSize);
}

// AT+CNMA and AT+CSMS; AT+CMGL, AT+CMGR and AT+CMGD too while "SR" is the storage read.
bool GsmPhone::ForReports(const std::string& upper) const {
  if (StartsWith(upper, "AT+CNMA") || StartsWith(upper, "AT+CSMS")) return true;
  return reports_.srRead && (StartsWith(upper, "AT+CMGL") || StartsWith(upper, "AT+CMGR") ||
                             StartsWith(upper, "AT+CMGD"));
}

std::string GsmPhone::ReportCommand(const std::string& upper) {
  if (StartsWith(upper, "AT+CNMA")) return Acknowledge(upper);
  if (StartsWith(upper, "AT+CSMS")) return MessageService(upper);
  if (StartsWith(upper, "AT+CMGD")) return DeleteReports(upper.substr(7));
  if (textMode_ != 1) return SmsError(302);  // only text mode is simulated
  bool list = StartsWith(upper, "AT+CMGL");
  return list ? ListReports(upper.substr(7)) : ReadReport(upper.substr(7));
}

std::string GsmPhone::MarkReportRead(int index, ReportState::Stored* stored) {
  std::string status = stored->read ? "REC READ" : "REC UNREAD";
  if (!stored->read) Event("REPORT read index=" + std::to_string(index));
  stored->read = true;
  return status;
}

std::string GsmPhone::ListReports(const std::string& arguments) {
  std::string wanted;
  if (!ListedStatus(arguments, &wanted)) return SmsError(305);
  std::string out;
  for (auto& [index, stored] : reports_.stored) {
    if (wanted != "ALL" && wanted != (stored.read ? "REC READ" : "REC UNREAD")) continue;
    out += "+CMGL: " + std::to_string(index) + ",\"" + MarkReportRead(index, &stored) + "\"," +
           ReportFields(stored.report) + "\r\n";
  }
  return (out.empty() ? "" : "\r\n" + out) + Ok();
}

std::string GsmPhone::ReadReport(const std::string& arguments) {
  auto found = reports_.stored.find(Index(arguments));
  if (found == reports_.stored.end()) return SmsError(321);  // invalid memory index
  std::string status = MarkReportRead(found->first, &found->second);
  return "\r\n+CMGR: \"" + status + "\"," + ReportFields(found->second.report) + "\r\n" + Ok();
}

// As on the SIM: AT+CMGD=<index>, or with a flag 1 to 3 every report read, 4 every report.
std::string GsmPhone::DeleteReports(const std::string& arguments) {
  int index = 0, flag = 0;
  std::string error = DeleteArguments(arguments, options_.reportStoreSize, &index, &flag);
  if (!error.empty()) return error;
  std::map<int, ReportState::Stored>& stored = reports_.stored;
  for (auto at = stored.begin(); at != stored.end();) {
    bool gone = flag == 0 ? at->first == index : flag == 4 || at->second.read;
    if (gone) Event("REPORT deleted index=" + std::to_string(at->first));
    at = gone ? stored.erase(at) : std::next(at);
  }
  return Ok();
}

// In text mode AT+CNMA acknowledges the oldest +CDS awaiting it; a phone that awaits none
// says so with 340, as one under AT+CSMS=0 does to every AT+CNMA.
std::string GsmPhone::Acknowledge(const std::string& upper) {
  if (upper == "AT+CNMA=?") return Ok();
  if (upper != "AT+CNMA" && upper != "AT+CNMA=0") return SmsError(305);
  if (reports_.unacknowledged.empty()) return SmsError(340);  // no +CNMA expected
  Event("REPORT acknowledged" + About(reports_.unacknowledged.front().report));
  reports_.unacknowledged.pop_front();
  return Ok();
}

// AT+CSMS: service 0 wants no acknowledgement of a +CDS, 1 an AT+CNMA for each.
std::string GsmPhone::MessageService(const std::string& upper) {
  if (upper == "AT+CSMS?") {
    return "\r\n+CSMS: " + std::to_string(reports_.service) + ",1,1,1\r\n" + Ok();
  }
  if (upper == "AT+CSMS=?") return "\r\n+CSMS: (0,1)\r\n" + Ok();
  if (upper != "AT+CSMS=0" && upper != "AT+CSMS=1") return SmsError(303);
  reports_.service = upper.back() - '0';
  if (reports_.service == 0) reports_.unacknowledged.clear();
  return "\r\n+CSMS: 1,1,1\r\n" + Ok();
}

// A +CDS whose AT+CNMA never came: the phone stops giving the terminal SMS and reports
// (AT+CNMI's <mt> and <ds> 0) until it is told again, as a phone must.
void GsmPhone::AcknowledgementMissed(int pushed) {
  auto& waiting = reports_.unacknowledged;
  auto missed = std::find_if(waiting.begin(), waiting.end(),
                             [pushed](const auto& report) { return report.pushed == pushed; });
  if (missed == waiting.end()) return;
  Event("REPORT unacknowledged" + About(missed->report) + ", routing off");
  waiting.erase(missed);
  cnmiMt_ = 0;
  reports_.ds = 0;
}

const char kReportsHelp[] =
    "\n"
    "Status reports:\n"
    "A text sent after AT+CSMP=<fo>,<vp>,<pid>,<dcs> with 0x20 in <fo> (49, say; 17\n"
    "asks none) gets a report from the network for each status --report-for plans.\n"
    "AT+CNMI=<mode>,<mt>,<bm>,<ds>,<bfr> says how the phone gives them (a field left\n"
    "out is 0): ds 1 pushes each as one line\n"
    "  +CDS: 6,<mr>,\"<number>\",<type>,\"<scts>\",\"<dt>\",<st>\n"
    "(mr that of +CMGS: <mr>, type 145 for a number with '+', else 129, scts the time\n"
    "of the +CMGS, dt that of the status); ds 2 stores it and says\n"
    "\"+CDSI: \"SR\",<index>\"; ds 0 (at power-on and after ATZ) gives none, and the report\n"
    "is lost. After AT+CPMS=\"SR\" (until AT+CPMS=\"SM\" or ATZ) AT+CMGL, AT+CMGR=<index>\n"
    "(\"+CMGR: \"REC UNREAD\",6,<mr>,...\" as in +CDS) and AT+CMGD act on the stored\n"
    "reports. AT+CNMI? shows ds, AT+CNMI=? the ds offered. The network holds reports\n"
    "while the phone is off or off the network. AT+CNMA acknowledges the oldest +CDS\n"
    "not acknowledged; one that awaits none (AT+CSMS? says 0, the default) answers\n"
    "+CMS ERROR: 340. AT+CSMS=0|1 sets whether a +CDS awaits AT+CNMA.\n"
    "  --first-reference N  the message reference (+CMGS: <mr>) of the first text\n"
    "                       confirmed, 0 to 255 (default 1); each next counts up, 255\n"
    "                       wraps to 0\n"
    "  --report MODE        both (default: as ds says), push (ds 2 refused with\n"
    "                       +CMS ERROR: 303), store (ds 1 refused), none (a phone that\n"
    "                       takes any ds and never gives a report)\n"
    "  --report-delay SEC   s from the +CMGS to the first report, and from each report\n"
    "                       to the next (default 2)\n"
    "  --report-delay-for NUMBER,SEC   ... for texts to NUMBER (as in AT+CMGS)\n"
    "  --report-for NUMBER,STATUS[,STATUS...]   the statuses reported in turn on each\n"
    "                       text to NUMBER: 0 delivered (the default), 32 pending then\n"
    "                       0 as 32,0, 70 validity period expired; none: no report;\n"
    "                       may be given for several numbers\n"
    "  --report-store N     the reports \"SR\" holds (default 20); one more is lost\n"
    "  --cnma-needed        AT+CSMS is 1 at power-on and after ATZ: a +CDS not\n"
    "                       acknowledged within 15 s turns routing off (AT+CNMI's mt\n"
    "                       and ds become 0)\n"
    "Their event lines:\n"
    "  REPORT sent to=<number> mr=<n> status=<st>   a report pushed (+CDS)\n"
    "  REPORT stored index=<i> to=<number> mr=<n> status=<st>   (+CDSI)\n"
    "  REPORT lost, not routed to=...       ds 0, or --report none\n"
    "  REPORT lost, SR full to=...\n"
    "  REPORT waiting for the phone to=...  held by the network\n"
    "  REPORT acknowledged to=...           AT+CNMA taken\n"
    "  REPORT unacknowledged to=..., routing off   (--cnma-needed)\n"
    "  REPORT read index=<i>                a stored report listed or read unread\n"
    "  REPORT deleted index=<i>\n";

bool ReportPlan::Takes(const std::string& option) {
  static const char* const kOptions[] = {"--report",     "--report-delay", "--report-delay-for",
                                         "--report-for", "--report-store", "--first-reference"};
  return std::find(std::begin(kOptions), std::end(kOptions), option) != std::end(kOptions);
}

bool ReportPlan::Read(const std::string& option, const std::string& value, PhoneOptions* phone) {
  static const char* const kModes[] = {"both", "push", "store", "none"};  // as PhoneOptions's
  long number = 0;
  if (option == "--report") {
    auto mode = std::find(std::begin(kModes), std::end(kModes), value);
    phone->reports = static_cast<PhoneOptions::Reports>(mode - std::begin(kModes));
    return mode != std::end(kModes);
  }
  if (option == "--report-delay") {
    bool good = Count(value, kMostSeconds, &number);
    delay_ = number * 1000;
    return good;
  }
  if (option == "--report-store" || option == "--first-reference") {
    bool store = option == "--report-store";
    bool good = Count(value, store ? 1000 : 255, &number);
    (store ? phone->reportStoreSize : phone->firstReference) = static_cast<int>(number);
    return good;
  }
  size_t comma = value.find(',');
  if (comma == 0 || comma == std::string::npos) return false;
  std::string to = value.substr(0, comma);
  std::string rest = value.substr(comma + 1);
  if (option == "--report-delay-for") {
    bool good = Count(rest, kMostSeconds, &number);
    delays_[to] = number * 1000;
    return good;
  }
  std::vector<int>& statuses = statuses_[to];  // --report-for
  statuses.clear();
  for (size_t start = 0; rest != "none" && start <= rest.size();) {
    size_t end = std::min(rest.find(',', start), rest.size());
    if (!Count(rest.substr(start, end - start), 255, &number)) return false;
    statuses.push_back(static_cast<int>(number));
    start = end + 1;
  }
  return true;
}

std::vector<ReportPlan::Step> ReportPlan::For(const std::string& number) const {
  auto statuses = statuses_.find(number);
  auto delay = delays_.find(number);
  long each = delay == delays_.end() ? delay_ : delay->second;
  std::vector<Step> steps;
  for (int status : statuses == statuses_.end() ? std::vector<int>{0} : statuses->second) {
    steps.push_back({each * static_cast<long>(steps.size() + 1), status});
  }
  return steps;
}

}  // namespace kelvor::sim
