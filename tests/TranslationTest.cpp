// Each case runs in a process of its own (ctest runs every case alone): glibc keeps what it
// has looked up per domain and language for the life of the process.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>

#include "FakeSysfs.h"
#include "MoFile.h"
#include "i18n/FrameworkTexts.h"
#include "i18n/Language.h"
#include "i18n/TranslationEngine.h"
#include "portconfig/ComComboBox.h"
#include "portconfig/ComSetupForm.h"
#include "serial/ComError.h"

using namespace vardelio;
using vardelio::test::TFakeSysfs;
using vardelio::test::WriteMoFile;

namespace {

namespace fs = std::filesystem;

const char* const kCaptions[] = {"Label1", "Label2", "Label3",  "Label4",
                                 "Label5", "Label6", "Button1", "Button2"};

// A locale folder of the test's own, bound for both domains of the program's engine.
class Catalogs : public ::testing::Test {
 protected:
  Catalogs() : root(folder.path().toStdString()) {}
  void UseEngine(const std::string& language) {
    engine.SelectLanguage(language);
    engine.BindDomainDirectory("default", root);
    engine.BindDomainDirectory("cport", root);
    engine.TP_GlobalIgnoreClassProperty(&QObject::staticMetaObject, "objectName");  // as at start
  }
  fs::path Catalog(const char* language, const char* domain) const {
    return fs::path(root) / language / "LC_MESSAGES" / (std::string(domain) + ".mo");
  }
  void CopyShipped(const char* domain) {
    fs::create_directories(Catalog("es", domain).parent_path());
    fs::copy_file(fs::path(VARDELIO_CATALOG_DIR) / "es/LC_MESSAGES" / (std::string(domain) + ".mo"),
                  Catalog("es", domain));
  }
  static QStringList Shown(const TComSetupFrm& dialog) {
    QStringList texts{dialog.windowTitle(), dialog.findChild<QGroupBox*>("GroupBox1")->title()};
    for (const char* name : kCaptions) {
      const QWidget* w = dialog.findChild<QWidget*>(name);
      texts << w->property("text").toString();
    }
    return texts;
  }

  QTemporaryDir folder;
  std::string root;
  TTranslationEngine& engine = DefaultEngine();
  TFakeSysfs sysfs{{{"COM1", 4}, {"COM2", 4}}};
};

TEST(Language, ComesFromTheLocaleOrItsIdentifier) {
  const struct {
    const char *language, *country;
    unsigned id;
    const char* code;
  } cases[] = {{"es", "AR", 0, "es_AR"},     {"de", "DE", 1031, "de_DE"}, {"", "", 3082, "es_ES"},
               {"eng", "US", 1033, "en_US"}, {"el", "", 1032, "gr_GR"},   {"", "", 2057, "en_UK"},
               {"", "", 2077, "fi_SE"},      {"", "", 1042, "ko_KO"},     {"C", "", 0, "C"},
               {"", "", 1041, "C"}};
  for (const auto& c : cases)
    EXPECT_EQ(LanguageFromLocale(c.language, c.country, c.id), c.code) << c.language << c.id;
}

TEST(Language, IsLangCutAtItsFullStopOrTheSystemsLocale) {
  const struct {
    const char *requested, *lang, *lcAll, *code;
  } cases[] = {{"", "es_AR.UTF-8", "", "es_AR"},
               {"", "de", "", "de"},
               {"", "", "es_AR.UTF-8", "es_AR"},
               {"", "", "", "C"},
               {"pt_BR", "es_AR.UTF-8", "", "pt_BR"}};
  for (const auto& c : cases) {
    setenv("LANG", c.lang, 1);
    setenv("LC_ALL", c.lcAll, 1);
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(ChooseLanguage(c.requested), c.code) << c.lang << "|" << c.lcAll;
  }
  unsetenv("LC_ALL");
}

TEST_F(Catalogs, WithoutCatalogsEveryTextStaysAsWritten) {
  UseEngine("es_AR");
  EXPECT_EQ(engine.TranslateText("Unable to open com port"), "Unable to open com port");
  TComSetupFrm dialog;
  EXPECT_EQ(Shown(dialog), (QStringList{"Setup", " Settings ", "Port", "Baud rate", "Data bits",
                                        "Stop bits", "Parity", "Flow control", "OK", "Cancel"}));
}

TEST_F(Catalogs, TheShippedDialogCatalogTranslatesTheDialogOnly) {
  setenv("LANG", "es_AR.UTF-8", 1);
  CopyShipped("cport");  // the two-letter folder, as the only catalog
  UseEngine("");
  EXPECT_EQ(engine.Language(), "es_AR");
  TComSetupFrm dialog;
  EXPECT_EQ(Shown(dialog),
            (QStringList{"Configuración", " Parámetros ", "Puerto", "Velocidad", "Bits de datos",
                         "Bits de parada", "Paridad", "Control de flujo", "Aceptar", "Cancelar"}));
  EXPECT_EQ(engine.TranslateText("Unable to open com port"), "Unable to open com port");
  for (int i = 0; i < 6; ++i) {  // longer captions push the boxes aside instead of hiding
    const QWidget* label = dialog.findChild<QWidget*>(kCaptions[i]);
    EXPECT_LT(label->geometry().right(), dialog.Combos()[std::size_t(i)]->x()) << kCaptions[i];
    EXPECT_EQ(dialog.Combos()[std::size_t(i)]->geometry().right(), 80 + 129 - 1);
  }
}

TEST_F(Catalogs, TheListsOfTheBoxesAreNeverTranslated) {
  // Entries a walk over the boxes' texts would turn into other entries of the same lists.
  WriteMoFile(Catalog("es", "cport"), {{"None", "Ninguno"},
                                       {"Custom", "9600"},
                                       {"8", "ocho"},
                                       {"COM1", "COM2"},
                                       {"Setup", "Configuración"}});
  UseEngine("es");
  TComSetupFrm dialog;
  EXPECT_EQ(dialog.windowTitle(), "Configuración");
  const auto items = [](const TComComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
      texts << combo->itemText(i);
    return texts;
  };
  EXPECT_EQ(items(dialog.Combos()[5]), (QStringList{"Hardware", "Software", "None", "Custom"}));
  EXPECT_EQ(items(dialog.Combos()[2]), (QStringList{"5", "6", "7", "8"}));
  EXPECT_EQ(dialog.Combos()[1]->itemText(0), "Custom");
  EXPECT_EQ(dialog.Combos()[0]->Text(), "COM1");
  EXPECT_EQ(dialog.Combos()[1]->Text(), "Custom");
  EXPECT_EQ(dialog.Combos()[0]->itemText(0), "COM1");
}

TEST_F(Catalogs, LineBreaksAreLookedUpAsLineFeedsAndComeBackAsCrLf) {
  WriteMoFile(Catalog("es", "default"), {{"two\nlines", "dos\nlíneas"}});
  UseEngine("es_AR");
  EXPECT_EQ(engine.TranslateText("two\r\nlines"), "dos\r\nlíneas");
  EXPECT_EQ(engine.TranslateText("two\nlines"), "dos\r\nlíneas");
  EXPECT_EQ(engine.TranslateText("other\nlines"), "other\r\nlines");
}

TEST_F(Catalogs, AFileThatIsNoCatalogFailsTheLookupWithItsPath) {
  fs::create_directories(Catalog("es", "default").parent_path());
  std::ofstream(Catalog("es", "default")) << "not a catalog at all";
  UseEngine("es");
  try {
    engine.TranslateText("Registry error");
    ADD_FAILURE() << "no error";
  } catch (const ETranslationError& e) {
    EXPECT_EQ(std::string(e.what()),
              "This file is not a valid GNU gettext mo file: " + Catalog("es", "default").string());
  }
  // A catalog whose string table points past its end is refused before libintl follows it.
  WriteMoFile(Catalog("es", "cport"), {{"Port", "Puerto"}});
  {
    std::fstream damaged(Catalog("es", "cport"), std::ios::in | std::ios::out | std::ios::binary);
    damaged.seekp(28 + 8 + 4);  // the offset of the second identifier
    damaged.write("\xff\xff\xff\x0f", 4);
  }
  try {
    engine.TranslateTextInDomain("cport", "Port");
    ADD_FAILURE() << "no error";
  } catch (const ETranslationError& e) {
    EXPECT_EQ(std::string(e.what()),
              "This file is not a valid GNU gettext mo file: " + Catalog("es", "cport").string());
  }
  // A form: the failure names the property it stopped at.
  QWidget form;
  auto* label = new QLabel(QStringLiteral("Port"), &form);
  label->setObjectName(QStringLiteral("Label1"));
  try {
    engine.TranslateComponentTexts(&form, "default");
    ADD_FAILURE() << "no error";
  } catch (const ETranslationError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Property cannot be translated.\r\nUse TP_GlobalIgnoreClassProperty(QLabel,text) "
              "or\r\nTP_Ignore (self,'.text') to prevent this message.\r\nReason: This file is "
              "not a valid GNU gettext mo file: " +
                  Catalog("es", "default").string());
  }
}

TEST_F(Catalogs, APercentInATranslatedSuffixReachesNoFormatter) {
  WriteMoFile(Catalog("es", "default"), {{"Unable to open com port", "No se puede abrir el puerto"},
                                         {" (win error code: %d)", " (%s%n%x código: %d)"}});
  UseEngine("es");
  InitPortErrorMessages([&](const QString& text) { return engine.TranslateText(text); });
  // Port messages are the line's 8-bit code page: ó is 0xF3.
  EXPECT_STREQ(EComPort(1, 2).what(),
               "No se puede abrir el puerto (%s%n%x c\xF3"
               "digo: 2)");
  InitPortErrorMessages({});
}

TEST_F(Catalogs, QtsOwnTextsGoThroughTheListedDomains) {
  CopyShipped("cport");
  UseEngine("es");
  QCoreApplication::installTranslator(new TFrameworkTextTranslator(engine, qApp));
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");  // "default" only
  engine.AddResourceStringDomain("cport");
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancelar");
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Help"), "Help");
}

TEST_F(Catalogs, ClassesAndPropertiesCanBeLeftAlone) {
  CopyShipped("cport");
  UseEngine("es");
  engine.TP_GlobalIgnoreClass(&QPushButton::staticMetaObject);
  try {
    engine.TP_GlobalIgnoreClassProperty(&QPushButton::staticMetaObject, "text");
    ADD_FAILURE() << "no error";
  } catch (const ETranslationError& e) {
    EXPECT_STREQ(e.what(),
                 "You cannot ignore a class property for a class that has a handler set.");
  }
  engine.TP_GlobalIgnoreClassProperty(&QLabel::staticMetaObject, "TEXT");
  TComSetupFrm dialog;
  EXPECT_EQ(Shown(dialog),
            (QStringList{"Configuración", " Parámetros ", "Port", "Baud rate", "Data bits",
                         "Stop bits", "Parity", "Flow control", "OK", "Cancel"}));
}

}  // namespace
