// Sixty days of the real main loop in virtual time, across the wrap of the 32-bit tick:
// alarm bursts over 31 destinations, a phone that goes silent, refuses texts, floods the
// line and loses the network (run once alone, once with a standby phone that takes over from
// it and is silent only at the end), and an alarm queue that fails for hours; the run ends with the
// SCADA system stopping while a last burst waits for a silent phone. Replies and escalation are on:
// the engineers at six destinations answer two alarm SMS in three within a minute and sleep
// through the rest, which go on to a backup after ten minutes; a heartbeat goes every hour. Every
// alarm a destination takes is named or counted in an SMS its phone took, or is in an SMS given up
// after four sendings, or is still on its way at shutdown, which says so; no SMS is reported lost
// for a full queue. The queue never holds more than 21, no SMS is longer than 159 characters, SMS
// that wait for the network go once it is back, an alarm SMS answered while the phone was well is
// never escalated and one nobody answered always is, the heap stays flat.
// Hours on duty: ten destinations (none that escalates or rings) have HOURS=, on and off duty
// several times a virtual day, some past midnight and by weekday; an alarm goes to those on
// duty that take it, or, when only destinations off duty take it, to them all the same: the
// same delivery invariant holds, and none is dropped for a schedule.
// Wake-up calls: six destinations (three that escalate, one ringing for high alarms alone) and
// the backup have RING= rules of 5 or 10 minutes. Their calls mostly ring out, some are busy,
// given up by the network, answered (then hung up by Kelvor or by the other side) or rejected;
// strangers and engineers call the phone at random moments (just after a read of the SMS
// received too), while SMS go and while it calls. Each call ends within 31.5 s of its ATD, none
// starts while an alarm SMS waits in the queue, and SMS raised during a call go as soon as it
// ends. A call rings only after an alarm SMS of its rule went unanswered for the rule's minutes,
// never twice for one unanswered stretch; such a stretch with the phone well always rings.
// Kelvor never answers an incoming call, and a caller's ring costs no time-out.
// Delivery reports (DELIVERY=30, once): the network reports most SMS delivered within
// seconds, some late (pending first), some not delivered (never an SMS its engineer answers)
// and some never; every report that reaches the phone is matched or said, and every SMS
// without one is said.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/kelvor_main.h"
#include "counting_new.h"
#include "gsm_phone.h"
#include "support/fake_serial.h"
#include "support/fakes.h"

namespace kelvor {
namespace {

constexpr uint64_t kHour = 3600ull * 1000;
constexpr uint64_t kDay = 24 * kHour;
constexpr uint64_t kRunLength = 60 * kDay;
constexpr uint64_t kQuietEnd = 59 * kDay;  // the last day: no alarms, no faults...
constexpr uint64_t kFinalBurst = kRunLength - 2 * 60 * 1000;  // ...until a burst, phone off
constexpr uint32_t kStartTick = static_cast<uint32_t>((1ull << 32) - 10 * kDay);  // wraps on day 10
constexpr uint64_t kWrap = 10 * kDay;
constexpr int kDestinations = 31;
constexpr int kMaxAlarms = 40000;
constexpr int kAlarmsPerSmsAtMost = 10;  // the shortest alarm text is 17 characters
constexpr uint64_t kMinute = 60 * 1000;
constexpr uint64_t kEscalateAfter = 10 * kMinute;
const char* const kBackup = "+4479000099";  // where the SMS nobody answers go
const char* const kHeartbeat = "+4479000098";
const char* const kPriorities = "HML";

// The destinations whose engineer may answer, each with an ESCALATE= rule to the backup.
bool Escalates(int j) {
  return j % 5 == 1;
}

// HOURS= of destination j: 1 on duty three hours in six, 2 weekday nights past midnight and
// weekend middays; 0 none.
int Shift(int j) {
  static const int kShifts[kDestinations] = {0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 2,
                                             0, 0, 1, 2, 0, 0, 1, 0, 0, 0, 0, 2, 0, 0, 1};
  return kShifts[j];
}
const char* const kShiftHours[] = {
    "", ",1-7,00:00-03:00;1-7,06:00-09:00;1-7,12:00-15:00;1-7,18:00-21:00",
    ",1-5,22:00-02:00;6-7,10:00-14:00"};

// The same, counted apart from the program: the virtual clock's local time starts on Monday
// 2026-12-07 at 14:03:22.
bool OnDuty(int j, uint64_t elapsed) {
  uint64_t seconds = elapsed / 1000 + 14 * 3600 + 3 * 60 + 22;
  int day = static_cast<int>(seconds / 86400 % 7) + 1;  // 1 Monday
  int yesterday = day == 1 ? 7 : day - 1;
  int hour = static_cast<int>(seconds / 3600 % 24);
  switch (Shift(j)) {
    case 1:
      return hour % 6 < 3;
    case 2:
      return (day <= 5 && hour >= 22) || (yesterday <= 5 && hour < 2) ||
             (day >= 6 && hour >= 10 && hour < 14);
    default:
      return true;
  }
}

enum class PhoneMode { kNormal, kSilent, kRefusing, kFlooding, kOffNetwork };
// RING= rules: destination (-1 the backup), minutes, and the least urgent priority that rings.
struct RingPlan {
  int j;
  int minutes;
  char priority;
};
constexpr RingPlan kRingPlans[] = {
    {1, 10, 'L'}, {11, 5, 'H'}, {21, 5, 'L'},  // engineers who answer, and escalate
    {8, 10, 'L'}, {13, 5, 'L'}, {20, 5, 'L'},  // nobody answers; 13 and 20 send at once
    {-1, 5, 'L'},                              // the backup, rung for escalated SMS
};
constexpr uint64_t kLongestCall = 31500;        // ms from ATD to the call's end: 30 s and a pass
constexpr uint64_t kCallLate = 30 * 60 * 1000;  // a call due waits at most this for the queue

// A destination whose batches go at once (delay 0 or negative): its SMS is queued in the pass
// that offered its alarm.
bool Prompt(int j) {
  return j % 7 == 0 || j % 7 == 6;
}

// Cheap deterministic scatter.
uint32_t Hash(uint64_t value) {
  value ^= value >> 33;
  value *= 0xff51afd7ed558ccdull;
  value ^= value >> 33;
  return static_cast<uint32_t>(value);
}

// An alarm SMS the phone took for a destination that escalates.
struct RuledSms {
  int j;
  int firstAlarm;  // the first alarm id in its text
  uint64_t deliveredAt;
  bool answered;  // its engineer answers it within a minute
  bool escalated;
};

struct Destination {
  std::string number;
  uint16_t areas;
  int priority;
  bool enableTag;
};

// A RING= rule and what the test saw of its number, in time order.
struct RingRule {
  std::string number;
  uint64_t minutes;  // ms
  int priority;
  std::vector<uint64_t> sms;          // alarm SMS of its priority the phone took for it
  std::vector<uint64_t> heard;        // SMS from it that Kelvor read
  std::vector<uint64_t> calls;        // ATD to it
  std::vector<uint64_t> undelivered;  // reports of an SMS to it not delivered, said
  int lastUrgency = 3;                // of the last SMS the phone took for it
};

// How a call ended, as Kelvor's line says.
enum class CallSeen {
  kUnderWay,
  kRangOut,
  kBusy,
  kNoAnswer,
  kAnswered,
  kEnded,
  kRefused,
  kCutShort
};
constexpr int kCallOutcomes = 8;

struct CallMade {
  int rule;
  bool standby;  // made from the standby phone
  uint64_t dialled;
  uint64_t ended;        // Kelvor's line of its end
  uint64_t firstPrompt;  // the first alarm for a prompt destination offered meanwhile
  CallSeen seen;
};

// The world around the program: its clock, the plan of alarms and faults, and what was
// seen, all sized up front so that the heap of a long run stays flat.
class World {
 public:
  World() : clock(kStartTick) {
    const char* delays[] = {"0", "5", "30", "60", "300", "7200", "-5"};
    for (int j = 0; j < kDestinations; ++j) {
      Destination d;
      char number[16];
      snprintf(number, sizeof number, "+447900000%02d", j);
      d.number = number;
      d.areas = static_cast<uint16_t>(1u << (j % 16) | 1u << ((j * 7 + 3) % 16));
      d.priority = j % 3;
      d.enableTag = j % 5 == 0;
      destinations.push_back(d);
      std::string areas;
      for (int bit = 0; bit < 16; ++bit)
        if (d.areas & (1u << bit)) areas += static_cast<char>('A' + bit);
      std::string spec = "DEST=" + d.number + "," + areas + "," + "HML"[d.priority] + "," +
                         delays[j % 7] + "," + (j % 2 ? "F" : "S");
      if (d.enableTag) spec += ",EN:E" + std::to_string(j) + ".F_CV";
      arguments.push_back(spec);
      if (Escalates(j)) arguments.push_back("ESCALATE=" + d.number + ",10," + kBackup);
      if (Shift(j) != 0) arguments.push_back("HOURS=" + d.number + kShiftHours[Shift(j)]);
    }
    arguments.push_back(std::string("HEARTBEAT=") + kHeartbeat + ",60");
    AddRingRules();
    ruled.reserve(40000);
    answersFrom.assign(kDestinations, std::vector<uint64_t>());
    for (auto& answers : answersFrom) answers.reserve(8000);
    alarmAreas.assign(kMaxAlarms, 0);
    alarmPriority.assign(kMaxAlarms, 0);
    alarmRouted.assign(kMaxAlarms, 0);
    offeredAt.assign(kMaxAlarms, 0);
    takenBy.assign(kMaxAlarms, 0);
    delivered.assign(static_cast<size_t>(kMaxAlarms) * kDestinations, kOnItsWay);
    countedAt.assign(kDestinations, 0);
    countedGivenUp.assign(kDestinations, 0);
    lastDelivered.assign(kDestinations, std::string());
    for (std::string& text : lastDelivered) text.reserve(256);
    lastWritten.reserve(256);
    for (std::string& text : lastConfirmed) text.reserve(512);
    heardConfirmed.assign(1u << 17, 0);
  }

  // Kelvor heard the phone on the standby's port (or the main one's) confirm its last SMS.
  void ConfirmationHeard(bool standby) {
    const std::string& sms = lastConfirmed[standby ? 1 : 0];
    // Alarm texts are each of their own, but for the backup's: one alarm escalated from two
    // destinations ends alike.
    if (sms.find("ALM") == std::string::npos || sms.rfind(kBackup, 0) == 0) return;
    uint64_t hash = std::hash<std::string>()(sms) | 1;
    size_t mask = heardConfirmed.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
      if (heardConfirmed[at] == hash) {
        ++confirmedTwice;
        return;
      }
      if (heardConfirmed[at] == 0) {
        heardConfirmed[at] = hash;
        return;
      }
    }
  }

  uint64_t Elapsed() const { return clock.slept(); }

  void AddRingRules() {
    for (const RingPlan& plan : kRingPlans) {
      RingRule rule;
      rule.number = plan.j < 0 ? kBackup : destinations[plan.j].number;
      rule.minutes = plan.minutes * kMinute;
      rule.priority = static_cast<int>(strchr(kPriorities, plan.priority) - kPriorities);
      std::string spec = "RING=" + rule.number + "," + std::to_string(plan.minutes);
      if (plan.priority != 'L') spec += std::string(",") + plan.priority;
      arguments.push_back(spec);
      rule.sms.reserve(8000);
      rule.heard.reserve(8000);
      rule.calls.reserve(8000);
      rings.push_back(std::move(rule));
    }
    calls.reserve(20000);
  }
  int RingOf(const char* number) const {
    for (size_t r = 0; r < rings.size(); ++r) {
      if (rings[r].number == number) return static_cast<int>(r);
    }
    return -1;
  }
  static int DestinationOf(const std::string& number) {
    if (number.rfind("+44790000", 0) != 0) return -1;
    int j = atoi(number.c_str() + strlen("+44790000"));
    return j >= 0 && j < kDestinations ? j : -1;
  }

  // The most urgent priority among the alarms an SMS names and counts; 3 for none.
  int Urgency(const std::string& text) const {
    int urgency = 3;
    for (size_t at = text.find("ALM"); at != std::string::npos; at = text.find("ALM", at + 3)) {
      int id = atoi(text.c_str() + at + 3);
      if (id >= 0 && id < alarms) urgency = std::min<int>(urgency, alarmPriority[id]);
    }
    size_t more = text.rfind(" more alarm");
    size_t open = more == std::string::npos ? more : text.find('(', more);
    if (open != std::string::npos && open + 1 < text.size() && text[open + 1] != '\0') {
      const char* letter = strchr(kPriorities, text[open + 1]);
      if (letter != nullptr)
        urgency = std::min<int>(urgency, static_cast<int>(letter - kPriorities));
    }
    return urgency;
  }
  // An SMS the phone took: an alarm SMS of a rule's priority, or an escalated one, starts its
  // minutes unless they run already.
  // A text of UCS-2 the queue sent as several SMS goes on in the next: each of them carries
  // the urgency of the whole.
  void RingSmsTaken(const std::string& number, const std::string& text) {
    int r = RingOf(number.c_str());
    if (r < 0 || text.rfind("Kelvor", 0) == 0) return;
    int urgency = text.rfind("No answer from ", 0) == 0 ? -1 : Urgency(text);
    if (charset && !BeginsAnSms(text)) urgency = std::min(urgency, rings[r].lastUrgency);
    rings[r].lastUrgency = urgency;
    if (urgency <= rings[r].priority) rings[r].sms.push_back(Elapsed());
  }
  // An escalation, a batch of full messages or of short ones ("<day>/<hh:mm>") begins so.
  static bool BeginsAnSms(const std::string& text) {
    int day = 0, hour = 0, minute = 0;
    return text.rfind("No answer from ", 0) == 0 || text.rfind("Fix Alarms", 0) == 0 ||
           sscanf(text.c_str(), "%d/%d:%d", &day, &hour, &minute) == 3;
  }

  void Dialled(const std::string& number, bool standbyPort) {
    if (calling >= 0) ++callsOverlapping;
    int r = RingOf(number.c_str());
    if (r < 0) {
      ++callsToStrangers;
    } else {
      rings[r].calls.push_back(Elapsed());
    }
    calls.push_back({r, standbyPort, Elapsed(), 0, 0, CallSeen::kUnderWay});
    calling = static_cast<int>(calls.size()) - 1;
    checkedAfterCall = false;
  }
  void CallEnded(const char* number, CallSeen seen) {
    if (calling < 0 || calls[calling].rule < 0 || rings[calls[calling].rule].number != number) {
      ++endsUnmatched;
      return;
    }
    CallMade& call = calls[calling];
    call.ended = Elapsed();
    call.seen = seen;
    calling = -1;
    ++outcomes[static_cast<int>(seen)];
    if (seen != CallSeen::kCutShort) longestCall = std::max(longestCall, call.ended - call.dialled);
  }
  // An alarm offered during a call that a prompt destination takes: its SMS waits for the call.
  void OfferedDuringCall(int id) {
    if (calling < 0 || calls[calling].firstPrompt != 0) return;
    for (int j = 0; j < kDestinations; ++j) {
      if (Prompt(j) && Takes(j, id)) {
        calls[calling].firstPrompt = Elapsed();
        return;
      }
    }
  }
  // An SMS text at a port's prompt: none on the port of a call under way, none to a prompt
  // destination whose alarms were all offered before the last call began (it was queued
  // then), and the first after a call that held SMS goes at once.
  void TextWritten(const std::string& to, const std::string& text, bool standbyPort) {
    if (calling >= 0 && calls[calling].standby == standbyPort) ++textsDuringCall;
    if (calling >= 0 && calls[calling].standby != standbyPort) ++textsBesideCall;
    if (calls.empty()) return;
    const CallMade& last = calls.back();
    if (last.ended != 0 && !checkedAfterCall) {
      checkedAfterCall = true;
      AfterCall(last);
    }
    int j = DestinationOf(to);
    if (j < 0 || !Prompt(j) || text.rfind("Kelvor", 0) == 0) return;
    uint64_t newest = 0;
    bool named = false;
    for (size_t at = text.find("ALM"); at != std::string::npos; at = text.find("ALM", at + 3)) {
      int id = atoi(text.c_str() + at + 3);
      if (id < 0 || id >= alarms || !Takes(j, id)) continue;
      named = true;
      newest = std::max(newest, offeredAt[id]);
    }
    if (named && newest + 2000 < last.dialled) ++heldByCall;
  }
  void AfterCall(const CallMade& call) {
    uint64_t now = Elapsed();
    if (call.firstPrompt == 0 || call.seen == CallSeen::kCutShort ||
        !NormalThroughout(call.dialled, now)) {
      return;
    }
    ++callsThatHeldSms;
    longestCallDelay = std::max(longestCallDelay, now - call.firstPrompt);
    if (now - call.ended > 3000) ++slowAfterCall;
  }

  // Faults come in two-hour slots; the first slot and the last day are clean.
  uint32_t Slot() const { return SlotAt(Elapsed()); }
  static uint32_t SlotAt(uint64_t at) { return Hash(at / (2 * kHour) + 7) % 12; }
  bool Clean() const { return CleanAt(Elapsed()); }
  static bool CleanAt(uint64_t at) {
    return at < 2 * kHour || (at >= kQuietEnd && at < kFinalBurst);
  }
  PhoneMode Mode() const { return ModeAt(Elapsed()); }
  // The phone's mode all the way from `from` to `to`.
  static bool NormalThroughout(uint64_t from, uint64_t to) {
    for (uint64_t at = from; at < to; at = (at / (2 * kHour) + 1) * (2 * kHour)) {
      if (ModeAt(at) != PhoneMode::kNormal) return false;
    }
    return ModeAt(to) == PhoneMode::kNormal;
  }
  static PhoneMode ModeAt(uint64_t at) {
    if (at >= kFinalBurst) return PhoneMode::kSilent;
    if (CleanAt(at)) return PhoneMode::kNormal;
    switch (SlotAt(at)) {
      case 0:
        return PhoneMode::kSilent;
      case 1:
        return PhoneMode::kRefusing;
      case 2:
        return PhoneMode::kFlooding;
      case 4:
        return PhoneMode::kOffNetwork;
      default:
        return PhoneMode::kNormal;
    }
  }
  bool QueueFailing() const { return !Clean() && Elapsed() < kFinalBurst && Slot() == 3; }
  // A healthy phone for the last 20 minutes: the modem must have come back by then.
  bool Healthy() const {
    return Mode() == PhoneMode::kNormal && Elapsed() % (2 * kHour) >= 20 * 60 * 1000;
  }

  // Whether destination j took alarm `id`, as Offered found.
  bool Takes(int j, int id) const { return (takenBy[id] >> j & 1) != 0; }
  // The destinations that take alarm `id` offered now: those on duty its filters pass, or,
  // when it passes none of them, those off duty it passes.
  void Offered(int id) {
    uint32_t passes = 0, onDuty = 0;
    for (int j = 0; j < kDestinations; ++j) {
      if (!Filters(j, id)) continue;
      passes |= 1u << j;
      if (OnDuty(j, Elapsed())) onDuty |= 1u << j;
    }
    takenBy[id] = onDuty != 0 ? onDuty : passes;
    if (onDuty == 0 && passes != 0) ++noOneOnDuty;
    if (onDuty != passes && onDuty != 0) ++offDutyPassedOver;
  }
  // Whether destination j's filters pass alarm `id`: its priority, its areas and its enable tag.
  bool Filters(int j, int id) const {
    const Destination& d = destinations[j];
    if (!alarmRouted[id] || alarmPriority[id] > d.priority) return false;
    if ((alarmAreas[id] & d.areas) == 0) return false;
    return !d.enableTag || (EnableReadFails(j, id) == false && EnableValue(j, id) != 0.0f);
  }
  static bool EnableReadFails(int j, int id) { return (id + j) % 11 == 0; }
  static float EnableValue(int j, int id) { return (id + j) % 4 == 0 ? 0.0f : 1.0f; }

  test::VirtualClock clock;
  std::vector<Destination> destinations;
  std::vector<std::string> arguments;
  std::vector<uint16_t> alarmAreas;
  std::vector<int8_t> alarmPriority;
  std::vector<uint8_t> alarmRouted;
  std::vector<uint64_t> offeredAt;
  std::vector<uint32_t> takenBy;  // bit j: destination j took alarm `id`
  int noOneOnDuty = 0;            // alarms only destinations off duty took
  int offDutyPassedOver = 0;      // alarms a destination off duty would have taken
  int noOneOnDutyLines = 0;
  int dutyChanges = 0;
  // What became of alarm `id` at destination j, [id * 31 + j], as far as its name shows.
  enum Fate : uint8_t { kOnItsWay, kNamedDelivered, kNamedGivenUp };
  std::vector<uint8_t> delivered;
  std::vector<int> countedAt;       // alarms the SMS a destination's phone took counted, unnamed
  std::vector<int> countedGivenUp;  // alarms counted in the SMS given up after four sendings
  std::vector<std::string> lastDelivered;  // each destination's, to count a resent SMS once
  std::string lastWritten;                 // the text that last went out at the prompt
  std::string lastWrittenTo;
  std::vector<RuledSms> ruled;
  std::vector<std::vector<uint64_t>> answersFrom;  // when each destination's answers came
  // CHARSET=AUTO: descriptions with degree signs and umlauts, phones without 8859-1, and
  // a standby slow to select a character set.
  bool charset = false;
  int alarms = 0;  // ids handed out so far
  int currentAlarm = 0;

  // Findings along the way.
  int misrouted = 0;
  int givenUp = 0;    // "dropped after 4 failed sendings"
  int queueLost = 0;  // "Message queue full - SMS to ... lost"
  int resent = 0;     // an SMS the phone took twice
  // A confirmation Kelvor heard for an alarm SMS whose confirmation it had heard before: sent
  // twice, by one phone or both, and another SMS perhaps removed in its place.
  int confirmedTwice = 0;
  std::string lastConfirmed[2];          // by the main phone and the standby: "number text"
  int deliveredBy[2] = {};               // SMS each phone took
  std::vector<uint64_t> heardConfirmed;  // hashes of those heard, an open table sized up front
  int questionMarks = 0;                 // in the texts delivered, where none was written
  // DELIVERY=: the final reports that reached Kelvor's port, and the lines that said them.
  bool delivery = false;
  int reportsArrived = 0, reportsFailed = 0, reportsMissing = 0;
  int deliveredLines = 0, undeliveredLines = 0, unmatchedLines = 0, noReportLines = 0;
  int heartbeats = 0;  // taken by the phone
  int heartbeatsWaited = 0;
  int longSms = 0;
  int deliveredSms = 0;
  int maxQueued = 0;
  int statusReports = 0;
  int timeouts = 0;
  int timeoutsWhenHealthy = 0;
  bool heldForNetwork = false;  // an SMS waits for the network, and none went or was dropped since
  int registeredAgain = 0;
  int heldWhenHealthy = 0;  // status reports that found an SMS held for a network long back
  int truncations = 0;
  int escalatedSms = 0;  // alarm SMS the backup received
  int acknowledged = 0;  // confirmations the engineers received
  int escalationFull = 0;
  int badEscalations = 0;  // to the backup, of no SMS a destination with a rule took
  int takeovers = 0;       // by the standby
  int discardedSms = -1;   // from the shutdown line, when there was one
  int discardedBatches = -1;
  int64_t liveAtDayTwo = -1;
  int64_t maxLiveAfterDayTwo = 0;

  // Wake-up calls.
  std::vector<RingRule> rings;
  std::vector<CallMade> calls;
  int calling = -1;  // the call under way, by Kelvor's lines
  bool checkedAfterCall = false;
  int outcomes[kCallOutcomes] = {};
  int wakeUpLines = 0;
  int wakeUpLinesWrong = 0;   // with another rule's minutes, or no SMS
  int callsOverlapping = 0;   // ATD while Kelvor's last call had not ended
  int phoneStillCalling = 0;  // ATD while the phone's call was under way
  int callsToStrangers = 0;
  int endsUnmatched = 0;
  int textsDuringCall = 0;
  int heldByCall = 0;       // an SMS queued before a call went after it
  int slowAfterCall = 0;    // SMS queued during a call did not go as it ended
  int textsBesideCall = 0;  // an SMS text on the other phone's port during a call
  int callsThatHeldSms = 0;
  int answeredIncoming = 0;  // ATA
  int incomingCalls = 0;
  int incomingWhileSending = 0;
  int incomingWhileCalling = 0;
  int ringsAfterReads = 0;  // a ring after a read of the SMS received, before another command
  uint64_t longestCall = 0;
  uint64_t longestCallDelay = 0;  // from an alarm offered during a call to the next text
};

// Which alarms an SMS counts: "+37 more alarms (H 2, M 5, L 30) to 10:09", its last line.
// The summary line ends the batch; a batch the queue sent as several SMS of UCS-2 may begin
// one of them with it.
int CountedIn(const std::string& text) {
  size_t more = text.rfind("\n+");
  more = more == std::string::npos ? 0 : more + 1;
  int counted = 0;
  if (sscanf(text.c_str() + more, "+%d more alarm", &counted) != 1) return 0;
  return counted;
}

// Keeps only the line being written; each line is read for the reports the test follows.
class SoakConsole : public test::NullConsole {
 public:
  explicit SoakConsole(World& world) : world_(world) {}
  void Write(const char* text, size_t length) override {
    for (size_t i = 0; i < length; ++i) {
      if (text[i] == '\n' && used_ > 0 && line_[used_ - 1] == '\r') {
        line_[used_ - 1] = '\0';
        Line(line_);
        used_ = 0;
      } else if (used_ + 1 < sizeof line_) {
        line_[used_++] = text[i];
      }
    }
  }

 private:
  void Line(const char* line) {
    int queued;
    if (sscanf(line, "Messages in Que = %d", &queued) == 1) {
      ++world_.statusReports;
      if (world_.Healthy() && world_.heldForNetwork) ++world_.heldWhenHealthy;
      if (queued > world_.maxQueued) world_.maxQueued = queued;
    }
    if (strcmp(line, "Timeout") == 0) {
      ++world_.timeouts;
      if (world_.Healthy()) ++world_.timeoutsWhenHealthy;
    }
    if (strcmp(line, "truncating message") == 0) ++world_.truncations;
    if (strncmp(line, "no one on duty for ", 19) == 0) ++world_.noOneOnDutyLines;
    if (strstr(line, " goes on duty") || strstr(line, " goes off duty")) ++world_.dutyChanges;
    if (strstr(line, " waits for the network") != nullptr) world_.heldForNetwork = true;
    // The standby's lines of its SMS, as the main phone's.
    const char* own = strncmp(line, "Standby ", 8) == 0 ? line + 8 : line;
    if (strcmp(own, "Successfull send") == 0) world_.ConfirmationHeard(own != line);
    if (strcmp(own, "Successfull send") == 0 || strstr(line, " dropped after ") != nullptr) {
      world_.heldForNetwork = false;  // the SMS held went, or was refused for another reason
    }
    if (strncmp(line, "Standby phone ", 14) == 0) ++world_.takeovers;
    if (strcmp(line, "Network registration: registered") == 0) ++world_.registeredAgain;
    if (strncmp(line, "Escalation full", 15) == 0) ++world_.escalationFull;
    if (strncmp(own, "SMS to ", 7) == 0) {
      world_.deliveredLines += strstr(own, " delivered after ") != nullptr;
      char number[32];
      if (strstr(own, " not delivered - ") != nullptr &&
          sscanf(own, "SMS to %31[^ ]", number) == 1) {
        ++world_.undeliveredLines;
        int r = world_.RingOf(number);
        if (r >= 0) world_.rings[r].undelivered.push_back(world_.Elapsed());
      }
      world_.noReportLines += strstr(own, " - no report in ") != nullptr;
    }
    world_.unmatchedLines += strstr(own, " matches no SMS sent - dropped") != nullptr;
    sscanf(line, "Shutdown discards SMS queued: %d, alarm batches pending: %d",
           &world_.discardedSms, &world_.discardedBatches);
    if (strncmp(line, "Message queue full - SMS to ", 28) == 0 && strstr(line, " lost")) {
      ++world_.queueLost;
    }
    if (strncmp(line, "Heartbeat to ", 13) == 0 && strstr(line, " waits")) {
      ++world_.heartbeatsWaited;
    }
    Calls(line, own);
    // "SMS to <number> dropped after 4 failed sendings": the text that went out last.
    if (strncmp(own, "SMS to ", 7) == 0 && strstr(own, " dropped after ") != nullptr) {
      ++world_.givenUp;
      GivenUp();
    }
  }

  // A call begun or ended (`own`: a line of either phone's), and the SMS Kelvor read from a
  // number with a rule.
  void Calls(const char* line, const char* own) {
    char number[32];
    unsigned unanswered = 0, minutes = 0;
    if (sscanf(line, "Wake-up call to %31[^:]: %u alarm SMS without an answer in %u min", number,
               &unanswered, &minutes) == 3) {
      ++world_.wakeUpLines;
      int r = world_.RingOf(number);
      if (r < 0 || unanswered == 0 || minutes * kMinute != world_.rings[r].minutes) {
        ++world_.wakeUpLinesWrong;
      }
      return;
    }
    if (sscanf(line, "SMS from %31[^ ,]", number) == 1) {
      int r = world_.RingOf(number);
      if (r >= 0) world_.rings[r].heard.push_back(world_.Elapsed());
      return;
    }
    if (sscanf(own, "Call to %31[^ ]", number) != 1) return;
    static const struct {
      const char* words;
      CallSeen seen;
    } kEnds[] = {
        {" not answered in 30 s - hung up", CallSeen::kRangOut},
        {" - busy", CallSeen::kBusy},
        {" - no answer", CallSeen::kNoAnswer},
        {" answered - hung up, it acknowledges nothing", CallSeen::kAnswered},
        {" ended before it was answered", CallSeen::kEnded},
        {" refused by the phone - has it voice service? No call for an hour", CallSeen::kRefused},
        {" cut short - the phone was reset", CallSeen::kCutShort}};
    const char* rest = own + strlen("Call to ") + strlen(number);
    for (const auto& end : kEnds) {
      if (strcmp(rest, end.words) == 0) {
        world_.CallEnded(number, end.seen);
        return;
      }
    }
    ++world_.endsUnmatched;
  }

  // The alarms an SMS given up names and counts, unless its phone took it once after all.
  void GivenUp() {
    int j = atoi(world_.lastWrittenTo.c_str() + strlen("+44790000"));
    if (world_.lastWrittenTo.rfind("+44790000", 0) != 0 || j < 0 || j >= kDestinations) return;
    if (world_.lastDelivered[j] == world_.lastWritten) return;
    const std::string& text = world_.lastWritten;
    for (size_t at = text.find("ALM"); at != std::string::npos; at = text.find("ALM", at + 3)) {
      int id = atoi(text.c_str() + at + 3);
      if (id < 0 || id >= world_.alarms || !world_.Takes(j, id)) continue;
      world_.delivered[static_cast<size_t>(id) * kDestinations + j] = World::kNamedGivenUp;
    }
    world_.countedGivenUp[j] += CountedIn(text);
  }

  World& world_;
  char line_[512];
  size_t used_ = 0;
};

// The alarm queue: bursts at scattered times, one of them across the tick wrap; hours in
// which the queue read fails (alarms wait in the queue meanwhile); the tag database.
class SoakScada : public test::FakeScada {
 public:
  explicit SoakScada(World& world) : world_(world) {}

  int32_t ScadaRunning() override { return world_.Elapsed() < kRunLength ? 1 : 0; }

  int16_t ReadAlarmQueue(int32_t, AlarmRecord& record) override {
    uint64_t now = world_.Elapsed();
    if (world_.QueueFailing()) {
      // Now and then an illegal status, which the loop follows without a pause.
      return (++failures_ % 50 == 0) ? int16_t{1711} : int16_t{-1};
    }
    if (now >= nextBurst_ && now < kQuietEnd) {
      waiting_ += 1 + static_cast<int>(Hash(now) % 40);
      nextBurst_ = now + 15 * 60 * 1000 + Hash(now + 1) % (4 * kHour);
    }
    if (!wrapBurstDone_ && now + 3000 >= kWrap) {
      waiting_ += 12;  // a burst whose batches are pending when the tick wraps
      wrapBurstDone_ = true;
    }
    RaiseDuringCall(now);
    if (!finalBurstDone_ && now >= kFinalBurst) {
      waiting_ += 5;  // still queued or pending when the SCADA system stops
      finalBurstDone_ = true;
    }
    if (waiting_ == 0 || world_.alarms >= kMaxAlarms) return kQueueEmpty;
    --waiting_;
    record = Next();
    return kAlarmDelivered;
  }

  int16_t ReadTagText(const char*, const char* tag, const char* field, char* text) override {
    int id = atoi(tag + 1);  // tag "T<id>"
    if (strcmp(field, "A_DESC") == 0) {
      // "ALM<id> " and a filler to 8..47 characters, now and then with Ctrl-Z or ESC.
      int length = snprintf(text, kTagTextSize, "ALM%d ", id);
      int wanted = 8 + id % 40;
      for (int i = length; i < wanted && i < kTagTextSize - 1; ++i) text[i] = 'a' + i % 26;
      text[wanted > length ? wanted : length] = '\0';
      if (id % 17 == 0 && wanted > length + 2) text[length + 1] = 26;
      if (id % 19 == 0 && wanted > length + 3) text[length + 2] = 27;
      // Code page 1252: a degree sign, which only UCS-2 carries, and umlauts, which the GSM
      // set carries but IRA does not.
      if (world_.charset && id % 3 == 0 && wanted > length + 4) text[length + 3] = '\xB0';
      if (world_.charset && id % 4 == 0 && wanted > length + 5) text[length + 4] = '\xFC';
      return 0;
    }
    snprintf(text, kTagTextSize, "   %d.5", id % 1000);
    return 0;
  }

  int16_t ReadTagNumber(const char*, const char* tag, const char*, float* value) override {
    int j = atoi(tag + 1);  // enable tag "E<j>"
    int id = world_.currentAlarm;
    if (World::EnableReadFails(j, id)) return 1;
    *value = World::EnableValue(j, id);
    return 0;
  }

 private:
  // An alarm or three now and then while Kelvor calls: they go once the call ends.
  void RaiseDuringCall(uint64_t now) {
    if (world_.calling < 0 || world_.calling == raisedFor_ || now >= kQuietEnd) return;
    uint32_t h = Hash(static_cast<uint64_t>(world_.calling) + 11);
    if (h % 3 != 0 || now < world_.calls[world_.calling].dialled + 3000 + h / 3 % 25000) return;
    waiting_ += 1 + static_cast<int>(h / 100 % 3);
    raisedFor_ = world_.calling;
  }

  AlarmRecord Next() {
    int id = world_.alarms++;
    world_.currentAlarm = id;
    uint32_t h = Hash(static_cast<uint64_t>(id) * 31 + 5);
    test::AlarmBuilder alarm;
    alarm.areas = static_cast<uint16_t>(1u << (h % 16) | (h & 0x100 ? 1u << ((h >> 4) % 16) : 0));
    alarm.priority = static_cast<int8_t>((h >> 9) % 3);
    alarm.status = static_cast<int8_t>(1 + (h >> 12) % 16);
    alarm.routing = id % 23 == 7 ? 0 : 1;
    alarm.day = static_cast<int8_t>(1 + id % 28);
    alarm.hour = static_cast<int8_t>(id % 24);
    alarm.minute = static_cast<int8_t>(id % 60);
    char name[32];
    snprintf(name, sizeof name, "T%d", id);
    alarm.tag = name;
    alarm.text = std::string(name) + " alarm text of the record";
    world_.alarmAreas[id] = alarm.areas;
    world_.alarmPriority[id] = alarm.priority;
    world_.alarmRouted[id] = alarm.routing;
    world_.offeredAt[id] = world_.Elapsed();
    world_.Offered(id);
    world_.OfferedDuringCall(id);
    return alarm.Build();
  }

  World& world_;
  uint64_t nextBurst_ = 10 * 60 * 1000;
  int waiting_ = 0;
  bool wrapBurstDone_ = false;
  bool finalBurstDone_ = false;
  int failures_ = 0;
  int raisedFor_ = -1;  // the call alarms were last raised during
};

// The S key once an hour, waiting until it is read; the heap is looked at then too.
class SoakKeyboard : public Keyboard {
 public:
  explicit SoakKeyboard(World& world) : world_(world) {}
  bool KeyWaiting() override {
    if (pressed_) return true;
    if (world_.Elapsed() < nextReport_) return false;
    pressed_ = true;
    nextReport_ += kHour;
    int64_t live = test::CurrentHeapCounts().live;
    if (world_.Elapsed() >= 2 * kDay) {
      if (world_.liveAtDayTwo < 0) world_.liveAtDayTwo = live;
      if (live > world_.maxLiveAfterDayTwo) world_.maxLiveAfterDayTwo = live;
    }
    return true;
  }
  int ReadKey() override {
    pressed_ = false;
    return 'S';
  }

 private:
  World& world_;
  uint64_t nextReport_ = kHour;
  bool pressed_ = false;
};

// The serial port with a simulated phone behind it, in the mode the plan gives: silent,
// refusing texts (a restart does not help), or flooding the line with RING; a standby
// phone is well until the last burst, when it is silent too. It answers a command in 50 ms and a
// text in 300 ms, and its answers end the loop's sleeps as they arrive; the flood fills every read
// but wakes no sleep.
class PhonePort : public test::FakeSerialPort {
 public:
  PhonePort(World& world, bool standby) : world_(world), standby_(standby), phone_(Options(world)) {
    recording = false;
    clock = &world.clock;
    onWrite = [this](const std::string& write) { Take(write); };
    phone_.onDelivered = [this](const sim::DeliveredSms& sms) { Delivered(sms); };
    phone_.onEvent = [this](const std::string& event) { Stored(event); };
    phone_.onDialled = [this](const std::string&) { PlanCall(); };
    for (int& j : senderAt_) j = -1;
    caller_.reserve(32);
  }

  // Reports reach the port as it is read: a purge between two reads would drop them, as it
  // may a real port's bytes, and the invariant is of the reports Kelvor could read.
  bool Read(char* buffer, uint32_t capacity, uint32_t* count) override {
    Follow();
    if (world_.delivery) DeliverReports();
    return FakeSerialPort::Read(buffer, capacity, count);
  }
  bool Write(const char* data, uint32_t length) override {
    Follow();
    return FakeSerialPort::Write(data, length);
  }

 private:
  static constexpr size_t kSmsLimit = 159;
  static constexpr uint32_t kSlowSetDelay = 9000;  // ms the standby takes to select a set

  // Under CHARSET=AUTO, phones without 8859-1, as many modules are.
  static sim::PhoneOptions Options(const World& world) {
    sim::PhoneOptions options;
    if (world.charset) options.charsets = {"GSM", "IRA", "UCS2"};
    return options;
  }
  // In the alarms' descriptions, each on a line of its own beginning "ALM": an unknown
  // status shows as "??" on a line of its own.
  static int QuestionMarksInDescriptions(const std::string& text) {
    int count = 0;
    for (size_t at = text.find("ALM"); at != std::string::npos; at = text.find("ALM", at + 3)) {
      size_t end = text.find('\n', at);
      count += static_cast<int>(std::count(
          text.begin() + static_cast<long>(at),
          end == std::string::npos ? text.end() : text.begin() + static_cast<long>(end), '?'));
    }
    return count;
  }
  // The characters of a text in UTF-8.
  static size_t Characters(const std::string& text) {
    size_t count = 0;
    for (char byte : text) count += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
    return count;
  }
  static constexpr uint32_t kAnswerDelay = 50;  // ms
  static constexpr uint32_t kTextDelay = 300;   // ms

  // A phone switched off loses what it was doing, its calls included; one off the network
  // refuses texts with 331 and says it is searching, until the network is back.
  void Follow() {
    PhoneMode mode = world_.Mode();
    if (standby_) mode = world_.Elapsed() >= kFinalBurst ? PhoneMode::kSilent : PhoneMode::kNormal;
    if (mode_ == PhoneMode::kSilent && mode != PhoneMode::kSilent) phone_.Reset();
    if (mode == PhoneMode::kSilent && mode_ != PhoneMode::kSilent) {
      phone_.EndCall(sim::CallEnd::kOtherSide);
      phone_.StopRinging();
      ringsLeft_ = 0;
    }
    bool away = mode == PhoneMode::kOffNetwork;
    if (away != (mode_ == PhoneMode::kOffNetwork)) {
      std::string unasked = phone_.SetNetwork(away ? 2 : 1);
      // With reports asked, the network gives what it held once the phone is back on it.
      if (world_.delivery && !unasked.empty()) Arrive(unasked);
    }
    mode_ = mode;
    idle = mode_ == PhoneMode::kFlooding ? "\r\nRING\r\n" : "";
    DeliverAnswers();
    FollowCall();
    FollowIncoming();
  }

  // What becomes of each call Kelvor makes: most ring out, the rest are busy, given up by the
  // network, answered (and left to Kelvor, or ended by the other side at once) or rejected.
  void PlanCall() {
    uint32_t h = Hash(++dialled_ * 2 + (standby_ ? 1 : 0));
    uint64_t now = world_.Elapsed();
    uint64_t after = h / 20;
    answerAt_ = endAt_ = 0;
    switch (h % 20) {
      case 0:
      case 1:
        Ends(now + 2000 + after % 6000, sim::CallEnd::kBusy);
        break;
      case 2:
      case 3:
        Ends(now + 15000 + after % 13000, sim::CallEnd::kNoAnswer);
        break;
      case 4:
      case 5:
        answerAt_ = now + 4000 + after % 24000;
        break;
      case 6:
        answerAt_ = now + 4000 + after % 20000;
        Ends(answerAt_ + 400, sim::CallEnd::kOtherSide);
        break;
      case 7:
        Ends(now + 3000 + after % 10000, sim::CallEnd::kOtherSide);
        break;
      default:
        break;
    }
  }
  void Ends(uint64_t at, sim::CallEnd how) {
    endAt_ = at;
    endHow_ = how;
  }
  void FollowCall() {
    uint64_t now = world_.Elapsed();
    if (!phone_.Call().underWay) answerAt_ = endAt_ = 0;
    if (answerAt_ != 0 && now >= answerAt_) {
      phone_.AnswerCall();
      answerAt_ = 0;
    }
    if (endAt_ != 0 && now >= endAt_) {
      std::string code = phone_.EndCall(endHow_);
      endAt_ = 0;
      if (mode_ != PhoneMode::kSilent) Arrive(code);
    }
  }

  // Someone calls the phone now and then: a stranger, an engineer, a withheld number; it
  // rings a few times, 4 s apart, and the caller gives up.
  void FollowIncoming() {
    uint64_t now = world_.Elapsed();
    if (ringsLeft_ > 0 && now >= nextRing_) {
      if (--ringsLeft_ == 0) {
        phone_.StopRinging();
      } else {
        RingOnce();
      }
    }
    if (now >= nextCaller_) {
      nextCaller_ = now + 20 * kMinute + Hash(now + 3) % (3 * kHour);
      Ring();
    }
  }
  void Ring() {
    if (mode_ == PhoneMode::kSilent || ringsLeft_ > 0) return;
    uint32_t h = Hash(++incoming_ * 3 + (standby_ ? 1 : 0));
    const int kEngineers[] = {1, 8};  // one who answers SMS, one who never does
    caller_ = h % 4 == 0   ? "+447700900123"
              : h % 4 == 1 ? ""
                           : world_.destinations[kEngineers[h % 2]].number;
    ringsLeft_ = 2 + static_cast<int>(h / 4 % 5);
    ++world_.incomingCalls;
    RingOnce();
  }
  void RingOnce() {
    nextRing_ = world_.Elapsed() + 4000;
    world_.ringsAfterReads += reading_;
    std::string bytes = phone_.Ring(caller_);
    if (!bytes.empty()) Arrive(bytes);
  }

  void Take(const std::string& write) {
    bool text = write.size() > 1 && write.back() == '\x1a';
    // A UCS-2 text goes as four hex digits a character: its length is the delivered one's.
    if (text && !world_.charset && write.size() - 1 > kSmsLimit) ++world_.longSms;
    if (write.rfind("AT+CMGS=\"", 0) == 0) addressed_ = write.substr(9, write.find('"', 9) - 9);
    if (text) {
      world_.lastWritten.assign(write, 0, write.size() - 1);
      world_.lastWrittenTo = addressed_;
      world_.TextWritten(addressed_, world_.lastWritten, standby_);
    }
    reading_ = write.rfind("AT+CMGL=", 0) == 0 || write.rfind("AT+CMGR=", 0) == 0 ||
               write.rfind("AT+CMGD=", 0) == 0;
    if (write.rfind("ATA", 0) == 0) ++world_.answeredIncoming;
    if (write.rfind("ATD", 0) == 0) {
      world_.phoneStillCalling += phone_.Call().underWay && mode_ != PhoneMode::kSilent;
      world_.Dialled(write.substr(3, write.find(';') - 3), standby_);
    }
    if (mode_ == PhoneMode::kSilent) return;
    // A caller now and then while an SMS goes, and while Kelvor's call rings.
    if (write.rfind("AT+CMGS=", 0) == 0 && Hash(++smsCommands_) % 40 == 0) {
      world_.incomingWhileSending += ringsLeft_ == 0;
      Ring();
    }
    if (write == "AT+CLCC\r" && Hash(++polls_ + 77) % 12 == 0) {
      world_.incomingWhileCalling += ringsLeft_ == 0;
      Ring();
    }
    std::string answer;
    if (mode_ == PhoneMode::kRefusing && text) {
      std::string abandoned = write.substr(0, write.size() - 1) + '\x1b';
      phone_.Receive(abandoned.data(), abandoned.size());
      answer = "\r\n+CMS ERROR: 500\r\n";
    } else {
      answer = phone_.Receive(write.data(), write.size());
    }
    uint32_t delay = text ? kTextDelay : kAnswerDelay;
    if (standby_ && write.rfind("AT+CSCS=\"", 0) == 0) delay = kSlowSetDelay;
    if (!answer.empty()) AnswerAfter(delay, answer);
  }

  // The network's report on an SMS that asked for one: 0 after 5 s mostly; pending, then 0
  // 20 min later; 70 after a minute, for an SMS its engineer will not answer; or none.
  void PlanReport(const sim::DeliveredSms& sms) {
    if (!sms.reportWanted) return;
    uint32_t kind = Hash(static_cast<uint64_t>(++reportsPlanned_) * 7919) % 10;
    int j = atoi(sms.number.c_str() + strlen("+44790000"));
    size_t first = sms.text.find("ALM");
    bool answered = j >= 0 && j < kDestinations && Escalates(j) && first != std::string::npos &&
                    Hash(static_cast<uint64_t>(atoi(sms.text.c_str() + first + 3)) * 31 +
                         static_cast<uint64_t>(j)) %
                            3 !=
                        0;
    uint64_t now = world_.Elapsed();
    if (kind == 9) {
      ++world_.reportsMissing;
    } else if (kind == 8) {
      PlanReport(sms, now + 5000, 32);
      PlanReport(sms, now + 20 * kMinute, 0);
    } else if (kind == 7 && !answered) {
      ++world_.reportsFailed;
      PlanReport(sms, now + kMinute, 70);
    } else {
      PlanReport(sms, now + 5000, 0);
    }
  }
  void PlanReport(const sim::DeliveredSms& sms, uint64_t at, int status) {
    for (PendingReport& report : reports_) {
      if (report.used) continue;
      report = {true, at, sms.reference, status, {}};
      snprintf(report.number, sizeof report.number, "%s", sms.number.c_str());
      nextReportAt_ = std::min(nextReportAt_, at);
      return;
    }
  }
  // A report the phone gives while silent is lost, as is one held while it is off the network.
  void DeliverReports() {
    if (world_.Elapsed() < nextReportAt_) return;
    nextReportAt_ = ~0ull;
    for (PendingReport& report : reports_) {
      if (!report.used) continue;
      if (report.at > world_.Elapsed()) {
        nextReportAt_ = std::min(nextReportAt_, report.at);
        continue;
      }
      report.used = false;
      std::string unasked = phone_.Report({report.reference, report.number, "26/12/07,03:12:00+04",
                                           "26/12/07,03:12:05+04", report.status});
      if (mode_ == PhoneMode::kSilent || unasked.empty()) continue;
      Arrive(unasked);
    }
  }

  void Delivered(const sim::DeliveredSms& sms) {
    PlanReport(sms);
    ++world_.deliveredSms;
    world_.RingSmsTaken(sms.number, sms.text);
    world_.lastConfirmed[standby_ ? 1 : 0] = sms.number + " " + sms.text;
    ++world_.deliveredBy[standby_ ? 1 : 0];
    if (Characters(sms.text) > kSmsLimit) ++world_.longSms;
    world_.questionMarks += QuestionMarksInDescriptions(sms.text);
    if (sms.number == kBackup) {
      Escalated(sms.text);
      return;
    }
    if (sms.number == kHeartbeat) {
      world_.heartbeats += sms.text.rfind("Kelvor: ", 0) != 0;  // not a switch of phones
      return;
    }
    int j = atoi(sms.number.c_str() + strlen("+44790000"));
    if (sms.number.rfind("+44790000", 0) != 0 || j < 0 || j >= kDestinations) {
      ++world_.misrouted;
      return;
    }
    // The same text again is the same SMS sent again (none can come between, as it is the
    // queue's head until it is confirmed): its alarms count once.
    if (sms.text == world_.lastDelivered[j]) {
      ++world_.resent;
      return;
    }
    world_.lastDelivered[j] = sms.text;
    for (size_t at = sms.text.find("ALM"); at != std::string::npos;
         at = sms.text.find("ALM", at + 3)) {
      int id = atoi(sms.text.c_str() + at + 3);
      if (id < 0 || id >= world_.alarms || !world_.Takes(j, id)) {
        ++world_.misrouted;
        continue;
      }
      world_.delivered[static_cast<size_t>(id) * kDestinations + j] = World::kNamedDelivered;
    }
    world_.countedAt[j] += CountedIn(sms.text);
    if (sms.text.rfind("Kelvor: ", 0) == 0) ++world_.acknowledged;
    size_t first = sms.text.find("ALM");
    if (!Escalates(j) || first == std::string::npos) return;
    // Its engineer answers two in three, 5 to 60 s after the phone took it.
    int id = atoi(sms.text.c_str() + first + 3);
    for (size_t back = 0; back < 64 && back < world_.ruled.size(); ++back) {
      const RuledSms& sent = world_.ruled[world_.ruled.size() - 1 - back];
      if (sent.j == j && sent.firstAlarm == id) return;  // sent again: the same alarm SMS
    }
    bool answers = Hash(static_cast<uint64_t>(id) * 31 + static_cast<uint64_t>(j)) % 3 != 0;
    world_.ruled.push_back({j, id, world_.Elapsed(), answers, false});
    if (answers) Answer(j, world_.Elapsed() + 5000 + Hash(static_cast<uint64_t>(id)) % 55000);
  }

  // "No answer from +44790000<j> in 10 min\n" and the text the destination was sent. Texts of
  // UCS-2 go as several SMS where they pass 70 characters: one that does not begin so goes on
  // the one before, and names the first alarm if that one named none.
  void Escalated(const std::string& text) {
    ++world_.escalatedSms;
    int j = -1;
    size_t first = text.find("ALM");
    bool head = sscanf(text.c_str(), "No answer from +44790000%d in 10 min\n", &j) == 1;
    if (!head && world_.charset) {
      j = escalatedPart_;
      escalatedPart_ = -1;
      if (j < 0) return;  // a later part of an SMS whose alarm was found
    } else {
      escalatedPart_ = -1;
    }
    if (j < 0 || j >= kDestinations || !Escalates(j)) {
      ++world_.badEscalations;
      return;
    }
    if (first == std::string::npos && world_.charset) {
      escalatedPart_ = j;  // its alarm is in the next part, or it counts alarms alone
      return;
    }
    if (first == std::string::npos) {
      ++world_.badEscalations;
      return;
    }
    int id = atoi(text.c_str() + first + 3);
    for (auto sent = world_.ruled.rbegin(); sent != world_.ruled.rend(); ++sent) {
      if (sent->j != j || sent->firstAlarm != id) continue;
      sent->escalated = true;
      return;
    }
    ++world_.badEscalations;
  }

  // An answer is heard when Kelvor has taken it (and deletes it), which a phone that failed
  // while the other sent may do long after it came: it is an answer of that time too.
  void Stored(const std::string& event) {
    int index = 0;
    // A final report pushed, now or as the network gives what it held: one Kelvor can read.
    int status = 0;
    if (mode_ != PhoneMode::kSilent &&
        sscanf(event.c_str(), "REPORT sent to=%*s mr=%*d status=%d", &status) == 1) {
      world_.reportsArrived += status < 32 || status >= 64;
    }
    if (sscanf(event.c_str(), "SMS in index=%d from=+44790000", &index) == 1 && index > 0 &&
        index < kSimPlaces) {
      senderAt_[index] = atoi(event.c_str() + event.find("from=") + strlen("from=+44790000"));
    } else if (sscanf(event.c_str(), "SMS in deleted index=%d", &index) == 1 && index > 0 &&
               index < kSimPlaces && senderAt_[index] >= 0 && senderAt_[index] < kDestinations) {
      world_.answersFrom[senderAt_[index]].push_back(world_.Elapsed());
    }
  }

  // The engineer's answer reaches the phone at `at`, as an SMS stored on its SIM.
  void Answer(int j, uint64_t at) {
    if (answersDue_ == kAnswersHeld) return;
    answers_[(answersFirst_ + answersDue_++) % kAnswersHeld] = {at, j};
  }
  void DeliverAnswers() {
    while (answersDue_ > 0 && answers_[answersFirst_].at <= world_.Elapsed()) {
      const PendingAnswer& answer = answers_[answersFirst_];
      world_.answersFrom[answer.j].push_back(world_.Elapsed());
      std::string unasked =
          phone_.Arrive({world_.destinations[answer.j].number, "ok", "26/12/07,03:12:00+04"});
      if (mode_ != PhoneMode::kSilent && !unasked.empty()) Arrive(unasked);
      answersFirst_ = (answersFirst_ + 1) % kAnswersHeld;
      --answersDue_;
    }
  }

  struct PendingAnswer {
    uint64_t at;
    int j;
  };
  static constexpr int kAnswersHeld = 256;
  struct PendingReport {
    bool used;
    uint64_t at;
    int reference;
    int status;
    char number[32];
  };
  PendingReport reports_[128] = {};
  uint64_t nextReportAt_ = ~0ull;
  int reportsPlanned_ = 0;
  static constexpr int kSimPlaces = 21;  // the simulated SIM's 20, from 1

  World& world_;
  bool standby_;
  sim::GsmPhone phone_;
  std::string addressed_;  // the number of the last AT+CMGS
  PhoneMode mode_ = PhoneMode::kNormal;
  PendingAnswer answers_[kAnswersHeld] = {};
  int answersFirst_ = 0;
  int answersDue_ = 0;
  int senderAt_[kSimPlaces] = {};  // the destination whose answer each place of the SIM holds
  int escalatedPart_ = -1;         // the destination of an escalated SMS whose alarm is to come
  // Kelvor's call, as the outside ends it.
  int dialled_ = 0;
  uint64_t answerAt_ = 0;
  uint64_t endAt_ = 0;
  sim::CallEnd endHow_ = sim::CallEnd::kBusy;
  // An incoming call.
  std::string caller_;
  int incoming_ = 0;
  int ringsLeft_ = 0;
  uint64_t nextRing_ = 0;
  uint64_t nextCaller_ = 30 * kMinute;
  int smsCommands_ = 0;
  int polls_ = 0;
  bool reading_ = false;  // the last command read the SMS received
};

// The wake-up calls against the SMS each rule's number took and sent. A call needs an SMS of
// its rule taken after the number's last call and after the last SMS read from it, and
// unanswered for the rule's minutes. A stretch that starts with such an SMS ends with a call
// or an SMS read from the number; one left unanswered with the phone well rings within
// kCallLate of its minutes.
struct RingFindings {
  int stretches = 0;
  int answeredInTime = 0;
  int rung = 0;
  int groundless = 0;  // calls without an unanswered SMS of their rule
  int missed = 0;
  uint64_t latest = 0;  // the longest a call due waited, the phone well
};

RingFindings CheckRings(const World& world) {
  RingFindings found;
  for (const RingRule& rule : world.rings) {
    uint64_t previous = 0;
    for (uint64_t call : rule.calls) {
      auto heard = std::upper_bound(rule.heard.begin(), rule.heard.end(), call);
      uint64_t from = heard == rule.heard.begin() ? previous : std::max(previous, *(heard - 1));
      auto first = std::upper_bound(rule.sms.begin(), rule.sms.end(), from);
      // A report of an SMS not delivered makes the call due at once.
      auto undelivered = std::upper_bound(rule.undelivered.begin(), rule.undelivered.end(), from);
      bool early = undelivered != rule.undelivered.end() && *undelivered <= call;
      if (first == rule.sms.end() || (*first + rule.minutes > call && !early)) ++found.groundless;
      previous = call;
    }
    const uint64_t kNever = ~0ull;
    for (uint64_t reset = 0; reset != kNever;) {
      auto sms = std::upper_bound(rule.sms.begin(), rule.sms.end(), reset);
      if (sms == rule.sms.end()) break;
      uint64_t start = *sms, due = start + rule.minutes;
      auto heard = std::lower_bound(rule.heard.begin(), rule.heard.end(), start);
      auto call = std::lower_bound(rule.calls.begin(), rule.calls.end(), start);
      uint64_t heardAt = heard == rule.heard.end() ? kNever : *heard;
      uint64_t calledAt = call == rule.calls.end() ? kNever : *call;
      bool well = due + kCallLate < kFinalBurst && World::NormalThroughout(start, due + kCallLate);
      ++found.stretches;
      if (calledAt < heardAt) {
        ++found.rung;
        if (well && calledAt > due) found.latest = std::max(found.latest, calledAt - due);
        found.missed += well && calledAt > due + kCallLate;
        reset = calledAt;
      } else {
        found.answeredInTime += heardAt <= due;
        found.missed += well && (heardAt == kNever || heardAt > due + kCallLate);
        reset = heardAt;
      }
    }
  }
  return found;
}

void Soak(bool standby, bool charset = false, bool share = false, bool delivery = false) {
  auto started = std::chrono::steady_clock::now();
  World world;
  world.charset = charset;
  world.delivery = delivery;
  SoakConsole console(world);
  SoakKeyboard keyboard(world);
  SoakScada scada(world);
  int ports = 0;  // the second port made is the standby's
  Platform platform{console, keyboard, world.clock, scada,
                    [&world, &ports] { return std::make_unique<PhonePort>(world, ports++ == 1); }};

  std::vector<std::string> arguments = {"kelvor", "COM1=9600,n,8,1", "SERVICE=+99912345"};
  if (standby) arguments.push_back("STANDBY=COM2=9600,n,8,1");
  if (share) arguments.push_back("SHARE=ON");
  if (charset) arguments.insert(arguments.end(), {"CHARSET=AUTO", "CODEPAGE=1252"});
  if (delivery) arguments.push_back("DELIVERY=30");
  arguments.insert(arguments.end(), world.arguments.begin(), world.arguments.end());
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);

  EXPECT_EQ(KelvorMain(static_cast<int>(arguments.size()), argv.data(), platform), kDestinations);

  EXPECT_GE(world.Elapsed(), kRunLength);
  EXPECT_LT(world.clock.TickCount(), kStartTick) << "the tick has wrapped";
  EXPECT_EQ(world.misrouted, 0) << "alarms on a phone whose destination does not take them";
  EXPECT_EQ(world.longSms, 0);
  EXPECT_LE(world.maxQueued, 21);
  EXPECT_EQ(world.timeoutsWhenHealthy, 0) << "the modem did not come back after a fault";
  EXPECT_GT(world.registeredAgain, 0) << "SMS waited for the network, and it came back";
  EXPECT_EQ(world.heldWhenHealthy, 0) << "an SMS still held for a network long back";
  EXPECT_GE(world.statusReports, 60 * 24 - 1);

  // Every alarm a destination took is named in an SMS its phone took or in one given up
  // after four sendings, or counted in one of them: at each destination the alarms not
  // named are exactly those counted, but for the last burst's, on their way at shutdown
  // (the quiet day before it lets everything earlier go), which the shutdown line reports.
  // No SMS is reported lost for a full queue.
  int taken = 0, named = 0, namedGivenUp = 0, counted = 0, countedGivenUp = 0, atShutdown = 0;
  for (int j = 0; j < kDestinations; ++j) {
    int unnamed = 0;
    for (int id = 0; id < world.alarms; ++id) {
      if (!world.Takes(j, id)) continue;
      ++taken;
      uint8_t fate = world.delivered[static_cast<size_t>(id) * kDestinations + j];
      named += fate == World::kNamedDelivered;
      namedGivenUp += fate == World::kNamedGivenUp;
      if (fate != World::kOnItsWay) continue;
      if (world.offeredAt[id] >= kFinalBurst) {
        ++atShutdown;
      } else {
        ++unnamed;
      }
    }
    EXPECT_EQ(unnamed, world.countedAt[j] + world.countedGivenUp[j]) << "destination " << j;
    counted += world.countedAt[j];
    countedGivenUp += world.countedGivenUp[j];
  }
  EXPECT_GT(atShutdown, 0) << "the run ends with alarms on their way";
  EXPECT_GT(world.discardedSms, 0) << "the run ends with SMS queued";
  if (!standby) {  // a standby sends some batches the phone alone would still hold
    EXPECT_GT(world.discardedBatches, 0) << "the run ends with batches pending";
  }
  EXPECT_LE(atShutdown, (world.discardedSms + world.discardedBatches) * kAlarmsPerSmsAtMost);
  EXPECT_EQ(world.queueLost, 0) << "SMS lost for a full queue";
  EXPECT_GT(counted, 0) << "bursts overflow the queue, and batches count what does not fit";
  if (!standby) {
    EXPECT_GT(world.givenUp, 0) << "the refusing phone gives SMS up";
  }
  EXPECT_GT(named, taken / 2) << "most alarms get through by name";
  EXPECT_GT(world.noOneOnDuty, 100) << "alarms that only destinations off duty take";
  EXPECT_EQ(world.noOneOnDutyLines, world.noOneOnDuty) << "each said";
  EXPECT_GT(world.offDutyPassedOver, 1000);
  EXPECT_GE(world.dutyChanges, 60 * 6 * 8) << "on and off duty several times a day";
  EXPECT_GE(world.heartbeats, 60 * 24 * 3 / 4) << "a heartbeat an hour, but for the phone's faults";
  EXPECT_GT(world.heartbeatsWaited, 0) << "heartbeats wait behind alarms";

  // Replies: an alarm SMS answered while the phone was well all through its ten minutes is
  // never escalated; one nobody answered, from a destination that sent nothing meanwhile,
  // with the phone well for half an hour after, always reaches the backup.
  int answered = 0, slept = 0, wronglyEscalated = 0, notEscalated = 0;
  for (const RuledSms& sent : world.ruled) {
    uint64_t due = sent.deliveredAt + kEscalateAfter;
    if (sent.answered) {
      ++answered;
      if (sent.escalated && World::NormalThroughout(sent.deliveredAt, due + kMinute)) {
        ++wronglyEscalated;
      }
      continue;
    }
    ++slept;
    const std::vector<uint64_t>& answers = world.answersFrom[sent.j];
    auto after = std::lower_bound(answers.begin(), answers.end(), sent.deliveredAt - 2 * kMinute);
    bool quiet = after == answers.end() || *after > due + kMinute;
    if (!sent.escalated && quiet && World::NormalThroughout(sent.deliveredAt, due + 30 * kMinute)) {
      ++notEscalated;
    }
  }
  EXPECT_GT(answered, 100);
  EXPECT_GT(world.acknowledged, 100);
  EXPECT_GT(world.escalatedSms, 100);
  EXPECT_EQ(world.badEscalations, 0);
  EXPECT_EQ(wronglyEscalated, 0) << "an alarm SMS answered in time was escalated";
  EXPECT_EQ(notEscalated, 0) << "an alarm SMS nobody answered did not reach the backup";
  EXPECT_EQ(world.escalationFull, 0);

  // Wake-up calls: each rings for an unanswered stretch, each such stretch rings, and no call
  // holds up an SMS longer than it rings. Kelvor answers no incoming call.
  RingFindings rings = CheckRings(world);
  int callsMade = static_cast<int>(world.calls.size());
  auto outcome = [&world](CallSeen seen) { return world.outcomes[static_cast<int>(seen)]; };
  EXPECT_GT(callsMade, 500);
  EXPECT_EQ(world.wakeUpLines, callsMade);
  EXPECT_EQ(world.wakeUpLinesWrong, 0);
  EXPECT_EQ(world.callsToStrangers, 0);
  EXPECT_EQ(world.endsUnmatched, 0) << "a call's end said of no call under way";
  EXPECT_EQ(world.callsOverlapping, 0) << "a call while another was under way";
  EXPECT_EQ(world.phoneStillCalling, 0) << "a call dialled while the phone's last one went on";
  for (CallSeen seen : {CallSeen::kRangOut, CallSeen::kBusy, CallSeen::kNoAnswer,
                        CallSeen::kAnswered, CallSeen::kEnded}) {
    EXPECT_GT(outcome(seen), 10) << "outcome " << static_cast<int>(seen);
  }
  EXPECT_EQ(outcome(CallSeen::kRefused), 0) << "the phone has voice service";
  EXPECT_LE(world.longestCall, kLongestCall);
  EXPECT_EQ(world.textsDuringCall, 0) << "an SMS text on the port of a call under way";
  if (!share) {
    EXPECT_EQ(world.heldByCall, 0) << "a call began while an alarm SMS waited in the queue";
    EXPECT_GT(world.callsThatHeldSms, 10);
    EXPECT_EQ(world.slowAfterCall, 0) << "SMS queued during a call did not go as it ended";
    EXPECT_LE(world.longestCallDelay, kLongestCall + 3000);
  } else {
    EXPECT_GT(world.textsBesideCall, 10) << "one phone calls while the other sends";
  }
  EXPECT_EQ(rings.groundless, 0) << "a call without an alarm SMS unanswered for its minutes";
  EXPECT_EQ(rings.missed, 0) << "an alarm SMS unanswered for its minutes did not ring";
  EXPECT_GT(rings.answeredInTime, 100);
  EXPECT_GT(world.incomingCalls, 100);
  EXPECT_GT(world.incomingWhileSending, 10);
  EXPECT_GT(world.incomingWhileCalling, 10);
  EXPECT_GT(world.ringsAfterReads, 100);
  EXPECT_EQ(world.answeredIncoming, 0) << "Kelvor answered an incoming call";
  EXPECT_EQ(world.confirmedTwice, 0) << "an alarm SMS confirmed twice";
  EXPECT_EQ(world.questionMarks, 0) << "a character the handset could show arrived as '?'";

  // Every final report that reached the phone's port is matched or said; every SMS without
  // one is said, and a failure too.
  if (delivery) {
    // One given in the instant the phone goes silent or off the network may be lost.
    int said = world.deliveredLines + world.undeliveredLines + world.unmatchedLines;
    EXPECT_LE(std::abs(said - world.reportsArrived), world.reportsArrived / 1000);
    EXPECT_GT(world.undeliveredLines, 10);
    EXPECT_GE(world.noReportLines, world.reportsMissing);
    printf(
        "soak reports: %d arrived, %d delivered, %d not delivered (%d failed), %d matched no "
        "SMS, %d SMS without a report (%d never reported)\n",
        world.reportsArrived, world.deliveredLines, world.undeliveredLines, world.reportsFailed,
        world.unmatchedLines, world.noReportLines, world.reportsMissing);
  } else {
    EXPECT_EQ(world.deliveredLines + world.undeliveredLines + world.noReportLines, 0);
  }

  // The heap does not grow once the run has settled.
  EXPECT_GE(world.liveAtDayTwo, 0);
  EXPECT_LE(world.maxLiveAfterDayTwo, world.liveAtDayTwo + 64);

  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // A standby well while the main phone fails: no SMS is given up, the main phone's hung
  // radio included.
  if (standby) {
    EXPECT_GT(world.takeovers, 100);
    EXPECT_EQ(world.givenUp, 0);
  }
  // Sharing: the standby sends a good part while both are well, not only in takeovers.
  if (share) {
    EXPECT_GT(world.deliveredBy[1], world.deliveredBy[0] / 3);
  }
  printf("soak: SMS taken by the main phone %d, by the standby %d\n", world.deliveredBy[0],
         world.deliveredBy[1]);
  printf("soak%s%s: %d standby takeovers, %d SMS given up, %d alarm SMS confirmed twice\n",
         standby ? " with a standby" : "", charset ? " and CHARSET=AUTO" : "", world.takeovers,
         world.givenUp, world.confirmedTwice);
  printf(
      "soak: %d alarms, %d taken by destinations: %d named and %d counted in the %d SMS the "
      "phones took (%d taken twice); %d named and %d counted in the %d SMS given up after four "
      "sendings; %d on their way at shutdown in %d SMS and %d batches; %d SMS lost for a full "
      "queue; %d modem time-outs; queue at most %d; live heap blocks %lld at day 2, at most "
      "%lld after; %.1f s\n"
      "soak replies: %d alarm SMS to destinations with a rule, %d answered, %d slept through; "
      "%d confirmations of acknowledgements; %d SMS escalated to the backup; %d heartbeats, %d "
      "of them waited behind alarms\n",
      world.alarms, taken, named, counted, world.deliveredSms, world.resent, namedGivenUp,
      countedGivenUp, world.givenUp, atShutdown, world.discardedSms, world.discardedBatches,
      world.queueLost, world.timeouts, world.maxQueued, static_cast<long long>(world.liveAtDayTwo),
      static_cast<long long>(world.maxLiveAfterDayTwo), seconds,
      static_cast<int>(world.ruled.size()), answered, slept, world.acknowledged, world.escalatedSms,
      world.heartbeats, world.heartbeatsWaited);
  printf(
      "soak calls: %d wake-up calls (%d rang out, %d busy, %d no answer, %d answered, %d ended "
      "unanswered, %d refused, %d cut short); longest %.1f s; %d held SMS raised meanwhile, "
      "the longest such SMS delay %.1f s; %d stretches begun by an alarm SMS, %d answered in "
      "time, %d rung, a call due waited at most %.1f s; %d incoming calls, %d while SMS went, %d "
      "while calling, %d rings just after a read\n",
      callsMade, outcome(CallSeen::kRangOut), outcome(CallSeen::kBusy),
      outcome(CallSeen::kNoAnswer), outcome(CallSeen::kAnswered), outcome(CallSeen::kEnded),
      outcome(CallSeen::kRefused), outcome(CallSeen::kCutShort), world.longestCall / 1000.0,
      world.callsThatHeldSms, world.longestCallDelay / 1000.0, rings.stretches,
      rings.answeredInTime, rings.rung, rings.latest / 1000.0, world.incomingCalls,
      world.incomingWhileSending, world.incomingWhileCalling, world.ringsAfterReads);
}

TEST(SoakTest, SixtyDaysAcrossTheTickWrapLoseNoAlarmUnreported) {
  Soak(false);
}

TEST(SoakTest, SixtyDaysWithAStandbyWhoseMainPhoneFailsForHours) {
  Soak(true);
}

TEST(SoakTest, SixtyDaysWithDeliveryReports) {
  Soak(false, false, false, true);
}

// Two phones that share the SMS, the main one failing for hours as above.
TEST(SoakTest, SixtyDaysWithTwoSharingPhonesOneFailingForHours) {
  Soak(true, false, true);
}

// The same with texts in UCS-2 and in 7-bit by turns, and a standby slow to select a set.
TEST(SoakTest, SixtyDaysWithAStandbyAndCharsetAuto) {
  Soak(true, true);
}

}  // namespace
}  // namespace kelvor
