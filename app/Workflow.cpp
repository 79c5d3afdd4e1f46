#include "Workflow.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextDocument>
#include <QTimer>

#include "framework/Ansi.h"
#include "framework/Dialogs.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"

namespace vardelio {
namespace {

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

// The session's face in the window: its boxes, progress bar, buttons, entries and its hidden
// buffer.
class TProgrammingWorkflow::TWindowFace final : public TSessionFace {
 public:
  explicit TWindowFace(TProgrammingWorkflow& workflow) : w_(workflow), sink_(workflow.c_) {}

  void Message(const QString& text) override {
    if (w_.Say) {
      w_.Say(text);
    } else {
      ShowMessage(text);
    }
  }
  void Progress(int position) override { w_.c_.Progress->setValue(position); }
  void ButtonsEnabled(bool enabled) override { w_.EnableButtons(enabled); }
  std::string Buffer() const override { return ToAnsi(BufferText(w_.c_.Memo1)); }
  void SetBuffer(const std::string& text) override { w_.c_.Memo1->setPlainText(FromAnsi(text)); }
  void EntriesCleared() override {
    w_.c_.Edit1->clear();
    w_.c_.Edit2->clear();
    w_.c_.Edit3->clear();
  }
  TReplyParseSink* ReplySink() override { return &sink_; }
  void ShowValues(const TPanelProgramming& values) override { w_.Show(values); }
  void Finished(const TSessionResult& result) override {
    if (w_.Finished) w_.Finished(result);
  }

 private:
  TProgrammingWorkflow& w_;
  TWindowSink sink_;
};

TProgrammingWorkflow::TProgrammingWorkflow(const TWorkflowControls& controls)
    : c_(controls),
      face_(std::make_unique<TWindowFace>(*this)),
      session_(std::make_unique<TUnitSession>(*c_.Port, *c_.Timer1, *face_, c_.Tag)) {}

TProgrammingWorkflow::~TProgrammingWorkflow() = default;

void TProgrammingWorkflow::EnableButtons(bool enabled) {
  c_.Send->setEnabled(enabled);
  c_.Receive->setEnabled(enabled);
}

template <typename F>
auto TProgrammingWorkflow::Told(const char* name, const TPanelProgramming& values, F&& operation) {
  try {
    return operation();
  } catch (const EComPort&) {
    if (PortFailed) PortFailed(name, values);
    throw;
  }
}

void TProgrammingWorkflow::Send() {
  const TPanelProgramming values = Values();
  Told("envio", values, [&] { return session_->Send(values); });
}

void TProgrammingWorkflow::Receive() {
  Told("recepcion", {}, [&] { session_->Receive(); });
}

void TProgrammingWorkflow::SendAndVerify() {
  SendAndVerify(Values());
}

bool TProgrammingWorkflow::SendAndVerify(const TPanelProgramming& values) {
  return Told("verificacion", values, [&] { return session_->SendAndVerify(values); });
}

void TProgrammingWorkflow::Packet(const std::string& text) {
  session_->Packet(text);
}

// Only a verification's read-back writes here; the window shows what was sent once it fails.
void TProgrammingWorkflow::Evaluate() {
  try {
    session_->Evaluate();
  } catch (const EComPort&) {
    if (PortFailed) PortFailed("verificacion", Values());
    throw;
  }
}

bool TProgrammingWorkflow::Busy() const {
  return session_->Busy();
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
