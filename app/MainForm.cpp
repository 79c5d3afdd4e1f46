#include "MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>

#include "AboutForm.h"
#include "BatchForm.h"
#include "FileMenu.h"
#include "HistoryForm.h"
#include "PortReconnect.h"
#include "PortStatus.h"
#include "PortTrace.h"
#include "SheetPrint.h"
#include "Workflow.h"
#include "framework/Dialogs.h"
#include "framework/EntryField.h"
#include "framework/WindowsFonts.h"
#include "portconfig/ComSetupForm.h"
#include "portconfig/Persistence.h"
#include "programming/BatchList.h"
#include "programming/BenchConsole.h"
#include "programming/EntryRules.h"
#include "programming/FileNames.h"
#include "programming/History.h"
#include "programming/JobSheet.h"
#include "programming/JpegImage.h"
#include "programming/ProgrammingFile.h"
#include "serial/ComDataPacket.h"
#include "serial/ComPort.h"
#include "ui_MainForm.h"

namespace vardelio {
namespace {

constexpr int kTimer1Interval = 1000;
constexpr QSize kClientArea(785, 518);
constexpr int kStatusBarTop = 496;

// The window's own default font, as its form gives it.
QFont FormFont() {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPointSize(8);
  return font;
}

// Refused characters are discarded with the default beep.
void Filter(std::string_view allowed, QChar& key) {
  if (IsTypeable(allowed, key)) return;
  key = QChar();
  MessageBeep();
}

}  // namespace

TForm1::TForm1(QWidget* parent, IComPlatform* platform, const TStartOptions& start)
    : QMainWindow(parent), ui_(std::make_unique<Ui::TForm1>()) {
  {
    const TFormFontScope formFont(FormFont());
    ui_->setupUi(this);
  }
  timer1_ = new QTimer(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  timer1_->setInterval(kTimer1Interval);
  SetUpWindow();
  SetUpEntries();
  SetUpPictures();
  CreateComponents(platform);
  status_ = std::make_unique<TPortStatus>(comPort1_, ui_->StatusBar1);
  ConnectMenus();
  ConnectWorkflow();
  files_ = std::make_unique<TFileMenu>(this, *workflow_, ui_->Archivo1, ui_->GuardarProgramacin1);
  files_->Note = [this](const QString& action) { NoteInTrace(action); };
  startFile_ = FileNameFromBytes(start.programmingFile);
  if (!start.traceFile.empty()) StartLineTrace(start.traceFile);
  // A failure here is reported and the window is still created, with the port closed.
  RunReported([this] { RunTraced([this] { FormCreate(); }); });
  reconnect_ =
      std::make_unique<TPortReconnect>(comPort1_, status_.get(), ui_->Configuracin1, kSettingsFile);
}

TForm1::~TForm1() {
  // Before the controls go: a batch delivered while the port closes must not reach them.
  comDataPacket1_->OnPacket.Clear();
  try {
    comPort1_->ClosePort();
  } catch (const std::exception&) {
    // The port's own destructor releases the line.
  }
  StopLineTrace();
}

// The window's port and framer, configured as its layout describes them.
void TForm1::CreateComponents(IComPlatform* platform) {
  comPort1_ = new TComPort(this, platform);
  comDataPacket1_ = new TComDataPacket(this);
  ConfigureUnitLine(*comPort1_, *comDataPacket1_);
  comDataPacket1_->OnPacket = TComStrEvent(this, &TForm1::ComDataPacket1Packet);
}

void TForm1::ConnectWorkflow() {
  workflow_ = std::make_unique<TProgrammingWorkflow>(TWorkflowControls{
      ui_->Edit1,
      ui_->Edit2,
      ui_->Edit3,
      ui_->Memo1,
      {ui_->RadioButton5, ui_->RadioButton6, ui_->RadioButton7},
      {ui_->RadioButton1, ui_->RadioButton2, ui_->RadioButton3, ui_->RadioButton4},
      ui_->BitBtn1_Enviar,
      ui_->BitBtn2_Recibir,
      ui_->ProgressBar1,
      timer1_,
      comPort1_,
      &tag_});
  history_ = std::make_unique<THistoryWriter>([](const QString& text) { ShowMessage(text); });
  workflow_->Finished = [this](const TSessionResult& result) { WorkflowFinished(result); };
  workflow_->PortFailed = [this](const char* operation, const TPanelProgramming& values) {
    if (batchItem_) return;  // the batch tells its item's end
    history_->Add(
        PortErrorEntry(operation, values, comPort1_->Port(), FileNameBytes(files_->File())));
  };
  const auto reported = [this](void (TForm1::*handler)()) {
    return [this, handler] {
      RunReported([this, handler] { RunTraced([this, handler] { (this->*handler)(); }); });
    };
  };
  connect(ui_->BitBtn1_Enviar, &QPushButton::clicked, this, reported(&TForm1::BitBtn1_EnviarClick));
  connect(ui_->EnviarProgramacin1, &QAction::triggered, this,
          reported(&TForm1::BitBtn1_EnviarClick));
  connect(ui_->BitBtn2_Recibir, &QPushButton::clicked, this,
          reported(&TForm1::BitBtn2_RecibirClick));
  connect(ui_->RecibirProgramacin1, &QAction::triggered, this,
          reported(&TForm1::BitBtn2_RecibirClick));
  connect(ui_->EnviaryVerificar1, &QAction::triggered, this,
          reported(&TForm1::EnviaryVerificar1Click));
  connect(timer1_, &QTimer::timeout, this, reported(&TForm1::Timer1Timer));
}

void TForm1::FormCreate() {
  RestoreSettings(*comPort1_, ssIniFile, kSettingsFile);
  comPort1_->OpenPort();
  tag_ = 0;
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!files_->AskToDiscard()) {
    event->ignore();
    return;
  }
  try {
    comPort1_->ClosePort();
    SaveSettings(*comPort1_, ssIniFile, kSettingsFile);
    event->accept();
  } catch (const std::exception& error) {
    ReportException(error);
    event->ignore();  // the window stays open; a later close tries again
  }
}

void TForm1::BitBtn1_EnviarClick() {
  NoteInTrace(QStringLiteral("Enviar Programación"));
  workflow_->Send();
}
void TForm1::BitBtn2_RecibirClick() {
  NoteInTrace(QStringLiteral("Recibir Programación"));
  workflow_->Receive();
}
void TForm1::EnviaryVerificar1Click() {
  NoteInTrace(QStringLiteral("Enviar y Verificar"));
  workflow_->SendAndVerify();
}
void TForm1::ComDataPacket1Packet(QObject*, const std::string& Str) {
  workflow_->Packet(Str);
}
void TForm1::Timer1Timer() {
  try {
    workflow_->Evaluate();
  } catch (...) {
    if (batchItem_) batchItem_(nullptr);  // the batch's item ends with the port's error
    throw;
  }
}

void TForm1::WorkflowFinished(const TSessionResult& result) {
  if (batchItem_) {
    batchItem_(&result);  // a batch adds its own line
    return;
  }
  history_->Add(HistoryEntry(result, comPort1_->Port(), FileNameBytes(files_->File())));
}

TSessionResult TForm1::VerifyInBatch(const TPanelProgramming& values) {
  QEventLoop loop;
  std::optional<TSessionResult> end;
  QStringList said;
  batchItem_ = [&](const TSessionResult* result) {
    if (result != nullptr) {
      end = *result;
    } else {
      end.emplace().message = QStringLiteral("Error del puerto: vea el mensaje de error.");
      end->sent = values;
    }
    loop.quit();
  };
  workflow_->Say = [&](const QString& text) { said << text; };
  const auto restore = qScopeGuard([this] {
    batchItem_ = nullptr;
    workflow_->Say = nullptr;
  });
  if (!workflow_->SendAndVerify(values)) {
    end.emplace().message = said.join(QLatin1Char('\n'));
    end->sent = values;
  }
  if (!end) loop.exec();
  // The time-over notice goes with the outcome.
  if (said.size() > 1) end->message = said.join(QLatin1Char('\n'));
  return *end;
}

void TForm1::ProgramarenSerie1Click() {
  const QString list = QFileDialog::getOpenFileName(
      this, QStringLiteral("Programar en serie"), QString(),
      QStringLiteral("Lista de equipos (*.csv);;Cualquier archivo de la carpeta a programar "
                     "(*.vardelio)"));
  if (!list.isEmpty()) RunBatch(list);
}

bool TForm1::RunBatch(const QString& list) {
  std::string path = FileNameBytes(list);
  // A programming file stands for the folder it is in.
  if (QFileInfo(list).suffix() == QLatin1String(kProgrammingFileSuffix.data())) {
    path = FileNameBytes(QFileInfo(list).absolutePath());
  }
  TBatchList read = ReadBatchList(path);
  if (!read.fault.isEmpty()) {
    ShowMessage(read.fault);
    return false;
  }
  TBatchForm form(
      std::move(read.items),
      [this](const TPanelProgramming& values) { return VerifyInBatch(values); }, comPort1_->Port(),
      history_.get(), this);
  form.exec();
  return true;
}

void TForm1::Historial1Click() {
  THistoryForm form(this);
  form.exec();
}

void TForm1::ImprimirHoja1Click() {
  const TPanelProgramming values = workflow_->Values();
  if (const auto fault = CheckProgramming(values)) {
    ShowMessage(QStringLiteral("No se puede imprimir la hoja.\n\n%1: %2.")
                    .arg(fault->field, fault->problem));
    return;
  }
  PrintJobSheet(this, MakeJobSheet(values, ReadableFileName(files_->File()), HistoryPath()));
}

void TForm1::SetUpWindow() {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  // Labels size themselves to their text, so no font substitute can clip them.
  for (QLabel* label : {ui_->Label1, ui_->Label2, ui_->Label3, ui_->Label4})
    label->adjustSize();
  // The status bar runs along the bottom 22 pixels of the client area.
  ui_->ClientArea->setFixedSize(kClientArea.width(), kStatusBarTop);
  ui_->StatusBar1->setFixedHeight(kClientArea.height() - kStatusBarTop);
  // The window takes the size of its contents and cannot be resized.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void TForm1::SetUpEntries() {
  const struct {
    QLineEdit* field;
    void (TForm1::*handler)(QObject*, QChar&);
    int limit;
  } entries[] = {{ui_->Edit1, &TForm1::Edit1KeyPress, kSubscriberTypingLimit},
                 {ui_->Edit2, &TForm1::Edit2KeyPress, kPhoneTypingLimit},
                 {ui_->Edit3, &TForm1::Edit3KeyPress, kPhoneTypingLimit}};
  for (const auto& entry : entries) {
    TEntryKeys& keys = EntryKeys(entry.field);
    keys.SetOnKeyPress(TKeyPressEvent(this, entry.handler));
    keys.SetTypingLimit(entry.limit);
    ShowInUpperCase(entry.field);
  }
}

void TForm1::SetUpPictures() {
  // For the whole program, so the about box and every message box carry it too.
  QApplication::setWindowIcon(
      QIcon(QPixmap::fromImage(LoadJpeg(QStringLiteral(":/art/icon.jpg")))));
  ShowPictureWhenPainted(ui_->Image1, QStringLiteral(":/art/logo.jpg"));
  ShowPictureWhenPainted(ui_->Image2, QStringLiteral(":/art/shield.jpg"));
  ShowPictureWhenPainted(ui_->Image3, QStringLiteral(":/art/cross.jpg"));
  ShowPictureWhenPainted(ui_->Image4, QStringLiteral(":/art/flame.jpg"));
}

void TForm1::ConnectMenus() {
  ui_->Nuevo1->setShortcuts(QKeySequence::New);
  connect(ui_->Nuevo1, &QAction::triggered, this,
          [this] { RunReported([this] { Nuevo1Click(); }); });
  ui_->AbrirProgramacin1->setShortcuts(QKeySequence::Open);
  ui_->GuardarProgramacin1->setShortcuts(QKeySequence::Save);
  connect(ui_->AbrirProgramacin1, &QAction::triggered, this,
          [this] { RunReported([this] { AbrirProgramacin1Click(); }); });
  connect(ui_->GuardarProgramacin1, &QAction::triggered, this,
          [this] { RunReported([this] { GuardarProgramacin1Click(); }); });
  ui_->ImprimirHoja1->setShortcuts(QKeySequence::Print);
  connect(ui_->ImprimirHoja1, &QAction::triggered, this,
          [this] { RunReported([this] { ImprimirHoja1Click(); }); });
  connect(ui_->Historial1, &QAction::triggered, this,
          [this] { RunReported([this] { Historial1Click(); }); });
  connect(ui_->ProgramarenSerie1, &QAction::triggered, this,
          [this] { RunReported([this] { RunTraced([this] { ProgramarenSerie1Click(); }); }); });
  connect(ui_->Salir1, &QAction::triggered, this,
          [this] { RunReported([this] { Salir1Click(); }); });
  connect(ui_->Acerdade1, &QAction::triggered, this,
          [this] { RunReported([this] { Acerdade1Click(); }); });
  connect(ui_->ConfigurarPuerto1, &QAction::triggered, this,
          [this] { RunReported([this] { RunTraced([this] { ConfigurarPuerto1Click(); }); }); });
  connect(ui_->Registrodelalnea1, &QAction::triggered, this, [this](bool checked) {
    RunReported([this, checked] { Registrodelalnea1Click(checked); });
  });
}

void TForm1::Edit1KeyPress(QObject*, QChar& Key) {
  Filter(kSubscriberCharacters, Key);
}
void TForm1::Edit2KeyPress(QObject*, QChar& Key) {
  Filter(kPhoneCharacters, Key);
}
void TForm1::Edit3KeyPress(QObject*, QChar& Key) {
  Filter(kPhoneCharacters, Key);
}

void TForm1::Nuevo1Click() {
  files_->New();
}
void TForm1::AbrirProgramacin1Click() {
  files_->OpenClick();
}
void TForm1::GuardarProgramacin1Click() {
  files_->SaveClick();
}

void TForm1::BringForward() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
  // A box or dialog open over the window stays in front of it: hidden behind, it would leave a
  // window that takes no input and shows no reason.
  if (QWidget* box = QApplication::activeModalWidget()) {
    box->raise();
    box->activateWindow();
  }
}

bool TForm1::OpenHandedOverFile(const QString& path) {
  BringForward();
  return files_->Open(path);
}

void TForm1::Salir1Click() {
  close();
}

void TForm1::ConfigurarPuerto1Click() {
  const auto refresh = qScopeGuard([this] {
    status_->Refresh();
    reconnect_->Follow();
  });
  OpenSetupDialog(*comPort1_);
}

void TForm1::Acerdade1Click() {
  // Built here rather than with the window: most sessions never open it, and it would delay
  // the window's first appearance.
  if (aboutBox_ == nullptr) {
    ownAboutBox_ = std::make_unique<TAboutForm>();
    aboutBox_ = ownAboutBox_.get();
  }
  aboutBox_->exec();
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (std::exchange(shownOnce_, true)) return;
  CentreOnScreen(this);
  // Once the window is up: a box about a refused file is then shown over it.
  if (!startFile_.isEmpty()) {
    QTimer::singleShot(
        0, this, [this] { RunReported([this] { files_->Open(std::exchange(startFile_, {})); }); });
  }
}

}  // namespace vardelio
