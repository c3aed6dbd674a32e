// kelvor-gsm-sim: a GSM phone in SMS text mode on a pseudo-terminal, for demos and
// end-to-end tests of Kelvor. See --help.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gsm_phone.h"
#include "status_reports.h"

namespace kelvor::sim {
namespace {

const char kHelp[] =
    "Usage: kelvor-gsm-sim [options]\n"
    "\n"
    "A GSM phone in SMS text mode, with voice calls, on a pseudo-terminal. The first\n"
    "line on standard output is the device path (start Kelvor with COM:<path>); it is\n"
    "flushed at once.\n"
    "Each SMS the phone delivers is then printed as one line:\n"
    "  SMS ref=<n> to=<number> text=<text>\n"
    "where the text is what the handset shows, in UTF-8 (a line end as LF), with\n"
    "backslash, line ends and other control bytes and bytes above 126 escaped\n"
    "(\\\\, \\n, \\r, \\xHH). Switching off and on prints \"POWER off\" and \"POWER on\".\n"
    "The phone runs until it is sent SIGINT or SIGTERM.\n"
    "\n"
    "Other events, one line each (numbers and texts escaped the same way):\n"
    "  SMS refused to=<number> code=<n>     a text refused (--fail-sends, --fail-for, off\n"
    "                                       the network; \", the radio hung\" after it with\n"
    "                                       --radio-hang)\n"
    "  SMS unanswered to=<number>, the radio hung   a text never answered (--radio-hang-quiet)\n"
    "  RADIO restarted / RADIO on           AT+CFUN=1,1 / AT+CFUN=1 taken\n"
    "  PIN tried right|wrong|blocked|busy|unneeded   a PIN sent (never the PIN itself)\n"
    "  SIM blocked, PUK wanted              the third wrong PIN\n"
    "  SIM busy / SIM ready                 the SIM's busy time begins / ends\n"
    "  NETWORK <stat>                       the network's registration state set\n"
    "  SMS in index=<i> from=<sender> text=<text>   an SMS stored on the SIM\n"
    "  SMS in waiting for the phone from=<sender> text=<text>   held by the network\n"
    "                                       while the phone is off or unregistered\n"
    "  SMS in lost, SIM full from=<sender> text=<text>\n"
    "  SMS in read index=<i>                an unread SMS listed or read\n"
    "  SMS in deleted index=<i>\n"
    "  CALL dialled to=<number>             ATD<number>; taken\n"
    "  CALL answered to=<number>            the other side answers (--call-outcome)\n"
    "  CALL ended to=<number> by=<how>      how: kelvor-ath, kelvor-chup (Kelvor hung up),\n"
    "                                       busy, no-answer, other-side (NO CARRIER),\n"
    "                                       network (lost: NO CARRIER), power-off, restart\n"
    "  CALL refused to=<number>             ATD refused (--no-voice); \", off the network\"\n"
    "                                       after it: no network (OK, then NO CARRIER)\n"
    "  CALL in from=<caller>                one ring of an incoming call (CALL_IN)\n"
    "  CALL in answered                     ATA took the incoming call\n"
    "  CONTROL refused <escaped line>       a control line not understood\n"
    "\n"
    "The phone: echo on until ATE0 (and again after ATZ), OK and ERROR, numbered\n"
    "+CME and +CMS errors once AT+CMEE=1 (or 2) is set, AT+CSCA? and AT+CSCA=, AT+CMGF,\n"
    "AT+CMGS with its \"> \" prompt and the text up to Ctrl-Z (ESC abandons it),\n"
    "+CMGS: <n>, AT+CSQ, AT+CPIN? and AT+CPIN=\"<pin>\", AT+CREG? and AT+CREG=<n>,\n"
    "AT+CFUN=1,1 (a restart: the SIM wants its PIN again), AT+CFUN=0 and AT+CFUN=1.\n"
    "Received SMS in text mode: AT+CNMI=<mode>,<mt> (mt 1: \"+CMTI: \"SM\",<index>\" for\n"
    "each SMS stored), AT+CPMS? and AT+CPMS=\"SM\", AT+CMGL[=\"REC UNREAD\"|\"REC READ\"|\n"
    "\"ALL\"] and AT+CMGR=<index> (both mark what they show read), AT+CMGD=<index>[,<flag>].\n"
    "The texts go out as they came, any bytes. ATZ keeps the SIM's state and its SMS;\n"
    "a power cycle locks the SIM again, keeping the count of wrong PINs.\n"
    "Character sets: AT+CSCS=? lists those offered (--charsets), AT+CSCS=\"<set>\" selects\n"
    "one, AT+CSCS? names it; \"GSM\" at power-on and after ATZ. AT+CSMP=17,167,0,<dcs>\n"
    "sets the data coding, 0 (7-bit, at power-on and after ATZ) or 8 (UCS-2). A 7-bit\n"
    "text is read in the set in force: under GSM its bytes are alphabet codes (ESC and\n"
    "a code for the extension), under IRA ASCII, under 8859-1 Latin-1, under UCS2 hex;\n"
    "what the alphabet lacks shows as '?'. A UCS-2 text is hex, four digits a character.\n"
    "Under UCS2 the number of AT+CMGS is hex too, and senders and texts read are given\n"
    "as hex. A text that is not of its set, or longer than 160 septets or 70 UCS-2\n"
    "characters, is refused with +CMS ERROR: 305.\n"
    "Voice calls: ATD<number>; is answered OK at once (--atd-on-connect: once the call\n"
    "is answered) and the call rings (AT+CLCC:\n"
    "\"+CLCC: 1,0,3,0,0,\"<number>\",<type>\", type 145 for a number with '+', else\n"
    "129; stat 0 instead of 3 once answered) until Kelvor hangs up with ATH (ATH0) or\n"
    "AT+CHUP (OK; OK without a call too) or the other side ends it as --call-outcome\n"
    "says, with BUSY, NO ANSWER or NO CARRIER sent unasked. ATD during a call is ERROR,\n"
    "ATD without ';' (a data call) NO CARRIER, ATD off the network OK and NO CARRIER at\n"
    "once; a call lost with the network ends with NO CARRIER. An incoming call (CALL_IN)\n"
    "rings with RING and \"+CLIP: \"<caller>\",<type>,\"\",,\"\",0\", and AT+CLCC lists it\n"
    "as \"+CLCC: 2,1,4,0,0,\"<caller>\",<type>\" while it rings; ATA answers it (OK; it\n"
    "then rings no more), and is NO CARRIER without one. Under UCS2 the numbers of\n"
    "+CLCC and +CLIP are hex. Lines sent unasked wait while a text is typed after \"> \".\n"
    "\n"
    "Options:\n"
    "  --sms-file FILE      also append each SMS line to FILE (flushed at once)\n"
    "  --link PATH          make PATH a symbolic link to the device (removed at exit)\n"
    "  --delay MS           wait MS ms before each answer (default 100; a real phone\n"
    "                       is slow too, and Kelvor empties its port after a command)\n"
    "  --send-delay MS      wait MS ms from the Ctrl-Z of a text to its answer (+CMGS\n"
    "                       or the refusal; default: --delay)\n"
    "  --cscs-delay MS      wait MS ms before answering AT+CSCS=<set>, taken or refused\n"
    "                       (AT+CSCS=? and AT+CSCS? as any command; default: --delay)\n"
    "  --sca NUMBER         the service centre the SIM knows (default +99912345);\n"
    "                       --sca \"\" leaves it unknown, so AT+CSCA? is refused\n"
    "  --csq RSSI[,BER]     the signal quality reported (default 15,99)\n"
    "  --pin PIN            the SIM wants this PIN: AT+CPIN? says SIM PIN until it is\n"
    "                       given, and the commands that need the SIM are refused with\n"
    "                       +CME ERROR: 11 (AT+CMGS: +CMS ERROR: 311); a wrong PIN is\n"
    "                       +CME ERROR: 16, and the third blocks the SIM for good (SIM PUK,\n"
    "                       +CME ERROR: 12 and +CMS ERROR: 312 from then on)\n"
    "  --sim-busy SEC       after power-on and after the right PIN the SIM is busy for\n"
    "                       SEC s: +CME ERROR: 14 (AT+CMGS: +CMS ERROR: 314) to the\n"
    "                       commands that need it, AT+CPIN? and AT+CPIN= included\n"
    "  --sim-store N        the SMS the SIM holds (default 20); one more is lost\n"
    "  --charsets LIST      the character sets offered, as GSM,IRA (default\n"
    "                       GSM,IRA,8859-1,UCS2); none: AT+CSCS=? and AT+CSCS= are refused\n"
    "  --network STAT       registration at start: 1 home (default), 5 roaming,\n"
    "                       0 none, 2 searching, 3 denied. Off the network (and while\n"
    "                       the SIM is locked or busy) no SMS comes in (the network\n"
    "                       keeps it), and a text is refused with +CMS ERROR: 331\n"
    "  --network-timeout    ... with +CMS ERROR: 332 instead\n"
    "  --network-away-after SEC   lose the network (searching, 2) SEC s after the start\n"
    "  --network-away-for SEC     ... and find it again after SEC s (default: never)\n"
    "  --control PATH       make PATH a FIFO (removed at exit) that takes commands, one\n"
    "                       line each, texts escaped as in the event lines:\n"
    "                         RECEIVE <sender> <text>   an SMS comes in now\n"
    "                         NETWORK <stat>            registration as --network\n"
    "                         POWER off | POWER on      switch the phone off or on\n"
    "                         CALL_IN <caller> <rings> [<gap-ms>]   a call comes in now\n"
    "                             and rings <rings> times (1 to 1000), <gap-ms> ms apart\n"
    "                             (default 3000); then it stops and nothing is sent\n"
    "  --call-outcome OUTCOME   what becomes of each call dialled: ring (default; it\n"
    "                       rings until Kelvor hangs up), busy[:SEC] (BUSY after SEC s,\n"
    "                       default 2), no-answer[:SEC] (NO ANSWER after SEC s, default\n"
    "                       20), answer[:SEC[:SEC2]] (answered after SEC s, default 5;\n"
    "                       the other side hangs up SEC2 s later, default 10: NO CARRIER)\n"
    "  --call-outcome-for NUMBER,OUTCOME   ... for the calls to NUMBER (as dialled);\n"
    "                       may be given for several numbers\n"
    "  --auto-reply NUMBER,SEC,TEXT   each SMS delivered to NUMBER is answered SEC s\n"
    "                       later by an SMS from NUMBER with TEXT (escaped as above);\n"
    "                       may be given for several numbers\n"
    "  --verbose            trace commands and answers on standard error\n"
    "\n"
    "Faults:\n"
    "  --silent             never answer anything\n"
    "  --off-after SEC      switch off SEC seconds after the start: no answers\n"
    "  --off-for SEC        ... and switch on again after SEC seconds (default: never)\n"
    "  --fail-sends LIST    refuse the SMS texts with these numbers, counted from 1\n"
    "                       among those sent on the network (for example 1,2,5), with\n"
    "                       +CMS ERROR\n"
    "  --fail-code N        the error number of a refused text (default 500)\n"
    "  --radio-hang         the radio hangs: it answers AT but refuses every text with\n"
    "                       +CMS ERROR (--fail-code) until AT+CFUN=1,1 or AT+CFUN=1\n"
    "  --radio-hang-quiet   ... or never answers a text at all\n"
    "  --no-voice           no voice service: ATD<number>; is refused with ERROR\n"
    "                       (+CME ERROR: 4 once AT+CMEE=1 is set)\n"
    "  --refuse-ath         ATH during a call is refused with ERROR (+CME ERROR: 3);\n"
    "                       only AT+CHUP ends it\n"
    "  --atd-on-connect     ATD<number>; gets its OK only once the call is answered, and\n"
    "                       BUSY, NO ANSWER or NO CARRIER as its answer otherwise; ATH or\n"
    "                       AT+CHUP meanwhile ends the call (NO CARRIER, then OK)\n"
    "  --fail-for NUMBER,CODE   texts to NUMBER (as in AT+CMGS) are refused by the\n"
    "                       network with +CMS ERROR: CODE, a cause 1 to 127 (such as\n"
    "                       28, unidentified subscriber), not counted by --fail-sends;\n"
    "                       may be given for several numbers\n"
    "  --split N            send answers in pieces of N bytes ...\n"
    "  --split-gap MS       ... MS ms apart (default 1100, so each lands in its own read)\n"
    "  --flood MS           send an unsolicited \"RING\" every MS ms\n"
    "  --stray-prompt       start waiting for the text of an SMS, as a phone left at the\n"
    "                       \"> \" prompt does: the reset command is taken as text and\n"
    "                       answered with a new prompt until Ctrl-Z ends it with OK\n";

// Each SMS delivered to `number` is answered from it with `text` after `delay` ms.
struct AutoReply {
  std::string number;
  long delay;
  std::string text;
};

// What becomes of a call Kelvor dials, counted from the dialling.
struct CallOutcome {
  enum Kind { kRing, kBusy, kNoAnswer, kAnswer };
  Kind kind = kRing;
  long after = 0;   // ms to BUSY, NO ANSWER or the answer
  long hangUp = 0;  // ms from the answer to the other side's NO CARRIER
};

struct Options {
  PhoneOptions phone;
  std::string smsFile;
  std::string link;
  std::string control;
  long delay = 100;
  long sendDelay = -1;  // -1: the same as delay
  long simBusy = 0;
  long networkAwayAfter = -1;
  long networkAwayFor = -1;
  std::vector<AutoReply> autoReplies;
  CallOutcome callOutcome;
  std::vector<std::pair<std::string, CallOutcome>> callOutcomesFor;  // by number
  ReportPlan reports;
  bool verbose = false;
  bool silent = false;
  long offAfter = -1;
  long offFor = -1;
  size_t split = 0;
  long splitGap = 1100;
  long flood = 0;
};

volatile sig_atomic_t stopping = 0;

void Stop(int) {
  stopping = 1;
}

long NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

// A count, a time or a code from the command line: 0 to a billion, so that no sum of
// times overflows.
bool Number(const char* text, long* value) {
  char* end = nullptr;
  errno = 0;
  long number = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || number < 0 || number > 1000000000) {
    return false;
  }
  *value = number;
  return true;
}

bool ReadList(const char* text, std::set<int>* numbers) {
  std::string list(text);
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    long number;
    if (!Number(list.substr(start, comma - start).c_str(), &number)) return false;
    numbers->insert(static_cast<int>(number));
    start = comma + 1;
  }
  return true;
}

bool ReadAutoReply(const char* text, std::vector<AutoReply>* replies) {
  std::string value(text);
  size_t first = value.find(',');
  size_t second = first == std::string::npos ? first : value.find(',', first + 1);
  AutoReply reply;
  if (second == std::string::npos || first == 0 ||
      !Number(value.substr(first + 1, second - first - 1).c_str(), &reply.delay) ||
      !Unescaped(value.substr(second + 1), &reply.text)) {
    return false;
  }
  reply.number = value.substr(0, first);
  reply.delay *= 1000;
  replies->push_back(reply);
  return true;
}

// ring, busy[:SEC], no-answer[:SEC] or answer[:SEC[:SEC2]].
bool ReadCallOutcome(const std::string& text, CallOutcome* outcome) {
  static const struct {
    const char* name;
    CallOutcome::Kind kind;
    size_t times;  // how many :SEC it takes
    long after;    // s, when none is given
  } kKinds[] = {{"ring", CallOutcome::kRing, 0, 0},
                {"busy", CallOutcome::kBusy, 1, 2},
                {"no-answer", CallOutcome::kNoAnswer, 1, 20},
                {"answer", CallOutcome::kAnswer, 2, 5}};
  size_t colon = text.find(':');
  std::string name = text.substr(0, colon);
  for (const auto& kind : kKinds) {
    if (name != kind.name) continue;
    long seconds[2] = {kind.after, 10};
    for (size_t i = 0; colon != std::string::npos; ++i) {
      size_t next = text.find(':', colon + 1);
      if (i >= kind.times ||
          !Number(text.substr(colon + 1, next - colon - 1).c_str(), &seconds[i])) {
        return false;
      }
      colon = next;
    }
    *outcome = {kind.kind, seconds[0] * 1000, seconds[1] * 1000};
    return true;
  }
  return false;
}

bool ReadCallOutcomeFor(const char* text, Options* options) {
  std::string value(text);
  size_t comma = value.find(',');
  CallOutcome outcome;
  if (comma == 0 || comma == std::string::npos ||
      !ReadCallOutcome(value.substr(comma + 1), &outcome)) {
    return false;
  }
  options->callOutcomesFor.emplace_back(value.substr(0, comma), outcome);
  return true;
}

// NUMBER,CODE: a network cause, 1 to 127, for the texts to NUMBER.
bool ReadFailFor(const char* text, PhoneOptions* phone) {
  std::string value(text);
  size_t comma = value.rfind(',');
  long code;
  if (comma == 0 || comma == std::string::npos || !Number(value.substr(comma + 1).c_str(), &code) ||
      code < 1 || code > 127) {
    return false;
  }
  phone->failFor[value.substr(0, comma)] = static_cast<int>(code);
  return true;
}

bool ReadSignal(const char* text, PhoneOptions* phone) {
  std::string value(text);
  size_t comma = value.find(',');
  long rssi, ber = phone->ber;
  if (!Number(value.substr(0, comma).c_str(), &rssi)) return false;
  if (comma != std::string::npos && !Number(value.substr(comma + 1).c_str(), &ber)) return false;
  phone->rssi = static_cast<int>(rssi);
  phone->ber = static_cast<int>(ber);
  return true;
}

// False with a message on a bad command line.
bool ReadOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      fputs(kHelp, stdout);
      fputs(kReportsHelp, stdout);
      exit(0);
    }
    if (name == "--verbose") {
      options->verbose = true;
      continue;
    }
    if (name == "--silent") {
      options->silent = true;
      continue;
    }
    if (name == "--stray-prompt") {
      options->phone.strayPrompt = true;
      continue;
    }
    if (name == "--network-timeout") {
      options->phone.networkError = 332;
      continue;
    }
    if (name == "--radio-hang" || name == "--radio-hang-quiet") {
      options->phone.radioHang =
          name == "--radio-hang" ? PhoneOptions::kRefuses : PhoneOptions::kQuiet;
      continue;
    }
    if (name == "--no-voice" || name == "--refuse-ath") {
      (name == "--no-voice" ? options->phone.noVoice : options->phone.refusesAth) = true;
      continue;
    }
    if (name == "--atd-on-connect" || name == "--cnma-needed") {
      (name == "--cnma-needed" ? options->phone.cnmaNeeded : options->phone.atdOnConnect) = true;
      continue;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "kelvor-gsm-sim: %s needs a value (see --help)\n", name.c_str());
      return false;
    }
    const char* value = argv[++i];
    long number = 0;
    bool good = true;
    if (name == "--sms-file") {
      options->smsFile = value;
    } else if (name == "--link") {
      options->link = value;
    } else if (name == "--sca") {
      options->phone.serviceCentre = value;
    } else if (name == "--csq") {
      good = ReadSignal(value, &options->phone);
    } else if (name == "--fail-sends") {
      good = ReadList(value, &options->phone.failingSends);
    } else if (name == "--fail-code") {
      good = Number(value, &number);
      options->phone.failCode = static_cast<int>(number);
    } else if (name == "--delay") {
      good = Number(value, &options->delay);
    } else if (name == "--send-delay") {
      good = Number(value, &options->sendDelay);
    } else if (name == "--cscs-delay") {
      good = Number(value, &options->phone.cscsDelay);
    } else if (name == "--fail-for") {
      good = ReadFailFor(value, &options->phone);
    } else if (name == "--pin") {
      options->phone.pin = value;
      good = !options->phone.pin.empty();
    } else if (name == "--sim-busy") {
      good = Number(value, &options->simBusy);
      options->phone.simBusy = options->simBusy > 0;
    } else if (name == "--sim-store") {
      good = Number(value, &number) && number <= 1000;
      options->phone.storeSize = static_cast<int>(number);
    } else if (name == "--charsets") {
      options->phone.charsets.clear();
      for (std::string list = value; !list.empty() && list != "none";) {
        size_t comma = list.find(',');
        options->phone.charsets.push_back(list.substr(0, comma));
        list = comma == std::string::npos ? "" : list.substr(comma + 1);
      }
    } else if (name == "--network") {
      good = Number(value, &number) && number <= 5;
      options->phone.network = static_cast<int>(number);
    } else if (name == "--network-away-after") {
      good = Number(value, &options->networkAwayAfter);
    } else if (name == "--network-away-for") {
      good = Number(value, &options->networkAwayFor);
    } else if (name == "--control") {
      options->control = value;
    } else if (name == "--auto-reply") {
      good = ReadAutoReply(value, &options->autoReplies);
    } else if (name == "--call-outcome") {
      good = ReadCallOutcome(value, &options->callOutcome);
    } else if (name == "--call-outcome-for") {
      good = ReadCallOutcomeFor(value, options);
    } else if (name == "--off-after") {
      good = Number(value, &options->offAfter);
    } else if (name == "--off-for") {
      good = Number(value, &options->offFor);
    } else if (name == "--split") {
      good = Number(value, &number) && number > 0;
      options->split = static_cast<size_t>(number);
    } else if (name == "--split-gap") {
      good = Number(value, &options->splitGap);
    } else if (name == "--flood") {
      good = Number(value, &options->flood) && options->flood > 0;
    } else if (ReportPlan::Takes(name)) {
      good = options->reports.Read(name, value, &options->phone);
    } else {
      fprintf(stderr, "kelvor-gsm-sim: unknown option %s (see --help)\n", name.c_str());
      return false;
    }
    if (!good) {
      fprintf(stderr, "kelvor-gsm-sim: bad value for %s: %s\n", name.c_str(), value);
      return false;
    }
  }
  if (options->sendDelay < 0) options->sendDelay = options->delay;
  return true;
}

// The master side of a pseudo-terminal whose slave is raw and kept open, so that the
// master reads nothing but data while no program has the device open.
bool OpenTerminal(int* master, int* slave, std::string* path) {
  *master = posix_openpt(O_RDWR | O_NOCTTY);
  if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0) return false;
  char name[256];
  if (ptsname_r(*master, name, sizeof name) != 0) return false;
  *path = name;
  *slave = open(name, O_RDWR | O_NOCTTY);
  if (*slave < 0) return false;
  termios settings;
  tcgetattr(*slave, &settings);
  cfmakeraw(&settings);
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  tcsetattr(*slave, TCSANOW, &settings);
  fcntl(*master, F_SETFL, fcntl(*master, F_GETFL) | O_NONBLOCK);
  return true;
}

constexpr size_t kMaxPending = 1000;  // answers and pieces waiting to go out
constexpr size_t kMaxControlLine = 8192;
constexpr long kAcknowledgementWait = 15000;  // ms the network waits for a +CDS's AT+CNMA

struct Piece {
  long due;
  std::string bytes;
  std::function<void()> sent;  // what going out means, if anything
};

// The service centre's time stamp of an incoming SMS: local time and its offset from UTC
// in quarter hours.
std::string Timestamp() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  long quarters = local.tm_gmtoff / 900;
  char text[64];
  snprintf(text, sizeof text, "%02d/%02d/%02d,%02d:%02d:%02d%c%02ld", local.tm_year % 100,
           local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
           quarters < 0 ? '-' : '+', labs(quarters));
  return text;
}

// A FIFO the simulator holds open for writing too, so that it never reads an end of file
// when a writer closes it.
int OpenControl(const std::string& path) {
  unlink(path.c_str());
  if (mkfifo(path.c_str(), 0600) != 0) return -1;
  return open(path.c_str(), O_RDWR | O_NONBLOCK);
}

void PrintLine(const std::string& line) {
  fputs((line + "\n").c_str(), stdout);
  fflush(stdout);
}

class Simulator {
 public:
  Simulator(const Options& options, int master, int control)
      : options_(options),
        master_(master),
        control_(control),
        phone_(options.phone),
        start_(NowMs()) {
    phone_.onDelivered = [this](const DeliveredSms& sms) { delivered_.push_back(sms); };
    phone_.onEvent = PrintLine;
    phone_.onDialled = [this](const std::string& number) { PlanCall(number); };
    if (options_.verbose) {
      phone_.onTrace = [](const std::string& line) { fprintf(stderr, "sim: %s\n", line.c_str()); };
    }
    PlanSwitches();
    if (options_.flood > 0) At(start_ + options_.flood, [this] { Flood(); });
    if (phone_.SimBusy()) PrintLine("SIM busy");
    WatchSimBusy();
  }

  void Run() {
    while (!stopping) {
      pollfd ready[2] = {{master_, POLLIN, 0}, {control_, POLLIN, 0}};
      int result = poll(ready, control_ < 0 ? 1 : 2, static_cast<int>(Wait()));
      if (result < 0 && errno != EINTR) break;
      if (result > 0 && (ready[0].revents & POLLIN) != 0) Take();
      if (result > 0 && control_ >= 0 && (ready[1].revents & POLLIN) != 0) ReadControl();
      RunTimers();
      DropStaleTimers();
      WatchAcknowledgements();
      Send();
    }
  }

 private:
  // Switching off and on, and losing and finding the network, at the times asked.
  void PlanSwitches() {
    if (options_.offAfter >= 0 && options_.offFor != 0) {
      long off = start_ + options_.offAfter * 1000;
      At(off, [this] { Power(false); });
      if (options_.offFor > 0) At(off + options_.offFor * 1000, [this] { Power(true); });
    }
    if (options_.networkAwayAfter >= 0 && options_.networkAwayFor != 0) {
      long away = start_ + options_.networkAwayAfter * 1000;
      int back = options_.phone.network == 5 ? 5 : 1;
      At(away, [this] { QueueUnasked(phone_.SetNetwork(2)); });
      if (options_.networkAwayFor > 0) {
        At(away + options_.networkAwayFor * 1000,
           [this, back] { QueueUnasked(phone_.SetNetwork(back)); });
      }
    }
  }

  long At(long due, std::function<void()> action) {
    timers_.emplace(due, Timer{++timersMade_, std::move(action)});
    return timersMade_;
  }

  // Drops the timers of `ids` not run yet, and forgets them all.
  void Cancel(std::vector<long>* ids) {
    for (auto at = timers_.begin(); at != timers_.end();) {
      bool gone = std::find(ids->begin(), ids->end(), at->second.id) != ids->end();
      at = gone ? timers_.erase(at) : std::next(at);
    }
    ids->clear();
  }

  void RunTimers() {
    while (!timers_.empty() && timers_.begin()->first <= NowMs()) {
      std::function<void()> action = std::move(timers_.begin()->second.action);
      timers_.erase(timers_.begin());
      action();
    }
  }

  long Wait() const {
    long wait = 200;
    long now = NowMs();
    if (!pending_.empty()) wait = std::min(wait, pending_.front().due - now);
    if (!timers_.empty()) wait = std::min(wait, timers_.begin()->first - now);
    return wait < 0 ? 0 : wait;
  }

  void Take() {
    char buffer[512];
    ssize_t count = read(master_, buffer, sizeof buffer);
    if (count <= 0) return;
    if (options_.verbose) {
      fprintf(stderr, "sim: << %s\n", Escaped(std::string(buffer, count)).c_str());
    }
    if (options_.silent) return;
    for (const Answer& answer : phone_.Answers(buffer, static_cast<size_t>(count))) {
      if (!answer.toText) {
        Queue(answer.bytes, answer.delay >= 0 ? answer.delay : options_.delay);
        continue;
      }
      // An SMS is delivered as its confirmation goes out, so none is seen delivered that
      // the phone never confirmed.
      std::function<void()> sent;
      if (!delivered_.empty()) sent = [this, sms = delivered_.front()] { Deliver(sms); };
      delivered_.clear();
      Queue(answer.bytes, options_.sendDelay, sent);
    }
    WatchSimBusy();
  }

  // A busy SIM gets ready after its time; a power cycle starts the time anew.
  void WatchSimBusy() {
    if (!phone_.SimBusy() || simBusyWatched_) return;
    simBusyWatched_ = true;
    int generation = ++simBusyGeneration_;
    At(NowMs() + options_.simBusy * 1000, [this, generation] {
      if (generation != simBusyGeneration_) return;
      simBusyWatched_ = false;
      QueueUnasked(phone_.EndSimBusy());
    });
  }

  // Answers go out after the delay, in pieces when asked, never overtaking each other.
  void Queue(const std::string& answer, long delay, std::function<void()> sent = nullptr) {
    // Nobody reading (no program on the device): keep a bounded backlog only.
    if (options_.silent || answer.empty() || pending_.size() >= kMaxPending) return;
    long due = std::max(NowMs() + delay, pending_.empty() ? 0 : pending_.back().due);
    size_t piece = options_.split > 0 ? options_.split : answer.size();
    for (size_t at = 0; at < answer.size(); at += piece) {
      pending_.push_back({due, answer.substr(at, piece), nullptr});
      due += options_.split > 0 ? options_.splitGap : 0;
    }
    pending_.back().sent = sent;
  }

  void QueueUnasked(const std::string& bytes) { Queue(bytes, 0); }

  void Send() {
    long now = NowMs();
    while (!pending_.empty() && pending_.front().due <= now) {
      const std::string& bytes = pending_.front().bytes;
      if (options_.verbose) fprintf(stderr, "sim: >> %s\n", Escaped(bytes).c_str());
      if (write(master_, bytes.data(), bytes.size()) < 0 && errno == EAGAIN) return;
      std::function<void()> sent = std::move(pending_.front().sent);
      pending_.pop_front();
      if (sent) sent();
    }
  }

  void Power(bool on) {
    if (on == phone_.IsOn()) return;
    pending_.clear();
    ++simBusyGeneration_;
    simBusyWatched_ = false;
    PrintLine(on ? "POWER on" : "POWER off");
    if (!on) {
      phone_.PowerOff();
      return;
    }
    QueueUnasked(phone_.PowerOn());
    WatchSimBusy();
  }

  // What becomes of the call just dialled, as --call-outcome(-for) says; the last call's
  // outcome, if still to come, is void.
  void PlanCall(const std::string& number) {
    Cancel(&callTimers_);
    CallOutcome outcome = options_.callOutcome;
    for (const auto& [to, chosen] : options_.callOutcomesFor) {
      if (to == number) outcome = chosen;
    }
    if (outcome.kind == CallOutcome::kRing) return;
    if (outcome.kind != CallOutcome::kAnswer) {
      CallEnd end = outcome.kind == CallOutcome::kBusy ? CallEnd::kBusy : CallEnd::kNoAnswer;
      CallTimer(outcome.after, [this, end] { QueueUnasked(phone_.EndCall(end)); });
      return;
    }
    CallTimer(outcome.after, [this, hangUp = outcome.hangUp] {
      QueueUnasked(phone_.AnswerCall());
      CallTimer(hangUp, [this] { QueueUnasked(phone_.EndCall(CallEnd::kOtherSide)); });
    });
  }

  void CallTimer(long delay, std::function<void()> action) {
    callTimers_.push_back(At(NowMs() + delay, std::move(action)));
  }

  // A call that ended otherwise (Kelvor hung up, the phone went off or lost the network)
  // takes its outcome with it; an incoming call answered or unheard rings no more.
  void DropStaleTimers() {
    if (!callTimers_.empty() && !phone_.Call().underWay) Cancel(&callTimers_);
    if (!ringTimers_.empty() && !phone_.Ringing()) Cancel(&ringTimers_);
  }

  // CALL_IN <caller> <rings> [<gap-ms>]: rings now and every gap, then the caller gives up;
  // a new one takes the place of one still ringing.
  bool CallIn(const std::string& arguments) {
    std::vector<std::string> words;
    for (size_t start = 0; start <= arguments.size();) {
      size_t space = std::min(arguments.find(' ', start), arguments.size());
      words.push_back(arguments.substr(start, space - start));
      start = space + 1;
    }
    std::string caller;
    long rings, gap = 3000;
    if (words.size() < 2 || words.size() > 3 || words[0].empty() || !Unescaped(words[0], &caller) ||
        !Number(words[1].c_str(), &rings) || rings < 1 || rings > 1000 ||
        (words.size() == 3 && !Number(words[2].c_str(), &gap))) {
      return false;
    }
    Cancel(&ringTimers_);
    long now = NowMs();
    for (long ring = 0; ring < rings; ++ring) {
      ringTimers_.push_back(
          At(now + ring * gap, [this, caller] { QueueUnasked(phone_.Ring(caller)); }));
    }
    ringTimers_.push_back(At(now + rings * gap, [this] { phone_.StopRinging(); }));
    return true;
  }

  void Flood() {
    At(NowMs() + options_.flood, [this] { Flood(); });
    if (phone_.IsOn()) QueueUnasked("\r\nRING\r\n");
  }

  void ReadControl() {
    char buffer[4096];
    ssize_t count = read(control_, buffer, sizeof buffer);
    if (count <= 0) return;
    controlLine_.append(buffer, static_cast<size_t>(count));
    size_t end;
    while ((end = controlLine_.find('\n')) != std::string::npos) {
      std::string line = controlLine_.substr(0, end);
      controlLine_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && !Control(line)) PrintLine("CONTROL refused " + Escaped(line));
    }
    if (controlLine_.size() > kMaxControlLine) {
      PrintLine("CONTROL refused a line of more than " + std::to_string(kMaxControlLine) +
                " bytes");
      controlLine_.clear();
    }
  }

  // RECEIVE <sender> <text>, NETWORK <stat>, POWER off|on, CALL_IN <caller> <rings>
  // [<gap-ms>]; false when not understood.
  bool Control(const std::string& line) {
    size_t space = line.find(' ');
    std::string command = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    long number;
    if (command == "NETWORK" && Number(rest.c_str(), &number) && number <= 5) {
      QueueUnasked(phone_.SetNetwork(static_cast<int>(number)));
      return true;
    }
    if (command == "POWER" && (rest == "on" || rest == "off")) {
      Power(rest == "on");
      return true;
    }
    if (command == "CALL_IN") return CallIn(rest);
    if (command != "RECEIVE") return false;
    space = rest.find(' ');
    IncomingSms sms{"", "", Timestamp()};
    if (space == 0 || space == std::string::npos ||
        !Unescaped(rest.substr(0, space), &sms.sender) ||
        !Unescaped(rest.substr(space + 1), &sms.text)) {
      return false;
    }
    QueueUnasked(phone_.Arrive(sms));
    return true;
  }

  void Deliver(const DeliveredSms& sms) {
    std::string line = "SMS ref=" + std::to_string(sms.reference) + " to=" + Escaped(sms.number) +
                       " text=" + Escaped(sms.text);
    PrintLine(line);
    if (sms.reportWanted) PlanReports(sms);
    for (const AutoReply& reply : options_.autoReplies) {
      if (reply.number != sms.number) continue;
      At(NowMs() + reply.delay, [this, &reply] {
        QueueUnasked(phone_.Arrive({reply.number, reply.text, Timestamp()}));
      });
    }
    if (options_.smsFile.empty()) return;
    FILE* file = fopen(options_.smsFile.c_str(), "a");
    if (file == nullptr) {
      fprintf(stderr, "kelvor-gsm-sim: cannot write %s: %s\n", options_.smsFile.c_str(),
              strerror(errno));
      return;
    }
    fputs((line + "\n").c_str(), file);
    fclose(file);
  }

  // The network's reports on an SMS that asked for them.
  void PlanReports(const DeliveredSms& sms) {
    std::string sent = Timestamp();
    for (const ReportPlan::Step& step : options_.reports.For(sms.number)) {
      At(NowMs() + step.after, [this, sms, sent, status = step.status] {
        QueueUnasked(phone_.Report({sms.reference, sms.number, sent, Timestamp(), status}));
      });
    }
  }

  // The network waits for the AT+CNMA of each +CDS, however it came (a report held for the
  // phone comes when the phone is back); the phone knows which ones it awaits.
  void WatchAcknowledgements() {
    while (acknowledgementsWatched_ < phone_.ReportsPushed()) {
      int pushed = ++acknowledgementsWatched_;
      At(NowMs() + kAcknowledgementWait, [this, pushed] { phone_.AcknowledgementMissed(pushed); });
    }
  }

  const Options& options_;
  int master_;
  int control_;
  GsmPhone phone_;
  long start_;
  struct Timer {
    long id;
    std::function<void()> action;
  };
  std::multimap<long, Timer> timers_;
  long timersMade_ = 0;
  std::vector<long> callTimers_;  // the outcome of the call under way
  std::vector<long> ringTimers_;  // the rings of the incoming call
  std::deque<Piece> pending_;
  std::vector<DeliveredSms> delivered_;
  bool simBusyWatched_ = false;
  int simBusyGeneration_ = 0;
  int acknowledgementsWatched_ = 0;  // the +CDS whose AT+CNMA the network waits for
  std::string controlLine_;
};

}  // namespace
}  // namespace kelvor::sim

int main(int argc, char** argv) {
  using namespace kelvor::sim;
  Options options;
  if (!ReadOptions(argc, argv, &options)) return 2;
  int master = -1, slave = -1;
  std::string path;
  if (!OpenTerminal(&master, &slave, &path)) {
    fprintf(stderr, "kelvor-gsm-sim: no pseudo-terminal: %s\n", strerror(errno));
    return 1;
  }
  if (!options.link.empty()) {
    unlink(options.link.c_str());
    if (symlink(path.c_str(), options.link.c_str()) != 0) {
      fprintf(stderr, "kelvor-gsm-sim: cannot link %s: %s\n", options.link.c_str(),
              strerror(errno));
      return 1;
    }
  }
  int control = -1;
  if (!options.control.empty()) {
    control = OpenControl(options.control);
    if (control < 0) {
      fprintf(stderr, "kelvor-gsm-sim: cannot make the FIFO %s: %s\n", options.control.c_str(),
              strerror(errno));
      if (!options.link.empty()) unlink(options.link.c_str());
      return 1;
    }
  }
  struct sigaction action {};
  action.sa_handler = Stop;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  printf("%s\n", path.c_str());
  fflush(stdout);
  Simulator simulator(options, master, control);
  simulator.Run();

  if (!options.link.empty()) unlink(options.link.c_str());
  if (control >= 0) {
    close(control);
    unlink(options.control.c_str());
  }
  close(slave);
  close(master);
  return 0;
}
