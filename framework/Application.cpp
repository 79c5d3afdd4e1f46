#include "Application.h"

#include "DeferredIcons.h"
#include "Dialogs.h"
#include "WindowsFonts.h"

namespace vardelio {
namespace {

QtMessageHandler previousHandler = nullptr;

// An installer's program has no console to speak to; a developer can ask for Qt's messages.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg || qEnvironmentVariableIsSet(kDebugVariable)) {
    previousHandler(type, context, text);
  }
}

// Runs before the application is built, so its own start-up warnings are covered too.
int& WithQuietMessages(int& argc) {
  QuietQtMessages();
  return argc;
}

}  // namespace

void QuietQtMessages() {
  if (previousHandler == nullptr) previousHandler = qInstallMessageHandler(QuietMessages);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(WithQuietMessages(argc), argv) {
  StandInForWindowsFonts();
  setStyle(new TDeferredIconStyle(style()));  // the style Qt chose, as it was
}

QString TApplication::Title() {
  return ApplicationTitle();
}

void TApplication::SetTitle(const QString& title) {
  SetApplicationTitle(title);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ReportException(error);
    return false;
  }
}

}  // namespace vardelio
