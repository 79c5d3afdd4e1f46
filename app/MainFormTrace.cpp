// The main window's line trace: the menu item, the command line's start and a full disk.

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <system_error>

#include "MainForm.h"
#include "PortTrace.h"
#include "framework/Dialogs.h"
#include "serial/ComDataPacket.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"
#include "ui_MainForm.h"

namespace vardelio {

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
  } catch (const std::system_error& error) {
    ShowErrorReport(
        QStringLiteral("No se puede abrir el registro de la línea \"%1\": %2")
            .arg(QFile::decodeName(path.c_str()), QString::fromStdString(error.code().message())));
    return false;
  }
  ui_->Registrodelalnea1->setChecked(true);
  return true;
}

void TForm1::StopLineTrace() {
  trace_.reset();
  ui_->Registrodelalnea1->setChecked(false);
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
