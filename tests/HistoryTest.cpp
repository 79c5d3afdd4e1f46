#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QScopeGuard>
#include <QTemporaryDir>
#include <fstream>
#include <thread>

#include "SettingsFile.h"
#include "programming/Csv.h"
#include "programming/History.h"
#include "programming/Outcomes.h"

using namespace vardelio;

namespace {

THistoryEntry Entry(const std::string& subscriber, const std::string& file = "/h/1B2C.vardelio") {
  THistoryEntry entry;
  entry.time = QDateTime(QDate(2026, 12, 8), QTime(12, 30, 1), Qt::OffsetFromUTC, -3 * 3600);
  entry.port = "/dev/ttyUSB0";
  entry.operation = "verificacion";
  entry.subscriber = subscriber;
  entry.mainPhone = "12,34";
  entry.backupPhone = "#9";
  entry.terminalBlock = TTerminalBlock::tbIncendio;
  entry.testReport = TTestReport::tr7Dias;
  entry.outcome = "verificada";
  entry.file = file;
  return entry;
}

TEST(History, LineFormat) {
  EXPECT_EQ(HistoryLine(Entry("1B2C")),
            "2026-12-08T12:30:01-03:00,/dev/ttyUSB0,verificacion,1B2C,\"12,34\",#9,Incendio,"
            "7 Días,verificada,/h/1B2C.vardelio\n");
  THistoryEntry unknown = Entry("OK", "");
  unknown.terminalBlock.reset();
  unknown.testReport.reset();
  unknown.operation = "recepcion";
  unknown.outcome = "error-recepcion";
  EXPECT_EQ(
      HistoryLine(unknown),
      "2026-12-08T12:30:01-03:00,/dev/ttyUSB0,recepcion,OK,\"12,34\",#9,,,error-recepcion,\n");
}

// What a spreadsheet would take for a formula, or for the end of a field, stays text.
TEST(History, FieldsThatCouldBreakTheLine) {
  const struct {
    const char* value;
    const char* written;
  } rows[] = {{"plain", "plain"},
              {"a,b", "\"a,b\""},
              {"say \"hi\"", "\"say \"\"hi\"\"\""},
              {"two\nlines", "\"two\nlines\""},
              {"=cmd()", "'=cmd()"},
              {"+1", "'+1"},
              {"-1", "'-1"},
              {"@x", "'@x"},
              {"a;b", "\"a;b\""}};
  for (const auto& row : rows) {
    EXPECT_EQ(CsvField(row.value), row.written) << row.value;
    THistoryEntry entry = Entry("1B2C", row.value);
    const std::vector<THistoryEntry> back = ParseHistory(kHistoryHeader + HistoryLine(entry));
    ASSERT_EQ(back.size(), 1u) << row.value;
    EXPECT_EQ(back[0].file, row.value);
  }
}

TEST(History, ReadsBackWhatItWrote) {
  const std::vector<THistoryEntry> back = ParseHistory(
      kHistoryHeader + HistoryLine(Entry("1B2C")) + "damaged,line\n" + HistoryLine(Entry("2222")));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].time, Entry("1B2C").time);
  EXPECT_EQ(back[0].time.offsetFromUtc(), -3 * 3600);
  EXPECT_EQ(back[0].mainPhone, "12,34");
  EXPECT_EQ(back[0].terminalBlock, TTerminalBlock::tbIncendio);
  EXPECT_EQ(back[0].testReport, TTestReport::tr7Dias);
  EXPECT_EQ(back[1].subscriber, "2222");
}

TEST(History, PathFollowsXdgDataHome) {
  const QByteArray data = qgetenv("XDG_DATA_HOME"), home = qgetenv("HOME");
  const auto restore = qScopeGuard([&] {
    qputenv("XDG_DATA_HOME", data);
    qputenv("HOME", home);
  });
  qputenv("XDG_DATA_HOME", "/somewhere/data");
  EXPECT_EQ(HistoryPath(), "/somewhere/data/vardelio/historial.csv");
  qputenv("XDG_DATA_HOME", "relative/is/ignored");
  qputenv("HOME", "/home/ana");
  EXPECT_EQ(HistoryPath(), "/home/ana/.local/share/vardelio/historial.csv");
}

TEST(History, AppendsNeverCutsAndIsItsOwnersAlone) {
  QTemporaryDir folder;
  const std::string path = folder.filePath("a/b/historial.csv").toStdString();
  AppendHistory(Entry("1111"), path);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(folder.filePath("a/b").toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // An operator's line without its end is ended, not joined.
  std::ofstream(path, std::ios::app) << "# nota del operador";
  AppendHistory(Entry("2222"), path);
  const std::string text = test::ReadAll(path);
  EXPECT_EQ(text, kHistoryHeader + HistoryLine(Entry("1111")) + "# nota del operador\n" +
                      HistoryLine(Entry("2222")));
}

// Two writers at once (each with its own open file, as two programs have): every line whole,
// none lost.
TEST(History, TwoWritersAtOnce) {
  QTemporaryDir folder;
  const std::string path = folder.filePath("historial.csv").toStdString();
  constexpr int kEach = 60;
  const auto writer = [&](const char* subscriber) {
    for (int i = 0; i < kEach; ++i)
      AppendHistory(Entry(subscriber), path);
  };
  std::thread a(writer, "1111"), b(writer, "2222");
  a.join();
  b.join();
  const std::string text = test::ReadAll(path);
  ASSERT_TRUE(text.starts_with(kHistoryHeader));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 2 * kEach);
  const std::vector<THistoryEntry> entries = ReadHistory(path);
  ASSERT_EQ(entries.size(), std::size_t(2 * kEach));
  int ones = 0;
  for (const THistoryEntry& entry : entries) {
    ones += entry.subscriber == "1111";
    EXPECT_EQ(HistoryLine(entry), HistoryLine(Entry(entry.subscriber)));
  }
  EXPECT_EQ(ones, kEach);
}

// Said once, however many lines fail, and the caller goes on.
TEST(History, AFailedAppendIsToldOnce) {
  QTemporaryDir folder;
  ASSERT_EQ(mkdir(folder.filePath("historial.csv").toLocal8Bit().constData(), 0700), 0);
  int told = 0;
  THistoryWriter writer([&](const QString&) { ++told; },
                        folder.filePath("historial.csv").toStdString());
  writer.Add(Entry("1111"));
  writer.Add(Entry("2222"));
  EXPECT_EQ(told, 1);
  EXPECT_TRUE(writer.Failed());
}

TEST(History, LastVerifiedIsTheLatestVerificationOfTheseValues) {
  std::vector<THistoryEntry> history;
  const auto add = [&](const char* operation, const char* outcome, int day,
                       TTestReport report = TTestReport::tr7Dias) {
    THistoryEntry entry = Entry("1B2C");
    entry.operation = operation;
    entry.outcome = outcome;
    entry.time = entry.time.addDays(day);
    entry.testReport = report;
    history.push_back(entry);
  };
  const TPanelProgramming values{"1B2C", "12,34", "#9", TTerminalBlock::tbIncendio,
                                 TTestReport::tr7Dias};
  EXPECT_FALSE(LastVerified(history, values));
  add("verificacion", "verificada", 2);
  add("serie", "verificada", 1);
  add("envio", "exitosa", 5);                                 // sent, never read back
  add("verificacion", "no-coincide", 6);                      // read back otherwise
  add("verificacion", "verificada", 7, TTestReport::tr24Hs);  // other values
  ASSERT_TRUE(LastVerified(history, values));
  EXPECT_EQ(*LastVerified(history, values), Entry("1B2C").time.addDays(2));
}

TEST(History, OutcomeWords) {
  TSessionResult result;
  const struct {
    TOutcome outcome;
    bool timeOver;
    const char* word;
  } rows[] = {{TOutcome::programmed, false, "exitosa"},
              {TOutcome::programmed, true, "exitosa"},
              {TOutcome::notProgrammed, false, "no-programada"},
              {TOutcome::notProgrammed, true, "tiempo-finalizado"},
              {TOutcome::verified, false, "verificada"},
              {TOutcome::notVerified, false, "no-coincide"},
              {TOutcome::received, false, "recibida"},
              {TOutcome::receiveError, false, "error-recepcion"},
              {TOutcome::nothingReceived, false, "sin-respuesta"},
              {TOutcome::nothingReceived, true, "tiempo-finalizado"}};
  for (const auto& row : rows) {
    result.outcome = row.outcome;
    result.timeOver = row.timeOver;
    EXPECT_EQ(HistoryOutcome(result), row.word);
    EXPECT_NE(HistoryOutcomeCaption(row.word), QString::fromUtf8(row.word));
  }
}

}  // namespace
