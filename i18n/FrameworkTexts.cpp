#include "FrameworkTexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>

#include "TranslationEngine.h"

namespace vardelio {

QString TFrameworkTextTranslator::translate(const char*, const char* sourceText, const char*,
                                            int) const {
  if (sourceText == nullptr || *sourceText == '\0') return {};
  try {
    return engine_.TranslateFrameworkText(QString::fromUtf8(sourceText));
  } catch (const std::exception&) {
    return {};  // Qt asks from deep inside its widgets: a bad catalog leaves its text alone
  }
}

bool InstallQtTranslations(const std::string& language) {
  if (language.empty() || language == "C" || language == "POSIX") return false;
  auto* translator = new QTranslator(QCoreApplication::instance());
  // Tries qtbase_es_AR, then qtbase_es.
  if (!translator->load(QStringLiteral("qtbase_") + QString::fromStdString(language),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  return true;
}

void StartTranslationEngine(TTranslationEngine& engine) {
  engine.SelectLanguage("");
  // First: the translator installed last is asked first, and the engine's catalogs come first.
  InstallQtTranslations(engine.Language());
  engine.BindDomainDirectory("default", engine.BaseFolder());
  engine.SetCurrentDomain("default");
  // Qt has one object class where the old framework had a component and a collection class.
  engine.TP_GlobalIgnoreClassProperty(&QObject::staticMetaObject, QStringLiteral("objectName"));
  auto* translator = new TFrameworkTextTranslator(engine, QCoreApplication::instance());
  QCoreApplication::installTranslator(translator);
}

}  // namespace vardelio
