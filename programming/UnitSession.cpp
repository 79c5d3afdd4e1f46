#include "UnitSession.h"

#include <QTimer>
#include <utility>

#include "EntryRules.h"
#include "Outcomes.h"
#include "ProgrammingFile.h"
#include "framework/Ansi.h"
#include "serial/ComPort.h"

namespace vardelio {
namespace {

std::string WithSeparator(const std::string& phone) {
  return phone.size() < kPhoneWithoutSeparator ? phone + 'T' : phone;
}

QString Quoted(const std::string& text) {
  return QLatin1Char('"') + FromAnsi(text) + QLatin1Char('"');
}

template <typename T>
QString Mode(std::optional<T> value, QString (*caption)(T)) {
  return value ? caption(*value) : QStringLiteral("ninguno");
}

}  // namespace

bool TSessionResult::Succeeded() const {
  return outcome == TOutcome::programmed || outcome == TOutcome::verified ||
         outcome == TOutcome::received;
}

QString Differences(const TPanelProgramming& sent, const TProgrammingReply& got) {
  QString lines;
  const auto differ = [&](const QString& field, const QString& was, const QString& is) {
    if (was != is) lines += QStringLiteral("\n%1: enviado %2, recibido %3.").arg(field, was, is);
  };
  differ(fields::kSubscriber, Quoted(sent.Subscriber), Quoted(got.Subscriber));
  differ(fields::kMainPhone, Quoted(sent.MainPhone), Quoted(got.MainPhone));
  differ(fields::kBackupPhone, Quoted(sent.BackupPhone), Quoted(got.BackupPhone));
  differ(fields::kTerminalBlock, TerminalBlockCaption(sent.TerminalBlock),
         Mode(got.TerminalBlock, &TerminalBlockCaption));
  differ(fields::kTestReport, TestReportCaption(sent.TestReport),
         Mode(got.TestReport, &TestReportCaption));
  return lines;
}

TUnitSession::TUnitSession(TCustomComPort& port, QTimer& timer, TSessionFace& face, int* tag)
    : port_(port), timer_(timer), face_(face), tag_(tag != nullptr ? tag : &ownTag_) {}

void TUnitSession::Append(const std::string& text, int progress) {
  face_.SetBuffer(face_.Buffer() + text);
  if (progress >= 0) face_.Progress(progress);
}

// A running timer keeps its time: the one evaluation comes a second after the first start.
void TUnitSession::StartTimer() {
  if (!timer_.isActive()) timer_.start();
}

bool TUnitSession::Send(const TPanelProgramming& values) {
  return StartSend(values);
}

void TUnitSession::Receive() {
  verifying_ = TVerifying::no;
  StartReceive();
}

bool TUnitSession::SendAndVerify(const TPanelProgramming& values) {
  // A refused subscriber or a failed write ends it here, as it ends a send.
  if (!StartSend(values)) return false;
  sent_ = values;
  verifying_ = TVerifying::acknowledgement;
  return true;
}

// A refused send starts nothing, so it leaves a verification under way as it is; any send
// that goes ahead ends it.
bool TUnitSession::StartSend(const TPanelProgramming& values) {
  // The values' one rule, wherever they came from (typed, pasted, read back, from a file): a
  // stray "Z" would end the frame early.
  if (CheckProgramming(values)) {
    face_.Message(outcomes::kBadSubscriber);
    return false;
  }
  verifying_ = TVerifying::no;
  timeOver_ = false;
  sent_ = values;
  face_.ButtonsEnabled(false);
  face_.SetBuffer({});
  *tag_ = 0;
  Append('P' + values.Subscriber, 10);
  Append(WithSeparator(values.MainPhone), 40);
  Append(WithSeparator(values.BackupPhone), 60);
  Append(std::string(1, TerminalBlockDigit(values.TerminalBlock)), 80);
  Append(std::string(1, TestReportDigit(values.TestReport)), 100);
  Append("Z", -1);
  // A write error leaves everything as it stands now: buttons off, frame in the buffer.
  port_.WriteText(face_.Buffer());
  face_.ButtonsEnabled(true);
  StartTimer();
  face_.SetBuffer({});
  face_.EntriesCleared();
  return true;
}

void TUnitSession::StartReceive() {
  *tag_ = 1;
  timeOver_ = false;
  face_.ButtonsEnabled(false);
  // Before the request, not after: stale bytes go, and an answer that comes at once stays.
  // A closed port has nothing to purge and is told by the write's error.
  if (port_.Connected()) port_.PurgeBuffers(true, false);
  face_.SetBuffer({});
  port_.WriteText(std::string(kReadRequest));
  face_.EntriesCleared();
  StartTimer();
  face_.Progress(10);
}

void TUnitSession::Packet(const std::string& text) {
  if (text == kTimeOver) {
    timeOver_ = true;
    face_.Message(outcomes::kTimeOver);
    return;
  }
  // As the window's buffer, a text control, keeps it: up to a NUL.
  face_.SetBuffer(std::string(text.c_str()));
}

void TUnitSession::Evaluate() {
  timer_.stop();
  if (*tag_ == 0) {
    EvaluateSend();
  } else if (std::exchange(verifying_, TVerifying::no) == TVerifying::readBack) {
    EvaluateReadBack();
  } else {
    EvaluateReceive();
  }
}

void TUnitSession::EvaluateSend() {
  const bool acknowledged = face_.Buffer() == kAcknowledgement;
  const bool verifying = std::exchange(verifying_, TVerifying::no) == TVerifying::acknowledgement;
  if (verifying && acknowledged) {
    face_.Progress(0);
    verifying_ = TVerifying::readBack;
    try {
      StartReceive();
    } catch (...) {
      // As after any other failure of the read-back, the values sent are shown again.
      verifying_ = TVerifying::no;
      face_.ShowValues(sent_);
      throw;
    }
    return;
  }
  TSessionResult result;
  result.operation = verifying ? TUnitOperation::verify : TUnitOperation::send;
  result.sent = sent_;
  if (acknowledged) {
    result.outcome = TOutcome::programmed;
    result.message = outcomes::kProgrammed;
    face_.Message(result.message);
    face_.Progress(0);
  } else {
    result.outcome = TOutcome::notProgrammed;
    result.message = outcomes::kNotProgrammed;
    face_.Message(result.message);  // the progress stays where it is
  }
  Finish(std::move(result));
}

TProgrammingReply TUnitSession::Parse() {
  const std::string buffer = face_.Buffer();
  const std::string_view line = FirstLine(buffer);
  if (TReplyParseSink* sink = face_.ReplySink()) return ParseProgrammingReply(line, *sink);
  return ParseProgrammingReply(line);
}

void TUnitSession::EvaluateReceive() {
  TSessionResult result;
  result.operation = TUnitOperation::receive;
  if (face_.Buffer().empty()) {
    result.outcome = TOutcome::nothingReceived;
    result.message = outcomes::kNothingReceived;
  } else {
    result.reply = Parse();
    result.outcome = result.reply.Fault ? TOutcome::receiveError : TOutcome::received;
    result.message = result.reply.Fault ? outcomes::kReceiveError : outcomes::kReceived;
  }
  face_.Message(result.message);
  face_.Progress(0);
  face_.ButtonsEnabled(true);
  Finish(std::move(result));
}

// Told as a receive tells it, except that matching values are "verified" and differing ones
// listed; either way what was sent is shown again.
void TUnitSession::EvaluateReadBack() {
  TSessionResult result;
  result.operation = TUnitOperation::verify;
  result.sent = sent_;
  result.outcome = TOutcome::nothingReceived;
  result.message = outcomes::kNothingReceived;
  if (!face_.Buffer().empty()) {
    result.reply = Parse();
    const QString differences = Differences(sent_, result.reply);
    result.outcome = result.reply.Fault      ? TOutcome::receiveError
                     : differences.isEmpty() ? TOutcome::verified
                                             : TOutcome::notVerified;
    result.message = result.reply.Fault      ? outcomes::kReceiveError
                     : differences.isEmpty() ? outcomes::kVerified
                                             : outcomes::kNotVerified + differences;
  }
  face_.ShowValues(sent_);
  face_.Message(result.message);
  face_.Progress(0);
  face_.ButtonsEnabled(true);
  Finish(std::move(result));
}

void TUnitSession::Finish(TSessionResult result) {
  result.timeOver = timeOver_;
  face_.Finished(result);
}

bool TUnitSession::Busy() const {
  return timer_.isActive();
}

}  // namespace vardelio
