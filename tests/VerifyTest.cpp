#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>

#include "FakeComPlatform.h"
#include "PseudoTerminal.h"
#include "RecordingPresenter.h"
#include "SettingsFile.h"
#include "SimulatedUnit.h"
#include "UnitAnswer.h"
#include "Waiting.h"
#include "app/FileMenu.h"
#include "app/MainForm.h"
#include "app/RecentFiles.h"
#include "app/Workflow.h"
#include "programming/FileNames.h"
#include "programming/ProgrammingFile.h"
#include "serial/ComPort.h"

using namespace vardelio;
using vardelio::test::Answered;
using vardelio::test::kNoEvaluation;
using vardelio::test::ReadAll;
using vardelio::test::ServeUntil;
using vardelio::test::TRecordingPresenter;

namespace {

namespace m = messages;

// A window on a port of its own: against the simulated unit, or the recording fake.
class Window : public ::testing::Test {
 protected:
  Window() { std::filesystem::remove(RecentFilesPath()); }  // each test starts with none
  void Start(TUnitBehaviour behaviour) {
    std::string device;
    const int master = OpenPseudoTerminal(device);
    ASSERT_GE(master, 0);
    std::ofstream(test::SettingsPath()) << "[ComPort1]\nPort=" << device << "\n";
    unit = std::make_unique<TSimulatedUnit>(master, behaviour);
    unit->Start();
    form = std::make_unique<TForm1>();
    // Each evaluation comes once its answer is in (EvaluateWhen), however slow the machine.
    form->Timer1()->setInterval(kNoEvaluation);
    QObject::connect(form->Timer1(), &QTimer::timeout, [this] {
      ++evaluations;
      // also for a receive the evaluation has just started
      form->Timer1()->setInterval(kNoEvaluation);
    });
  }
  void StartOnFake(const TStartOptions& start = {}) {
    form = std::make_unique<TForm1>(nullptr, &fake, start);
  }
  // Lets the evaluation come once `answered`; a verification's read-back starts within it.
  bool EvaluateWhen(const std::function<bool()>& answered) {
    if (!ServeUntil(answered)) return false;
    const int before = evaluations;
    form->Timer1()->setInterval(0);
    return ServeUntil([&] { return evaluations > before; });
  }
  void Receive() { Find<QAction>("RecibirProgramacin1")->trigger(); }
  template <typename T = QWidget>
  T* Find(const char* name) {
    return form->findChild<T*>(QLatin1String(name));
  }
  QString Text(const char* field) { return Find<QLineEdit>(field)->text(); }
  QString Buffer() { return Find<QPlainTextEdit>("Memo1")->toPlainText(); }
  bool UnitAnswered(int requests, bool silent = false) {
    return Answered(*unit, Find<QPlainTextEdit>("Memo1"), requests, silent);
  }
  bool Checked(const char* radio) { return Find<QRadioButton>(radio)->isChecked(); }
  int Progress() { return Find<QProgressBar>("ProgressBar1")->value(); }
  bool ButtonsEnabled() {
    return Find<QPushButton>("BitBtn1_Enviar")->isEnabled() &&
           Find<QPushButton>("BitBtn2_Recibir")->isEnabled();
  }
  void Fill() {
    Find<QLineEdit>("Edit1")->setText("1B2C");
    Find<QLineEdit>("Edit2")->setText("12,34");
    Find<QLineEdit>("Edit3")->setText("#9");
    Find<QRadioButton>("RadioButton7")->setChecked(true);
    Find<QRadioButton>("RadioButton3")->setChecked(true);
  }
  bool ShowsWhatWasFilled() {
    return Text("Edit1") == "1B2C" && Text("Edit2") == "12,34" && Text("Edit3") == "#9" &&
           Checked("RadioButton7") && Checked("RadioButton3");
  }
  // The name's bytes, whatever they are, as the window carries them.
  QString FilePath(const char* name) { return folder.filePath(FileNameFromBytes(name)); }

  TRecordingPresenter boxes;
  vardelio::test::TFakeComPlatform fake;
  std::unique_ptr<TSimulatedUnit> unit;
  std::unique_ptr<TForm1> form;
  int evaluations = 0;
  QTemporaryDir folder;
};

TEST_F(Window, SendAndVerifyOutcomes) {
  const auto differs = [](const char* line) { return m::kNotVerified + QString::fromUtf8(line); };
  const struct {
    const char* name;
    TUnitBehaviour behaviour;
    bool readBack;  // the unit acknowledges, so the programming is read back
    QString message;
    int progress;
  } cases[] = {
      {"values match", {}, true, m::kVerified, 0},
      {"the unit stores another period",
       {.alterOnStore = TUnitField::testReport},
       true,
       differs("\nInforme de Test: enviado 7 Días, recibido 30 Días."),
       0},
      {"another subscriber",
       {.alterOnStore = TUnitField::subscriber},
       true,
       differs("\nN° de Abonado: enviado \"1B2C\", recibido \"2B2C\"."),
       0},
      {"another main phone",
       {.alterOnStore = TUnitField::mainPhone},
       true,
       differs("\nTeléfono Principal: enviado \"12,34\", recibido \"12,349\"."),
       0},
      {"another backup phone",
       {.alterOnStore = TUnitField::backupPhone},
       true,
       differs("\nTeléfono de Respaldo: enviado \"#9\", recibido \"#99\"."),
       0},
      {"another terminal-block mode",
       {.alterOnStore = TUnitField::terminalBlock},
       true,
       differs("\nBornera: enviado Incendio, recibido Asalto."),
       0},
      {"silent on the read-back", {.silentOnRead = true}, true, m::kNothingReceived, 0},
      {"a separator missing", {.missingSeparator = true}, true, m::kReceiveError, 0},
      {"no acknowledgement", {.silent = true}, false, m::kNotProgrammed, 100},
      {"lower-case acknowledgement", {.garbage = true}, false, m::kNotProgrammed, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.messages.clear();
    Start(c.behaviour);
    Fill();
    Find<QAction>("EnviaryVerificar1")->trigger();
    // Sent as a send sends: buttons back, entries emptied, the acknowledgement awaited.
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_EQ(Progress(), 100);
    EXPECT_TRUE(Text("Edit1").isEmpty());
    EXPECT_EQ(form->Tag(), 0);
    ASSERT_TRUE(EvaluateWhen([&] { return UnitAnswered(1, c.behaviour.silent); }));
    if (c.readBack) {
      // Read back as a receive reads: buttons off until its evaluation, and no box yet.
      EXPECT_EQ(form->Tag(), 1);
      EXPECT_FALSE(ButtonsEnabled());
      EXPECT_EQ(Progress(), 10);
      EXPECT_TRUE(boxes.messages.isEmpty());
      ASSERT_TRUE(EvaluateWhen([&] { return UnitAnswered(2, c.behaviour.silentOnRead); }));
      EXPECT_TRUE(ShowsWhatWasFilled());
    }
    EXPECT_EQ(boxes.messages, QStringList{c.message});
    EXPECT_EQ(unit->Requests(), c.readBack ? 2 : 1);
    EXPECT_EQ(Progress(), c.progress);
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_FALSE(form->Timer1()->isActive());
    EXPECT_TRUE(boxes.errors.isEmpty());
    form.reset();
    unit.reset();
  }
}

TEST_F(Window, AVerificationStopsWhereASendWould) {
  Start({});
  Find<QLineEdit>("Edit1")->setText("123");
  Find<QAction>("EnviaryVerificar1")->trigger();
  EXPECT_EQ(boxes.messages, QStringList{m::kBadSubscriber});
  EXPECT_FALSE(form->Timer1()->isActive());
  form->ComPort1()->ClosePort();
  Fill();
  Find<QAction>("EnviaryVerificar1")->trigger();
  EXPECT_EQ(boxes.errors, QStringList{"WriteFile function failed (win error code: 9)"});
  EXPECT_FALSE(ButtonsEnabled());
  EXPECT_FALSE(form->Timer1()->isActive());
  EXPECT_EQ(unit->Requests(), 0);
}

TEST_F(Window, AReceiveStartedDuringAVerificationIsAPlainReceive) {
  Start({});
  Fill();
  Find<QAction>("EnviaryVerificar1")->trigger();
  ASSERT_TRUE(EvaluateWhen([&] { return UnitAnswered(1) && Buffer() == "OK"; }));
  // The read-back is answered but not yet evaluated: the receive's purge cannot cut that
  // answer short and leave its tail to pass for the receive's.
  ASSERT_TRUE(ServeUntil([&] { return UnitAnswered(2); }));
  Receive();
  EXPECT_TRUE(Buffer().isEmpty());
  ASSERT_TRUE(EvaluateWhen([&] { return UnitAnswered(3); }));
  EXPECT_EQ(boxes.messages, QStringList{m::kReceived});
  EXPECT_TRUE(ShowsWhatWasFilled());  // what the unit holds
}

TEST_F(Window, OpeningAFileFillsTheWindowAndSendsNothing) {
  StartOnFake();
  std::ofstream(FilePath("cliente.vardelio").toStdString()) << ProgrammingFileText(
      {"1B2C", "12,34", "#9", TTerminalBlock::tbIncendio, TTestReport::tr7Dias});
  fake.calls.clear();
  form->SetTag(1);
  ASSERT_TRUE(form->Files().Open(FilePath("cliente.vardelio")));
  EXPECT_TRUE(ShowsWhatWasFilled());
  EXPECT_EQ(form->windowTitle(), "Programador Vardelio - cliente.vardelio");
  EXPECT_EQ(fake.Count("WriteFile"), 0);
  EXPECT_EQ(form->Tag(), 1);
  EXPECT_FALSE(form->Timer1()->isActive());
  EXPECT_TRUE(Buffer().isEmpty());
  EXPECT_TRUE(boxes.messages.isEmpty() && boxes.errors.isEmpty());
  auto* recent = Find<QAction>("RecentFile1");
  ASSERT_NE(recent, nullptr);
  EXPECT_EQ(recent->text(), "&1 cliente.vardelio");
  EXPECT_EQ(form->Files().Recent(), QStringList{FilePath("cliente.vardelio")});
}

// As the command line starts it: the file is opened over the shown window, the line traced
// from the start; a refused file leaves the caption and the trace as they are.
TEST_F(Window, TheStartFileOpensOnceTheWindowIsShown) {
  std::ofstream(FilePath("cliente.vardelio").toStdString()) << ProgrammingFileText(
      {"1B2C", "12,34", "#9", TTerminalBlock::tbIncendio, TTestReport::tr7Dias});
  std::ofstream(FilePath("malo.vardelio").toStdString()) << "vardelio-programacion 1\nabonado=A\n";
  for (const char* name : {"cliente.vardelio", "malo.vardelio"}) {
    SCOPED_TRACE(name);
    const bool refused = name[0] == 'm';
    boxes.errors.clear();
    TStartOptions start;
    start.programmingFile = FilePath(name).toLocal8Bit().toStdString();
    start.traceFile = FilePath("linea.log").toLocal8Bit().toStdString();
    StartOnFake(start);
    EXPECT_TRUE(Text("Edit1").isEmpty());  // not before the window is up
    form->show();
    ASSERT_TRUE(ServeUntil([&] { return Text("Edit1") == "1B2C" || !boxes.errors.isEmpty(); }));
    EXPECT_EQ(boxes.errors.size(), refused ? 1 : 0);
    EXPECT_EQ(ShowsWhatWasFilled(), !refused);
    EXPECT_EQ(form->windowTitle(),
              refused ? "Programador Vardelio" : "Programador Vardelio - cliente.vardelio");
    EXPECT_EQ(fake.Count("WriteFile"), 0);
    EXPECT_TRUE(form->LineTraceActive());
    form.reset();
  }
}

TEST_F(Window, ARefusedFileIsNamedAndChangesNothing) {
  StartOnFake();
  std::ofstream(FilePath("malo.vardelio").toStdString())
      << "vardelio-programacion 1\nabonado=1A2C\n";
  Fill();
  EXPECT_FALSE(form->Files().Open(FilePath("malo.vardelio")));
  ASSERT_EQ(boxes.errors.size(), 1);
  EXPECT_EQ(boxes.errors[0],
            "No se puede abrir el archivo \"malo.vardelio\".\n\n"
            "N° de Abonado: el carácter «A» no se admite.");
  EXPECT_TRUE(ShowsWhatWasFilled());
  EXPECT_EQ(form->windowTitle(), "*Programador Vardelio");  // no file, unsaved values
  EXPECT_TRUE(form->Files().Recent().isEmpty());
  EXPECT_EQ(Find<QAction>("RecentFile1"), nullptr);
}

TEST_F(Window, TheMenuAsksForTheFileToSaveAndToOpen) {
  StartOnFake();
  QStringList asked;
  QString answer;
  form->Files().AskPath = [&](bool save, const QString& suggested) {
    asked << QStringLiteral("%1 %2").arg(save ? "save" : "open", suggested);
    return answer;
  };
  Fill();
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QTest::keyClick(Find<QLineEdit>("Edit2"), Qt::Key_S, Qt::ControlModifier);  // cancelled
  answer = FilePath("nuevo.vardelio");
  QTest::keyClick(Find<QLineEdit>("Edit2"), Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(ReadAll(answer.toStdString()),
            ProgrammingFileText(
                {"1B2C", "12,34", "#9", TTerminalBlock::tbIncendio, TTestReport::tr7Dias}));
  EXPECT_EQ(form->windowTitle(), "Programador Vardelio - nuevo.vardelio");
  Find<QLineEdit>("Edit1")->setText("FFFF");
  QTest::keyClick(Find<QLineEdit>("Edit1"), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(Text("Edit1"), "1B2C");
  EXPECT_EQ(asked, (QStringList{"save " + QDir::homePath(), "save " + QDir::homePath(),
                                "open " + folder.path()}));
  EXPECT_EQ(boxes.beeps, 0);  // the keys never reached the entries' filters
  // The recent entry opens its file without a question.
  Find<QLineEdit>("Edit1")->setText("EEEE");
  Find<QAction>("RecentFile1")->trigger();
  EXPECT_EQ(Text("Edit1"), "1B2C");
  EXPECT_EQ(asked.size(), 3);
  EXPECT_EQ(boxes.errors, QStringList());
  // What the window cannot open again is not saved.
  Find<QLineEdit>("Edit3")->setText(QString(33, '1'));
  EXPECT_FALSE(form->Files().Save(answer));
  EXPECT_EQ(boxes.errors.size(), 1);
  EXPECT_EQ(ReadAll(answer.toStdString()).find("111"), std::string::npos);
}

TEST_F(Window, RecentFilesAreListedAboveTheLastItems) {
  StartOnFake();
  for (const char* name :
       {"a.vardelio", "b&c.vardelio", "c.vardelio", "d.vardelio", "e.vardelio"}) {
    Fill();
    ASSERT_TRUE(form->Files().Save(FilePath(name)));
  }
  QStringList items;
  for (QAction* item : Find<QMenu>("Archivo1")->actions())
    items << item->text();
  EXPECT_EQ(items, (QStringList{"&Nuevo", "&Abrir programación...", "&Guardar programación...", "",
                                "&1 e.vardelio", "&2 d.vardelio", "&3 c.vardelio",
                                "&4 b&&c.vardelio", "", "&Imprimir hoja...", "&Historial...", "",
                                "Registro de la &línea...", "", "&Salir"}));
  // A new window finds them in the settings folder.
  form.reset();
  StartOnFake();
  EXPECT_EQ(Find<QAction>("RecentFile4")->text(), "&4 b&&c.vardelio");
  EXPECT_EQ(form->windowTitle(), "Programador Vardelio");
}

// The read-back cannot be started (the unit hung up after acknowledging: the purge before its
// request fails): the error is the receive's, and the window still shows what was sent, as
// after any other failure of the read-back, rather than the entries the send emptied.
TEST_F(Window, AReadBackThatCannotBeAskedForStillShowsWhatWasSent) {
  Start({.hangUpAfter = 1});
  unit->KeepLineOpen(true);
  Fill();
  Find<QAction>("EnviaryVerificar1")->trigger();
  ASSERT_TRUE(ServeUntil([&] { return UnitAnswered(1) && Buffer() == "OK"; }));
  unit->KeepLineOpen(false);  // the acknowledgement is in: now it may hang up
  ASSERT_TRUE(ServeUntil([&] { return form->ComPort1()->EventLoopEnded(); }));
  ASSERT_TRUE(EvaluateWhen([] { return true; }));
  EXPECT_EQ(boxes.errors, QStringList{"PurgeComm function failed (win error code: 5)"});
  EXPECT_TRUE(boxes.messages.isEmpty());
  EXPECT_TRUE(ShowsWhatWasFilled());
}

// A file is not opened while a send or a receive waits for its evaluation: the unit's answer
// would be written after the file's values. It is refused with a box, and the receive ends
// with the unit's values alone; once it is over, the file opens.
TEST_F(Window, AFileOpenedDuringAReceiveIsNotSplicedWithTheAnswer) {
  Start({});
  std::ofstream(FilePath("cliente.vardelio").toStdString()) << ProgrammingFileText(
      {"1B2C", "12,34", "#9", TTerminalBlock::tbIncendio, TTestReport::tr7Dias});
  Receive();
  EXPECT_FALSE(form->Files().Open(FilePath("cliente.vardelio")));
  EXPECT_EQ(boxes.messages, QStringList{"Espere a que termine la operación en curso para abrir "
                                        "\"cliente.vardelio\"."});
  ASSERT_TRUE(EvaluateWhen([&] { return UnitAnswered(1); }));
  const QStringList shown = {Text("Edit1"), Text("Edit2"), Text("Edit3")};
  EXPECT_EQ(shown, (QStringList{"1B2C", "12345678", "87654321"}));
  EXPECT_EQ(form->windowTitle(), "*Programador Vardelio");  // the unit's values, in no file
  EXPECT_TRUE(form->Files().Open(FilePath("cliente.vardelio")));
  EXPECT_EQ(Text("Edit2"), "12,34");
}

// A send refused for its subscriber starts nothing, so a verification under way goes on.
TEST_F(Window, ARefusedSendLeavesAVerificationGoing) {
  const struct {
    const char* name;
    const char* pressed;  // with the subscriber the send has just emptied
    bool duringReadBack;
  } cases[] = {
      {"send button, send half", "BitBtn1_Enviar", false},
      {"verify, send half", "EnviaryVerificar1", false},
      {"send item, read-back", "EnviarProgramacin1", true},
      {"verify, read-back", "EnviaryVerificar1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.messages.clear();
    Start({});
    Fill();
    Find<QAction>("EnviaryVerificar1")->trigger();
    const auto press = [&] {
      if (auto* item = Find<QAction>(c.pressed)) return item->trigger();
      Find<QPushButton>(c.pressed)->click();
    };
    if (!c.duringReadBack) press();
    ASSERT_TRUE(EvaluateWhen([&] { return unit->Requests() == 1 && Buffer() == "OK"; }));
    ASSERT_TRUE(ServeUntil([&] { return unit->Requests() == 2; }));
    if (c.duringReadBack) press();
    ASSERT_TRUE(EvaluateWhen([&] { return !Buffer().isEmpty(); }));
    EXPECT_EQ(boxes.messages, (QStringList{m::kBadSubscriber, m::kVerified}));
    EXPECT_TRUE(ShowsWhatWasFilled());
    form.reset();
    unit.reset();
  }
}

// A file's name shows in the menu and the title as itself: an "&" is no access letter, and a
// tab or a line break neither splits the item nor breaks the title.
TEST_F(Window, FileNamesShowAsTheyAreInTheMenuAndTheTitle) {
  const struct {
    const char* name;
    const char* item;  // empty: not listed
    const char* title;
  } cases[] = {
      {"a&b.vardelio", "&1 a&&b.vardelio", "a&b.vardelio"},
      {"a\tb.vardelio", "&1 a\uFFFDb.vardelio", "a\uFFFDb.vardelio"},
      {"a\nb.vardelio", "", "a\uFFFDb.vardelio"},
      {"a\x1b[7mb.vardelio", "&1 a\uFFFD[7mb.vardelio", "a\uFFFD[7mb.vardelio"},
      {"N\xFA\xF1"
       "ez.vardelio",
       "&1 Núñez.vardelio", "Núñez.vardelio"},  // Latin-1
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(RecentFilesPath());
    StartOnFake();
    Fill();
    ASSERT_TRUE(form->Files().Save(FilePath(c.name)));
    EXPECT_TRUE(std::filesystem::exists(folder.path().toStdString() + "/" + c.name));
    EXPECT_EQ(form->windowTitle(),
              QStringLiteral("Programador Vardelio - ") + QString::fromUtf8(c.title));
    auto* item = Find<QAction>("RecentFile1");
    if (*c.item == 0) {
      EXPECT_EQ(item, nullptr);
    } else {
      ASSERT_NE(item, nullptr);
      EXPECT_EQ(item->text(), QString::fromUtf8(c.item));
      item->showStatusText(form.get());  // as the menu does when the pointer rests on it
      EXPECT_EQ(form->statusBar()->currentMessage(), "");  // the status bar holds no text
    }
    form.reset();
  }
}

}  // namespace
