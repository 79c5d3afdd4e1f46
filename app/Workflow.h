#pragma once
// The window's operations, sending and receiving the programming and sending it with a read-back
// to verify it, and the evaluation of the unit's reply one second after each frame: the unit's
// session, shown in the window's controls.

#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "programming/Outcomes.h"
#include "programming/PanelFrames.h"
#include "programming/UnitSession.h"

class QLineEdit;
class QObject;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace vardelio {

class TCustomComPort;

// The controls the operations read and write.
struct TWorkflowControls {
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QLineEdit* Edit3;
  QPlainTextEdit* Memo1;                       // the buffer
  std::array<QRadioButton*, 3> TerminalBlock;  // RadioButton5..7
  std::array<QRadioButton*, 4> TestReport;     // RadioButton1..4
  QPushButton* Send;
  QPushButton* Receive;
  QProgressBar* Progress;
  QTimer* Timer1;
  TCustomComPort* Port;
  int* Tag;
};

// The unit's sentences, which the window shows in its boxes.
namespace messages = outcomes;

class TProgrammingWorkflow {
 public:
  explicit TProgrammingWorkflow(const TWorkflowControls& controls);
  ~TProgrammingWorkflow();

  void Send();
  void Receive();
  // A send and, once the unit has acknowledged it, a receive whose values are compared with
  // those sent; the window then shows what was sent. Any other operation started meanwhile
  // ends the verification.
  void SendAndVerify();
  // The same with values of the caller's (a batch item's); false when they are refused.
  bool SendAndVerify(const TPanelProgramming& values);
  // Every packet the framer completes, whatever operation is pending.
  void Packet(const std::string& text);
  // The one-shot timer: evaluates the buffer once.
  void Evaluate();

  // The values in the window as they stand.
  TPanelProgramming Values() const;
  // Fills the entries and radio buttons, as a receive does.
  void Show(const TPanelProgramming& values);
  // A send or a receive waits for its evaluation: what it reads back will go into the entries.
  bool Busy() const;
  // Calls `changed` whenever an entry or a radio button changes, whoever changes it.
  void WhenValuesChange(QObject* context, const std::function<void()>& changed);

  // Called once each operation has been evaluated, after its message.
  std::function<void(const TSessionResult&)> Finished;
  // Called when the port fails an operation (before its error is raised on): the operation's
  // name in the history and the values it carried.
  std::function<void(const char* operation, const TPanelProgramming& values)> PortFailed;
  // While set, the unit's messages go here instead of the window's boxes (a batch shows them
  // in its table).
  std::function<void(const QString&)> Say;

 private:
  class TWindowFace;
  void EnableButtons(bool enabled);
  // Runs `operation`; a port error it raises is told to PortFailed first.
  template <typename F>
  auto Told(const char* name, const TPanelProgramming& values, F&& operation);

  TWorkflowControls c_;
  std::unique_ptr<TWindowFace> face_;
  std::unique_ptr<TUnitSession> session_;
};

}  // namespace vardelio
