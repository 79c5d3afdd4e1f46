#include "Workflow.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextDocument>
#include <QTimer>

#include "PanelFrames.h"
#include "framework/Ansi.h"
#include "framework/Dialogs.h"
#include "serial/ComPort.h"

namespace vardelio {
namespace {

constexpr int kSubscriberLength = 4;

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
  if (c_.Edit1->text().size() != kSubscriberLength) {
    ShowMessage(messages::kBadSubscriber);
    return;
  }
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
}

void TProgrammingWorkflow::Receive() {
  *c_.Tag = 1;
  EnableButtons(false);
  c_.Port->WriteText(std::string(kReadRequest));
  c_.Edit1->clear();
  c_.Edit2->clear();
  c_.Edit3->clear();
  c_.Memo1->clear();
  StartTimer();
  // After the write: whatever arrived up to now is stale.
  c_.Port->PurgeBuffers(true, false);
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
  } else {
    EvaluateReceive();
  }
}

void TProgrammingWorkflow::EvaluateSend() {
  if (ToAnsi(BufferText(c_.Memo1)) == kAcknowledgement) {
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

}  // namespace vardelio
