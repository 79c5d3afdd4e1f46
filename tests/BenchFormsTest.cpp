#include <gtest/gtest.h>

#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <fstream>

#include "BenchUnit.h"
#include "RecordingPresenter.h"
#include "SettingsFile.h"
#include "Waiting.h"
#include "app/BatchForm.h"
#include "app/HistoryForm.h"
#include "app/SheetPrint.h"
#include "programming/BenchConsole.h"
#include "programming/JobSheet.h"
#include "programming/Outcomes.h"

using namespace vardelio;
using vardelio::test::TRecordingPresenter;

namespace {

THistoryEntry Entry(const char* subscriber, int minute, const char* outcome = "verificada") {
  THistoryEntry entry;
  entry.time = QDateTime(QDate(2026, 12, 8), QTime(9, minute), Qt::OffsetFromUTC, -3 * 3600);
  entry.port = "/dev/ttyUSB0";
  entry.operation = "verificacion";
  entry.subscriber = subscriber;
  entry.mainPhone = "12,34";
  entry.terminalBlock = TTerminalBlock::tbAsalto;
  entry.testReport = TTestReport::tr24Hs;
  entry.outcome = outcome;
  return entry;
}

TEST(HistoryForm, FiltersBySubscriberAndExportsWhatItShows) {
  QTemporaryDir folder;
  const std::string path = folder.filePath("historial.csv").toStdString();
  for (const auto& entry : {Entry("1B2C", 1), Entry("2222", 2), Entry("1B2C", 3, "no-coincide")})
    AppendHistory(entry, path);
  THistoryForm form(nullptr, path);
  auto* table = form.findChild<QTableView*>("Table");
  EXPECT_EQ(table->model()->rowCount(), 3);
  // The latest first, in the operator's words.
  EXPECT_EQ(table->model()->index(0, 8).data().toString(), "No coincide con la enviada");
  QTest::keyClicks(form.findChild<QLineEdit*>("Filter"), "1b2c");
  ASSERT_EQ(form.Shown().size(), 2u);
  EXPECT_EQ(form.findChild<QLabel*>("Count")->text(), "2 de 3");
  const std::string out = folder.filePath("export.csv").toStdString();
  ASSERT_TRUE(form.Export(out));
  EXPECT_EQ(test::ReadAll(out), kHistoryHeader + HistoryLine(Entry("1B2C", 3, "no-coincide")) +
                                    HistoryLine(Entry("1B2C", 1)));
}

// The export's default name is the history's own: exported over it, by its name or through a
// link, what the filter hid would be lost.
TEST(HistoryForm, AnExportNeverReplacesTheHistory) {
  TRecordingPresenter boxes;
  QTemporaryDir folder;
  const std::string path = folder.filePath("historial.csv").toStdString();
  for (const auto& entry : {Entry("1B2C", 1), Entry("2222", 2)})
    AppendHistory(entry, path);
  const std::string before = test::ReadAll(path);
  const std::string link = folder.filePath("enlace.csv").toStdString();
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  THistoryForm form(nullptr, path);
  QTest::keyClicks(form.findChild<QLineEdit*>("Filter"), "1b2c");
  for (const std::string& out : {path, link}) {
    EXPECT_FALSE(form.Export(out)) << out;
    EXPECT_EQ(test::ReadAll(path), before) << out;
  }
  ASSERT_EQ(boxes.messages.size(), 2);
  EXPECT_TRUE(boxes.messages[0].contains("historial")) << boxes.messages[0].toStdString();
}

TEST(HistoryForm, AnUnreadableHistoryIsSaidAndShowsNothing) {
  TRecordingPresenter boxes;
  QTemporaryDir folder;
  THistoryForm form(nullptr, folder.path().toStdString());  // a folder, not a file
  EXPECT_EQ(form.findChild<QTableView*>("Table")->model()->rowCount(), 0);
  ASSERT_EQ(boxes.messages.size(), 1);
  EXPECT_TRUE(boxes.messages[0].startsWith("No se puede leer el historial."));
}

std::vector<TBatchItem> Units(int count) {
  std::vector<TBatchItem> items;
  for (int i = 1; i <= count; ++i) {
    const std::string subscriber(4, char('0' + i));
    items.push_back(
        {QStringLiteral("línea %1").arg(i + 1),
         {},
         {subscriber, subscriber.substr(0, 2), "", TTerminalBlock::tbAsalto, TTestReport::tr24Hs}});
  }
  return items;
}

QString Cell(TBatchForm& form, int row, int column) {
  return form.findChild<QTableWidget*>("Table")->item(row, column)->text();
}

// Enter, skip, retry and stop, as the operator presses them.
TEST(BatchForm, EnterRetrySkipAndStop) {
  std::vector<TOutcome> answers = {TOutcome::verified, TOutcome::notProgrammed, TOutcome::verified,
                                   TOutcome::notVerified};
  std::vector<std::string> sent;
  TBatchForm form(
      Units(5),
      [&](const TPanelProgramming& values) {
        sent.push_back(values.Subscriber);
        TSessionResult result;
        result.outcome = answers[sent.size() - 1];
        result.message = QStringLiteral("mensaje %1").arg(sent.size());
        return result;
      },
      "/dev/ttyUSB0", nullptr);
  form.show();
  auto* next = form.findChild<QLabel*>("Next");
  EXPECT_TRUE(next->text().startsWith("Siguiente: Abonado 1111")) << next->text().toStdString();
  QTest::keyClick(&form, Qt::Key_Return);  // 1111 verified
  QTest::keyClick(&form, Qt::Key_Return);  // 2222 fails
  EXPECT_TRUE(next->text().startsWith("Falló: Abonado 2222")) << next->text().toStdString();
  EXPECT_EQ(form.findChild<QPushButton*>("Program")->text(), "&Reintentar");
  QTest::keyClick(&form, Qt::Key_Return);  // 2222 again: verified
  QTest::keyClick(&form, Qt::Key_Return);  // 3333 does not match
  form.findChild<QPushButton*>("Skip")->click();
  form.findChild<QPushButton*>("Skip")->click();  // 4444 never tried
  form.findChild<QPushButton*>("Stop")->click();  // 5555 left
  EXPECT_EQ(sent, (std::vector<std::string>{"1111", "2222", "2222", "3333"}));
  EXPECT_EQ(Cell(form, 0, 2), "Verificado");
  EXPECT_EQ(Cell(form, 1, 2), "Verificado");
  EXPECT_EQ(Cell(form, 2, 2), "Falla");
  EXPECT_EQ(Cell(form, 2, 4), "mensaje 4");
  EXPECT_EQ(Cell(form, 3, 2), "Salteado");
  EXPECT_EQ(Cell(form, 4, 2), "Salteado");
  EXPECT_FALSE(Cell(form, 0, 3).isEmpty());
  EXPECT_EQ(form.findChild<QLabel*>("Summary")->text(),
            "5 equipos: 2 verificados, 1 con falla, 2 salteados.");
  EXPECT_TRUE(form.findChild<QPushButton*>("Close")->isEnabled());
  EXPECT_FALSE(form.findChild<QPushButton*>("Program")->isEnabled());
}

// Against the simulated unit: five units, the third of which stores a value otherwise than it
// was sent; each item is in the history.
TEST(BatchForm, FiveUnitsWithAFailureInTheMiddle) {
  QTemporaryDir folder;
  std::string device;
  auto unit = test::StartUnit("--alter backup-phone --alter-only 3", device);
  ASSERT_NE(unit, nullptr);
  TUnitLine line({});
  line.Open(device);
  THistoryWriter history({}, folder.filePath("historial.csv").toStdString());
  TBatchForm form(
      Units(5),
      [&](const TPanelProgramming& values) { return line.Run(TUnitOperation::verify, values); },
      line.PortName(), &history);
  form.show();
  for (int i = 0; i < 3; ++i)
    QTest::keyClick(&form, Qt::Key_Return);
  form.findChild<QPushButton*>("Skip")->click();
  QTest::keyClick(&form, Qt::Key_Return);
  QTest::keyClick(&form, Qt::Key_Return);
  unit->Stop();
  EXPECT_EQ(form.findChild<QLabel*>("Summary")->text(),
            "5 equipos: 4 verificados, 1 con falla, 0 salteados.");
  EXPECT_EQ(Cell(form, 2, 2), "Falla");
  EXPECT_TRUE(Cell(form, 2, 4).contains("Teléfono de Respaldo: enviado \"\", recibido \"9\"."));
  const auto entries = ReadHistory(folder.filePath("historial.csv").toStdString());
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[2].outcome, "no-coincide");
  EXPECT_EQ(entries[4].outcome, "verificada");
}

// The printer's path, as the print dialog's "print to file" takes it: one page, its text there.
TEST(SheetPrint, PrintsOnePageWithItsText) {
  QTemporaryDir folder;
  const std::string history = folder.filePath("historial.csv").toStdString();
  AppendHistory(Entry("1B2C", 7), history);
  const TPanelProgramming values{"1B2C", "12,34", "", TTerminalBlock::tbAsalto,
                                 TTestReport::tr24Hs};
  const TJobSheet sheet = MakeJobSheet(values, QStringLiteral("1B2C.vardelio"), history);
  ASSERT_TRUE(sheet.verified);
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(folder.filePath("hoja.pdf"));
  PrintOn(printer, JobSheetPrintCall(nullptr, sheet));
  QProcess tool;
  tool.start("pdftotext", {folder.filePath("hoja.pdf"), "-"});
  tool.waitForFinished(60000);
  const QString text = QString::fromUtf8(tool.readAllStandardOutput());
  const QString when = Entry("1B2C", 7).time.toLocalTime().toString("dd/MM/yyyy HH:mm");
  EXPECT_TRUE(text.contains("Verificada en el equipo el " + when)) << text.toStdString();
  EXPECT_EQ(text.count(QChar('\f')), 1);  // one page
}

// Printing is a module the program loads when first asked: found where a build puts it, with
// its entry; a missing one is named in the reason.
TEST(SheetPrint, TheModuleLoadsFromTheProgramsFolder) {
  QString error;
  EXPECT_NE(LoadPrintModule(VARDELIO_PRINT_MODULE_FOLDER, &error), nullptr) << error.toStdString();
  QTemporaryDir empty;
  error.clear();
  EXPECT_EQ(LoadPrintModule(empty.path(), &error), nullptr);
  EXPECT_TRUE(error.contains("libvardelio-print.so")) << error.toStdString();
}

}  // namespace
