// The main window's line trace: the menu item, the command line's start, a full disk, and
// what the operator did and was told.

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <system_error>

#include "MainForm.h"
#include "PortTrace.h"
#include "framework/Dialogs.h"
#include "portconfig/UserFile.h"
#include "serial/ComDataPacket.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"
#include "ui_MainForm.h"

namespace vardelio {
namespace {

// A name as a shell takes it whole.
QString ShellQuoted(const QString& path) {
  QString quoted = path;
  quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
  return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// Why the trace cannot go into the file, and for a file others may read, how to mend it.
QString RefusalReason(const EProfileError& error) {
  const auto* refused = dynamic_cast<const EFileRefused*>(&error);
  if (refused == nullptr) {
    return QString::fromStdString(error.Code() != 0 ? std::generic_category().message(error.Code())
                                                    : std::string(error.what()));
  }
  switch (refused->Why()) {
    case EFileRefused::kNotRegular:
      return QStringLiteral("no es un archivo común ni una tubería");
    case EFileRefused::kOthersLink:
      return QStringLiteral("es un enlace que otro usuario dejó en una carpeta compartida");
    case EFileRefused::kOthersFile:
      return QStringLiteral(
          "pertenece a otro usuario, que podría leer los números de teléfono "
          "de los clientes. Elija un archivo suyo");
    case EFileRefused::kOthersMayRead:
      break;
  }
  return QStringLiteral(
             "otros usuarios pueden leerlo, y el registro guarda los números de "
             "teléfono de los clientes. Para que solo usted pueda leerlo, ejecute\n\n"
             "chmod 600 %1\n\no elija otro archivo")
      .arg(ShellQuoted(QFile::decodeName(refused->Path().c_str())));
}

}  // namespace

void TForm1::Registrodelalnea1Click(bool checked) {
  if (!checked) {
    StopLineTrace();
    return;
  }
  const QString path = QFileDialog::getSaveFileName(
      this, QStringLiteral("Registro de la línea"), QString(),
      QStringLiteral("Registros (*.log *.txt);;Todos los archivos (*)"), nullptr,
      QFileDialog::DontConfirmOverwrite);  // a trace is appended, never overwritten
  if (path.isEmpty() || !StartLineTrace(QFile::encodeName(path).toStdString())) {
    ui_->Registrodelalnea1->setChecked(false);
  }
}

bool TForm1::StartLineTrace(const std::string& path) {
  StopLineTrace();
  try {
    // Told on the writer thread: posted by name, so nothing of ours crosses in the event.
    auto trace = std::make_unique<TLineTrace>(
        path, [this] { QMetaObject::invokeMethod(this, "LineTraceFailed", Qt::QueuedConnection); });
    trace_ = std::make_unique<TPortTrace>(*comPort1_, std::move(trace));
    // The framer's link goes behind the trace's (it keeps what it holds): bytes are traced as
    // they come, before a packet's handler can hold the window in a box.
    comDataPacket1_->SetComPort(nullptr);
    comDataPacket1_->SetComPort(comPort1_);
  } catch (const EProfileError& error) {
    ShowErrorReport(QStringLiteral("No se puede abrir el registro de la línea \"%1\": %2")
                        .arg(QFile::decodeName(path.c_str()), RefusalReason(error)));
    return false;
  }
  // Every box, from wherever it is shown, while the trace runs.
  SetBoxListener([this](bool error, const QString& text) {
    NoteInTrace(error ? QStringLiteral("error: ") + text : text, "BOX");
  });
  ui_->Registrodelalnea1->setChecked(true);
  return true;
}

void TForm1::StopLineTrace() {
  SetBoxListener({});
  // A second at most, whatever the file is on: the writer is left to finish on its own.
  trace_.reset();
  ui_->Registrodelalnea1->setChecked(false);
}

void TForm1::NoteInTrace(const QString& text, const char* kind) {
  if (trace_ != nullptr) trace_->Note(kind, text);
}

// A trace stopped or replaced since it posted has been joined: its report is stale.
void TForm1::LineTraceFailed() {
  if (trace_ == nullptr || !trace_->Trace().Failed()) return;
  const int error = trace_->Trace().FailureCode();
  const QString path = QFile::decodeName(trace_->Trace().Path().c_str());
  StopLineTrace();
  ShowErrorReport(
      QStringLiteral("El registro de la línea se detuvo: no se pudo escribir en \"%1\" (%2). "
                     "La programación continúa")
          .arg(path, QString::fromStdString(std::generic_category().message(error))));
}

void TForm1::RunTraced(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const EComPort& error) {
    if (trace_ != nullptr) trace_->Error(error.what());
    throw;
  }
}

}  // namespace vardelio
