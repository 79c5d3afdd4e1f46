#pragma once
// The program's application object: its title, the error report for escaped exceptions, and
// Qt's own messages kept off the console.

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

// Set in the environment, Qt's warnings and debug messages reach the console again.
inline constexpr char kDebugVariable[] = "VARDELIO_DEBUG";

// Keeps Qt's warnings and debug messages off the console unless kDebugVariable is set; for a
// program that makes its application object itself.
void QuietQtMessages();

}  // namespace vardelio
