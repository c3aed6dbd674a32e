#include "modem/modem_errors.h"

namespace kelvor {
namespace {

struct ErrorRow {
  ErrorKind kind;
  int32_t code;
  ErrorWords words;
  Refusal refusal;
  bool sim = false;  // the SIM's: missing, locked, failed
};

constexpr ErrorKind kPhone = ErrorKind::kPhone;
constexpr ErrorKind kSms = ErrorKind::kSms;
constexpr ErrorWords kSimMissing = {"SIM missing", "put the SIM card in the phone"};
constexpr ErrorWords kPinWanted = {"SIM PIN wanted", "give the SIM's PIN as PIN=nnnn"};
constexpr ErrorWords kPukWanted = {"SIM blocked, PUK wanted",
                                   "unblock the SIM with its PUK in a phone, then restart Kelvor"};
constexpr ErrorWords kPinOrPukWanted = {"SIM PIN or PUK wanted",
                                        "unlock the SIM in a phone, or give its PIN as PIN=nnnn"};
constexpr ErrorWords kSimFailure = {"SIM failure", "check the SIM card, or change it"};
constexpr ErrorWords kNoNetwork = {"no network service",
                                   "check the antenna, the signal and the SIM's subscription"};
constexpr ErrorWords kMemoryFull = {"memory full", "delete the SMS stored on the SIM"};
// What to do about the network's refusal of one SMS.
constexpr const char* kCheckNumber = "check the number the SMS went to";
constexpr const char* kNetworkBusy = "the network refused this SMS for now";
constexpr const char* kSubscription = "ask the network operator about the SIM's subscription";

constexpr ErrorRow kErrors[] = {
    {kPhone, 10, kSimMissing, Refusal::kCounts, true},
    {kPhone, 11, kPinWanted, Refusal::kWaitsPin, true},
    {kPhone, 12, kPukWanted, Refusal::kCounts, true},
    {kPhone, 13, kSimFailure, Refusal::kCounts, true},
    {kPhone,
     16,
     {"wrong PIN", "check PIN= - three wrong PINs block the SIM"},
     Refusal::kCounts,
     true},
    {kPhone, 20, kMemoryFull, Refusal::kCounts},
    {kPhone, 30, kNoNetwork, Refusal::kWaitsNetwork},
    // The network's causes: it was reached, and refused this one SMS.
    {kSms, 1, {"unassigned number", kCheckNumber}, Refusal::kCounts},
    {kSms, 8, {"operator determined barring", kSubscription}, Refusal::kCounts},
    {kSms, 10, {"call barred", kSubscription}, Refusal::kCounts},
    {kSms, 21, {"short message transfer rejected", kCheckNumber}, Refusal::kCounts},
    {kSms, 27, {"destination out of service", kCheckNumber}, Refusal::kCounts},
    {kSms, 28, {"unidentified subscriber", kCheckNumber}, Refusal::kCounts},
    {kSms, 29, {"facility rejected", kSubscription}, Refusal::kCounts},
    {kSms, 38, {"network out of order", kNetworkBusy}, Refusal::kCounts},
    {kSms, 41, {"temporary failure", kNetworkBusy}, Refusal::kCounts},
    {kSms, 42, {"congestion", kNetworkBusy}, Refusal::kCounts},
    {kSms, 47, {"resources unavailable", kNetworkBusy}, Refusal::kCounts},
    {kSms, 50, {"requested facility not subscribed", kSubscription}, Refusal::kCounts},
    {kSms, 69, {"requested facility not implemented", kSubscription}, Refusal::kCounts},
    {kSms, 310, kSimMissing, Refusal::kCounts, true},
    {kSms, 311, kPinWanted, Refusal::kWaitsPin, true},
    {kSms, 312, kPinOrPukWanted, Refusal::kCounts, true},
    {kSms, 313, kSimFailure, Refusal::kCounts, true},
    {kSms, 322, kMemoryFull, Refusal::kCounts},
    {kSms,
     330,
     {"service centre unknown", "give the SMS service centre's number as SERVICE=+nnn"},
     Refusal::kCounts},
    {kSms, 331, kNoNetwork, Refusal::kWaitsNetwork},
    {kSms, 332, {"network time-out", "check the antenna and the signal"}, Refusal::kWaitsNetwork},
};

const ErrorRow* Find(ErrorKind kind, int32_t code) {
  for (const ErrorRow& row : kErrors) {
    if (row.kind == kind && row.code == code) return &row;
  }
  return nullptr;
}

}  // namespace

const ErrorWords* WordsForError(ErrorKind kind, int32_t code) {
  const ErrorRow* row = Find(kind, code);
  return row != nullptr ? &row->words : nullptr;
}

Refusal RefusalFor(ErrorKind kind, int32_t code) {
  const ErrorRow* row = Find(kind, code);
  return row != nullptr ? row->refusal : Refusal::kCounts;
}

bool IsSimError(ErrorKind kind, int32_t code) {
  const ErrorRow* row = Find(kind, code);
  return row != nullptr && row->sim;
}

// +CMS ERROR 1 to 127 are the network's causes, 128 to 255 the service centre's: either
// way the radio reached the network. The phone's own run from 300.
bool IsNetworkAnswer(ErrorKind kind, int32_t code) {
  return kind == ErrorKind::kSms && code >= 1 && code <= 255;
}

bool IsRadioError(ErrorKind kind, int32_t code) {
  return Find(kind, code) == nullptr && !IsNetworkAnswer(kind, code);
}

}  // namespace kelvor
