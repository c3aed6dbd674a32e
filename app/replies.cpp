#include "app/replies.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "app/status.h"
#include "modem/phone_number.h"
#include "platform/text.h"
#include "routing/escalation.h"

namespace kelvor {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// The field [begin, end) into `to`, one character more than a number's field holds, so that
// a long one is no number.
void CopyField(const char* begin, const char* end, char (&to)[kNumberSize + 1]) {
  snprintf(to, sizeof to, "%.*s", static_cast<int>(end - begin), begin);
}

}  // namespace

// Splits the three fields and keeps what the rule says of their values; a refused number
// is kept as far as it fits, printable, for its line.
EscalateArgument ParseEscalateArgument(const char* argument) {
  EscalateArgument read;
  const char* fields = argument + strlen("ESCALATE=");
  const char* first = strchr(fields, ',');
  const char* second = first != nullptr ? strchr(first + 1, ',') : nullptr;
  if (second == nullptr || strchr(second + 1, ',') != nullptr) return read;  // kBadFields
  char number[kNumberSize + 1];
  char next[kNumberSize + 1];
  CopyField(fields, first, number);
  CopyField(second + 1, second + 1 + strlen(second + 1), next);
  uint32_t minutes = 0;  // digits alone, no more of them than 1440 has; 0 when not
  ReadNumber(first + 1, static_cast<size_t>(second - first - 1), 4, &minutes);
  static_assert(kLongestEscalationMinutes < 10000, "four digits of minutes");
  switch (CheckRuleValues(number, minutes, next)) {
    case RuleValues::kBadNumber:
      read.outcome = EscalateArgument::kBadNumber;
      PrintableCopy(number, read.number, sizeof read.number);
      return read;
    case RuleValues::kBadMinutes:
      read.outcome = EscalateArgument::kBadMinutes;
      break;
    case RuleValues::kBadNext:
      read.outcome = EscalateArgument::kBadNext;
      read.minutes = minutes;
      PrintableCopy(next, read.next, sizeof read.next);
      break;
    case RuleValues::kFine:
      read.outcome = EscalateArgument::kFine;
      read.minutes = minutes;
      memcpy(read.next, next, strlen(next) + 1);
      break;
  }
  memcpy(read.number, number, strlen(number) + 1);
  return read;
}

bool IsStatusRequest(const char* text, bool cut) {
  if (cut) return false;
  while (IsBlank(*text)) ++text;
  size_t length = strlen(text);
  while (length > 0 && IsBlank(text[length - 1])) --length;
  for (const char* word : {"S", "STATUS"}) {
    if (length != strlen(word)) continue;
    size_t i = 0;
    while (i < length && Upper(text[i]) == word[i]) ++i;
    if (i == length) return true;
  }
  return false;
}

bool StatusAnswerRate::Allows(const char* number, uint32_t now) {
  Pass(now);
  return strlen(number) < kNumberSize && Place(number) != nullptr;
}

void StatusAnswerRate::Answered(const char* number, uint32_t now) {
  Answer* place = strlen(number) < kNumberSize ? Place(number) : nullptr;
  if (place == nullptr) return;
  place->used = true;
  place->at = now;
  memcpy(place->number, number, strlen(number) + 1);
}

// A free place for `number`; null when it was answered within the minute, or none is free.
StatusAnswerRate::Answer* StatusAnswerRate::Place(const char* number) {
  Answer* free = nullptr;
  for (Answer& answered : answered_) {
    if (answered.used && SameNumber(answered.number, number)) return nullptr;
    if (!answered.used && free == nullptr) free = &answered;
  }
  return free;
}

void StatusAnswerRate::Pass(uint32_t now) {
  for (Answer& answered : answered_) {
    if (answered.used && Elapsed(now, answered.at) >= kGap) answered.used = false;
  }
}

Escalation::RuleOutcome Replies::AddRule(const EscalateArgument& rule) {
  Escalation::RuleOutcome outcome = escalation_.AddRule(rule.number, rule.minutes, rule.next);
  if (outcome == Escalation::kAdded) {
    heard_.Add(rule.number);
    heard_.Add(rule.next);
  }
  return outcome;
}

void Replies::AfterStep(SmsModem& modem, Log& log, uint32_t now, uint32_t alarmsRead) {
  OutgoingSms confirmed;
  if (modem.TakeConfirmed(&confirmed)) Confirmed(confirmed, log, now);
  IncomingSms message;
  if (modem.TakeIncoming(&message)) Answer(message, modem, log, now, alarmsRead);
  rate_.Pass(now);
  QueueDue(modem, log, now);
}

void Replies::Confirmed(const OutgoingSms& sms, Log& log, uint32_t now) {
  if (sms.kind == SmsKind::kEscalated) {
    escalation_.EscalationConfirmed(sms.number, sms.text, now);
  } else if (sms.kind == SmsKind::kAlarm &&
             escalation_.AlarmConfirmed(sms.number, sms.text, now) == Escalation::kFull) {
    log.LogMessage(Colour::kError, "Escalation full (%d) - alarm SMS to %s will not be escalated",
                   kEscalationCapacity, sms.number);
  }
}

// A message's sender and text reach the console only as printable excerpts.
void Replies::Answer(const IncomingSms& message, SmsModem& modem, Log& log, uint32_t now,
                     uint32_t alarmsRead) {
  char excerpt[kExcerptSize];
  PrintableExcerpt(message.text, excerpt, sizeof excerpt);
  int at = heard_.IndexOf(message.sender);
  if (at < 0) {
    char sender[kExcerptSize];
    PrintableExcerpt(message.sender, sender, sizeof sender);
    log.LogMessage(Colour::kNormal, "SMS from unknown number %s ignored: %s", sender, excerpt);
    return;
  }
  const char* number = heard_.At(at);
  if (!IsStatusRequest(message.text, message.textCut)) {
    int acknowledged = escalation_.Acknowledge(number);
    if (acknowledged > 0) {
      log.LogMessage(Colour::kNormal, "SMS from %s acknowledges %d alarm SMS: %s", number,
                     acknowledged, excerpt);
    } else {
      log.LogMessage(Colour::kNormal, "SMS from %s, no alarm SMS awaits its answer: %s", number,
                     excerpt);
    }
    return;
  }
  if (!rate_.Allows(number, now)) {
    log.LogMessage(Colour::kNormal, "Status request from %s - answered within the minute already",
                   number);
    return;
  }
  char text[kSmsTextLimit + 1];
  FormatStatusAnswer(TakeStatus(modem, alarmsRead), text, sizeof text);
  // Only an answer the queue took uses up the number's minute.
  if (!modem.QueueServiceMessage(text, number)) {
    log.LogMessage(Colour::kError, "Status request from %s - not answered, the SMS queue is full",
                   number);
    return;
  }
  rate_.Answered(number, now);
  log.LogMessage(Colour::kNormal, "Status request from %s - answered by SMS", number);
}

// An escalated SMS's first line names the number passed over: its console line shows it.
// The escalation's clock runs on every pass, a full queue or not: a time that is up must be
// seen within the tick's reach, however long the queue stays full.
void Replies::QueueDue(SmsModem& modem, Log& log, uint32_t now) {
  escalation_.Pass(now);
  EscalationSms sms;
  while (!modem.Full() && escalation_.TakeDue(now, &sms)) {
    if (sms.kind == EscalationSms::kEscalated) {
      log.LogMessage(Colour::kNormal, "Escalated to %s: %s", sms.number, sms.text);
      modem.QueueEscalatedMessage(sms.text, sms.number);
    } else {
      log.LogMessage(Colour::kNormal, "Acknowledgement confirmed by SMS to %s", sms.number);
      modem.QueueServiceMessage(sms.text, sms.number);
    }
  }
}

}  // namespace kelvor
