#pragma once
// The programming entries' rules: what the operator may type into them, and what a value must
// be to leave the window, whether for the unit or for a file.
//
// The keystroke filters take IsTypeable. Text reaches the entries by other doors too (a paste
// from the context menu, Shift+Insert, a middle click, a drop, a read-back, a file), unfiltered,
// so CheckEntries is applied where the values leave: before a programming frame is written,
// before a file is saved and when a file is opened.

#include <QChar>
#include <QString>
#include <optional>
#include <string_view>

#include "PanelFrames.h"

namespace vardelio {

inline constexpr std::string_view kSubscriberCharacters = "0123456789BCDEF";
inline constexpr std::string_view kPhoneCharacters = "0123456789,*#";
inline constexpr char16_t kBackspace = 8;
inline constexpr int kSubscriberTypingLimit = 4;
inline constexpr int kPhoneTypingLimit = 31;
// The unit takes a subscriber of exactly this many characters.
inline constexpr int kSubscriberLength = 4;

inline bool IsTypeable(std::string_view allowed, QChar typed) {
  if (typed.unicode() == kBackspace) return true;
  return typed.unicode() < 0x80 && allowed.find(char(typed.unicode())) != std::string_view::npos;
}

// The values' names as the window shows them.
namespace fields {
inline const QString kSubscriber = QStringLiteral("N° de Abonado");
inline const QString kMainPhone = QStringLiteral("Teléfono Principal");
inline const QString kBackupPhone = QStringLiteral("Teléfono de Respaldo");
inline const QString kTerminalBlock = QStringLiteral("Bornera");
inline const QString kTestReport = QStringLiteral("Informe de Test");
}  // namespace fields

enum class TEntry { subscriber, mainPhone, backupPhone };

// The first thing wrong with values: which field, and what.
struct TValueFault {
  QString field;
  QString problem;
};

// A character that shows nothing by itself is named by its code, any other is quoted.
QString ShownCharacter(char32_t c);

// A subscriber of four of its typeable characters; phones of up to 31 of theirs.
std::optional<TValueFault> CheckEntry(TEntry entry, const QString& text);
// The first entry, in the window's order, that breaks its rule.
std::optional<TValueFault> CheckEntries(const QString& subscriber, const QString& mainPhone,
                                        const QString& backupPhone);
// The same for values in the line's bytes.
std::optional<TValueFault> CheckProgramming(const TPanelProgramming& values);

}  // namespace vardelio
