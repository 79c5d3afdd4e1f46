#pragma once
// The window's operations, sending and receiving the programming and sending it with a read-back
// to verify it, and the evaluation of the unit's reply one second after each frame.

#include <QString>
#include <array>
#include <functional>
#include <string>

#include "PanelFrames.h"

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

namespace messages {
inline const QString kBadSubscriber = QStringLiteral("Los datos ingresados son incorrectos");
inline const QString kProgrammed = QStringLiteral("Programación Exitosa");
inline const QString kNotProgrammed =
    QStringLiteral("No se pudo programar, Por favor verifique el conexionado.");
inline const QString kNothingReceived = QStringLiteral(
    "No se puede leer la programación del equipo, por favor, verifique el conexionado.");
inline const QString kReceived = QStringLiteral("Programación Recibida");
inline const QString kReceiveError = QStringLiteral("Error en Recepcion");
inline const QString kTimeOver = QStringLiteral(
    "El Tiempo de programación ha finalizado, para continuar programando, por favor apague el "
    "Vardelio y vuelva a encenderlo.");
inline const QString kVerified = QStringLiteral("Programación Verificada");
inline const QString kNotVerified =
    QStringLiteral("La programación leída del equipo no coincide con la enviada:");
}  // namespace messages

class TProgrammingWorkflow {
 public:
  explicit TProgrammingWorkflow(const TWorkflowControls& controls) : c_(controls) {}

  void Send();
  void Receive();
  // A send and, once the unit has acknowledged it, a receive whose values are compared with
  // those sent; the window then shows what was sent. Any other operation started meanwhile
  // ends the verification.
  void SendAndVerify();
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

 private:
  enum class TVerifying { no, acknowledgement, readBack };

  bool StartSend();
  void StartReceive();
  void Append(const QString& text, int progress);
  void EnableButtons(bool enabled);
  void StartTimer();
  void EvaluateSend();
  void EvaluateReceive();
  void EvaluateReadBack();

  TWorkflowControls c_;
  TVerifying verifying_ = TVerifying::no;
  TPanelProgramming sent_;
};

}  // namespace vardelio
