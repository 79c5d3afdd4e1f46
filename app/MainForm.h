#pragma once
// The main window: the programming entries, the menus and the about box.

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

#include "CommandLine.h"

class QDialog;
class QTimer;

namespace Ui {
class TForm1;
}

namespace vardelio {

class IComPlatform;
class TComDataPacket;
class TComPort;
class TFileMenu;
class TPortReconnect;
class TPortStatus;
class TPortTrace;
class TProgrammingWorkflow;
class THistoryWriter;
struct TPanelProgramming;
struct TSessionResult;

inline constexpr int kSalirShortCut = 32851;  // Alt+S
inline constexpr char kSettingsFile[] = "comporttest.ini";

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  // `platform` is the operating system's unless a test gives its own. The start's trace file
  // records the line from before the port opens; its programming file is opened once the
  // window is first shown, so a box refusing it has the window under it.
  explicit TForm1(QWidget* parent = nullptr, IComPlatform* platform = nullptr,
                  const TStartOptions& start = {});
  ~TForm1() override;

  // Mode of the operation started last: 0 send, 1 receive.
  int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }

  QTimer* Timer1() const { return timer1_; }
  TComPort* ComPort1() const { return comPort1_; }
  TComDataPacket* ComDataPacket1() const { return comDataPacket1_; }
  // A box given here is shown instead of the window's own, which is built when first asked for.
  void SetAboutBox(QDialog* aboutBox) { aboutBox_ = aboutBox; }
  TFileMenu& Files() const { return *files_; }
  TPortStatus& PortStatus() const { return *status_; }
  TPortReconnect& Reconnection() const { return *reconnect_; }

  void Edit1KeyPress(QObject* Sender, QChar& Key);
  void Edit2KeyPress(QObject* Sender, QChar& Key);
  void Edit3KeyPress(QObject* Sender, QChar& Key);
  void Nuevo1Click();
  void AbrirProgramacin1Click();
  void GuardarProgramacin1Click();
  void Salir1Click();
  void Acerdade1Click();
  void ConfigurarPuerto1Click();
  void FormCreate();
  void BitBtn1_EnviarClick();
  void BitBtn2_RecibirClick();
  void EnviaryVerificar1Click();
  // Asks for a list (a CSV file, or any programming file of the folder to program) and runs it.
  void ProgramarenSerie1Click();
  // Runs the batch of a list; false, after a box naming what is wrong, when it is refused.
  bool RunBatch(const QString& list);
  void Historial1Click();
  // The job sheet of the values in the window; values that could not be sent are refused.
  void ImprimirHoja1Click();
  void ComDataPacket1Packet(QObject* Sender, const std::string& Str);
  void Timer1Timer();
  // Checked: asks for a file and records the line in it; unchecked: stops recording.
  void Registrodelalnea1Click(bool checked);
  // A file another launch of the program hands over: the window comes forward, asks before
  // discarding unsaved changes, then opens it. False when it is not opened.
  bool OpenHandedOverFile(const QString& path);
  // Shown, unminimised and raised, so a question or a box about a handed file is seen.
  void BringForward();

  // Appends the line's traffic to `path`; false, after an error box, when it cannot.
  bool StartLineTrace(const std::string& path);
  void StopLineTrace();
  bool LineTraceActive() const { return trace_ != nullptr; }
  // Records in the trace, if one runs, what the operator did ("ACTION") or was told ("BOX").
  void NoteInTrace(const QString& text, const char* kind = "ACTION");

 protected:
  void showEvent(QShowEvent* event) override;
  // FormClose: closes the port and stores its settings; a failure keeps the window open, as
  // does a "Cancelar" to the question about unsaved changes, which comes first.
  void closeEvent(QCloseEvent* event) override;

 private:
  void SetUpEntries();
  void SetUpPictures();
  void SetUpWindow();
  void ConnectMenus();
  void CreateComponents(IComPlatform* platform);
  void ConnectWorkflow();
  void WorkflowFinished(const TSessionResult& result);
  // One batch item: sent and verified on the window's line, its messages kept for the batch.
  TSessionResult VerifyInBatch(const TPanelProgramming& values);
  // Runs a handler; a port error it raises is also recorded in the line trace.
  void RunTraced(const std::function<void()>& handler);
  // The trace's writer found the file full: stops the trace and says so once.
  Q_INVOKABLE void LineTraceFailed();

  std::unique_ptr<Ui::TForm1> ui_;
  QTimer* timer1_;
  TComPort* comPort1_ = nullptr;
  TComDataPacket* comDataPacket1_ = nullptr;
  std::unique_ptr<TProgrammingWorkflow> workflow_;
  // Every operation's line; a history that cannot be written is told once.
  std::unique_ptr<THistoryWriter> history_;
  // While a batch item waits for its evaluation: told its end, or that the port failed.
  std::function<void(const TSessionResult*)> batchItem_;
  std::unique_ptr<TFileMenu> files_;
  std::unique_ptr<TPortTrace> trace_;
  std::unique_ptr<TPortStatus> status_;
  std::unique_ptr<TPortReconnect> reconnect_;  // after FormCreate: it may open the port
  QString startFile_;
  QDialog* aboutBox_ = nullptr;
  std::unique_ptr<QDialog> ownAboutBox_;
  int tag_ = 0;
  bool shownOnce_ = false;
};

}  // namespace vardelio
