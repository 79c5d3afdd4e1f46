#include "History.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QStringList>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Csv.h"
#include "ProgrammingFile.h"
#include "framework/Ansi.h"
#include "portconfig/UserFile.h"

namespace vardelio {
namespace {

enum TColumn {
  cTime,
  cPort,
  cOperation,
  cSubscriber,
  cMain,
  cBackup,
  cBlock,
  cReport,
  cOutcome,
  cFile,
  kColumns
};

struct TOutcomeWord {
  const char* word;
  const char* caption;
};
constexpr std::array<TOutcomeWord, 9> kOutcomeWords = {{
    {"exitosa", "Programación Exitosa"},
    {"no-programada", "No se pudo programar"},
    {"verificada", "Programación Verificada"},
    {"no-coincide", "No coincide con la enviada"},
    {"recibida", "Programación Recibida"},
    {"error-recepcion", "Error en Recepcion"},
    {"sin-respuesta", "Sin respuesta del equipo"},
    {"tiempo-finalizado", "Tiempo de programación finalizado"},
    {"error-puerto", "Error del puerto"},
}};

std::string Utf8(const QString& text) {
  return text.toStdString();
}

// The field as written: a leading apostrophe only kept it from being taken for a formula.
std::string Unguarded(std::string value) {
  if (value.size() > 1 && value.front() == '\'' &&
      std::string_view("=+-@").find(value[1]) != std::string_view::npos) {
    value.erase(0, 1);
  }
  return value;
}

template <typename T, std::size_t N>
std::optional<T> FromCaption(const std::string& text, QString (*caption)(T)) {
  for (std::size_t i = 0; i < N; ++i) {
    if (Utf8(caption(T(i))) == text) return T(i);
  }
  return std::nullopt;
}

// The history's folder, its owner's alone like the file.
void MakeFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return;
  const std::string folder = path.substr(0, slash);
  for (std::size_t at = 1; at != std::string::npos;) {
    at = folder.find('/', at + 1);
    const std::string made = folder.substr(0, at);
    if (mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
      throw EProfileError("Cannot write " + path + ": " + std::strerror(errno), errno);
    }
  }
}

}  // namespace

std::string HistoryPath() {
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string folder;
  if (data != nullptr && data[0] == '/') {
    folder = data;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home != nullptr ? home : "") + "/.local/share";
  }
  return folder + "/vardelio/historial.csv";
}

std::string HistoryOutcome(const TSessionResult& result) {
  if (result.timeOver && !result.Succeeded()) return "tiempo-finalizado";
  switch (result.outcome) {
    case TOutcome::programmed:
      return "exitosa";
    case TOutcome::notProgrammed:
      return "no-programada";
    case TOutcome::verified:
      return "verificada";
    case TOutcome::notVerified:
      return "no-coincide";
    case TOutcome::received:
      return "recibida";
    case TOutcome::receiveError:
      return "error-recepcion";
    case TOutcome::nothingReceived:
      return "sin-respuesta";
  }
  return "no-programada";
}

QString HistoryOutcomeCaption(const std::string& outcome) {
  for (const TOutcomeWord& word : kOutcomeWords) {
    if (outcome == word.word) return QString::fromUtf8(word.caption);
  }
  return QString::fromStdString(outcome);
}

THistoryEntry HistoryEntry(const TSessionResult& result, const std::string& port,
                           const std::string& file, bool batch) {
  THistoryEntry entry;
  entry.time = QDateTime::currentDateTime();
  entry.port = port;
  entry.operation = batch                                         ? "serie"
                    : result.operation == TUnitOperation::send    ? "envio"
                    : result.operation == TUnitOperation::receive ? "recepcion"
                                                                  : "verificacion";
  if (result.operation == TUnitOperation::receive) {
    entry.subscriber = result.reply.Subscriber;
    entry.mainPhone = result.reply.MainPhone;
    entry.backupPhone = result.reply.BackupPhone;
    entry.terminalBlock = result.reply.TerminalBlock;
    entry.testReport = result.reply.TestReport;
  } else {
    entry.subscriber = result.sent.Subscriber;
    entry.mainPhone = result.sent.MainPhone;
    entry.backupPhone = result.sent.BackupPhone;
    entry.terminalBlock = result.sent.TerminalBlock;
    entry.testReport = result.sent.TestReport;
  }
  entry.outcome = HistoryOutcome(result);
  entry.file = file;
  return entry;
}

THistoryEntry PortErrorEntry(const char* operation, const TPanelProgramming& values,
                             const std::string& port, const std::string& file) {
  THistoryEntry entry;
  entry.time = QDateTime::currentDateTime();
  entry.port = port;
  entry.operation = operation;
  entry.subscriber = values.Subscriber;
  entry.mainPhone = values.MainPhone;
  entry.backupPhone = values.BackupPhone;
  if (!values.Subscriber.empty()) {
    entry.terminalBlock = values.TerminalBlock;
    entry.testReport = values.TestReport;
  }
  entry.outcome = "error-puerto";
  entry.file = file;
  return entry;
}

std::string HistoryLine(const THistoryEntry& entry) {
  const QDateTime time = entry.time.toOffsetFromUtc(entry.time.offsetFromUtc());
  return CsvLine({Utf8(time.toString(Qt::ISODate)), entry.port, entry.operation,
                  Utf8(FromAnsi(entry.subscriber)), Utf8(FromAnsi(entry.mainPhone)),
                  Utf8(FromAnsi(entry.backupPhone)),
                  entry.terminalBlock ? Utf8(TerminalBlockCaption(*entry.terminalBlock)) : "",
                  entry.testReport ? Utf8(TestReportCaption(*entry.testReport)) : "", entry.outcome,
                  entry.file});
}

std::vector<THistoryEntry> ParseHistory(const std::string& text) {
  std::vector<THistoryEntry> entries;
  for (TCsvRecord& record : ParseCsv(text).records) {
    if (record.size() != kColumns) continue;
    THistoryEntry entry;
    entry.time = QDateTime::fromString(QString::fromStdString(record[cTime]), Qt::ISODate);
    if (!entry.time.isValid()) continue;  // the header, or a damaged line
    entry.port = Unguarded(record[cPort]);
    entry.operation = record[cOperation];
    entry.subscriber = ToAnsi(QString::fromStdString(record[cSubscriber]));
    entry.mainPhone = ToAnsi(QString::fromStdString(record[cMain]));
    entry.backupPhone = ToAnsi(QString::fromStdString(record[cBackup]));
    entry.terminalBlock = FromCaption<TTerminalBlock, 3>(record[cBlock], &TerminalBlockCaption);
    entry.testReport = FromCaption<TTestReport, 4>(record[cReport], &TestReportCaption);
    entry.outcome = record[cOutcome];
    entry.file = Unguarded(record[cFile]);
    entries.push_back(std::move(entry));
  }
  return entries;
}

void AppendHistory(const THistoryEntry& entry, const std::string& path) {
  MakeFolder(path);
  const std::string line = HistoryLine(entry);
  UpdateUserFile(
      path,
      [&](const std::string& old) {
        if (old.empty()) return kHistoryHeader + line;
        // A line cut short by hand is ended, so it cannot swallow this one.
        return old + (old.back() == '\n' ? "" : "\n") + line;
      },
      kCustomerFileRules);
}

std::vector<THistoryEntry> ReadHistory(const std::string& path) {
  const std::optional<std::string> text = ReadUserFile(path);
  return text ? ParseHistory(*text) : std::vector<THistoryEntry>{};
}

THistoryWriter::THistoryWriter(std::function<void(const QString&)> tell, std::string path)
    : tell_(std::move(tell)), path_(std::move(path)) {}

void THistoryWriter::Add(const THistoryEntry& entry) {
  try {
    AppendHistory(entry, path_);
  } catch (const std::exception& error) {
    if (std::exchange(told_, true)) return;
    if (tell_) {
      tell_(QStringLiteral("No se pudo anotar la operación en el historial (%1); la "
                           "programación sigue sin historial.")
                .arg(QString::fromLocal8Bit(error.what())));
    }
  }
}

std::optional<QDateTime> LastVerified(const std::vector<THistoryEntry>& history,
                                      const TPanelProgramming& values) {
  std::optional<QDateTime> last;
  for (const THistoryEntry& entry : history) {
    const bool verification = entry.operation == "verificacion" || entry.operation == "serie";
    if (!verification || entry.outcome != "verificada") continue;
    if (entry.subscriber != values.Subscriber || entry.mainPhone != values.MainPhone ||
        entry.backupPhone != values.BackupPhone || entry.terminalBlock != values.TerminalBlock ||
        entry.testReport != values.TestReport) {
      continue;
    }
    if (!last || entry.time > *last) last = entry.time;
  }
  return last;
}

}  // namespace vardelio
