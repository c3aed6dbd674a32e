// Where finished alarm batches are handed for sending.
#pragma once

#include <cstddef>

namespace kelvor {

// The most characters one SMS text carries.
constexpr size_t kSmsTextLimit = 159;

class SmsOutbox {
 public:
  virtual ~SmsOutbox() = default;
  // Queues an SMS; both texts are copied. False when it was refused.
  virtual bool QueueMessage(const char* text, const char* number) = 0;
  // True while no further SMS would be taken: a caller that can wait may offer it later.
  virtual bool Full() const = 0;
};

}  // namespace kelvor
