#include <csignal>
#include <iostream>

#include "AboutForm.h"
#include "CommandLine.h"
#include "MainForm.h"
#include "Program.h"
#include "framework/Application.h"
#include "i18n/FrameworkTexts.h"
#include "i18n/TranslationEngine.h"
#include "serial/ComError.h"

int main(int argc, char** argv) {
  // Answered before the window system is touched: no display is needed for them.
  vardelio::TStartOptions start;
  if (const auto done = vardelio::HandleCommandLine(argc, argv, std::cout, std::cerr, &start)) {
    return *done;
  }
  // A file size limit then fails the write (the trace stops, a save is refused) instead of
  // ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  vardelio::TApplication application(argc, argv);
  vardelio::TTranslationEngine& engine = vardelio::DefaultEngine();
  vardelio::StartTranslationEngine(engine);
  // Before any window: the port's messages are read from this table from then on.
  engine.AddResourceStringDomain("cport");
  vardelio::InitPortErrorMessages(
      [&engine](const QString& text) { return engine.TranslateText(text); });
  vardelio::NameProgram();
  vardelio::TForm1 Form1(nullptr, nullptr, start);
  vardelio::TAboutForm AboutForm;
  Form1.SetAboutBox(&AboutForm);
  Form1.show();
  return application.exec();
}
