// A modem queue that records what it is handed.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "modem/sms_outbox.h"
#include "platform/clock.h"

namespace kelvor::test {

class FakeOutbox : public SmsOutbox {
 public:
  struct Sms {
    std::string text;
    std::string number;
    uint32_t tick;  // when it was queued, if a clock was given
  };

  explicit FakeOutbox(Clock* clock = nullptr) : clock_(clock) {}

  // Refuses once `capacity` SMS were accepted, like a full queue, or where a text longer than
  // `textLimit` would pass it as several; refused ones are counted.
  uint32_t QueueMessage(const char* text, const char* number) override {
    if (!HasRoomFor(text)) {
      ++refused;
      return false;
    }
    queued.push_back({text, number, clock_ != nullptr ? clock_->TickCount() : 0});
    return true;
  }

  bool Full() const override { return static_cast<int>(queued.size()) >= capacity; }
  bool HasRoomFor(const char* text) const override {
    int parts = static_cast<int>((strlen(text) + textLimit - 1) / textLimit);
    return static_cast<int>(queued.size()) + (parts > 0 ? parts : 1) <= capacity;
  }
  bool FitsOneSms(const char* text) const override { return strlen(text) <= textLimit; }

  int capacity = 21;
  size_t textLimit = kSmsTextLimit;  // characters of one SMS, as the coding chosen holds them
  int refused = 0;
  std::vector<Sms> queued;

 private:
  Clock* clock_;
};

}  // namespace kelvor::test
