#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <fstream>

#include "BenchUnit.h"
#include "RecordingPresenter.h"
#include "SettingsFile.h"
#include "Waiting.h"
#include "app/BatchForm.h"
#include "app/MainForm.h"
#include "programming/History.h"
#include "programming/Outcomes.h"

using namespace vardelio;
using vardelio::test::ServeUntil;
using vardelio::test::TRecordingPresenter;

namespace {

// The window on the simulated unit, its evaluations at their real time.
class BenchWindow : public ::testing::Test {
 protected:
  void Start(const char* switches = "") {
    // Each test's history is its own, whichever process runs it.
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    std::string device;
    unit = test::StartUnit(switches, device);
    ASSERT_NE(unit, nullptr);
    std::ofstream(test::SettingsPath()) << "[ComPort1]\nPort=" << device << "\n";
    form = std::make_unique<TForm1>();
  }
  ~BenchWindow() override {
    form.reset();
    if (unit) unit->Stop();
    qputenv("XDG_DATA_HOME", previousData);
  }
  template <typename T = QWidget>
  T* Find(const char* name) {
    return form->findChild<T*>(QLatin1String(name));
  }
  void Fill(const char* subscriber) {
    Find<QLineEdit>("Edit1")->setText(subscriber);
    Find<QLineEdit>("Edit2")->setText("12,34");
    Find<QLineEdit>("Edit3")->setText("");
    Find<QRadioButton>("RadioButton7")->setChecked(true);
    Find<QRadioButton>("RadioButton3")->setChecked(true);
  }
  std::vector<THistoryEntry> History() { return ReadHistory(HistoryPath()); }

  const QByteArray previousData = qgetenv("XDG_DATA_HOME");
  QTemporaryDir data;
  TRecordingPresenter boxes;
  std::unique_ptr<TSimulatedUnit> unit;
  std::unique_ptr<TForm1> form;
};

TEST_F(BenchWindow, MenuItems) {
  Start();
  EXPECT_EQ(Find<QAction>("ProgramarenSerie1")->text(), "Programar en &serie...");
  EXPECT_EQ(Find<QAction>("Historial1")->text(), "&Historial...");
  EXPECT_EQ(Find<QAction>("ImprimirHoja1")->text(), "&Imprimir hoja...");
  EXPECT_EQ(Find<QAction>("ImprimirHoja1")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
}

// Each operation of the window leaves its line, with the file in use.
TEST_F(BenchWindow, EveryOperationLeavesAHistoryLine) {
  Start();
  Fill("1B2C");
  Find<QAction>("EnviaryVerificar1")->trigger();
  ASSERT_TRUE(ServeUntil([&] { return boxes.messages.size() == 1; }, 10000));
  EXPECT_EQ(boxes.messages, QStringList{outcomes::kVerified});
  Find<QAction>("RecibirProgramacin1")->trigger();
  ASSERT_TRUE(ServeUntil([&] { return boxes.messages.size() == 2; }, 10000));
  Fill("2222");
  Find<QAction>("EnviarProgramacin1")->trigger();
  ASSERT_TRUE(ServeUntil([&] { return boxes.messages.size() == 3; }, 10000));
  const std::vector<THistoryEntry> history = History();
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[0].operation, "verificacion");
  EXPECT_EQ(history[0].outcome, "verificada");
  EXPECT_EQ(history[0].mainPhone, "12,34");
  EXPECT_EQ(history[1].operation, "recepcion");
  EXPECT_EQ(history[1].subscriber, "1B2C");
  EXPECT_EQ(history[2].operation, "envio");
  EXPECT_EQ(history[2].subscriber, "2222");
  EXPECT_EQ(history[2].outcome, "exitosa");
}

// A port that fails leaves its line too, as on the command line; a verification's read-back
// that cannot be asked for names the values sent.
TEST_F(BenchWindow, APortErrorLeavesItsLine) {
  Start("--hang-up-after 1");
  Fill("1B2C");
  Find<QAction>("EnviaryVerificar1")->trigger();
  ASSERT_TRUE(ServeUntil([&] { return boxes.errors.size() == 1; }, 10000));
  Fill("2222");
  Find<QAction>("EnviarProgramacin1")->trigger();
  ASSERT_EQ(boxes.errors.size(), 2);
  const std::vector<THistoryEntry> history = History();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].operation, "verificacion");
  EXPECT_EQ(history[0].subscriber, "1B2C");
  EXPECT_EQ(history[0].outcome, "error-puerto");
  EXPECT_EQ(history[1].operation, "envio");
  EXPECT_EQ(history[1].subscriber, "2222");
  EXPECT_EQ(history[1].outcome, "error-puerto");
}

TEST_F(BenchWindow, ASheetOfValuesThatCouldNotBeSentIsRefused) {
  Start();
  Fill("1B");
  Find<QAction>("ImprimirHoja1")->trigger();
  ASSERT_EQ(boxes.messages.size(), 1);
  EXPECT_TRUE(boxes.messages[0].startsWith("No se puede imprimir la hoja.\n\nN° de Abonado"));
}

// The batch from the window: two units, the second silent for its read-back.
TEST_F(BenchWindow, BatchFromTheWindow) {
  Start("--silent-on-read");
  QTemporaryDir folder;
  const QString list = folder.filePath("lista.csv");
  std::ofstream(list.toStdString()) << "abonado,principal,respaldo,bornera,informe\n"
                                       "1111,1,,asalto,24-hs\n2222,2,,asalto,24-hs\n";
  QString summary;
  QTimer::singleShot(0, [&] {
    auto* batch = form->findChild<TBatchForm*>();
    ASSERT_NE(batch, nullptr);
    QTest::keyClick(batch, Qt::Key_Return);
    batch->findChild<QPushButton*>("Skip")->click();
    QTest::keyClick(batch, Qt::Key_Return);
    batch->findChild<QPushButton*>("Skip")->click();
    summary = batch->findChild<QLabel*>("Summary")->text();
    batch->accept();
  });
  ASSERT_TRUE(form->RunBatch(list));
  EXPECT_EQ(summary, "2 equipos: 0 verificados, 2 con falla, 0 salteados.");
  EXPECT_TRUE(boxes.messages.isEmpty()) << boxes.messages.join("|").toStdString();
  const std::vector<THistoryEntry> history = History();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].operation, "serie");
  EXPECT_EQ(history[0].outcome, "sin-respuesta");
}

// Five units in a row, one Enter each, the third of which keeps a wrong value and is skipped:
// each is sent and read back on the window's line.
TEST_F(BenchWindow, FiveUnitsFromTheWindowOneFails) {
  Start("--alter backup-phone --alter-only 3");
  QTemporaryDir folder;
  const QString list = folder.filePath("lista.csv");
  std::ofstream(list.toStdString()) << "abonado,principal,respaldo,bornera,informe\n"
                                       "1111,\"011,4555,1234\",,asalto,24-hs\n"
                                       "2222,0114555222,#9,accidente,7-dias\n"
                                       "3333,0114555333,,incendio,30-dias\n"
                                       "4444,0114555444,*8,asalto,deshabilitado\n"
                                       "5555,0114555555,,incendio,24 Hs\n";
  QString summary;
  QTimer::singleShot(0, [&] {
    auto* batch = form->findChild<TBatchForm*>();
    ASSERT_NE(batch, nullptr);
    for (int i = 0; i < 3; ++i)
      QTest::keyClick(batch, Qt::Key_Return);
    batch->findChild<QPushButton*>("Skip")->click();
    QTest::keyClick(batch, Qt::Key_Return);
    QTest::keyClick(batch, Qt::Key_Return);
    summary = batch->findChild<QLabel*>("Summary")->text();
    batch->accept();
  });
  ASSERT_TRUE(form->RunBatch(list));
  EXPECT_EQ(summary, "5 equipos: 4 verificados, 1 con falla, 0 salteados.");
}

TEST_F(BenchWindow, ARefusedListIsNamed) {
  Start();
  QTemporaryDir folder;
  const QString list = folder.filePath("lista.csv");
  std::ofstream(list.toStdString()) << "abonado,principal\n1111,1\n";
  EXPECT_FALSE(form->RunBatch(list));
  ASSERT_EQ(boxes.messages.size(), 1);
  EXPECT_TRUE(boxes.messages[0].contains("«respaldo»"));
}

}  // namespace
