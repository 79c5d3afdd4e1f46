#pragma once
// How the forms' Windows fonts are drawn with the fonts a Linux machine has.

#include <QFont>
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

// While it lives, the application font is a form's own, and then it is put back as it was. A
// line edit lays out its empty text in the application font before it takes its own: built in
// this scope, a form loads no font that it does not draw.
class TFormFontScope {
 public:
  explicit TFormFontScope(const QFont& formFont);
  ~TFormFontScope();
  TFormFontScope(const TFormFontScope&) = delete;
  TFormFontScope& operator=(const TFormFontScope&) = delete;

 private:
  QFont application_;
};

}  // namespace vardelio
