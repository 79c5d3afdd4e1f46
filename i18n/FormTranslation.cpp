// Translating a form: the string properties of every object it owns, in one domain.

#include <QMetaProperty>
#include <QObject>
#include <algorithm>

#include "TranslationEngine.h"

namespace vardelio {
namespace {

QString UpperName(const QString& name) {
  return name.toUpper();
}

[[noreturn]] void CannotTranslate(const QObject* object, const QMetaProperty& property,
                                  const std::string& reason) {
  const std::string cls = object->metaObject()->className();
  const std::string name = property.name();
  throw ETranslationError("Property cannot be translated.\r\nUse TP_GlobalIgnoreClassProperty(" +
                          cls + "," + name + ") or\r\nTP_Ignore (self,'." + name +
                          "') to prevent this message.\r\nReason: " + reason);
}

bool IsObjectPointer(const QMetaProperty& property) {
  return property.metaType().flags().testFlag(QMetaType::PointerToQObject);
}

}  // namespace

void TTranslationEngine::TP_Ignore(QObject*, const QString& name) {
  ignoreNext_.insert(UpperName(name));
}

void TTranslationEngine::TP_GlobalIgnoreClass(const QMetaObject* cls) {
  TP_GlobalIgnoreClassProperty(cls, {});
}

void TTranslationEngine::TP_GlobalIgnoreClassProperty(const QMetaObject* cls,
                                                      const QString& property) {
  auto entry = std::find_if(classModes_.begin(), classModes_.end(),
                            [&](const TClassMode& m) { return m.cls == cls; });
  if (entry != classModes_.end()) {
    if (entry->properties.empty()) {
      throw ETranslationError(
          "You cannot ignore a class property for a class that has a handler set.");
    }
    if (!property.isEmpty()) entry->properties.insert(UpperName(property));
    return;
  }
  TClassMode mode{cls, {}};
  if (!property.isEmpty()) mode.properties.insert(UpperName(property));
  // Subclasses stand before their bases.
  const auto base = std::find_if(classModes_.begin(), classModes_.end(),
                                 [&](const TClassMode& m) { return cls->inherits(m.cls); });
  classModes_.insert(base, std::move(mode));
}

bool TTranslationEngine::LeftAlone(const QObject* object, std::set<QString>& ignored) const {
  for (const TClassMode& mode : classModes_) {
    if (!object->metaObject()->inherits(mode.cls)) continue;
    if (mode.properties.empty()) return true;
    ignored.insert(mode.properties.begin(), mode.properties.end());
  }
  return false;
}

void TTranslationEngine::TranslateComponentTexts(QObject* root, const std::string& domain) {
  const std::string inDomain = domain.empty() ? currentDomain_ : domain;
  std::vector<std::pair<QObject*, QString>> queue = {{root, QString()}};
  std::set<QObject*> done;
  try {
    for (std::size_t next = 0; next < queue.size(); ++next) {
      auto [object, tag] = queue[next];
      if (object == nullptr || !done.insert(object).second) continue;
      TranslateObject(object, tag, inDomain, queue);
    }
  } catch (...) {
    ignoreNext_.clear();
    throw;
  }
  ignoreNext_.clear();
}

void TTranslationEngine::TranslateObject(QObject* object, const QString& tag,
                                         const std::string& domain,
                                         std::vector<std::pair<QObject*, QString>>& queue) {
  std::set<QString> ignored;
  if (LeftAlone(object, ignored)) return;
  const QMetaObject* meta = object->metaObject();
  for (int i = 0; i < meta->propertyCount(); ++i) {
    const QMetaProperty property = meta->property(i);
    const QString name = UpperName(QString::fromLatin1(property.name()));
    if (ignoreNext_.count(tag + "." + name) || ignored.count(name)) continue;
    if (!property.isWritable() || !property.isStored()) continue;
    const QVariant value = property.read(object);
    try {
      if (property.metaType().id() == QMetaType::QString) {
        const QString text = value.toString();
        if (text.isEmpty()) continue;
        const QString translated = TranslateTextInDomain(domain, text);
        if (translated != text && !property.write(object, translated)) {
          throw ETranslationError("Property disappeared...");
        }
      } else if (property.metaType().id() == QMetaType::QStringList) {
        QStringList lines = value.toStringList();
        for (QString& line : lines) {
          if (!line.isEmpty()) line = TranslateTextInDomain(domain, line);
        }
        if (lines != value.toStringList() && !property.write(object, lines)) {
          throw ETranslationError("Property disappeared...");
        }
      } else if (IsObjectPointer(property)) {
        queue.emplace_back(value.value<QObject*>(), QString());
      }
    } catch (const std::exception& error) {
      CannotTranslate(object, property, error.what());
    }
  }
  for (QObject* child : object->children()) {
    const QString childName = UpperName(child->objectName());
    if (!ignoreNext_.count(childName)) queue.emplace_back(child, childName);
  }
}

}  // namespace vardelio
