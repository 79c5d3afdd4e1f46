#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "FakeComPlatform.h"
#include "RecordingPresenter.h"
#include "SettingsFile.h"
#include "UnitAnswer.h"
#include "Waiting.h"
#include "app/FileMenu.h"
#include "app/MainForm.h"
#include "app/RecentFiles.h"
#include "app/Workflow.h"
#include "portconfig/ProfileFile.h"
#include "programming/FileNames.h"
#include "programming/ProgrammingFile.h"

using namespace vardelio;
using vardelio::test::ReadAll;
using vardelio::test::ServeUntil;

namespace {

namespace m = messages;

const TPanelProgramming kCustomer{"1B2C", "12,34", "#9", TTerminalBlock::tbIncendio,
                                  TTestReport::tr7Dias};
const TPanelProgramming kOther{"FFFF", "555", "", TTerminalBlock::tbAccidente, TTestReport::tr24Hs};

// The window on the recording fake, with its files in a folder of their own.
class Values : public ::testing::Test {
 public:
  Values() { std::filesystem::remove(RecentFilesPath()); }
  void Start(const TStartOptions& start = {}) {
    form = std::make_unique<TForm1>(nullptr, &fake, start);
    form->Timer1()->setInterval(test::kNoEvaluation);  // an operation stays under way
    form->Files().AskPath = [this](bool save, const QString& suggested) {
      asked << QStringLiteral("%1 %2").arg(save ? "save" : "open", suggested);
      return save ? savePath : openPath;
    };
  }
  template <typename T = QWidget>
  T* Find(const char* name) {
    return form->findChild<T*>(QLatin1String(name));
  }
  QLineEdit* Entry(const char* name) { return Find<QLineEdit>(name); }
  void Fill(const TPanelProgramming& values) {
    Entry("Edit1")->setText(QString::fromLatin1(values.Subscriber));
    Entry("Edit2")->setText(QString::fromLatin1(values.MainPhone));
    Entry("Edit3")->setText(QString::fromLatin1(values.BackupPhone));
    Find<QRadioButton>(kTerminalBlock[int(values.TerminalBlock)])->setChecked(true);
    Find<QRadioButton>(kTestReport[int(values.TestReport)])->setChecked(true);
  }
  bool Shows(const TPanelProgramming& values) {
    return Entry("Edit1")->text().toStdString() == values.Subscriber &&
           Entry("Edit2")->text().toStdString() == values.MainPhone &&
           Entry("Edit3")->text().toStdString() == values.BackupPhone &&
           Find<QRadioButton>(kTerminalBlock[int(values.TerminalBlock)])->isChecked() &&
           Find<QRadioButton>(kTestReport[int(values.TestReport)])->isChecked();
  }
  QString FilePath(const char* name) { return folder.filePath(QString::fromLatin1(name)); }
  std::string Written(const char* name) { return ReadAll(FilePath(name).toStdString()); }
  void WriteFile(const char* name, const TPanelProgramming& values) {
    std::ofstream(FilePath(name).toStdString()) << ProgrammingFileText(values);
  }

  static constexpr const char* kTerminalBlock[] = {"RadioButton5", "RadioButton6", "RadioButton7"};
  static constexpr const char* kTestReport[] = {"RadioButton1", "RadioButton2", "RadioButton3",
                                                "RadioButton4"};
  test::TRecordingPresenter boxes;
  test::TFakeComPlatform fake;
  std::unique_ptr<TForm1> form;
  QTemporaryDir folder;
  QStringList asked;
  QString savePath, openPath;
};

// Every way text reaches an entry other than typing, each with values the entries' rules
// refuse: whichever way starts the send, nothing is written and the entries stay to be mended.
TEST_F(Values, NoDoorLetsABadValueReachTheUnit) {
  const struct {
    const char* name;
    std::function<void(QLineEdit*, const QString&)> put;
  } doors[] = {
      {"set by the program (a read-back)", [](QLineEdit* e, const QString& t) { e->setText(t); }},
      {"Shift+Insert",
       [](QLineEdit* e, const QString& t) {
         QApplication::clipboard()->setText(t);
         e->clear();
         QTest::keyClick(e, Qt::Key_Insert, Qt::ShiftModifier);
       }},
      {"the context menu's paste",
       [](QLineEdit* e, const QString& t) {
         QApplication::clipboard()->setText(t);
         e->clear();
         std::unique_ptr<QMenu> menu(e->createStandardContextMenu());
         for (QAction* item : menu->actions()) {
           if (item->text().startsWith(QLatin1String("&Paste"))) item->trigger();
         }
       }},
      {"a drop",
       [](QLineEdit* e, const QString& t) {
         e->clear();
         QMimeData data;
         data.setText(t);
         QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
         QApplication::sendEvent(e, &enter);
         QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
         QApplication::sendEvent(e, &drop);
       }},
  };
  const struct {
    const char* entry;
    const char* text;
    const char* shown;  // as the entry holds it, upper-cased
  } values[] = {
      {"Edit1", "a1z9", "A1Z9"},
      {"Edit1", "1b2", "1B2"},
      {"Edit1", "1B2C5", "1B2C5"},
      {"Edit1", "1\u01422C", "1\u01422C"},  // ł: its low byte is B
      {"Edit1", "1 B2", "1 B2"},
      {"Edit2", "011-4555 1234 int. 22", "011-4555 1234 INT. 22"},
      {"Edit2", "12Z4", "12Z4"},   // the frame's own end
      {"Edit2", "1\u0131", "1I"},  // ı: its low byte is 1; its capital is I
      {"Edit3", "11111111111111111111111111111111", "11111111111111111111111111111111"},
      {"Edit3", "#9\u00A0", "#9\u00A0"},
  };
  const char* starts[] = {"BitBtn1_Enviar", "EnviarProgramacin1", "EnviaryVerificar1"};
  Start();
  for (const auto& door : doors) {
    for (const auto& value : values) {
      for (const char* start : starts) {
        SCOPED_TRACE(std::string(door.name) + ", " + value.entry + " " + value.text + ", " + start);
        boxes.messages.clear();
        Fill(kCustomer);
        door.put(Entry(value.entry), QString::fromUtf8(value.text));
        ASSERT_EQ(Entry(value.entry)->text(), QString::fromUtf8(value.shown));
        if (auto* item = Find<QAction>(start)) {
          item->trigger();
        } else {
          Find<QPushButton>(start)->click();
        }
        EXPECT_EQ(boxes.messages, QStringList{m::kBadSubscriber});
        EXPECT_EQ(fake.Count("WriteFile"), 0);
        EXPECT_FALSE(form->Timer1()->isActive());
        EXPECT_EQ(Entry(value.entry)->text(), QString::fromUtf8(value.shown));
      }
    }
  }
  // The same doors with good values: the frame goes out.
  for (const auto& door : doors) {
    SCOPED_TRACE(door.name);
    Fill(kCustomer);
    door.put(Entry("Edit2"), QStringLiteral("*31#,0"));
    const int before = fake.Count("WriteFile");
    Find<QPushButton>("BitBtn1_Enviar")->click();
    EXPECT_EQ(fake.Count("WriteFile"), before + 1);
    EXPECT_NE(fake.written.find("P1B2C*31#,0T#9T22Z"), std::string::npos);
    form->Timer1()->stop();
  }
  EXPECT_EQ(boxes.errors, QStringList());
}

// Saving is refused while a send, a receive or a verification waits for the unit, whichever
// way the save is asked for, and the file keeps what it held.
TEST_F(Values, NoSaveWhileAnOperationIsUnderWay) {
  const char* operations[] = {"EnviarProgramacin1", "RecibirProgramacin1", "EnviaryVerificar1"};
  const struct {
    const char* name;
    std::function<bool(Values&)> refused;
  } saves[] = {
      {"Save", [](Values& t) { return !t.form->Files().Save(t.savePath); }},
      {"the menu item", [](Values& t) { return !t.form->Files().SaveClick(); }},
      {"Guardar in the question on closing",
       [](Values& t) {
         t.boxes.answer = 0;
         return !t.form->close();
       }},
  };
  for (const char* operation : operations) {
    for (const auto& save : saves) {
      SCOPED_TRACE(std::string(operation) + ", " + save.name);
      boxes.messages.clear();
      boxes.answer = 1;
      Start();
      savePath = FilePath("cliente.vardelio");
      Fill(kCustomer);
      ASSERT_TRUE(form->Files().Save(savePath));
      Fill(kOther);
      Find<QAction>(operation)->trigger();
      ASSERT_TRUE(form->Files().File() == savePath && form->Timer1()->isActive());
      Fill(kOther);  // what the operator may type while waiting
      EXPECT_TRUE(save.refused(*this));
      EXPECT_EQ(boxes.messages.value(0),
                "Espere a que termine la operación en curso para guardar \"cliente.vardelio\".");
      EXPECT_EQ(Written("cliente.vardelio"), ProgrammingFileText(kCustomer));
      form.reset();
    }
  }
}

// After a send the entries are empty: the window holds nothing to keep, so it is not marked,
// nothing asks on closing, and a save of the empty entries is refused by name.
TEST_F(Values, AfterASendTheFileInUseIsNotOverwrittenWithEmptyValues) {
  Start();
  WriteFile("cliente.vardelio", kCustomer);
  ASSERT_TRUE(form->Files().Open(FilePath("cliente.vardelio")));
  Find<QPushButton>("BitBtn1_Enviar")->click();
  form->Timer1()->stop();
  ASSERT_TRUE(Entry("Edit1")->text().isEmpty());
  EXPECT_EQ(form->windowTitle(), "Programador Vardelio - cliente.vardelio");
  savePath = FilePath("cliente.vardelio");
  EXPECT_FALSE(form->Files().SaveClick());  // refused before any file is asked for
  EXPECT_FALSE(form->Files().Save(savePath));
  EXPECT_TRUE(asked.isEmpty());
  EXPECT_EQ(boxes.errors, (QStringList{"No se puede guardar la programación.\n\n"
                                       "N° de Abonado: tiene 0 caracteres y debe tener 4.",
                                       "No se puede guardar el archivo \"cliente.vardelio\".\n\n"
                                       "N° de Abonado: tiene 0 caracteres y debe tener 4."}));
  EXPECT_EQ(Written("cliente.vardelio"), ProgrammingFileText(kCustomer));
  EXPECT_TRUE(form->close());
  EXPECT_TRUE(boxes.questions.isEmpty());
}

// The title marks values that differ from the file's, and loses the mark once they are saved
// or put back.
TEST_F(Values, TheTitleMarksUnsavedChanges) {
  Start();
  EXPECT_EQ(form->windowTitle(), "Programador Vardelio");
  Entry("Edit1")->setText("1");
  EXPECT_EQ(form->windowTitle(), "*Programador Vardelio");
  Fill(kCustomer);
  ASSERT_TRUE(form->Files().Save(FilePath("cliente.vardelio")));
  EXPECT_EQ(form->windowTitle(), "Programador Vardelio - cliente.vardelio");
  const struct {
    const char* name;
    std::function<void()> change;
  } changes[] = {
      {"a phone", [&] { Entry("Edit3")->setText("#99"); }},
      {"the subscriber", [&] { Entry("Edit1")->setText("1B2D"); }},
      {"the terminal block", [&] { Find<QRadioButton>("RadioButton5")->setChecked(true); }},
      {"the test report", [&] { Find<QRadioButton>("RadioButton4")->setChecked(true); }},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.name);
    c.change();
    EXPECT_EQ(form->windowTitle(), "*Programador Vardelio - cliente.vardelio");
    Fill(kCustomer);
    EXPECT_EQ(form->windowTitle(), "Programador Vardelio - cliente.vardelio");
  }
}

// Whatever would replace or end unsaved values asks first: Guardar saves them and goes on,
// Descartar goes on, Cancelar leaves everything as it was.
TEST_F(Values, EveryDoorThatDiscardsValuesAsksFirst) {
  const struct {
    const char* name;
    std::function<bool(Values&)> go;  // true when the window went on
    bool ends;                        // the window closes
  } doors[] = {
      {"Salir",
       [](Values& t) { return t.Find<QAction>("Salir1")->trigger(), !t.form->isVisible(); }, true},
      {"the close box", [](Values& t) { return t.form->close(); }, true},
      {"Abrir",
       [](Values& t) { return t.Find<QAction>("AbrirProgramacin1")->trigger(), t.Shows(kOther); },
       false},
      {"a recent file",
       [](Values& t) { return t.Find<QAction>("RecentFile2")->trigger(), t.Shows(kOther); }, false},
      {"a handed-over file",
       [](Values& t) { return t.form->OpenHandedOverFile(t.FilePath("otro.vardelio")); }, false},
      {"Nuevo", [](Values& t) { return t.form->Files().New(); }, false},
  };
  const char* answers[] = {"Guardar", "Descartar", "Cancelar"};
  for (const auto& door : doors) {
    for (int answer = 0; answer < 3; ++answer) {
      SCOPED_TRACE(std::string(door.name) + ", " + answers[answer]);
      std::filesystem::remove(RecentFilesPath());
      boxes.questions.clear();
      boxes.answer = answer;
      Start();
      form->show();
      WriteFile("otro.vardelio", kOther);
      ASSERT_TRUE(form->Files().Open(FilePath("otro.vardelio")));
      Fill(kCustomer);
      ASSERT_TRUE(form->Files().Save(FilePath("cliente.vardelio")));
      Entry("Edit2")->setText("777");
      savePath = FilePath("cliente.vardelio");
      openPath = FilePath("otro.vardelio");
      const bool went = door.go(*this);
      EXPECT_EQ(boxes.questions, QStringList{"La programación de \"cliente.vardelio\" tiene "
                                             "cambios sin guardar.\n\n¿Desea guardarlos?"});
      EXPECT_EQ(went, answer != 2);
      TPanelProgramming saved = kCustomer;
      if (answer == 0) saved.MainPhone = "777";
      EXPECT_EQ(Written("cliente.vardelio"), ProgrammingFileText(saved));
      if (answer == 2) {
        EXPECT_EQ(Entry("Edit2")->text(), "777");
        EXPECT_EQ(form->windowTitle(), "*Programador Vardelio - cliente.vardelio");
      } else if (!door.ends) {
        EXPECT_FALSE(form->windowTitle().startsWith('*'));
      }
      form.reset();
    }
  }
  EXPECT_EQ(boxes.errors, QStringList());
}

// The file being opened may change while the question waits (Guardar into that very file, or
// another program's save): the window shows what the file holds once it is answered, never a
// copy read before that the title calls saved.
TEST_F(Values, AnOpenedFileIsReadAfterTheQuestion) {
  const struct {
    const char* name;
    std::function<void(Values&)> meanwhile;
    TPanelProgramming holds;  // what "otro.vardelio" holds after the question
  } cases[] = {
      {"Guardar into the file being opened",
       [](Values& t) { t.savePath = t.FilePath("otro.vardelio"); },
       {"1B2C", "777", "#9", TTerminalBlock::tbIncendio, TTestReport::tr7Dias}},
      {"another program's save",
       [](Values& t) {
         t.boxes.whileAsking = [&t] { t.WriteFile("otro.vardelio", kCustomer); };
         t.savePath = t.FilePath("cliente.vardelio");
       },
       kCustomer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.answer = 0;  // Guardar
    Start();
    WriteFile("otro.vardelio", kOther);
    Fill(kCustomer);
    ASSERT_TRUE(form->Files().Save(FilePath("cliente.vardelio")));
    Entry("Edit2")->setText("777");
    c.meanwhile(*this);
    ASSERT_TRUE(form->Files().Open(FilePath("otro.vardelio")));
    EXPECT_EQ(Written("otro.vardelio"), ProgrammingFileText(c.holds));
    EXPECT_TRUE(Shows(c.holds));
    EXPECT_EQ(form->windowTitle(), "Programador Vardelio - otro.vardelio");
    form.reset();
  }
  EXPECT_EQ(boxes.errors, QStringList());
}

// A file handed over by another launch arrives while the file menu waits for the operator (its
// dialogs and questions run their own event loop): it waits, and the answer given goes to the
// values it was asked about, never to the handed file's.
TEST_F(Values, AHandedFileWaitsWhileAFileQuestionIsOpen) {
  const struct {
    const char* name;
    std::function<void(Values&)> go;
    bool dialog;  // the handed file comes during the save dialog, else during the question
  } doors[] = {
      {"the save dialog", [](Values& t) { t.form->Files().SaveClick(); }, true},
      {"the question on Nuevo", [](Values& t) { t.form->Files().New(); }, false},
      {"the question on closing", [](Values& t) { t.form->close(); }, false},
      {"the question on a recent file",
       [](Values& t) { t.Find<QAction>("RecentFile2")->trigger(); }, false},
  };
  for (const auto& door : doors) {
    SCOPED_TRACE(door.name);
    std::filesystem::remove(RecentFilesPath());
    boxes.questions.clear();
    boxes.answer = 0;  // Guardar
    Start();
    form->show();
    WriteFile("otro.vardelio", kOther);
    WriteFile("tercero.vardelio", kOther);
    ASSERT_TRUE(form->Files().Open(FilePath("tercero.vardelio")));
    Fill(kCustomer);
    ASSERT_TRUE(form->Files().Save(FilePath("cliente.vardelio")));
    Entry("Edit2")->setText("777");
    TPanelProgramming changed = kCustomer;
    changed.MainPhone = "777";
    const auto handOver = [this] { form->OpenHandedOverFile(FilePath("otro.vardelio")); };
    bool handed = false;
    form->Files().AskPath = [&](bool, const QString&) {
      if (door.dialog && !std::exchange(handed, true)) handOver();
      return FilePath("cliente.vardelio");
    };
    if (!door.dialog) boxes.whileAsking = handOver;
    door.go(*this);
    EXPECT_EQ(Written("cliente.vardelio"), ProgrammingFileText(changed));
    // Then the handed file is opened, not lost.
    if (form->isVisible()) {
      EXPECT_TRUE(ServeUntil([&] { return form->Files().File() == FilePath("otro.vardelio"); }));
      EXPECT_TRUE(Shows(kOther));
    }
    form.reset();
  }
  EXPECT_EQ(boxes.errors, QStringList());
}

// A launch brings the window forward; a box or dialog it has open comes forward with it and
// keeps the keyboard, instead of being hidden behind the window it blocks.
TEST_F(Values, AHandOverKeepsAnOpenBoxInFront) {
  Start();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QDialog box(form.get());
  box.setModal(true);
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
  form->BringForward();
  EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &box; }));
  EXPECT_EQ(QApplication::activeWindow(), &box);
}

// The file dialogs start from the file in use by its own bytes: the save dialog, accepted as
// offered, saves that very file and no other; the open dialog, given a name, opens it from that
// folder. Qt's dialogs cannot enter a folder whose name is not UTF-8 (they would start in the
// one above it, where the offered name is another customer's file): they start in the home
// folder, and the save dialog offers no name, so Enter alone saves nothing.
TEST_F(Values, TheFileDialogsStartFromTheFileInUseByItsBytes) {
  const struct {
    const char* name;
    bool reachable;  // else the dialogs start in the home folder
  } files[] = {
      {"cliente.vardelio", true},
      {"N\xFA\xF1"
       "ez.vardelio",
       true},
      {"N\xC3\xBA\xC3\xB1"
       "ez.vardelio",
       true},
      {"N\xFA\xF1"
       "ez/cliente.vardelio",
       false},
  };
  const std::filesystem::path home = folder.path().toStdString() + "/home";
  std::filesystem::create_directory(home);
  const QByteArray wasHome = qgetenv("HOME");
  qputenv("HOME", QByteArray::fromStdString(home.string()));
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    // The program's own dialogs, answered with the keyboard: Enter (after a name to open), and
    // "Yes" to replacing.
    form = std::make_unique<TForm1>(nullptr, &fake, TStartOptions{});
    QTimer answer;
    QWidget* answered = nullptr;  // a dialog still open after its answer is given up
    // Queued: a box opened by the answer runs its own loop, in which this timer must fire.
    QObject::connect(&answer, &QTimer::timeout, &answer, [&answered] {
      QWidget* box = QApplication::activeModalWidget();
      if (auto* question = qobject_cast<QMessageBox*>(box)) {
        QMetaObject::invokeMethod(question->button(QMessageBox::Yes), "click",
                                  Qt::QueuedConnection);
      } else if (auto* dialog = qobject_cast<QFileDialog*>(box)) {
        QWidget* focus = dialog->focusWidget() ? dialog->focusWidget() : dialog;
        const bool open = dialog->acceptMode() == QFileDialog::AcceptOpen;
        const bool again = std::exchange(answered, dialog) == dialog;
        QMetaObject::invokeMethod(
            focus,
            [focus, open, again] {
              if (open && !again) QTest::keyClicks(focus, "otro.vardelio");
              QTest::keyClick(focus, again ? Qt::Key_Escape : Qt::Key_Return);
            },
            Qt::QueuedConnection);
      }
    });
    answer.start(10);
    const std::filesystem::path path = folder.path().toStdString() + "/" + file.name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << ProgrammingFileText(kOther);
    ASSERT_TRUE(form->Files().Open(FileNameFromBytes(path.string())));
    Fill(kCustomer);
    const std::filesystem::path into = file.reachable ? path.parent_path() : home;
    EXPECT_EQ(form->Files().SaveClick(), file.reachable);
    EXPECT_EQ(FileNameBytes(form->Files().File()), path.string());
    EXPECT_EQ(ReadAll(path.string()), ProgrammingFileText(file.reachable ? kCustomer : kOther));
    EXPECT_FALSE(std::filesystem::exists(folder.path().toStdString() + "/cliente.vardelio") &&
                 file.reachable == false);
    EXPECT_TRUE(std::filesystem::is_empty(home));
    const std::filesystem::path other = into / "otro.vardelio";
    std::ofstream(other) << ProgrammingFileText(kOther);
    form->Files().OpenClick();
    EXPECT_EQ(FileNameBytes(form->Files().File()), other.string());
    EXPECT_TRUE(Shows(kOther));
    for (const auto& written : {path, other})
      std::filesystem::remove(written);
    form.reset();
  }
  qputenv("HOME", wasHome);
  EXPECT_EQ(boxes.errors, QStringList());
}

// "Nuevo" (Ctrl+N) empties the entries and checks each group's first button, in no file.
TEST_F(Values, NuevoStartsFromEmptyEntriesAndTheFirstButtons) {
  Start();
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  Fill(kCustomer);
  ASSERT_TRUE(form->Files().Save(FilePath("cliente.vardelio")));
  QTest::keyClick(Entry("Edit2"), Qt::Key_N, Qt::ControlModifier);
  EXPECT_TRUE(Shows({}));
  EXPECT_EQ(form->windowTitle(), "Programador Vardelio");
  EXPECT_EQ(form->Files().File(), "");
  EXPECT_TRUE(boxes.questions.isEmpty());  // nothing was unsaved
  EXPECT_EQ(boxes.beeps, 0);
  // Refused, as Open and Save are, while the unit's answer would land in the entries.
  Fill(kCustomer);
  Find<QAction>("RecibirProgramacin1")->trigger();
  Fill(kCustomer);
  EXPECT_FALSE(form->Files().New());
  EXPECT_TRUE(Shows(kCustomer));
}

// A file that is gone leaves the list when the menu is shown, or when opening it fails.
TEST_F(Values, AFileThatIsGoneLeavesTheRecentList) {
  Start();
  Fill(kCustomer);
  for (const char* name : {"a.vardelio", "b.vardelio", "c.vardelio"})
    ASSERT_TRUE(form->Files().Save(FilePath(name)));
  std::filesystem::remove(FilePath("b.vardelio").toStdString());
  emit Find<QMenu>("Archivo1")->aboutToShow();
  EXPECT_EQ(form->Files().Recent(), (QStringList{FilePath("c.vardelio"), FilePath("a.vardelio")}));
  EXPECT_EQ(Find<QAction>("RecentFile3"), nullptr);
  EXPECT_EQ(ReadRecentFiles(), form->Files().Recent());
  std::filesystem::remove(FilePath("c.vardelio").toStdString());
  Find<QAction>("RecentFile1")->trigger();
  ASSERT_EQ(boxes.errors.size(), 1);
  EXPECT_TRUE(boxes.errors[0].contains("El archivo no existe")) << boxes.errors[0].toStdString();
  EXPECT_EQ(form->Files().Recent(), QStringList{FilePath("a.vardelio")});
  EXPECT_EQ(ReadRecentFiles(), QStringList{FilePath("a.vardelio")});
}

// What the next start finds: the folder of the latest file for both questions, a list begun
// with no settings folder at all, and a start file named relatively, kept by its whole path.
TEST_F(Values, TheNextStartFindsTheLatestFiles) {
  QDir(folder.path()).mkdir("old");
  QDir(folder.path()).mkdir("new");
  std::filesystem::remove_all(ConfigFolder());  // a first run
  Start();
  WriteFile("old/a.vardelio", kCustomer);
  ASSERT_TRUE(form->Files().Open(FilePath("old/a.vardelio")));
  form.reset();
  Start();
  ASSERT_NE(Find<QAction>("RecentFile1"), nullptr);
  EXPECT_EQ(Find<QAction>("RecentFile1")->text(), "&1 a.vardelio");
  Fill(kCustomer);
  ASSERT_TRUE(form->Files().Save(FilePath("new/b.vardelio")));
  form.reset();
  Start();
  ASSERT_NE(Find<QAction>("RecentFile2"), nullptr);
  EXPECT_EQ(Find<QAction>("RecentFile2")->text(), "&2 a.vardelio");
  Fill(kCustomer);
  form->Files().SaveClick();
  form->Files().OpenClick();
  EXPECT_EQ(asked, (QStringList{"save " + FilePath("new"), "open " + FilePath("new")}));
  form.reset();
  // Started as `vardelio c.vardelio` from the files' folder.
  WriteFile("new/c.vardelio", kOther);
  const QString was = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(FilePath("new")));
  TStartOptions start;
  start.programmingFile = "c.vardelio";
  Start(start);
  form->show();
  ASSERT_TRUE(ServeUntil([&] { return Shows(kOther); }));
  form.reset();
  ASSERT_TRUE(QDir::setCurrent(was));
  Start();
  EXPECT_EQ(form->Files().Recent().value(0), FilePath("new/c.vardelio"));
  EXPECT_EQ(boxes.errors, QStringList());
}

}  // namespace
