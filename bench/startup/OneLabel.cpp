// The floor for the program's start: a Qt window of one label and nothing of ours.

#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QLabel label(QStringLiteral("Vardelio"));
  label.show();
  return application.exec();
}
