#include "AboutForm.h"
#include "MainForm.h"
#include "framework/Application.h"

int main(int argc, char** argv) {
  vardelio::TApplication application(argc, argv);
  vardelio::TApplication::SetTitle(QStringLiteral("Vardelio"));
  vardelio::TForm1 Form1;
  vardelio::TAboutForm AboutForm;
  Form1.SetAboutBox(&AboutForm);
  Form1.show();
  return application.exec();
}
