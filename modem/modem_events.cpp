#include "modem/modem_events.h"

namespace kelvor {

// Full, the oldest goes: a stream nobody takes holds the latest.
ModemEvent* ModemEvents::Add(ModemEvent::Kind kind) {
  if (count_ == kCapacity) {
    for (int i = 1; i < kCapacity; ++i) events_[i - 1] = events_[i];
    --count_;
  }
  ModemEvent& event = events_[count_++];
  event.kind = kind;
  return &event;
}

void ModemEvents::MoveTo(ModemEvents* taken) {
  for (int i = 0; i < count_; ++i) taken->events_[i] = events_[i];
  taken->count_ = count_;
  count_ = 0;
}

}  // namespace kelvor
