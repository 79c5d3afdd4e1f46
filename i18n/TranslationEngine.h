#pragma once
// Translates the program's texts through GNU gettext message catalogs kept beside it.

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <vector>

#include "Catalog.h"

class QObject;
struct QMetaObject;

namespace vardelio {

class TTranslationEngine {
 public:
  // Catalogs under `baseFolder` (the program's folder + "locale" for the default instance).
  explicit TTranslationEngine(std::string baseFolder);
  ~TTranslationEngine();

  // The code (or LANG, or the system's language when empty), for every domain.
  void SelectLanguage(const std::string& code);
  const std::string& Language() const { return language_; }
  void BindDomainDirectory(const std::string& domain, const std::string& folder);
  void SetCurrentDomain(const std::string& domain) { currentDomain_ = domain; }
  const std::string& BaseFolder() const { return baseFolder_; }

  QString TranslateText(const QString& text) { return TranslateTextInDomain(currentDomain_, text); }
  // The text itself when the domain has no catalog or the catalog lacks it; raises
  // ETranslationError when a catalog is there but unusable.
  QString TranslateTextInDomain(const std::string& domain, const QString& text);

  // The string properties of `root` and of everything it owns, in `domain` (empty: the
  // current one). Raises ETranslationError, naming the property, when one cannot be.
  void TranslateComponentTexts(QObject* root, const std::string& domain = {});
  // Leaves a component ("Combo1") or one property ("Combo1.Text") out of the next form
  // translation only.
  void TP_Ignore(QObject* unused, const QString& name);
  // Never translates the property on objects of that class or its subclasses.
  void TP_GlobalIgnoreClassProperty(const QMetaObject* cls, const QString& property);
  // Never translates objects of that class, nor what they own.
  void TP_GlobalIgnoreClass(const QMetaObject* cls);

  // Domains tried, in order, for the framework's own texts.
  void AddResourceStringDomain(const std::string& domain);
  // The first domain's translation that differs from the text; empty when none does.
  QString TranslateFrameworkText(const QString& text);

 private:
  struct TDomain;
  struct TClassMode {
    const QMetaObject* cls;
    std::set<QString> properties;  // upper case; empty: the whole class is left alone
  };
  TDomain& DomainLocked(const std::string& name);
  std::string LookUp(TDomain& domain, const std::string& id);
  void TranslateObject(QObject* object, const QString& tag, const std::string& domain,
                       std::vector<std::pair<QObject*, QString>>& queue);
  bool LeftAlone(const QObject* object, std::set<QString>& ignored) const;

  std::string baseFolder_;
  std::string language_ = "C";
  std::string currentDomain_ = "default";
  std::mutex domainsMutex_;
  std::map<std::string, std::unique_ptr<TDomain>> domains_;  // by upper-case name
  std::set<QString> ignoreNext_;                             // upper case
  std::vector<TClassMode> classModes_;                       // subclasses before their bases
  std::shared_mutex frameworkDomainsMutex_;
  std::vector<std::string> frameworkDomains_ = {"default"};
};

// The program's engine: created on first use, with its catalogs in the "locale" folder beside
// the executable (or where a package build put them, relative to it).
TTranslationEngine& DefaultEngine();

}  // namespace vardelio
