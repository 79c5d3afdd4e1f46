#include "FrameworkTexts.h"

#include <QCoreApplication>

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

void StartTranslationEngine(TTranslationEngine& engine) {
  engine.SelectLanguage("");
  engine.BindDomainDirectory("default", engine.BaseFolder());
  engine.SetCurrentDomain("default");
  // Qt has one object class where the old framework had a component and a collection class.
  engine.TP_GlobalIgnoreClassProperty(&QObject::staticMetaObject, QStringLiteral("objectName"));
  auto* translator = new TFrameworkTextTranslator(engine, QCoreApplication::instance());
  QCoreApplication::installTranslator(translator);
}

}  // namespace vardelio
