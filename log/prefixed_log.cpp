#include "log/prefixed_log.h"

namespace kelvor {

// The line's text goes on as data: a percent sign in it stays as it is.
void PrefixedLog::WriteLine(Colour colour, const char* text, size_t length) {
  to_.LogMessage(colour, "%s%.*s", prefix_, static_cast<int>(length), text);
}

void PrefixedLog::WritePlain(const char* text, size_t length) {
  to_.Print("%s%.*s", prefix_, static_cast<int>(length), text);
}

}  // namespace kelvor
