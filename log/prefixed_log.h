// A log that puts a word before every line it is given and hands the line on to another
// log: the standby phone's lines read "Standby TX>>AT+CSQ" beside the main phone's own.
#pragma once

#include "log/log.h"

namespace kelvor {

class PrefixedLog : public Log {
 public:
  // `prefix` (kept, not copied) goes before each line, as it stands.
  PrefixedLog(Log& to, const char* prefix) : to_(to), prefix_(prefix) {}

 protected:
  void WriteLine(Colour colour, const char* text, size_t length) override;
  void WritePlain(const char* text, size_t length) override;

 private:
  Log& to_;
  const char* prefix_;
};

}  // namespace kelvor
