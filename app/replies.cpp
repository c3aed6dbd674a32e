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
  int owed = IndexOf(number);  // an owed answer, given, keeps its place
  Answer* place = owed >= 0 ? &answered_[owed] : nullptr;
  if (place == nullptr && strlen(number) < kNumberSize) place = Place(number);
  if (place == nullptr) return;
  place->used = true;
  place->owed = false;
  place->at = now;
  memcpy(place->number, number, strlen(number) + 1);
}

bool StatusAnswerRate::Owe(const char* number) {
  Answer* place = strlen(number) < kNumberSize ? Place(number) : nullptr;
  if (place == nullptr) return false;
  place->used = true;
  place->owed = true;
  memcpy(place->number, number, strlen(number) + 1);
  return true;
}

bool StatusAnswerRate::Owes(const char* number) const {
  int at = IndexOf(number);
  return at >= 0 && answered_[at].owed;
}

const char* StatusAnswerRate::Owed() const {
  for (const Answer& answered : answered_) {
    if (answered.used && answered.owed) return answered.number;
  }
  return nullptr;
}

int StatusAnswerRate::IndexOf(const char* number) const {
  for (int i = 0; i < kCapacity; ++i) {
    if (answered_[i].used && SameNumber(answered_[i].number, number)) return i;
  }
  return -1;
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

// An owed answer is not forgotten: its minute starts when it is given.
void StatusAnswerRate::Pass(uint32_t now) {
  for (Answer& answered : answered_) {
    if (answered.used && !answered.owed && Elapsed(now, answered.at) >= kGap) {
      answered.used = false;
    }
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

WakeUpCalls::RuleOutcome Replies::AddRing(const char* number, uint32_t minutes, int priority) {
  WakeUpCalls::RuleOutcome outcome = calls_.AddRule(number, minutes, priority);
  if (outcome == WakeUpCalls::kAdded) heard_.Add(number);
  return outcome;
}

void Replies::Start(SmsModem& modem, Log& log) {
  if (!On()) return;
  modem.ListenForReplies();
  log.LogMessage(Colour::kNormal, "Replies by SMS read from the phone, heard from %d numbers",
                 heard_.Count());
}

// The escalation's clock runs on every step, a full queue or not: a time that is up must be
// seen within the tick's reach, however long the queue stays full.
void Replies::AfterStep(SmsModem& modem, const ModemEvents& events, Log& log, uint32_t now,
                        uint32_t alarmsRead, bool alarmsWaiting) {
  for (int i = 0; i < events.Count(); ++i) {
    if (events.At(i).kind == ModemEvent::kConfirmed) Confirmed(events.At(i).sms, log, now);
    if (events.At(i).kind == ModemEvent::kDelivery) Delivered(events.At(i), now);
  }
  escalation_.Pass(now);
  calls_.Pass(now);
  for (int i = 0; i < events.Count(); ++i) {
    if (events.At(i).kind != ModemEvent::kIncoming) continue;
    Answer(events.At(i).incoming, modem, log, now, alarmsRead, RoomForOwn(modem, alarmsWaiting));
  }
  rate_.Pass(now);
  QueueDue(modem, log, now, alarmsWaiting);
  // The escalations due went first: one still due has found the queue full.
  if (!alarmsWaiting) AnswerOwed(modem, log, now, alarmsRead);
  CallDue(modem, log);
}

// One call at a time, from the phone that sends, once it has no SMS to send: a call never
// holds an alarm up longer than its own ringing.
void Replies::CallDue(SmsModem& modem, Log& log) {
  uint32_t unanswered = 0;
  uint32_t minutes = 0;
  const char* number = calls_.Due(&unanswered, &minutes);
  if (number == nullptr || modem.Calling() || !modem.StartCall(number)) return;
  log.LogMessage(Colour::kNormal, "Wake-up call to %s: %u alarm SMS without an answer in %u min",
                 number, static_cast<unsigned>(unanswered), static_cast<unsigned>(minutes));
  calls_.Called(number);
}

// Escalated SMS are alarms and take any place; whatever Kelvor says of itself comes after
// every alarm that waits for a place, a destination's batch or an escalation due.
bool Replies::RoomForOwn(const SmsModem& modem, bool alarmsWaiting) const {
  return !modem.Full() && !alarmsWaiting && !escalation_.HasDue();
}

// An escalated SMS rings its number as an alarm SMS does: its alarms' priorities are not
// known, and it carries alarms nobody has answered yet.
void Replies::Confirmed(const OutgoingSms& sms, Log& log, uint32_t now) {
  if (sms.kind != SmsKind::kService) {
    calls_.AlarmConfirmed(sms.number, sms.kind == SmsKind::kAlarm ? sms.urgency : kMostUrgent, now);
  }
  if (sms.kind == SmsKind::kEscalated) {
    escalation_.EscalationConfirmed(sms.id, now);
  } else if (sms.kind == SmsKind::kAlarm &&
             escalation_.AlarmConfirmed(sms.number, sms.id, sms.text, now) == Escalation::kFull) {
    log.LogMessage(Colour::kError, "Escalation full (%d) - alarm SMS to %s will not be escalated",
                   kEscalationCapacity, sms.number);
  }
}

// An alarm the network gave up escalates at once: its report stands for the holder's silence.
void Replies::Delivered(const ModemEvent& event, uint32_t now) {
  if (event.delivery != Delivery::kUndelivered || event.sms.kind == SmsKind::kService) return;
  escalation_.Undelivered(event.sms.id, now);
  calls_.Undelivered(event.sms.number, now);
}

// A message's sender and text reach the console only as printable excerpts.
void Replies::Answer(const IncomingSms& message, SmsModem& modem, Log& log, uint32_t now,
                     uint32_t alarmsRead, bool room) {
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
  if (calls_.Answered(number)) {
    log.LogMessage(Colour::kNormal, "SMS from %s - no wake-up call needed", number);
  }
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
    log.LogMessage(
        Colour::kNormal, "Status request from %s - %s", number,
        rate_.Owes(number) ? "its answer waits already" : "answered within the minute already");
    return;
  }
  if (room) {
    SendAnswer(number, modem, log, now, alarmsRead);
  } else if (rate_.Owe(number)) {
    // Its minute starts when the answer goes, with the status of that moment.
    log.LogMessage(Colour::kNormal,
                   "Status request from %s - answer waits, alarms come first in the SMS queue",
                   number);
  } else {
    log.LogMessage(Colour::kError, "Status request from %s - not answered, the SMS queue is full",
                   number);
  }
}

void Replies::SendAnswer(const char* number, SmsModem& modem, Log& log, uint32_t now,
                         uint32_t alarmsRead) {
  char text[kSmsTextLimit + 1];
  FormatStatusAnswer(GatherStatus(modem, alarmsRead, duty_), text, sizeof text);
  modem.QueueServiceMessage(text, number);  // there is room: a number heard fits a command
  rate_.Answered(number, now);
  log.LogMessage(Colour::kNormal, "Status request from %s - answered by SMS", number);
}

void Replies::AnswerOwed(SmsModem& modem, Log& log, uint32_t now, uint32_t alarmsRead) {
  for (const char* number = rate_.Owed(); number != nullptr && !modem.Full();
       number = rate_.Owed()) {
    char owed[kNumberSize];
    memcpy(owed, number, strlen(number) + 1);  // Answered writes the place it lies in
    SendAnswer(owed, modem, log, now, alarmsRead);
  }
}

// An escalated SMS's first line names the number passed over: its console line shows it.
// Confirmations take only a place no alarm waits for: TakeDue hands them out once no
// escalation is due, and here while no batch waits.
void Replies::QueueDue(SmsModem& modem, Log& log, uint32_t now, bool alarmsWaiting) {
  EscalationSms sms;
  while (!modem.Full() && escalation_.TakeDue(now, &sms, !alarmsWaiting, &modem)) {
    if (sms.kind == EscalationSms::kEscalated) {
      log.LogMessage(Colour::kNormal, "Escalated to %s: %s", sms.number, sms.text);
      escalation_.Queued(sms, modem.QueueEscalatedMessage(sms.text, sms.number));
    } else {
      log.LogMessage(Colour::kNormal, "Acknowledgement confirmed by SMS to %s", sms.number);
      modem.QueueServiceMessage(sms.text, sms.number);
    }
  }
}

}  // namespace kelvor
