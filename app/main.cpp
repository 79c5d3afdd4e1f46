#include "AboutForm.h"
#include "MainForm.h"
#include "framework/Application.h"
#include "serial/ComError.h"

int main(int argc, char** argv) {
  vardelio::TApplication application(argc, argv);
  // Before any window: the port's messages are read from this table from then on.
  vardelio::InitPortErrorMessages({});
  vardelio::TApplication::SetTitle(QStringLiteral("Vardelio"));
  vardelio::TForm1 Form1;
  vardelio::TAboutForm AboutForm;
  Form1.SetAboutBox(&AboutForm);
  Form1.show();
  return application.exec();
}
