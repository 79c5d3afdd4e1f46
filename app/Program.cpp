#include "Program.h"

#include <QGuiApplication>

#include "framework/Application.h"

namespace vardelio {

void NameProgram() {
  TApplication::SetTitle(QStringLiteral("Vardelio"));
  QGuiApplication::setDesktopFileName(QStringLiteral(VARDELIO_DESKTOP_ID));
  // X11 gives the window this class (WM_CLASS), whatever the program file is called; the desktop
  // entry's StartupWMClass names it.
  QCoreApplication::setApplicationName(QStringLiteral(VARDELIO_WINDOW_CLASS));
}

}  // namespace vardelio
