#include "Application.h"

#include <QFont>

#include "DeferredIcons.h"
#include "Dialogs.h"

namespace vardelio {
namespace {

// The forms name Windows fonts; map them onto metric-compatible ones found on Linux.
void SubstituteWindowsFonts() {
  QFont::insertSubstitutions(
      QStringLiteral("MS Sans Serif"),
      {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
  QFont::insertSubstitutions(QStringLiteral("Arial"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
}

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
  SubstituteWindowsFonts();
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
