// Each case runs in a process of its own (ctest runs every case alone): glibc keeps what it
// has looked up per domain and language for the life of the process.

#include <gtest/gtest.h>
#include <pthread.h>

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTranslator>
#include <cinttypes>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "FakeSysfs.h"
#include "MoFile.h"
#include "i18n/FrameworkTexts.h"
#include "i18n/Language.h"
#include "i18n/TranslationEngine.h"
#include "portconfig/ComComboBox.h"
#include "portconfig/ComSetupForm.h"
#include "serial/ComError.h"

using namespace vardelio;
using vardelio::test::MoBytes;
using vardelio::test::MoWord;
using vardelio::test::ReadBytes;
using vardelio::test::SetMoWord;
using vardelio::test::TFakeSysfs;
using vardelio::test::WriteBytes;
using vardelio::test::WriteMoFile;

namespace {

namespace fs = std::filesystem;

// A catalog msgfmt wrote at build time.
std::string Built(const char* name) {
  return ReadBytes(fs::path(VARDELIO_TEST_CATALOG_DIR) / (std::string(name) + ".mo"));
}

std::string Patched(std::string mo, const std::function<void(std::string&)>& patch) {
  patch(mo);
  return mo;
}

// Places in a revision-1 catalog: the first system-dependent translation's record, and the
// last (static size, segment) pair of a record.
std::uint32_t FirstSysdepTranslation(const std::string& mo) {
  return MoWord(mo, MoWord(mo, 44));
}

std::uint32_t LastPair(const std::string& mo, std::uint32_t record) {
  std::uint32_t pair = record + 4;
  while (MoWord(mo, pair + 4) != 0xffffffff)
    pair += 8;
  return pair;
}

// Sets every empty hash slot but `keep` to 1.
void FillHash(std::string& mo, std::uint32_t keep) {
  std::uint32_t empty = 0;
  for (std::uint32_t i = 0; i < MoWord(mo, 20); ++i) {
    const std::uint32_t at = MoWord(mo, 24) + 4 * i;
    if (MoWord(mo, at) == 0 && empty++ >= keep) SetMoWord(mo, at, 1);
  }
}

// The first system-dependent entry turned into one with an empty identifier, and `header`
// as its translation; the header msgfmt wrote no longer has an empty one.
std::string WithSysdepHeader(std::string mo, const std::string& header) {
  const std::uint32_t empty = std::uint32_t(mo.size());
  mo += '\0';
  const std::uint32_t text = std::uint32_t(mo.size());
  mo += header + '\0';
  const std::uint32_t records[][3] = {
      {MoWord(mo, MoWord(mo, 40)), empty, 1},
      {FirstSysdepTranslation(mo), text, std::uint32_t(header.size() + 1)}};
  for (const auto& [record, at, size] : records) {  // one static part and the end
    SetMoWord(mo, record, at);
    SetMoWord(mo, record + 4, size);
    SetMoWord(mo, record + 8, 0xffffffff);
  }
  const std::uint32_t originals = MoWord(mo, 12);  // the header's: a copy of the next one's
  SetMoWord(mo, originals, MoWord(mo, originals + 8));
  SetMoWord(mo, originals + 4, MoWord(mo, originals + 12));
  return mo;
}

// Runs `lookUp` as a port's event thread would, on a thread with a stack of its own, and
// raises what it raised.
void OnItsOwnThread(const std::function<void()>& lookUp) {
  struct TRun {
    const std::function<void()>& lookUp;
    std::exception_ptr raised;
  } run{lookUp, nullptr};
  const auto body = [](void* arg) -> void* {
    auto* r = static_cast<TRun*>(arg);
    try {
      r->lookUp();
    } catch (...) {
      r->raised = std::current_exception();
    }
    return nullptr;
  };
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 1u << 20);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &run), 0);
  pthread_attr_destroy(&attributes);
  pthread_join(thread, nullptr);
  if (run.raised) std::rethrow_exception(run.raised);
}

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
  WriteMoFile(Catalog("es", "default"),
              {{"two\nlines", "dos\nlíneas"}, {"crlf\nkept", "uno\r\ndos"}});
  UseEngine("es_AR");
  EXPECT_EQ(engine.TranslateText("crlf\r\nkept"), "uno\r\ndos");
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

TEST_F(Catalogs, EveryCatalogMsgfmtWritesIsRead) {
  const struct {
    const char *catalog, *text, *translation;
  } cases[] = {
      {"sysdep", "Unable to open com port", "No se puede abrir el puerto serie"},
      {"sysdep", "Sent %d bytes", "Enviados %Id bytes"},
      {"sysdep", "Packet %" PRId32 " of %" PRIu64, "Paquete %" PRId32 " de %" PRIu64},
      {"sysdep-big", "Unable to open com port", "No se puede abrir el puerto serie"},
      {"sysdep-big", "Packet %" PRId32 " of %" PRIu64, "Paquete %" PRId32 " de %" PRIu64},
      {"regional", "Setup", "Configuración del puerto"},
      {"regional-no-hash", "Setup", "Configuración del puerto"},
  };
  for (const auto& c : cases) {
    WriteBytes(Catalog("es", "default"), Built(c.catalog));
    UseEngine("es_AR");  // a new search, so the catalog of this row is read
    EXPECT_EQ(engine.TranslateText(c.text), QString::fromUtf8(c.translation)) << c.catalog;
  }
}

TEST_F(Catalogs, DamagedCatalogsFailTheLookupBeforeLibintlReadsThem) {
  const std::string plain = MoBytes({{"Port", "Puerto"}}), sysdep = Built("sysdep");
  const auto size = [&] { return std::uint32_t(sysdep.size()); };
  const auto inRecord = [&](std::uint32_t at, std::uint32_t value) {
    return Patched(sysdep,
                   [&](std::string& mo) { SetMoWord(mo, FirstSysdepTranslation(mo) + at, value); });
  };
  const auto atWord = [&](std::uint32_t at, std::uint32_t value) {
    return Patched(sysdep, [&](std::string& mo) { SetMoWord(mo, at, value); });
  };
  const std::uint32_t last = LastPair(sysdep, FirstSysdepTranslation(sysdep));
  const struct {
    const char* what;
    std::string bytes;
    bool sound;
  } cases[] = {
      {"the last string without its NUL", plain.substr(0, plain.size() - 1), false},
      {"probes of step 2 meet no empty slot", MoBytes({{"Port", "Puerto"}}, {1, 0, 2, 0}), false},
      {"every probe meets an empty slot", MoBytes({{"Port", "Puerto"}}, {1, 2, 0, 0}), true},
      {"a hash table of 2, which glibc does not use", MoBytes({{"Port", "Puerto"}}, {7, 7}), true},
      {"system-dependent strings as msgfmt writes them", sysdep, true},
      {"major revision 2", atWord(4, 0x20001), false},
      {"revision 1 without a hash table", atWord(20, 0), false},
      {"segment names past the end", atWord(32, size()), false},
      {"a segment name past the end", atWord(MoWord(sysdep, 32) + 4, size() - 1), false},
      {"a segment name without its NUL",
       atWord(MoWord(sysdep, 32), MoWord(sysdep, MoWord(sysdep, 32)) - 1), false},
      {"more strings than the tables hold", atWord(36, 0x01000000), false},
      {"the translation table past the end", atWord(44, size() - 2), false},
      {"a translation's record past the end", atWord(MoWord(sysdep, 44), size() - 2), false},
      {"a translation's pairs past the end",
       Patched(sysdep,
               [](std::string& mo) {
                 const std::uint32_t end = std::uint32_t(mo.size());
                 mo.append(12, '\0');  // text at 0, one static byte, segment 0, and no end
                 SetMoWord(mo, end + 4, 1);
                 SetMoWord(mo, MoWord(mo, 44), end);
               }),
       false},
      {"a reference past the segment names", inRecord(8, MoWord(sysdep, 28)), false},
      {"static text past the end", inRecord(0, size() - 3), false},
      {"a static size of 2^32 - 1", inRecord(4, 0xffffffff), false},
      {"the last static part without its NUL", atWord(last, MoWord(sysdep, last) - 1), false},
      {"an empty last static part", atWord(last, 0), false},
      {"no static text at all",
       Patched(sysdep,
               [](std::string& mo) {
                 const std::uint32_t record = FirstSysdepTranslation(mo);
                 SetMoWord(mo, record, 0);  // text at 0, one static part of size 0, end
                 SetMoWord(mo, record + 4, 0);
                 SetMoWord(mo, record + 8, 0xffffffff);
               }),
       false},
      {"a hash entry past the strings", atWord(MoWord(sysdep, 24), MoWord(sysdep, 8) + 1), false},
      {"no empty hash slot", Patched(sysdep, [](std::string& mo) { FillHash(mo, 0); }), false},
      {"no empty hash slot once glibc added its strings",
       Patched(sysdep, [](std::string& mo) { FillHash(mo, MoWord(mo, 36)); }), false},
      {"a charset name longer than the stack glibc copies it to",
       MoBytes({{"", "Content-Type: text/plain; charset=" + std::string(2u << 20, 'A')}}), false},
      {"a charset name as long as any", MoBytes({{"", "charset=" + std::string(255, 'A')}}), true},
      {"an empty system-dependent identifier",
       WithSysdepHeader(sysdep, "Content-Type: text/plain; charset=" + std::string(2u << 20, 'A')),
       false},
      {"a long translation glibc converts from another charset",
       MoBytes({{"", "Content-Type: text/plain; charset=ISO-8859-1\n"},
                {"Unable to open com port", std::string(16u << 20, '\xe9')}}),
       false},
      {"a translation as long as any glibc converts",
       MoBytes({{"", "Content-Type: text/plain; charset=ISO-8859-1\n"},
                {"Unable to open com port", std::string(64u << 10, '\xe9')}}),
       true},
      {"a long translation in UTF-8",
       MoBytes({{"", "Content-Type: text/plain; charset=utf8\n"},
                {"Unable to open com port", std::string(1u << 20, 'a')}}),
       true},
      {"a long text beside the charset name",
       MoBytes({{"", "charset=UTF-8\n" + std::string(2u << 20, 'A')}}), true},
  };
  for (const auto& c : cases) {
    WriteBytes(Catalog("es", "default"), c.bytes);
    UseEngine("es");
    try {
      OnItsOwnThread([&] { engine.TranslateText("Unable to open com port"); });
      EXPECT_TRUE(c.sound) << c.what;
    } catch (const ETranslationError& e) {
      EXPECT_FALSE(c.sound) << c.what;
      EXPECT_EQ(std::string(e.what()), "This file is not a valid GNU gettext mo file: " +
                                           Catalog("es", "default").string())
          << c.what;
    }
  }
}

TEST_F(Catalogs, ARegionalCatalogIsTheDomainsOnlyOne) {
  // Beside it, a damaged and a sound two-letter catalog that translate "Cancel".
  const std::string beside[] = {
      Patched(MoBytes({{"Cancel", "Cancelar"}}),
              [](std::string& mo) { SetMoWord(mo, 28 + 8 + 4, 0x0fffffff); }),
      ReadBytes(fs::path(VARDELIO_CATALOG_DIR) / "es/LC_MESSAGES/cport.mo")};
  for (const std::string& twoLetter : beside) {
    WriteBytes(Catalog("es_AR", "cport"), Built("regional"));
    WriteBytes(Catalog("es", "cport"), twoLetter);
    UseEngine("es_AR");
    EXPECT_EQ(engine.TranslateTextInDomain("cport", "Setup"), "Configuración del puerto");
    EXPECT_EQ(engine.TranslateTextInDomain("cport", "Cancel"), "Cancel");
  }
}

TEST_F(Catalogs, ACatalogRewrittenAfterItWasReadChangesNoTranslation) {
  const std::map<std::string, std::string> texts = {
      {"Port", "Puerto"}, {"Parity", "Paridad"}, {"Stop bits", "Bits de parada"}};
  WriteMoFile(Catalog("es", "cport"), texts);
  UseEngine("es");
  EXPECT_EQ(engine.TranslateTextInDomain("cport", "Port"), "Puerto");
  // Rewritten in place, as a package upgrade might: first other text, then cut short.
  std::map<std::string, std::string> other = texts;
  other["Parity"] = "Paridaz";
  WriteMoFile(Catalog("es", "cport"), other);
  EXPECT_EQ(engine.TranslateTextInDomain("cport", "Parity"), "Paridad");
  WriteBytes(Catalog("es", "cport"), MoBytes(texts).substr(0, 40));
  EXPECT_EQ(engine.TranslateTextInDomain("cport", "Stop bits"), "Bits de parada");
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

// Qt's own file dialogs and buttons speak the chosen language through Qt's catalog; the
// program's catalogs come first where they hold the text.
TEST_F(Catalogs, QtsOwnDialogsFollowTheChosenLanguage) {
  const auto removeTranslators = qScopeGuard([] {
    qDeleteAll(qApp->findChildren<QTranslator*>(Qt::FindDirectChildrenOnly));
    unsetenv("LANG");
  });
  WriteMoFile(Catalog("es", "default"), {{"Cancel", "Anular"}});
  const struct {
    const char* lang;
    const char* context;
    const char* text;
    const char* shown;
  } cases[] = {
      {"es_AR.UTF-8", "QFileDialog", "Look in:", "Ver en:"},
      {"es_AR.UTF-8", "QFileDialog", "File &name:", "&Nombre de fichero:"},
      {"es_AR.UTF-8", "QPlatformTheme", "Discard", "Descartar"},
      {"es_AR.UTF-8", "QPlatformTheme", "Cancel", "Anular"},
      {"es", "QPlatformTheme", "&Yes", "&S\u00ED"},
      {"C", "QFileDialog", "Look in:", "Look in:"},
      {"de_DE.UTF-8", "QFileDialog", "Look in:", "Suchen in:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.lang) + " " + c.text);
    qDeleteAll(qApp->findChildren<QTranslator*>(Qt::FindDirectChildrenOnly));
    setenv("LANG", c.lang, 1);
    StartTranslationEngine(engine);
    engine.BindDomainDirectory("default", root);
    EXPECT_EQ(QCoreApplication::translate(c.context, c.text), QString::fromUtf8(c.shown));
  }
  EXPECT_FALSE(InstallQtTranslations("C"));
  EXPECT_FALSE(InstallQtTranslations("zz_ZZ"));
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
