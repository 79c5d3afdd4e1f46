#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "FakeComPlatform.h"
#include "FakeSysfs.h"
#include "PseudoTerminal.h"
#include "RecordingPresenter.h"
#include "SettingsFile.h"
#include "SimulatedUnit.h"
#include "UnitAnswer.h"
#include "UnitCommandLine.h"
#include "Waiting.h"
#include "app/MainForm.h"
#include "app/Workflow.h"
#include "portconfig/ComComboBox.h"
#include "portconfig/ComSetupForm.h"
#include "serial/ComPort.h"

using namespace vardelio;
using vardelio::test::Answered;
using vardelio::test::ReadAll;
using vardelio::test::ServeUntil;
using vardelio::test::SettingsPath;
using vardelio::test::TRecordingPresenter;

namespace {

namespace m = messages;

// Records, beside each message, where the progress bar stood while it was shown.
class TProgressAtMessages : public TRecordingPresenter {
 public:
  void ShowPlain(const QString& caption, const QString& text) override {
    TRecordingPresenter::ShowPlain(caption, text);
    progress.append(bar != nullptr ? bar->value() : -1);
  }
  QProgressBar* bar = nullptr;
  QList<int> progress;
};

// The main window against the simulated unit on a pseudo-terminal. The evaluation timer
// runs at a fifth of its second so the tests stay quick.
class Workflow : public ::testing::Test {
 protected:
  void Start(TUnitBehaviour behaviour = {}, const std::string& port = "") {
    std::string device;
    const int master = OpenPseudoTerminal(device);
    ASSERT_GE(master, 0);
    const std::string path = port.empty() ? device : port;
    std::ofstream(SettingsPath()) << "[ComPort1]\nPort=" << path << "\n";
    unit = std::make_unique<TSimulatedUnit>(master, behaviour);
    unit->Start();
    form = std::make_unique<TForm1>();
    form->Timer1()->setInterval(kInterval);
    boxes.bar = Find<QProgressBar>("ProgressBar1");
  }
  void Type(const char* field, const QString& text) { Find<QLineEdit>(field)->setText(text); }
  template <typename T = QWidget>
  T* Find(const char* name) {
    return form->findChild<T*>(QLatin1String(name));
  }
  void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }
  bool WaitForMessages(int count) {
    return ServeUntil([&] { return boxes.messages.size() >= count; });
  }
  QPlainTextEdit* Buffer() { return Find<QPlainTextEdit>("Memo1"); }
  // Runs `start` and lets the evaluation come once `answered`, however long a loaded machine
  // makes the unit take.
  void EvaluateWhen(const std::function<void()>& start, const std::function<bool()>& answered) {
    EXPECT_TRUE(vardelio::test::EvaluateOnceAnswered(form->Timer1(), start, answered))
        << "requests taken " << unit->Requests() << ", buffer \""
        << Buffer()->toPlainText().toStdString() << '"';
  }
  // The same, once the unit's whole answer to its `requests`th request is in the buffer.
  void EvaluateOnceAnswered(const std::function<void()>& start, bool silent = false,
                            int requests = 1) {
    EvaluateWhen(start, [&] { return Answered(*unit, Buffer(), requests, silent); });
  }
  int Progress() { return Find<QProgressBar>("ProgressBar1")->value(); }
  bool ButtonsEnabled() {
    return Find<QPushButton>("BitBtn1_Enviar")->isEnabled() &&
           Find<QPushButton>("BitBtn2_Recibir")->isEnabled();
  }
  bool Checked(const char* radio) { return Find<QRadioButton>(radio)->isChecked(); }

  static constexpr int kInterval = 200;
  TProgressAtMessages boxes;
  std::unique_ptr<TSimulatedUnit> unit;
  std::unique_ptr<TForm1> form;
};

TEST_F(Workflow, ASendTheUnitAcknowledgesIsReportedAsProgrammed) {
  Start();
  Type("Edit1", "1B2C");
  Type("Edit2", "12,34");
  Find<QRadioButton>("RadioButton7")->setChecked(true);
  Find<QRadioButton>("RadioButton3")->setChecked(true);
  EvaluateOnceAnswered([&] {
    Click("BitBtn1_Enviar");
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_EQ(Progress(), 100);
    EXPECT_TRUE(Find<QLineEdit>("Edit1")->text().isEmpty());
  });
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(boxes.messages, QStringList{m::kProgrammed});
  EXPECT_EQ(Progress(), 0);
  EXPECT_EQ(unit->Stored(), "1B2C12,34TT22");
  EXPECT_TRUE(boxes.errors.isEmpty());
}

TEST_F(Workflow, ASendWithoutAProperAcknowledgementIsNotProgrammed) {
  const struct {
    const char* name;
    TUnitBehaviour behaviour;
  } cases[] = {{"lower-case ok", {.garbage = true}}, {"no answer", {.silent = true}}};
  for (const auto& c : cases) {
    Start(c.behaviour);
    boxes.messages.clear();
    Type("Edit1", "1234");
    EvaluateOnceAnswered([&] { Click("BitBtn1_Enviar"); }, c.behaviour.silent);
    ASSERT_TRUE(WaitForMessages(1)) << c.name;
    EXPECT_EQ(boxes.messages, QStringList{m::kNotProgrammed}) << c.name;
    EXPECT_EQ(Progress(), 100) << c.name;
    form.reset();
    unit.reset();
  }
}

TEST_F(Workflow, OnlyTheLastPacketCounts) {
  Start();
  Type("Edit1", "1234");
  form->Timer1()->setInterval(vardelio::test::kNoEvaluation);
  Click("BitBtn1_Enviar");
  ASSERT_TRUE(ServeUntil([&] { return Answered(*unit, Buffer(), 1); }));
  EXPECT_EQ(Buffer()->toPlainText(), "OK");
  EvaluateWhen([&] { unit->SendRaw("SXZ"); }, [&] { return Buffer()->toPlainText() == "X"; });
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(boxes.messages, QStringList{m::kNotProgrammed});
}

TEST_F(Workflow, TheBufferEndsAtANul) {
  Start();
  auto* memo = Find<QPlainTextEdit>("Memo1");
  unit->SendRaw(std::string("SO\0KZ", 5));
  ASSERT_TRUE(ServeUntil([&] { return memo->toPlainText() == "O"; }));
  unit->SendRaw(std::string("S\0OKZ", 5));
  ASSERT_TRUE(ServeUntil([&] { return memo->toPlainText().isEmpty(); }));
}

TEST_F(Workflow, TimeOverIsToldAtOnceAndTheSendIsNotProgrammed) {
  Start({.timeOver = true});
  Type("Edit1", "1234");
  // The answer is told as it comes; the evaluation follows it.
  EvaluateWhen([&] { Click("BitBtn1_Enviar"); },
               [&] { return unit->Requests() == 1 && !boxes.messages.isEmpty(); });
  ASSERT_TRUE(WaitForMessages(2));
  EXPECT_EQ(boxes.messages, (QStringList{m::kTimeOver, m::kNotProgrammed}));
}

TEST_F(Workflow, AReceiveFillsTheWindowWithTheUnitsValues) {
  Start();
  unit->SetStored("1B2C12345678T87654321T21");
  EvaluateOnceAnswered([&] {
    Click("BitBtn2_Recibir");
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_EQ(Progress(), 10);
  });
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(boxes.messages, QStringList{m::kReceived});
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "1B2C");
  EXPECT_EQ(Find<QLineEdit>("Edit2")->text(), "12345678");
  EXPECT_EQ(Find<QLineEdit>("Edit3")->text(), "87654321");
  EXPECT_TRUE(Checked("RadioButton7"));
  EXPECT_TRUE(Checked("RadioButton2"));
  EXPECT_EQ(Progress(), 0);
  EXPECT_TRUE(ButtonsEnabled());
}

// Bytes the line's code page carries but that a plain-text view or upper-casing would alter
// are shown as read; the entries' rules then keep them from going out again.
TEST_F(Workflow, ValuesReadBackAreShownAsReadAndRefusedByTheEntriesRules) {
  // µ (no capital in the code page), ƒ, a no-break space.
  const std::string stored =
      "\xB5\x83"
      "12\xA0"
      "34T5T01";
  Start();
  unit->SetStored(stored);
  EvaluateOnceAnswered([&] { Click("BitBtn2_Recibir"); });
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(boxes.messages, QStringList{m::kReceived});
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), QString::fromUtf8("µƒ12"));
  EXPECT_EQ(Find<QLineEdit>("Edit2")->text(), QString::fromUtf8("\u00A034"));
  Click("BitBtn1_Enviar");
  EXPECT_EQ(boxes.messages, (QStringList{m::kReceived, m::kBadSubscriber}));
  EXPECT_FALSE(form->Timer1()->isActive());
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), QString::fromUtf8("µƒ12"));  // kept to mend
  EXPECT_EQ(unit->Requests(), 1);
  EXPECT_EQ(unit->Stored(), stored);
}

// The unit answers the read request at once, with no pause and no time on the line: the
// answer comes in before the window is done starting the receive, and is kept.
TEST_F(Workflow, AnAnswerThatComesAtOnceIsKept) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    Start({.delayMs = 0, .byteMicros = 0});
    boxes.messages.clear();
    form->Timer1()->setInterval(vardelio::test::kNoEvaluation);
    Click("BitBtn2_Recibir");
    ASSERT_TRUE(ServeUntil([&] { return !Buffer()->toPlainText().isEmpty(); }));
    form->Timer1()->setInterval(0);
    ASSERT_TRUE(WaitForMessages(1));
    EXPECT_EQ(boxes.messages, QStringList{m::kReceived});
    EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "1B2C");
    form.reset();
    unit.reset();
  }
}

TEST(SimulatedUnit, ItsLinkReplacesOnlyAnOlderLink) {
  QTemporaryDir folder;
  const std::string base = folder.path().toStdString();
  std::ofstream(base + "/file") << "the user's";
  std::filesystem::create_directory(base + "/folder");
  std::filesystem::create_symlink("/dev/old", base + "/link");
  const struct {
    const char* name;
    bool linked;
  } cases[] = {{"file", false}, {"folder", false}, {"link", true}, {"new", true}};
  for (const auto& c : cases) {
    const std::string link = base + "/" + c.name;
    EXPECT_EQ(LinkDevice("/dev/pts/99", link), c.linked) << c.name;
    EXPECT_EQ(std::filesystem::is_symlink(link), c.linked) << c.name;
  }
  EXPECT_EQ(ReadAll(base + "/file"), "the user's");
  EXPECT_EQ(std::filesystem::read_symlink(base + "/link"), "/dev/pts/99");
}

TEST(SimulatedUnit, ItsCommandLineNeverTakesAnOptionForTheLink) {
  const struct {
    std::vector<const char*> args;
    std::optional<int> code;
    const char* link;
    const char* printed;  // a part of what goes to the output (0) or to the errors (2)
  } cases[] = {
      {{"/tmp/ttyV"}, std::nullopt, "/tmp/ttyV", ""},
      {{"/tmp/ttyV", "--delay", "50", "--silent"}, std::nullopt, "/tmp/ttyV", ""},
      {{"--hang-up-after", "1", "/tmp/ttyV"}, std::nullopt, "/tmp/ttyV", ""},
      {{"--", "-odd"}, std::nullopt, "-odd", ""},
      {{"--alter-on-store", "--silent-on-read", "/tmp/ttyV"}, std::nullopt, "/tmp/ttyV", ""},
      {{"--alter", "backup-phone", "/tmp/ttyV"}, std::nullopt, "/tmp/ttyV", ""},
      {{"--help"}, 0, "", "--alter FIELD"},
      {{"/tmp/ttyV", "--alter", "zone"}, 2, "", "bad option --alter"},
      {{"/tmp/ttyV", "--alter"}, 2, "", "bad option --alter"},
      {{"--help"}, 0, "", "--alter-on-store      store the next test-report period"},
      {{"--help"}, 0, "", "Usage: vardelio-unit"},
      {{"/tmp/ttyV", "-h"}, 0, "", "--hang-up-after N"},
      {{"--verbose"}, 2, "", "bad option --verbose"},
      {{"--silent"}, 2, "", "no LINK given"},
      {{}, 2, "", "no LINK given"},
      {{"/tmp/ttyV", "--delay"}, 2, "", "bad option --delay"},
      {{"/tmp/ttyV", "--delay", "soon"}, 2, "", "bad option --delay"},
      {{"/tmp/ttyV", "--hang-up-after", "-3"}, 2, "", "bad option --hang-up-after"},
      {{"/tmp/ttyV", "/tmp/ttyW"}, 2, "", "more than one LINK"},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"vardelio-unit"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const std::string name = c.args.empty() ? "(none)" : c.args.front();
    TUnitCommandLine parsed;
    std::ostringstream out, errors;
    EXPECT_EQ(ParseUnitCommandLine(int(argv.size()), argv.data(), parsed, out, errors), c.code)
        << name;
    if (c.code == std::nullopt) {
      EXPECT_EQ(parsed.link, c.link) << name;
    }
    const std::string printed = c.code == 0 ? out.str() : errors.str();
    EXPECT_NE(printed.find(c.printed), std::string::npos) << name << ": " << printed;
  }
  TUnitCommandLine parsed;
  std::ostringstream out, errors;
  const char* argv[] = {
      "vardelio-unit",       "--delay",  "50", "--hang-up-after", "2", "--garbage", "--time-over",
      "--missing-separator", "/tmp/ttyV"};
  ASSERT_EQ(ParseUnitCommandLine(9, argv, parsed, out, errors), std::nullopt);
  EXPECT_EQ(parsed.behaviour.delayMs, 50);
  EXPECT_EQ(parsed.behaviour.hangUpAfter, 2);
  EXPECT_TRUE(parsed.behaviour.garbage && parsed.behaviour.timeOver &&
              parsed.behaviour.missingSeparator && !parsed.behaviour.silent);
  const struct {
    const char* name;
    TUnitField field;
  } alterable[] = {{"subscriber", TUnitField::subscriber},
                   {"main-phone", TUnitField::mainPhone},
                   {"backup-phone", TUnitField::backupPhone},
                   {"terminal-block", TUnitField::terminalBlock},
                   {"period", TUnitField::testReport}};
  for (const auto& f : alterable) {
    const char* alter[] = {"vardelio-unit", "--alter", f.name, "/tmp/ttyV"};
    TUnitCommandLine altered;
    ASSERT_EQ(ParseUnitCommandLine(4, alter, altered, out, errors), std::nullopt) << f.name;
    EXPECT_EQ(altered.behaviour.alterOnStore, f.field) << f.name;
  }
}

TEST_F(Workflow, ReceiveOutcomes) {
  const struct {
    const char* name;
    TUnitBehaviour behaviour;
    const char* stored;
    QString message;
    int progressShown;  // the bar goes back to 0 only once the message is closed
  } cases[] = {
      {"missing separator", {.missingSeparator = true}, "1234TT01", m::kReceiveError, 100},
      {"no separator to drop", {.missingSeparator = true}, "1234", m::kReceiveError, 100},
      {"no answer", {.silent = true}, "1234TT01", m::kNothingReceived, 10},
      {"terminal digit 5", {}, "1234TT52", m::kReceived, 100},
  };
  for (const auto& c : cases) {
    Start(c.behaviour);
    boxes.messages.clear();
    boxes.progress.clear();
    unit->SetStored(c.stored);
    Find<QRadioButton>("RadioButton6")->setChecked(true);
    EvaluateOnceAnswered([&] { Click("BitBtn2_Recibir"); }, c.behaviour.silent);
    ASSERT_TRUE(WaitForMessages(1)) << c.name;
    EXPECT_EQ(boxes.messages, QStringList{c.message}) << c.name;
    EXPECT_EQ(boxes.progress, QList<int>{c.progressShown}) << c.name;
    EXPECT_TRUE(ButtonsEnabled()) << c.name;
    EXPECT_EQ(Progress(), 0) << c.name;
    if (std::string(c.name) == "terminal digit 5") {
      EXPECT_TRUE(Checked("RadioButton6"));  // the selection stays
      EXPECT_TRUE(Checked("RadioButton3"));
    }
    if (std::string(c.name) == "no answer") {
      EXPECT_TRUE(Find<QLineEdit>("Edit1")->text().isEmpty());
    }
    form.reset();
    unit.reset();
  }
}

TEST_F(Workflow, ASubscriberOfThreeCharactersOnlyGivesTheMessage) {
  Start();
  Type("Edit1", "123");
  form->SetTag(1);
  Click("BitBtn1_Enviar");
  EXPECT_EQ(boxes.messages, QStringList{m::kBadSubscriber});
  EXPECT_EQ(form->Tag(), 1);
  EXPECT_TRUE(ButtonsEnabled());
  EXPECT_FALSE(form->Timer1()->isActive());
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "123");
  EXPECT_EQ(unit->Requests(), 0);
}

TEST_F(Workflow, ASecondSendWhileTheTimerRunsIsEvaluatedOnce) {
  Start();
  Type("Edit1", "1234");
  QElapsedTimer sinceFirst;
  Click("BitBtn1_Enviar");
  sinceFirst.start();
  // Without serving events, so the timer cannot run out however long a loaded machine sleeps.
  QThread::msleep(kInterval / 2);
  Type("Edit1", "5678");
  const qint64 elapsed = sinceFirst.elapsed();
  Click("BitBtn1_Enviar");
  // The timer keeps the time of the first start (an overdue one has 0 left): a restart would
  // leave it nearly a whole interval to run. A coarse timer may be a twentieth of it late.
  ASSERT_TRUE(form->Timer1()->isActive());
  EXPECT_LE(form->Timer1()->remainingTime(),
            std::max<qint64>(0, kInterval - elapsed) + kInterval / 10);
  ASSERT_TRUE(WaitForMessages(1));
  QTest::qWait(kInterval * 2);
  EXPECT_EQ(boxes.messages.size(), 1);
}

TEST_F(Workflow, ASendAfterAReceiveIsEvaluatedAsASend) {
  Start();
  EvaluateWhen(
      [&] {
        Click("BitBtn2_Recibir");
        Type("Edit1", "1234");
        Find<QAction>("EnviarProgramacin1")->trigger();  // the buttons wait for the receive
      },
      [&] { return unit->Requests() == 2 && Buffer()->toPlainText() == "OK"; });
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(boxes.messages, QStringList{m::kProgrammed});
}

TEST_F(Workflow, AReceiveWithThePortClosedShowsTheWriteError) {
  Start();
  form->ComPort1()->ClosePort();
  Click("BitBtn2_Recibir");
  EXPECT_EQ(boxes.errors, QStringList{"WriteFile function failed (win error code: 9)"});
  EXPECT_FALSE(ButtonsEnabled());
  EXPECT_FALSE(form->Timer1()->isActive());
  Type("Edit1", "1234");
  Find<QAction>("EnviarProgramacin1")->trigger();  // the menu still works
  EXPECT_EQ(boxes.errors.size(), 2);
}

TEST(StartUp, WithoutASettingsFileTheWindowOpensCom1AsItsFormSays) {
  TRecordingPresenter boxes;
  std::filesystem::remove(SettingsPath());
  vardelio::test::TFakeComPlatform fake;
  TForm1 form(nullptr, &fake);
  const std::vector<std::string> expected = {"OpenLine(COM1)", "SetupComm(4096,1024)",
                                             "SetCommState(9600,129)",
                                             "SetCommTimeouts(4294967295,0,0,100,1000)"};
  const std::vector<std::string> calls = fake.Calls();
  ASSERT_GE(calls.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4), expected);
  EXPECT_EQ(fake.dcb.ByteSize, 8);
  EXPECT_EQ(fake.dcb.Parity, 0);
  EXPECT_EQ(fake.dcb.StopBits, 0);
  EXPECT_EQ(form.ComPort1()->FlowControl().FlowControl(), fcNone);
  EXPECT_TRUE(form.ComPort1()->Connected());
  EXPECT_EQ(form.Tag(), 0);
  EXPECT_TRUE(boxes.errors.isEmpty());
}

TEST(StartUp, APortChosenWhileClosedIsOnlyRecordedAndStoredAtExit) {
  TRecordingPresenter boxes;
  vardelio::test::TFakeSysfs sysfs({{"COM1", 4}, {"COM2", 4}});
  std::filesystem::remove(SettingsPath());
  vardelio::test::TFakeComPlatform fake;
  auto form = std::make_unique<TForm1>(nullptr, &fake);
  form->ComPort1()->ClosePort();
  fake.calls.clear();
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<TComSetupFrm*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    TComComboBox* box = dialog->Combos()[0];
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    QTest::keyClick(dialog, Qt::Key_Return);
  });
  form->findChild<QAction*>(QStringLiteral("ConfigurarPuerto1"))->trigger();
  EXPECT_EQ(form->ComPort1()->Port(), "COM2");
  EXPECT_FALSE(form->ComPort1()->Connected());
  EXPECT_EQ(fake.Count("OpenLine"), 0);
  form->show();
  EXPECT_TRUE(form->close());
  EXPECT_NE(ReadAll(SettingsPath()).find("Port=COM2\n"), std::string::npos);
  EXPECT_TRUE(boxes.errors.isEmpty());
}

// Stale input goes before the read request is written, never after: an answer that comes at
// once would go with it. A purge that fails stops the receive before it asks anything.
TEST(ReceiveFailure, TheInputIsPurgedBeforeTheRequestAndAFailedPurgeAsksNothing) {
  TRecordingPresenter boxes;
  vardelio::test::TFakeComPlatform fake;
  TForm1 form(nullptr, &fake);
  form.Timer1()->setInterval(50);
  fake.Locked([&] { fake.calls.clear(); });
  auto* receive = form.findChild<QAction*>(QStringLiteral("RecibirProgramacin1"));
  receive->trigger();
  const std::vector<std::string> calls = fake.Calls();
  const auto at = [&](const char* name) {
    return std::find_if(calls.begin(), calls.end(),
                        [&](const std::string& call) { return call.starts_with(name); });
  };
  ASSERT_NE(at("PurgeComm"), calls.end());
  ASSERT_NE(at("WriteFile"), calls.end());
  EXPECT_LT(at("PurgeComm"), at("WriteFile"));
  ASSERT_TRUE(ServeUntil([&] { return boxes.messages.size() == 1; }));
  EXPECT_EQ(boxes.messages, QStringList{m::kNothingReceived});
  fake.Locked([&] {
    fake.calls.clear();
    fake.Fail("PurgeComm", 5);
  });
  receive->trigger();
  EXPECT_EQ(boxes.errors, QStringList{"PurgeComm function failed (win error code: 5)"});
  EXPECT_EQ(fake.Count("WriteFile"), 0);
  EXPECT_FALSE(form.Timer1()->isActive());
  EXPECT_FALSE(form.findChild<QPushButton*>(QStringLiteral("BitBtn1_Enviar"))->isEnabled());
  fake.Locked([&] { fake.failures.clear(); });
}

TEST_F(Workflow, AnAbsentPortGivesOneErrorAndAUsableWindow) {
  Start({}, "/dev/vardelio-absent-port");
  EXPECT_EQ(boxes.errors, QStringList{"Unable to open com port (win error code: 2)"});
  EXPECT_FALSE(form->ComPort1()->Connected());
  QTest::keyClicks(Find<QLineEdit>("Edit1"), "1B");
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "1B");
}

TEST_F(Workflow, ClosingClosesThePortAndStoresTheSettings) {
  Start();
  const std::string port = form->ComPort1()->Port();
  form->show();
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QTest::keyClick(Find<QLineEdit>("Edit1"), Qt::Key_S, Qt::AltModifier);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->ComPort1()->Connected());
  EXPECT_EQ(ReadAll(SettingsPath()), "[ComPort1]\nPort=" + port +
                                         "\nBaudRate=9600\nStopBits=1\nDataBits=8\nParity=None\n"
                                         "FlowControl=None\n");
}

TEST_F(Workflow, AFailedStoreKeepsTheWindowOpenAndALaterCloseTriesAgain) {
  Start();
  form->show();
  std::filesystem::remove(SettingsPath());
  std::filesystem::create_directory(SettingsPath());  // no file can replace a folder
  EXPECT_FALSE(form->close());
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(boxes.errors, QStringList{"Failed to store settings."});
  std::filesystem::remove(SettingsPath());
  EXPECT_TRUE(form->close());
}

TEST_F(Workflow, AUnitThatHangsUpMidSessionGivesTheWriteErrorAndClosingStillSaves) {
  Start({.hangUpAfter = 1});
  unit->KeepLineOpen(true);
  Type("Edit1", "1234");
  EvaluateOnceAnswered([&] { Click("BitBtn1_Enviar"); });
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(boxes.messages, QStringList{m::kProgrammed});
  unit->KeepLineOpen(false);  // the acknowledgement is in: now it may hang up
  ASSERT_TRUE(ServeUntil([&] { return form->ComPort1()->EventLoopEnded(); }));
  Type("Edit1", "1234");
  Click("BitBtn1_Enviar");
  EXPECT_EQ(boxes.errors, QStringList{"WriteFile function failed (win error code: 5)"});
  form->show();
  EXPECT_TRUE(form->close());
  EXPECT_NE(ReadAll(SettingsPath()).find("BaudRate=9600"), std::string::npos);
}

}  // namespace
