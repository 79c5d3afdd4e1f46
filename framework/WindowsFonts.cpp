#include "WindowsFonts.h"

#include <qpa/qplatformfontdatabase.h>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <algorithm>

namespace vardelio {

// A family Qt does not know is found only after fontconfig has ranked every installed font for
// it, once per family, style and script, and substitutes make Qt rank them again for each font
// it loads: most of the cost of opening the window. An alias is found at once.
std::vector<TWindowsFont> PlanWindowsFonts(const QStringList& installed) {
  // A family that several foundries make is listed as "Family [Foundry]", once for each.
  const auto has = [&installed](const QString& family) {
    return std::any_of(installed.begin(), installed.end(), [&family](const QString& listed) {
      return listed.compare(family, Qt::CaseInsensitive) == 0 ||
             listed.startsWith(family + QStringLiteral(" ["), Qt::CaseInsensitive);
    });
  };
  const bool standIn = has(kFontStandIn);
  const TWindowsFont all[] = {
      {QStringLiteral("MS Sans Serif"),
       standIn,
       {kFontStandIn, QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")}},
      {QStringLiteral("Arial"), standIn, {kFontStandIn, QStringLiteral("DejaVu Sans")}},
  };
  std::vector<TWindowsFont> plan;
  for (const TWindowsFont& font : all) {
    if (has(font.name)) continue;  // keeps its own
    plan.push_back(font);
    if (font.alias) plan.back().substitutes.clear();
  }
  return plan;
}

void StandInForWindowsFonts() {
  for (const TWindowsFont& font : PlanWindowsFonts(QFontDatabase::families())) {
    if (font.alias) {
      QPlatformFontDatabase::registerAliasToFontFamily(kFontStandIn, font.name);
    } else {
      QFont::insertSubstitutions(font.name, font.substitutes);
    }
  }
}

// QGuiApplication's, not QApplication's: that one also drops for good the fonts a desktop's
// theme gives each kind of widget (menus, tooltips, message boxes).
TFormFontScope::TFormFontScope(const QFont& formFont) : application_(QGuiApplication::font()) {
  QGuiApplication::setFont(formFont);
}

TFormFontScope::~TFormFontScope() {
  QGuiApplication::setFont(application_);
}

}  // namespace vardelio
