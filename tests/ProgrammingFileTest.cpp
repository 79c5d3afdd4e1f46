#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "SettingsFile.h"
#include "programming/FileNames.h"
#include "programming/ProgrammingFile.h"
#include "app/RecentFiles.h"
#include "portconfig/ProfileFile.h"

using namespace vardelio;
using vardelio::test::ReadAll;

namespace {

const std::string kGood =
    "vardelio-programacion 1\n"
    "abonado=1B2C\n"
    "telefono-principal=12,34*#\n"
    "telefono-respaldo=\n"
    "bornera=incendio\n"
    "informe-test=7-dias\n";

// The good file with one line replaced (or, with an empty `line`, removed).
std::string With(const std::string& key, const std::string& line) {
  std::string text = kGood;
  const std::size_t at = text.find("\n" + key + "=") + 1;
  text.replace(at, text.find('\n', at) + 1 - at, line.empty() ? "" : line + "\n");
  return text;
}

TEST(ProgrammingFile, EveryModeAndPeriodGoesThroughAFileAndBack) {
  QTemporaryDir folder;
  const std::string path = folder.filePath(QStringLiteral("cliente.vardelio")).toStdString();
  for (int mode = 0; mode < 3; ++mode) {
    for (int period = 0; period < 4; ++period) {
      const TPanelProgramming values{"1B2C", std::string(31, '0' + char(period)), "*#,9",
                                     TTerminalBlock(mode), TTestReport(period)};
      SCOPED_TRACE(ProgrammingFileText(values));
      const TProgrammingFileParse parsed = ParseProgrammingFile(ProgrammingFileText(values));
      ASSERT_TRUE(parsed.values.has_value()) << parsed.fault.problem.toStdString();
      EXPECT_EQ(BuildProgrammingFrame(*parsed.values), BuildProgrammingFrame(values));
      SaveProgrammingFile(path, values);
      EXPECT_EQ(BuildProgrammingFrame(LoadProgrammingFile(path)), BuildProgrammingFrame(values));
    }
  }
  EXPECT_EQ(ReadAll(path).substr(0, 24), "vardelio-programacion 1\n");
  EXPECT_NE(ReadAll(path).find("\nbornera=incendio\ninforme-test=30-dias\n"), std::string::npos);
}

TEST(ProgrammingFile, WhatAnEditorMayDoIsStillRead) {
  const struct {
    const char* name;
    std::string text;
    const char* subscriber;
  } cases[] = {
      {"CR LF line ends",
       std::string(QString::fromStdString(kGood)
                       .replace(QStringLiteral("\n"), QStringLiteral("\r\n"))
                       .toStdString()),
       "1B2C"},
      {"byte-order mark", "\xEF\xBB\xBF" + kGood, "1B2C"},
      {"comments, blanks, spaces",
       "  vardelio-programacion\t1  \n# a note\n\n" + kGood.substr(24) + "   \n# abonado=junk\n",
       "1B2C"},
      {"spaces around =", With("abonado", " abonado =  12BC "), "12BC"},
      {"another order",
       "vardelio-programacion 1\ninforme-test=7-dias\nbornera=incendio\n"
       "telefono-respaldo=\ntelefono-principal=12,34*#\nabonado=FFFF",
       "FFFF"},
  };
  for (const auto& c : cases) {
    const TProgrammingFileParse parsed = ParseProgrammingFile(c.text);
    ASSERT_TRUE(parsed.values.has_value()) << c.name << ": " << parsed.fault.problem.toStdString();
    EXPECT_EQ(parsed.values->Subscriber, c.subscriber) << c.name;
    EXPECT_EQ(parsed.values->MainPhone, "12,34*#") << c.name;
    EXPECT_EQ(parsed.values->TerminalBlock, TTerminalBlock::tbIncendio) << c.name;
    EXPECT_EQ(parsed.values->TestReport, TTestReport::tr7Dias) << c.name;
  }
}

TEST(ProgrammingFile, ARefusedFileNamesItsFirstBadField) {
  const QString version = QStringLiteral("Versión del formato");
  const struct {
    const char* name;
    std::string text;
    QString field;
    const char* problem;  // a part of what is said
  } cases[] = {
      {"filtered letter", With("abonado", "abonado=1A2C"), fields::kSubscriber, "«A»"},
      {"lower case", With("abonado", "abonado=1b2c"), fields::kSubscriber, "«b»"},
      {"backspace", With("abonado", "abonado=1\b2"), fields::kSubscriber, "U+0008"},
      {"phone dash", With("telefono-principal", "telefono-principal=12-34"), fields::kMainPhone,
       "«-»"},
      {"phone tab", With("telefono-respaldo", "telefono-respaldo=12\t34"), fields::kBackupPhone,
       "U+0009"},
      {"phone beyond ASCII", With("telefono-respaldo", "telefono-respaldo=1\xC2\xB5"),
       fields::kBackupPhone, "«µ»"},
      {"byte-order mark in a value",
       With("telefono-principal", "telefono-principal=\t\xEF\xBB\xBF,34"), fields::kMainPhone,
       "U+FEFF"},
      {"UTF-8 cut short", With("abonado", "abonado=1\xD7"), fields::kSubscriber, "no se admite"},
      {"broken UTF-8", With("telefono-respaldo", "telefono-respaldo=1\xB5"), fields::kBackupPhone,
       "no se admite"},
      {"subscriber too long", With("abonado", "abonado=12345"), fields::kSubscriber,
       "tiene 5 caracteres y debe tener 4"},
      {"subscriber too short", With("abonado", "abonado=12B"), fields::kSubscriber,
       "tiene 3 caracteres y debe tener 4"},
      {"empty subscriber", With("abonado", "abonado="), fields::kSubscriber,
       "tiene 0 caracteres y debe tener 4"},
      // Beyond ASCII, each with a low byte the entry takes: ł is U+0142 (B), ı U+0131 (1).
      {"subscriber ł",
       With("abonado",
            "abonado=1\xC5\x82"
            "2C"),
       fields::kSubscriber, "«ł»"},
      {"subscriber ı", With("abonado", "abonado=1\xC4\xB1"), fields::kSubscriber, "«ı»"},
      {"phone ı", With("telefono-principal", "telefono-principal=1\xC4\xB1"), fields::kMainPhone,
       "«ı»"},
      {"phone full-width digit", With("telefono-respaldo", "telefono-respaldo=\xEF\xBC\x91"),
       fields::kBackupPhone, "no se admite"},
      {"phone too long", With("telefono-principal", "telefono-principal=" + std::string(32, '1')),
       fields::kMainPhone, "tiene 32 caracteres y admite hasta 31"},
      {"unknown period", With("informe-test", "informe-test=15-dias"), fields::kTestReport,
       "«15-dias»"},
      {"period as a digit", With("informe-test", "informe-test=2"), fields::kTestReport, "«2»"},
      {"unknown mode", With("bornera", "bornera=robo"), fields::kTerminalBlock, "«robo»"},
      {"mode in capitals", With("bornera", "bornera=Incendio"), fields::kTerminalBlock,
       "desconocido"},
      {"unknown version", "vardelio-programacion 2" + kGood.substr(23), version, "«2»"},
      {"no version", "vardelio-programacion" + kGood.substr(23), version, "desconocida"},
      {"not a programming file", "[ComPort1]\nPort=COM1\n", "", "No es un archivo"},
      {"empty", "", "", "No es un archivo"},
      {"magic not first", "\n" + kGood, "", "No es un archivo"},
      {"binary", std::string("\x89PNG\r\n\x1a\n\0\0", 10), "", "No es un archivo"},
      {"missing field", With("bornera", ""), fields::kTerminalBlock, "falta"},
      {"field twice", kGood + "abonado=1234\n", fields::kSubscriber, "dos veces"},
      {"unknown key", With("bornera", "zona=3"), QStringLiteral("Línea 5"), "«zona»"},
      {"line without =", With("bornera", "bornera"), QStringLiteral("Línea 5"), "«bornera»"},
      {"first bad field wins", With("telefono-respaldo", "telefono-respaldo=X") + "abonado=Y\n",
       fields::kBackupPhone, "«X»"},
      {"a long unknown mode", With("bornera", "bornera=" + std::string(60000, 'x')),
       fields::kTerminalBlock, "«xxxxxxxxxxxxxxxxxxxxxxxx…»"},
      {"a long unknown key", With("bornera", std::string(60000, 'z') + "=1"),
       QStringLiteral("Línea 5"), "zzz…»"},
      {"a long version", "vardelio-programacion " + std::string(60000, '9') + kGood.substr(23),
       version, "999…»"},
      {"control characters in an unknown mode", With("bornera", "bornera=ro\x1b[0m\rbo"),
       fields::kTerminalBlock, "«roU+001B[0mU+000Dbo»"},
      {"a NUL in a key", With("bornera", std::string("bor\0nera=asalto", 15)),
       QStringLiteral("Línea 5"), "«borU+0000nera»"},
  };
  for (const auto& c : cases) {
    const TProgrammingFileParse parsed = ParseProgrammingFile(c.text);
    EXPECT_FALSE(parsed.values.has_value()) << c.name;
    EXPECT_EQ(parsed.fault.field, c.field) << c.name;
    EXPECT_TRUE(parsed.fault.problem.contains(QString::fromUtf8(c.problem)))
        << c.name << ": " << parsed.fault.problem.toStdString();
  }
}

TEST(ProgrammingFile, OpeningRefusesWithASentenceNamingTheFile) {
  QTemporaryDir folder;
  const auto path = [&](const char* name) { return folder.filePath(name).toStdString(); };
  std::ofstream(path("bad.vardelio")) << With("bornera", "bornera=robo");
  std::ofstream(path("big.vardelio")) << kGood << std::string(70000, '#');
  mkfifo(path("pipe.vardelio").c_str(), 0600);  // would block a plain open
  std::filesystem::create_directory(path("folder.vardelio"));
  std::filesystem::create_symlink(path("pipe.vardelio"), path("to-pipe.vardelio"));
  std::filesystem::create_symlink("/dev/zero", path("zero.vardelio"));
  std::filesystem::create_symlink(path("loop.vardelio"), path("loop.vardelio"));
  const struct {
    const char* name;
    const char* said;
  } cases[] = {
      {"bad.vardelio", "Bornera: valor «robo» desconocido."},
      {"big.vardelio", "No es un archivo de programación de Vardelio."},
      {"pipe.vardelio", "not a regular file"},
      {"folder.vardelio", "not a regular file"},
      {"absent.vardelio", "El archivo no existe."},
      {"to-pipe.vardelio", "not a regular file"},
      {"zero.vardelio", "not a regular file"},
      {"loop.vardelio", "symbolic links"},
  };
  for (const auto& c : cases) {
    try {
      LoadProgrammingFile(path(c.name));
      ADD_FAILURE() << c.name << " was opened";
    } catch (const EProgrammingFile& refused) {
      EXPECT_TRUE(refused.Text().startsWith(
          QStringLiteral("No se puede abrir el archivo \"%1\".\n\n").arg(c.name)))
          << refused.Text().toStdString();
      EXPECT_TRUE(refused.Text().contains(QString::fromUtf8(c.said)))
          << refused.Text().toStdString();
    }
  }
}

// The size is what is read, not what the file measured before its lock was had: a file that
// grows while the open waits for another program's lock is still too big to be read whole.
TEST(ProgrammingFile, AFileThatGrowsWhileTheOpenWaitsIsStillTooBig) {
  QTemporaryDir folder;
  const std::string path = folder.filePath(QStringLiteral("grows.vardelio")).toStdString();
  std::ofstream(path) << kGood;
  const int holder = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  std::optional<TPanelProgramming> opened;
  std::thread opener([&] {
    try {
      opened = LoadProgrammingFile(path);
    } catch (const EProgrammingFile&) {
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // measured, now waiting
  const std::string comment = "#" + std::string(1022, '.') + "\n";
  for (int i = 0; i < 1024; ++i)  // a megabyte, far above any programming file
    ASSERT_EQ(write(holder, comment.data(), comment.size()), ssize_t(comment.size()));
  flock(holder, LOCK_UN);
  opener.join();
  close(holder);
  EXPECT_FALSE(opened.has_value()) << "a file of a megabyte was read whole and taken";
}

TEST(ProgrammingFile, AFailedSaveLeavesTheOldFileAndNoHalfOne) {
  QTemporaryDir folder;
  const std::string readOnly = folder.filePath(QStringLiteral("ro.vardelio")).toStdString();
  std::ofstream(readOnly) << kGood;
  chmod(readOnly.c_str(), 0444);  // no write bit: refused even to root
  const std::string inFolder = folder.filePath(QStringLiteral("dir.vardelio")).toStdString();
  std::filesystem::create_directory(inFolder);
  const TPanelProgramming good{"1234", "5", "6", TTerminalBlock::tbAsalto, TTestReport::tr24Hs};
  TPanelProgramming readBack = good;
  readBack.MainPhone = std::string(33, '1');  // as a unit may send it back
  TPanelProgramming foreign = good;
  foreign.Subscriber =
      "\xB5"
      "123";
  const struct {
    const char* name;
    std::string path;
    TPanelProgramming values;
    const char* said;
  } cases[] = {
      {"read-only file", readOnly, good, "Cannot write"},
      {"folder in its place", inFolder, good, "not a regular file"},
      {"missing folder", folder.filePath(QStringLiteral("no/x.vardelio")).toStdString(), good,
       "Cannot write"},
      {"a phone too long to open again", readOnly, readBack, "Teléfono Principal: tiene 33"},
      {"a character the entry refuses", readOnly, foreign, "N° de Abonado: el carácter «µ»"},
      {"the empty entries a send leaves", readOnly, TPanelProgramming{},
       "N° de Abonado: tiene 0 caracteres y debe tener 4"},
  };
  for (const auto& c : cases) {
    try {
      SaveProgrammingFile(c.path, c.values);
      ADD_FAILURE() << c.name << " was saved";
    } catch (const EProgrammingFile& failed) {
      EXPECT_TRUE(failed.Text().startsWith(QStringLiteral("No se puede guardar el archivo")))
          << c.name;
      EXPECT_TRUE(failed.Text().contains(QString::fromUtf8(c.said)))
          << c.name << ": " << failed.Text().toStdString();
    }
  }
  EXPECT_EQ(ReadAll(readOnly), kGood);
  EXPECT_TRUE(std::filesystem::is_empty(inFolder));
  int entries = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(folder.path().toStdString()))
    ++entries;
  EXPECT_EQ(entries, 2);  // no temporary left behind
}

TEST(RecentFiles, TheLatestFirstOnceEachAtMostFour) {
  const struct {
    QStringList before;
    const char* added;
    QStringList after;
  } cases[] = {
      {{}, "/a", {"/a"}},
      {{"/a", "/b"}, "/b", {"/b", "/a"}},
      {{"/a", "/b", "/c", "/d"}, "/e", {"/e", "/a", "/b", "/c"}},
      {{"/a", "/b", "/c", "/d"}, "/d", {"/d", "/a", "/b", "/c"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WithRecentFile(c.before, c.added), c.after) << c.added;
  }
  EXPECT_EQ(ParseRecentFiles("/a\nrelative\n\n/b\n/a\n/c\n/d\n/e\n"),
            (QStringList{"/a", "/b", "/c", "/d"}));
}

TEST(RecentFiles, KeptInTheirOwnFileInTheSettingsFolder) {
  for (const char* path : {"/w/1.vardelio", "/w/2.vardelio", "/w/3.vardelio", "/w/ñ.vardelio",
                           "/w/5.vardelio", "/w/1.vardelio"}) {
    AddRecentFile(QString::fromUtf8(path));
  }
  const QStringList expected = {"/w/1.vardelio", "/w/5.vardelio",
                                QString::fromUtf8("/w/ñ.vardelio"), "/w/3.vardelio"};
  EXPECT_EQ(ReadRecentFiles(), expected);
  EXPECT_EQ(RecentFilesPath(), ConfigFolder() + "/recent-files");
  EXPECT_EQ(ReadAll(RecentFilesPath()),
            "/w/1.vardelio\n/w/5.vardelio\n/w/ñ.vardelio\n/w/3.vardelio\n");
  EXPECT_EQ(ReadAll(ConfigFolder() + "/comporttest.ini").find("/w/"), std::string::npos);
  EXPECT_EQ(AddRecentFile(QStringLiteral("/w/line\nbreak")), expected);  // not remembered
  // A list that cannot be kept costs nothing but the list.
  std::filesystem::remove(RecentFilesPath());
  std::filesystem::create_directory(RecentFilesPath());
  EXPECT_EQ(ReadRecentFiles(), QStringList());
  EXPECT_EQ(AddRecentFile(QStringLiteral("/w/9.vardelio")), QStringList{"/w/9.vardelio"});
  std::filesystem::remove(RecentFilesPath());
}

// A name is bytes: whatever they are, they come back from the window's text and from the recent
// list as they went in, and the name shows readably.
TEST(FileNames, KeepTheirBytesAndShowReadably) {
  const struct {
    std::string bytes;
    const char* shown;  // UTF-8
  } cases[] = {
      {"/w/cliente.vardelio", "/w/cliente.vardelio"},
      {"/w/N\xC3\xBA\xC3\xB1"
       "ez.vardelio",
       "/w/Núñez.vardelio"},  // UTF-8
      {"/w/N\xFA\xF1"
       "ez.vardelio",
       "/w/Núñez.vardelio"},                                             // Latin-1
      {"/w/\x80uro \x9F.vardelio", "/w/€uro Ÿ.vardelio"},                // Windows-1252
      {"/w/\x81\x8D\x8F\x90\x9D", "/w/\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},  // no character there
      {"/w/\xC3", "/w/Ã"},                                               // a sequence cut short
      {"/w/\xC0\xAF", "/w/À¯"},                                          // an overlong "/"
      {"/w/\xED\xB2\x80", "/w/í²\u20AC"},                          // a surrogate written as UTF-8
      {"/w/\xF4\x90\x80\x80", "/w/ô\uFFFD\u20AC\u20AC"},           // past U+10FFFF
      {"/w/\xF0\x9F\x93\x81.vardelio", "/w/\U0001F4C1.vardelio"},  // outside the first plane
      {"/w/a\tb", "/w/a\uFFFDb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const QString name = FileNameFromBytes(c.bytes);
    EXPECT_EQ(FileNameBytes(name), c.bytes);
    EXPECT_EQ(ReadableFileName(name), QString::fromUtf8(c.shown));
    EXPECT_EQ(FileNameBytes(QString::fromUtf8(c.shown)), c.shown);  // typed text is UTF-8
  }
  // Through the recent list's file, which holds the bytes themselves.
  std::filesystem::remove(RecentFilesPath());
  for (const auto& c : cases) {
    if (c.bytes.find('\t') == std::string::npos) AddRecentFile(FileNameFromBytes(c.bytes));
  }
  QStringList expected;
  for (int i = 0; i < kRecentFilesKept; ++i)
    expected << FileNameFromBytes(cases[std::size(cases) - 2 - i].bytes);
  EXPECT_EQ(ReadRecentFiles(), expected);
  EXPECT_EQ(ReadAll(RecentFilesPath()), RecentFilesText(expected));
  EXPECT_NE(ReadAll(RecentFilesPath()).find(cases[std::size(cases) - 2].bytes + "\n"),
            std::string::npos);
  std::filesystem::remove(RecentFilesPath());
}

// A name given relative to the current folder, whose own name may not be UTF-8.
TEST(FileNames, RelativeNamesStartFromTheCurrentFolderAsBytes) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString() +
                             "/N\xFA\xF1"
                             "ez";
  std::filesystem::create_directory(folder);
  const auto back = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  EXPECT_EQ(AbsoluteFileName("a.vardelio"), folder + "/a.vardelio");
  EXPECT_EQ(AbsoluteFileName("/x/a.vardelio"), "/x/a.vardelio");
  EXPECT_EQ(AbsoluteFileName(""), "");
  std::filesystem::current_path(back);
  EXPECT_TRUE(FileNameExists(FileNameFromBytes(folder)));
  EXPECT_FALSE(FileNameExists(FileNameFromBytes(folder + "/a.vardelio")));
  std::ofstream(folder + "/b.vardelio") << "";
  EXPECT_FALSE(FileNameExists(FileNameFromBytes(folder + "/b.vardelio/a.vardelio")));  // ENOTDIR
  // Not known to be gone (ENAMETOOLONG here; a folder one may not search elsewhere): kept.
  EXPECT_TRUE(FileNameExists(FileNameFromBytes(folder + "/" + std::string(300, 'a'))));
  // The window takes such a name apart and back as text.
  const QString name = FileNameFromBytes(folder + "/a.vardelio");
  EXPECT_EQ(FileNameBytes(QFileInfo(name).absoluteFilePath()), folder + "/a.vardelio");
  EXPECT_EQ(FileNameBytes(QFileInfo(name).absolutePath()), folder);
}

}  // namespace
