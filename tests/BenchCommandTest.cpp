#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "BenchUnit.h"
#include "SettingsFile.h"
#include "Waiting.h"
#include "programming/History.h"
#include "programming/Outcomes.h"

using namespace vardelio;
namespace o = vardelio::outcomes;

namespace {

const QString kProgram = QStringLiteral(VARDELIO_PROGRAM);

// The built program, with settings and a history of its own and no display at all.
class Bench : public ::testing::Test {
 protected:
  Bench() {
    QDir(folder.path()).mkpath("config/vardelio");
    QDir(folder.path()).mkpath("data");
    Write("a.vardelio", test::ProgrammingText("1B2C"));
  }
  std::string Path(const char* name) const { return folder.filePath(name).toStdString(); }
  void Write(const char* name, const std::string& text) { std::ofstream(Path(name)) << text; }
  std::string HistoryFile() const { return Path("data") + "/vardelio/historial.csv"; }
  void SettingsPort(const std::string& port) {
    std::ofstream(Path("config") + "/vardelio/comporttest.ini")
        << "[ComPort1]\nPort=" << port << "\n";
  }
  int Run(QStringList args, const QByteArray& input = {}) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("XDG_CONFIG_HOME", folder.filePath("config"));
    env.insert("XDG_DATA_HOME", folder.filePath("data"));
    env.insert("LANG", "C");
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(folder.path());
    program.start(kProgram, args);
    program.write(input);
    program.closeWriteChannel();
    program.waitForFinished(60000);
    out = QString::fromUtf8(program.readAllStandardOutput());
    errors = QString::fromUtf8(program.readAllStandardError());
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
  }

  QTemporaryDir folder;
  QString out, errors;
};

// Each outcome: its exit code and its message, against the unit as its switches make it.
struct TCommandRow {
  const char* switches;  // nullptr: no unit on the port at all
  QStringList args;      // PORT stands for the unit's port
  int exitCode;
  QString out;          // standard output, whole
  QString errors;       // part of standard error
  const char* outcome;  // the history's word; nullptr: no line
};

void PrintTo(const TCommandRow& row, std::ostream* os) {
  *os << (row.switches ? row.switches : "(no unit)") << " " << row.args.join(' ').toStdString();
}

class CommandLine : public Bench, public ::testing::WithParamInterface<TCommandRow> {};

TEST_P(CommandLine, ExitCodeAndMessage) {
  const TCommandRow& row = GetParam();
  std::string device = Path("nothing-here");
  std::unique_ptr<TSimulatedUnit> unit;
  if (row.switches != nullptr) {
    unit = test::StartUnit(row.switches, device);
    ASSERT_NE(unit, nullptr);
  }
  Write("bad.vardelio", test::ProgrammingText("1B2C", "12-34"));
  Write("exists.vardelio", "keep me\n");
  Write("short.vardelio", test::ProgrammingText("1B2"));
  SettingsPort(device);  // the settings file's port unless --port says otherwise
  const auto before = test::ReadAll(Path("config") + "/vardelio/comporttest.ini");
  QStringList args = row.args;
  args.replaceInStrings("PORT", QString::fromStdString(device));
  EXPECT_EQ(Run(args), row.exitCode) << errors.toStdString();
  EXPECT_EQ(out, row.out);
  EXPECT_TRUE(errors.contains(row.errors)) << errors.toStdString();
  if (unit) unit->Stop();
  // Never written by these commands.
  EXPECT_EQ(test::ReadAll(Path("config") + "/vardelio/comporttest.ini"), before);
  EXPECT_EQ(test::ReadAll(Path("exists.vardelio")), "keep me\n");
  const std::vector<THistoryEntry> history = ReadHistory(HistoryFile());
  if (row.outcome == nullptr) {
    EXPECT_TRUE(history.empty());
  } else {
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].outcome, row.outcome);
  }
}

const QString kNl = QStringLiteral("\n");
const QStringList kSend = {"--send", "a.vardelio"};
const QStringList kVerify = {"--send", "a.vardelio", "--verify"};
const QStringList kReceive = {"--receive", "b.vardelio"};

INSTANTIATE_TEST_SUITE_P(
    EveryOutcome, CommandLine,
    ::testing::Values(
        TCommandRow{"", kSend, 0, o::kProgrammed + kNl, "", "exitosa"},
        TCommandRow{"", kVerify, 0, o::kVerified + kNl, "", "verificada"},
        TCommandRow{"", kReceive, 0, o::kReceived + kNl, "", "recibida"},
        TCommandRow{
            "", {"--send", "a.vardelio", "--port", "PORT"}, 0, o::kProgrammed + kNl, "", "exitosa"},
        TCommandRow{"--silent", kSend, 1, o::kNotProgrammed + kNl, "", "no-programada"},
        TCommandRow{"--silent", kReceive, 1, o::kNothingReceived + kNl, "", "sin-respuesta"},
        TCommandRow{"--garbage", kVerify, 1, o::kNotProgrammed + kNl, "", "no-programada"},
        TCommandRow{"--missing-separator", kReceive, 1, o::kReceiveError + kNl, "",
                    "error-recepcion"},
        TCommandRow{"--time-over", kSend, 1, o::kTimeOver + kNl + o::kNotProgrammed + kNl, "",
                    "tiempo-finalizado"},
        TCommandRow{"--alter-on-store", kVerify, 1,
                    o::kNotVerified + "\nInforme de Test: enviado 7 Días, recibido 30 Días.\n", "",
                    "no-coincide"},
        TCommandRow{"--silent-on-read", kVerify, 1, o::kNothingReceived + kNl, "", "sin-respuesta"},
        TCommandRow{"--hang-up-after 1", kVerify, 3, "", "(win error code: 5)", "error-puerto"},
        TCommandRow{nullptr, kSend, 3, "", "Unable to open com port (win error code: 2)",
                    "error-puerto"},
        TCommandRow{"", {"--receive", "exists.vardelio"}, 2, "", "already exists", nullptr},
        TCommandRow{"",
                    {"--send", "bad.vardelio"},
                    2,
                    "",
                    "Teléfono Principal: el carácter «-» no se admite",
                    nullptr},
        TCommandRow{"",
                    {"--send", "short.vardelio", "--verify"},
                    2,
                    "",
                    "N° de Abonado: tiene 3 caracteres y debe tener 4",
                    nullptr},
        TCommandRow{"", {"--send", "missing.vardelio"}, 2, "", "El archivo no existe", nullptr},
        TCommandRow{"", {"--send"}, 2, "", "missing value for --send", nullptr},
        TCommandRow{
            "", {"--send", "a.vardelio", "--force"}, 2, "", "--force goes with --receive", nullptr},
        TCommandRow{
            "", {"--send", "a.vardelio", "--receive", "b.vardelio"}, 2, "", "only one of", nullptr},
        TCommandRow{
            "", {"--receive", "b.vardelio", "--bogus"}, 2, "", "unknown option --bogus", nullptr}));

TEST_F(Bench, ReceiveWritesTheFileAndForceReplacesIt) {
  std::string device;
  auto unit = test::StartUnit("", device);
  ASSERT_NE(unit, nullptr);
  unit->SetStored("3333T#1T10");
  Write("b.vardelio", "old\n");
  EXPECT_EQ(Run({"--receive", "b.vardelio", "--force", "--port", QString::fromStdString(device)}),
            0);
  unit->Stop();
  EXPECT_EQ(test::ReadAll(Path("b.vardelio")),
            "vardelio-programacion 1\n"
            "# Programación de un Vardelio. bornera: asalto, accidente o incendio;\n"
            "# informe-test: deshabilitado, 24-hs, 7-dias o 30-dias.\n"
            "abonado=3333\ntelefono-principal=\ntelefono-respaldo=#1\nbornera=accidente\n"
            "informe-test=deshabilitado\n");
}

// A file that another program makes under the name while the unit answers is not replaced
// either: the check is made again where the file is written, not only before the receive.
TEST_F(Bench, ReceiveDoesNotReplaceAFileMadeWhileTheUnitAnswers) {
  std::string device;
  auto unit = test::StartUnit("--delay 800", device);
  ASSERT_NE(unit, nullptr);
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.insert("XDG_CONFIG_HOME", folder.filePath("config"));
  env.insert("XDG_DATA_HOME", folder.filePath("data"));
  program.setProcessEnvironment(env);
  program.setWorkingDirectory(folder.path());
  program.start(kProgram, {"--receive", "b.vardelio", "--port", QString::fromStdString(device)});
  ASSERT_TRUE(test::WaitUntil([&] { return unit->Requests() >= 1; }, 30000));
  Write("b.vardelio", "keep me\n");
  ASSERT_TRUE(program.waitForFinished(60000));
  unit->Stop();
  EXPECT_EQ(program.exitCode(), 2);
  EXPECT_EQ(test::ReadAll(Path("b.vardelio")), "keep me\n");
}

TEST_F(Bench, ReceiveOfAnUnknownModeWritesNoFile) {
  std::string device;
  auto unit = test::StartUnit("", device);
  ASSERT_NE(unit, nullptr);
  unit->SetStored("3333T#1T50");
  EXPECT_EQ(Run({"--receive", "b.vardelio", "--port", QString::fromStdString(device)}), 1);
  unit->Stop();
  EXPECT_EQ(out,
            o::kReceived + "\nEl equipo envió Bornera desconocido; no se guarda el archivo.\n");
  EXPECT_FALSE(std::filesystem::exists(Path("b.vardelio")));
}

// A history that cannot be written is told once, and the programming goes on.
TEST_F(Bench, AHistoryThatCannotBeWrittenDoesNotStopTheProgramming) {
  std::string device;
  auto unit = test::StartUnit("", device);
  ASSERT_NE(unit, nullptr);
  QDir(folder.path()).mkpath("data/vardelio/historial.csv");  // a folder where the file goes
  EXPECT_EQ(Run({"--send", "a.vardelio", "--port", QString::fromStdString(device)}), 0);
  unit->Stop();
  EXPECT_EQ(out, o::kProgrammed + kNl);
  EXPECT_EQ(errors.count("vardelio:"), 1) << errors.toStdString();
  EXPECT_TRUE(errors.contains("historial")) << errors.toStdString();
}

// Five units, the third of which does not keep what it was sent: the operator skips it.
TEST_F(Bench, BatchWithAFailingUnitInTheMiddle) {
  Write("lista.csv",
        "abonado,principal,respaldo,bornera,informe\n"
        "1111,11,,asalto,24-hs\n2222,22,,accidente,7-dias\n3333,33,,incendio,30-dias\n"
        "4444,44,,asalto,deshabilitado\n5555,55,,incendio,24-hs\n");
  std::string device;
  // The third unit stores a backup phone of its own.
  auto unit = test::StartUnit("--alter backup-phone --alter-only 3", device);
  ASSERT_NE(unit, nullptr);
  SettingsPort(device);
  EXPECT_EQ(Run({"--batch", "lista.csv"}, "\n\n\ns\n\n\n"), 1) << errors.toStdString();
  unit->Stop();
  EXPECT_TRUE(
      out.contains(o::kNotVerified + "\nTeléfono de Respaldo: enviado \"\", recibido \"9\"."))
      << out.toStdString();
  EXPECT_EQ(out.count(o::kVerified), 4);
  EXPECT_TRUE(out.contains("3333  Falla")) << out.toStdString();
  EXPECT_TRUE(out.endsWith("5 equipos: 4 verificados, 1 con falla, 0 salteados.\n"));
  const std::vector<THistoryEntry> history = ReadHistory(HistoryFile());
  ASSERT_EQ(history.size(), 5u);
  EXPECT_EQ(history[2].subscriber, "3333");
  EXPECT_EQ(history[2].outcome, "no-coincide");
  for (const THistoryEntry& entry : history)
    EXPECT_EQ(entry.operation, "serie");
}

TEST_F(Bench, BatchOfAFolderStoppedByTheOperator) {
  QDir(folder.path()).mkpath("units");
  Write("units/1.vardelio", test::ProgrammingText("1111"));
  Write("units/2.vardelio", test::ProgrammingText("2222"));
  Write("units/nota.txt", "not a unit");
  std::string device;
  auto unit = test::StartUnit("", device);
  ASSERT_NE(unit, nullptr);
  EXPECT_EQ(Run({"--batch", "units", "--port", QString::fromStdString(device)}, "\nt\n"), 1);
  unit->Stop();
  EXPECT_TRUE(out.endsWith("2 equipos: 1 verificados, 0 con falla, 1 salteados.\n"))
      << out.toStdString();
}

TEST_F(Bench, BatchListRefusedBeforeThePortIsOpened) {
  Write("lista.csv", "abonado,principal,respaldo,bornera,informe\n12,1,2,asalto,24-hs\n");
  EXPECT_EQ(Run({"--batch", "lista.csv", "--port", "/nonexistent"}), 2);
  EXPECT_TRUE(errors.contains("línea 2: N° de Abonado: tiene 2 caracteres y debe tener 4"))
      << errors.toStdString();
}

// --- the job sheet ------------------------------------------------------------------------

QString Tool(const QString& name, const QStringList& args) {
  QProcess tool;
  tool.start(name, args);
  tool.waitForFinished(60000);
  return QString::fromUtf8(tool.readAllStandardOutput());
}

TEST_F(Bench, SheetTextCanBeExtractedAndItsIconsAreDrawn) {
  std::filesystem::create_directories(Path("data") + "/vardelio");
  std::ofstream(HistoryFile()) << kHistoryHeader
                               << "2026-03-02T10:15:00-03:00,/dev/ttyUSB0,verificacion,1B2C,"
                                  "\"12,34\",#9,Incendio,7 Días,verificada,\n"
                               << "2026-03-01T09:00:00-03:00,/dev/ttyUSB0,serie,1B2C,"
                                  "\"12,34\",#9,Incendio,7 Días,verificada,\n"
                               << "2026-03-03T09:00:00-03:00,/dev/ttyUSB0,verificacion,1B2C,"
                                  "\"12,34\",#9,Asalto,7 Días,verificada,\n";
  ASSERT_EQ(Run({"--sheet", "hoja.pdf", "a.vardelio"}), 0) << errors.toStdString();
  const QString text = Tool("pdftotext", {folder.filePath("hoja.pdf"), "-"});
  for (const char* expected :
       {"Hoja de programación Vardelio", "N° de Abonado:", "1B2C", "Teléfono Principal:", "12,34",
        "Teléfono de Respaldo:", "#9", "Bornera:", "Asalto", "Accidente", "Incendio",
        "Informe de Test:", "Deshabilitado", "24 Hs", "7 Días", "30 Días",
        "Verificada en el equipo el 02/03/2026"}) {
    EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected << "\n"
                                                            << text.toStdString();
  }
  EXPECT_EQ(
      Tool("pdfinfo", {folder.filePath("hoja.pdf")}).contains(QRegularExpression("Pages: +1\n")),
      true);
  Tool("pdftoppm",
       {"-r", "40", "-png", "-singlefile", folder.filePath("hoja.pdf"), folder.filePath("hoja")});
  const QImage page(folder.filePath("hoja.png"));
  ASSERT_FALSE(page.isNull());
  // The flame beside "Incendio" is orange-red; nothing else on the page is.
  int warm = 0;
  for (int y = 0; y < page.height(); ++y) {
    for (int x = 0; x < page.width(); ++x) {
      const QColor c = page.pixelColor(x, y);
      warm += c.red() > 180 && c.green() < 140 && c.blue() < 100;
    }
  }
  EXPECT_GT(warm, 4);
}

TEST_F(Bench, SheetWithoutVerificationSaysSo) {
  Write("bad.vardelio", test::ProgrammingText("1B2C", "12-34"));
  ASSERT_EQ(Run({"--sheet", "hoja.pdf", "a.vardelio"}), 0) << errors.toStdString();
  const QString text = Tool("pdftotext", {folder.filePath("hoja.pdf"), "-"});
  EXPECT_TRUE(text.contains("Sin verificación registrada")) << text.toStdString();
  // It holds customers' numbers: its owner's alone.
  struct stat st {};
  ASSERT_EQ(stat(Path("hoja.pdf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Run({"--sheet", "hoja.pdf", "bad.vardelio"}), 2);
}

// The sheet is written over an older sheet, but never over a file that is not a PDF: a
// programming file named as OUT (the two names swapped, or the same name twice) stays as it was.
struct TSheetOutRow {
  const char* out;
  const char* before;  // written to OUT first; nullptr: OUT as the test's folder has it
  int exitCode;
};

void PrintTo(const TSheetOutRow& row, std::ostream* os) {
  *os << row.out << (row.before ? " (written first)" : "");
}

class SheetOut : public Bench, public ::testing::WithParamInterface<TSheetOutRow> {};

TEST_P(SheetOut, ReplacesOnlyASheet) {
  const TSheetOutRow& row = GetParam();
  const std::string source = test::ProgrammingText("1B2C");
  Write("b.vardelio", test::ProgrammingText("4D5E"));
  if (row.before != nullptr) Write(row.out, row.before);
  const std::string was = test::ReadAll(Path(row.out));
  EXPECT_EQ(Run({"--sheet", row.out, "a.vardelio"}), row.exitCode) << errors.toStdString();
  EXPECT_TRUE(test::ReadAll(Path("a.vardelio")) == source) << "the sheet's own file was replaced";
  const std::string now = test::ReadAll(Path(row.out));
  if (row.exitCode == 0) {
    EXPECT_TRUE(now.starts_with("%PDF-")) << row.out;
  } else {
    EXPECT_TRUE(now == was) << row.out << " was replaced";
    EXPECT_TRUE(errors.contains("no es un PDF")) << errors.toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(EveryOut, SheetOut,
                         ::testing::Values(TSheetOutRow{"new.pdf", nullptr, 0},
                                           TSheetOutRow{"old.pdf", "%PDF-1.4 old sheet\n", 0},
                                           TSheetOutRow{"empty.pdf", "", 0},
                                           TSheetOutRow{"a.vardelio", nullptr, 2},
                                           TSheetOutRow{"b.vardelio", nullptr, 2},
                                           TSheetOutRow{"notes.pdf", "customer notes\n", 2}));

}  // namespace
