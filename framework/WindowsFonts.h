#pragma once
// How the forms' Windows fonts are drawn with the fonts a Linux machine has.

#include <QString>
#include <QStringList>
#include <vector>

namespace vardelio {

// Metric-compatible with Arial, and so with the forms' Windows fonts.
inline const QString kFontStandIn = QStringLiteral("Liberation Sans");

// What becomes of one Windows font the machine lacks: an alias of the stand-in, or, without the
// stand-in, a list of substitutes.
struct TWindowsFont {
  QString name;
  bool alias = false;
  QStringList substitutes;
};

// The Windows fonts the machine lacks, given the families it has.
std::vector<TWindowsFont> PlanWindowsFonts(const QStringList& installed);

// Applies the plan for this machine; needs the application object.
void StandInForWindowsFonts();

}  // namespace vardelio
