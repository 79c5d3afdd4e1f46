#pragma once
// The program's application object: its title, and the error report for escaped exceptions.

#include <QApplication>

namespace vardelio {

class TApplication : public QApplication {
  Q_OBJECT
 public:
  TApplication(int& argc, char** argv);

  static QString Title();
  // The caption of every message box of the program.
  static void SetTitle(const QString& title);

  // An exception that reaches the event loop is shown in the error report and the
  // program carries on.
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace vardelio
