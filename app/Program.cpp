#include "Program.h"

#include <QGuiApplication>

#include "framework/Application.h"

namespace vardelio {

void NameProgram() {
  TApplication::SetTitle(QStringLiteral("Vardelio"));
  QGuiApplication::setDesktopFileName(QStringLiteral(VARDELIO_DESKTOP_ID));
}

}  // namespace vardelio
