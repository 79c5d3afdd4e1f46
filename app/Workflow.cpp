#include "Workflow.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextDocument>
#include <QTimer>

#include "EntryRules.h"
#include "PanelFrames.h"
#include "ProgrammingFile.h"
#include "framework/Ansi.h"
#include "framework/Dialogs.h"
#include "serial/ComPort.h"

namespace vardelio {
namespace {

QString WithSeparator(const QString& phone) {
  return phone.size() < int(kPhoneWithoutSeparator) ? phone + QLatin1Char('T') : phone;
}

template <std::size_t N>
int CheckedIndex(const std::array<QRadioButton*, N>& group) {
  for (std::size_t i = 0; i < N; ++i) {
    if (group[i]->isChecked()) return int(i);
  }
  return 0;
}

// Fills the window as the parse reaches each field.
class TWindowSink final : public TReplyParseSink {
 public:
  explicit TWindowSink(const TWorkflowControls& c) : c_(c) {}
  void SubscriberChar(char ch) override { AppendTo(c_.Edit1, ch); }
  void SubscriberDone() override { c_.Progress->setValue(40); }
  void MainPhoneChar(char ch) override { AppendTo(c_.Edit2, ch); }
  void FirstSeparatorDone() override { c_.Progress->setValue(60); }
  void BackupPhoneChar(char ch) override { AppendTo(c_.Edit3, ch); }
  void TerminalBlockRead(std::optional<TTerminalBlock> value) override {
    if (value) c_.TerminalBlock[std::size_t(*value)]->setChecked(true);
    c_.Progress->setValue(100);
  }
  void TestReportRead(std::optional<TTestReport> value) override {
    if (value) c_.TestReport[std::size_t(*value)]->setChecked(true);
  }

 private:
  static void AppendTo(QLineEdit* field, char ch) {
    field->setText(field->text() + FromAnsi(std::string_view(&ch, 1)));
  }
  const TWorkflowControls& c_;
};

// The buffer's text exactly as it was set: the plain-text view would turn a no-break space
// into a space.
QString BufferText(const QPlainTextEdit* memo) {
  QString text = memo->document()->toRawText();
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  return text;
}

QString Quoted(const std::string& text) {
  return QLatin1Char('"') + FromAnsi(text) + QLatin1Char('"');
}

template <typename T>
QString Mode(std::optional<T> value, QString (*caption)(T)) {
  return value ? caption(*value) : QStringLiteral("ninguno");
}

// One line for each field read back otherwise than it was sent.
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

}  // namespace

void TProgrammingWorkflow::Append(const QString& text, int progress) {
  c_.Memo1->setPlainText(BufferText(c_.Memo1) + text);
  if (progress >= 0) c_.Progress->setValue(progress);
}

void TProgrammingWorkflow::EnableButtons(bool enabled) {
  c_.Send->setEnabled(enabled);
  c_.Receive->setEnabled(enabled);
}

// A running timer keeps its time: the one evaluation comes a second after the first start.
void TProgrammingWorkflow::StartTimer() {
  if (!c_.Timer1->isActive()) c_.Timer1->start();
}

void TProgrammingWorkflow::Send() {
  StartSend();
}

void TProgrammingWorkflow::Receive() {
  verifying_ = TVerifying::no;
  StartReceive();
}

void TProgrammingWorkflow::SendAndVerify() {
  const TPanelProgramming values = Values();
  // A refused subscriber or a failed write ends it here, as it ends a send.
  if (!StartSend()) return;
  sent_ = values;
  verifying_ = TVerifying::acknowledgement;
}

// False when the frame did not go out. A refused send starts nothing, so it leaves a
// verification under way as it is; any send that goes ahead ends it. The entries' rules are
// checked here, not only the subscriber's length: pasted, dropped or read-back text reaches
// the entries unfiltered, and a stray "Z" would end the frame early.
bool TProgrammingWorkflow::StartSend() {
  if (CheckEntries(c_.Edit1->text(), c_.Edit2->text(), c_.Edit3->text())) {
    ShowMessage(messages::kBadSubscriber);
    return false;
  }
  verifying_ = TVerifying::no;
  EnableButtons(false);
  c_.Memo1->clear();
  *c_.Tag = 0;
  Append(QLatin1Char('P') + c_.Edit1->text(), 10);
  Append(WithSeparator(c_.Edit2->text()), 40);
  Append(WithSeparator(c_.Edit3->text()), 60);
  Append(QString(QChar('0' + CheckedIndex(c_.TerminalBlock))), 80);
  Append(QString(QChar('0' + CheckedIndex(c_.TestReport))), 100);
  Append(QStringLiteral("Z"), -1);
  // A write error leaves everything as it stands now: buttons off, frame in the buffer.
  c_.Port->WriteText(ToAnsi(BufferText(c_.Memo1)));
  EnableButtons(true);
  StartTimer();
  c_.Memo1->clear();
  c_.Edit1->clear();
  c_.Edit2->clear();
  c_.Edit3->clear();
  return true;
}

void TProgrammingWorkflow::StartReceive() {
  *c_.Tag = 1;
  EnableButtons(false);
  // Before the request, not after: stale bytes go, and an answer that comes at once stays.
  // A failed purge stops here, as a failed write does; a closed port has nothing to purge
  // and is told by the write's error.
  if (c_.Port->Connected()) c_.Port->PurgeBuffers(true, false);
  c_.Memo1->clear();
  c_.Port->WriteText(std::string(kReadRequest));
  c_.Edit1->clear();
  c_.Edit2->clear();
  c_.Edit3->clear();
  StartTimer();
  c_.Progress->setValue(10);
}

void TProgrammingWorkflow::Packet(const std::string& text) {
  if (text == kTimeOver) {
    ShowMessage(messages::kTimeOver);
    return;
  }
  // The buffer is a text control: it ends at a NUL.
  c_.Memo1->setPlainText(FromAnsi(std::string_view(text.c_str())));
}

void TProgrammingWorkflow::Evaluate() {
  c_.Timer1->stop();
  if (*c_.Tag == 0) {
    EvaluateSend();
  } else if (std::exchange(verifying_, TVerifying::no) == TVerifying::readBack) {
    EvaluateReadBack();
  } else {
    EvaluateReceive();
  }
}

void TProgrammingWorkflow::EvaluateSend() {
  const bool acknowledged = ToAnsi(BufferText(c_.Memo1)) == kAcknowledgement;
  if (std::exchange(verifying_, TVerifying::no) == TVerifying::acknowledgement && acknowledged) {
    c_.Progress->setValue(0);
    verifying_ = TVerifying::readBack;
    try {
      StartReceive();
    } catch (...) {
      // Reported as a receive's failure is; the window goes back to what was sent, as after
      // any other failure of the read-back.
      verifying_ = TVerifying::no;
      Show(sent_);
      throw;
    }
  } else if (acknowledged) {
    ShowMessage(messages::kProgrammed);
    c_.Progress->setValue(0);
  } else {
    ShowMessage(messages::kNotProgrammed);  // the progress bar stays where it is
  }
}

void TProgrammingWorkflow::EvaluateReceive() {
  const std::string buffer = ToAnsi(BufferText(c_.Memo1));
  if (buffer.empty()) {
    ShowMessage(messages::kNothingReceived);
  } else {
    TWindowSink sink(c_);
    const bool fault = ParseProgrammingReply(FirstLine(buffer), sink).Fault;
    ShowMessage(fault ? messages::kReceiveError : messages::kReceived);
  }
  c_.Progress->setValue(0);
  EnableButtons(true);
}

// Reported as a receive reports it, except that matching values are "verified" and differing
// ones listed; either way the window goes back to what was sent.
void TProgrammingWorkflow::EvaluateReadBack() {
  const std::string buffer = ToAnsi(BufferText(c_.Memo1));
  QString message = messages::kNothingReceived;
  if (!buffer.empty()) {
    TWindowSink sink(c_);
    const TProgrammingReply reply = ParseProgrammingReply(FirstLine(buffer), sink);
    const QString differences = Differences(sent_, reply);
    message = reply.Fault             ? messages::kReceiveError
              : differences.isEmpty() ? messages::kVerified
                                      : messages::kNotVerified + differences;
  }
  Show(sent_);
  ShowMessage(message);
  c_.Progress->setValue(0);
  EnableButtons(true);
}

bool TProgrammingWorkflow::Busy() const {
  return c_.Timer1->isActive();
}

void TProgrammingWorkflow::WhenValuesChange(QObject* context,
                                            const std::function<void()>& changed) {
  for (QLineEdit* entry : {c_.Edit1, c_.Edit2, c_.Edit3})
    QObject::connect(entry, &QLineEdit::textChanged, context, changed);
  for (QRadioButton* radio : c_.TerminalBlock)
    QObject::connect(radio, &QRadioButton::toggled, context, changed);
  for (QRadioButton* radio : c_.TestReport)
    QObject::connect(radio, &QRadioButton::toggled, context, changed);
}

TPanelProgramming TProgrammingWorkflow::Values() const {
  return {ToAnsi(c_.Edit1->text()), ToAnsi(c_.Edit2->text()), ToAnsi(c_.Edit3->text()),
          TTerminalBlock(CheckedIndex(c_.TerminalBlock)), TTestReport(CheckedIndex(c_.TestReport))};
}

void TProgrammingWorkflow::Show(const TPanelProgramming& values) {
  c_.Edit1->setText(FromAnsi(values.Subscriber));
  c_.Edit2->setText(FromAnsi(values.MainPhone));
  c_.Edit3->setText(FromAnsi(values.BackupPhone));
  c_.TerminalBlock[std::size_t(values.TerminalBlock)]->setChecked(true);
  c_.TestReport[std::size_t(values.TestReport)]->setChecked(true);
}

}  // namespace vardelio
