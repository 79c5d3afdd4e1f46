#include <csignal>
#include <cstdlib>
#include <iostream>

#include <QTimer>

#include "CommandLine.h"
#include "MainForm.h"
#include "Program.h"
#include "SingleInstance.h"
#include "framework/Ansi.h"
#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "portconfig/ProfileFile.h"
#include "programming/BenchCommands.h"
#include "programming/FileNames.h"
#include "serial/ComError.h"
#include "serial/SystemCodeText.h"

namespace {

// A later launch's file comes to this window, which is brought to the front for it.
void TakeHandedOverFiles(vardelio::TInstanceServer& server, vardelio::TForm1& window) {
  server.TakeFiles([&window](const std::string& file) {
    window.BringForward();
    if (file.empty()) return;
    vardelio::RunReported([&] { window.OpenHandedOverFile(vardelio::FileNameFromBytes(file)); });
  });
}

std::string InstanceSocket() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') display = std::getenv("WAYLAND_DISPLAY");
  return vardelio::InstanceSocket(vardelio::InstanceFolder(std::getenv("XDG_RUNTIME_DIR")),
                                  vardelio::ConfigFolder(), display != nullptr ? display : "");
}

// The port's messages are read from their table from then on, so it is filled before any
// window. A catalog that cannot be used (a file size limit keeps its private copy from being
// written) leaves them in English: the program goes on and says so, over its window.
void StartTranslations() {
  if (const auto failure = vardelio::StartPortMessages()) {
    QTimer::singleShot(0, qApp, [text = *failure] { vardelio::ShowErrorReport(text); });
  }
}

}  // namespace

int main(int argc, char** argv) {
  // At the bench, without a window or a display, and without handing anything to a window.
  if (vardelio::IsBenchCommand(argc, argv)) {
    return vardelio::RunBenchCommand(argc, argv, std::cin, std::cout, std::cerr);
  }
  // Answered before the window system is touched: no display is needed for them.
  vardelio::TStartOptions start;
  if (const auto done = vardelio::HandleCommandLine(argc, argv, std::cout, std::cerr, &start)) {
    return *done;
  }
  // Absolute, so that the running program finds it from its own folder.
  start.programmingFile = vardelio::AbsoluteFileName(start.programmingFile);
  if (!start.programmingFile.empty() && start.programmingFile.front() != '/') {
    std::cerr << "vardelio: " << start.programmingFile
              << ": the current folder no longer exists; give the file's full path\n";
    return 2;
  }
  vardelio::TInstanceClaim claim = vardelio::ClaimInstance(InstanceSocket(), start.programmingFile);
  if (claim.handedOver) {
    if (!start.traceFile.empty()) {
      std::cerr << "vardelio: already running; its trace is started from Archivo > Registro "
                   "de la linea\n";
    }
    return 0;
  }
  // A file size limit then fails the write (the trace stops, a save is refused) instead of
  // ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  vardelio::TApplication application(argc, argv);
  vardelio::NameProgram();
  // Before anything that may show a box (a catalog, the port): a later launch is answered
  // meanwhile.
  vardelio::TInstanceServer server(std::move(claim));
  StartTranslations();
  vardelio::SetErrorExplainer(&vardelio::ExplainPortError);
  vardelio::TForm1 Form1(nullptr, nullptr, start);
  TakeHandedOverFiles(server, Form1);
  Form1.show();
  const int code = application.exec();
  server.TakeFiles({});  // the window closes its port next, which may serve queued work
  return code;
}
