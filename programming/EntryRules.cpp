#include "EntryRules.h"

#include <QList>

#include "framework/Ansi.h"

namespace vardelio {

QString ShownCharacter(char32_t c) {
  if (!QChar::isPrint(c)) {
    return QStringLiteral("U+") +
           QString::number(uint(c), 16).toUpper().rightJustified(4, QLatin1Char('0'));
  }
  return QStringLiteral("«%1»").arg(QString::fromUcs4(&c, 1));
}

std::optional<TValueFault> CheckEntry(TEntry entry, const QString& text) {
  const bool subscriber = entry == TEntry::subscriber;
  const QString& field = subscriber                   ? fields::kSubscriber
                         : entry == TEntry::mainPhone ? fields::kMainPhone
                                                      : fields::kBackupPhone;
  const std::string_view allowed = subscriber ? kSubscriberCharacters : kPhoneCharacters;
  // Whole characters: a character beyond ASCII must not pass for its low byte (ł for B).
  for (const char32_t c : text.toUcs4()) {
    if (c >= 0x80 || allowed.find(char(c)) == allowed.npos) {
      return TValueFault{field,
                         QStringLiteral("el carácter %1 no se admite").arg(ShownCharacter(c))};
    }
  }
  if (subscriber && text.size() != kSubscriberLength) {
    return TValueFault{field, QStringLiteral("tiene %1 caracteres y debe tener %2")
                                  .arg(text.size())
                                  .arg(kSubscriberLength)};
  }
  if (!subscriber && text.size() > kPhoneTypingLimit) {
    return TValueFault{field, QStringLiteral("tiene %1 caracteres y admite hasta %2")
                                  .arg(text.size())
                                  .arg(kPhoneTypingLimit)};
  }
  return std::nullopt;
}

std::optional<TValueFault> CheckEntries(const QString& subscriber, const QString& mainPhone,
                                        const QString& backupPhone) {
  if (auto fault = CheckEntry(TEntry::subscriber, subscriber)) return fault;
  if (auto fault = CheckEntry(TEntry::mainPhone, mainPhone)) return fault;
  return CheckEntry(TEntry::backupPhone, backupPhone);
}

std::optional<TValueFault> CheckProgramming(const TPanelProgramming& values) {
  return CheckEntries(FromAnsi(values.Subscriber), FromAnsi(values.MainPhone),
                      FromAnsi(values.BackupPhone));
}

}  // namespace vardelio
