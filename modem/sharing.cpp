#include "modem/sharing.h"

namespace kelvor {
namespace {

const char* const kPlaceWords[kPhoneCount][2] = {{"main", "Main"}, {"standby", "Standby"}};

bool CanSend(const PhoneView& phone) {
  return phone.answers && phone.fault == PhoneFault::kNone;
}

uint8_t Other(uint8_t place) {
  return place == kMainPhone ? kStandbyPhone : kMainPhone;
}

}  // namespace

uint8_t Sharing::Pass(const PhoneView& main, const PhoneView& standby, const char* mainName,
                      const char* standbyName) {
  const PhoneView views[kPhoneCount] = {main, standby};
  const char* const names[kPhoneCount] = {mainName, standbyName};
  if (borrowers_ == kBothPhones) {
    if (!Alone(kStandbyPhone, views, names)) Alone(kMainPhone, views, names);
    return borrowers_;
  }
  uint8_t sender = borrowers_ == 1u << kMainPhone ? kMainPhone : kStandbyPhone;
  Again(Other(sender), views, names);
  return borrowers_;
}

// `place` takes all when the other phone has failed and has no SMS on its way.
bool Sharing::Alone(uint8_t place, const PhoneView* views, const char* const* names) {
  const PhoneView& failed = views[Other(place)];
  if (failed.fault == PhoneFault::kNone || failed.inFlight || !CanSend(views[place])) {
    return false;
  }
  borrowers_ = static_cast<uint8_t>(1u << place);
  lookAt_ = clock_.TickCount() + kRetryGap;
  switched_ = {place == kStandbyPhone, failed.fault, true};
  log_.LogMessage(Colour::kError, "%s phone %s takes over - %s phone %s %s", kPlaceWords[place][1],
                  names[place], kPlaceWords[Other(place)][0], names[Other(place)],
                  FaultWords(failed.fault));
  return true;
}

// The failed phone is looked at every kRetryGap, and at once when the one that sends cannot;
// a phone not back yet is looked at again a gap later.
bool Sharing::Again(uint8_t place, const PhoneView* views, const char* const* names) {
  uint32_t now = clock_.TickCount();
  const PhoneView& back = views[place];
  if (!DeadlinePassed(now, lookAt_) && CanSend(views[Other(place)])) return false;
  if (!CanSend(back) || !back.registered) {
    if (DeadlinePassed(now, lookAt_)) lookAt_ = now + kRetryGap;
    return false;
  }
  borrowers_ = kBothPhones;
  switched_ = {Other(place) == kStandbyPhone, PhoneFault::kNone, true};
  log_.LogMessage(Colour::kModem, "%s phone %s shares again - it answers and is registered",
                  kPlaceWords[place][1], names[place]);
  return true;
}

void Sharing::Heard(const ModemEvents& events, int from) {
  for (int i = from; i < events.Count(); ++i) {
    const ModemEvent& event = events.At(i);
    if (event.kind == ModemEvent::kConfirmed && event.phone < kPhoneCount) ++sent_[event.phone];
  }
}

const char* Sharing::SendingPhone() const {
  if (borrowers_ == kBothPhones) return "both";
  return borrowers_ == 1u << kMainPhone ? "main" : "standby";
}

}  // namespace kelvor
