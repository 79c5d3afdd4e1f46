#pragma once
// Qt's own texts (standard buttons, context menus) through the engine's listed domains.

#include <QTranslator>
#include <string>

namespace vardelio {

class TTranslationEngine;

class TFrameworkTextTranslator : public QTranslator {
  Q_OBJECT
 public:
  explicit TFrameworkTextTranslator(TTranslationEngine& engine, QObject* parent = nullptr)
      : QTranslator(parent), engine_(engine) {}

  QString translate(const char* context, const char* sourceText, const char* disambiguation,
                    int n) const override;
  bool isEmpty() const override { return false; }

 private:
  TTranslationEngine& engine_;
};

// Qt's own catalog for the language ("es_AR" loads qtbase_es), from where Qt keeps its
// translations: its file dialogs and standard buttons then speak it. False when there is none.
bool InstallQtTranslations(const std::string& language);

// The engine's start: the user's language, "default" bound to the folder beside the program
// as the current domain, object names never translated; Qt's own texts go through the engine
// from now on, and through Qt's own catalog for what the engine's domains lack.
void StartTranslationEngine(TTranslationEngine& engine);

}  // namespace vardelio
