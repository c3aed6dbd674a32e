#include "app/replies.h"

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

}  // namespace

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

Escalation::RuleOutcome Replies::AddRule(const char* number, uint32_t minutes, const char* next) {
  Escalation::RuleOutcome outcome = escalation_.AddRule(number, minutes, next);
  if (outcome == Escalation::kAdded) {
    heard_.Add(number);
    heard_.Add(next);
  }
  return outcome;
}

void Replies::Start(SmsModem& modem, Log& log) {
  if (!On()) return;
  modem.ListenForReplies();
  log.LogMessage(Colour::kNormal, "Replies by SMS read from the phone, heard from %d numbers",
                 heard_.Count());
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
