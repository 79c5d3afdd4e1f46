#include "BatchList.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>

#include "Csv.h"
#include "FileNames.h"
#include "ProgrammingFile.h"
#include "portconfig/UserFile.h"

namespace vardelio {
namespace {

// Far above any list a workshop would prepare; a bigger file is something else.
constexpr std::size_t kLargestList = 1024 * 1024;

constexpr std::array<const char*, 5> kColumns = {"abonado", "principal", "respaldo", "bornera",
                                                 "informe"};
constexpr std::array<const char*, 5> kFileKeys = {"abonado", "telefono-principal",
                                                  "telefono-respaldo", "bornera", "informe-test"};

std::string Trim(std::string text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.back()))
    text.pop_back();
  const auto first = std::find_if_not(text.begin(), text.end(), blank);
  return std::string(first, text.end());
}

// "7 Días" as the window shows it, or "7-dias" as a programming file has it.
std::string ModeWord(const std::string& text) {
  QString word = QString::fromStdString(Trim(text)).toLower();
  word.replace(QChar(0xED), QLatin1Char('i')).replace(QLatin1Char(' '), QLatin1Char('-'));
  return word.toStdString();
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString Named(const std::string& path) {
  return ReadableFileName(FileNameFromBytes(path));
}

TBatchList ReadFolder(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      const std::string suffix = "." + std::string(kProgrammingFileSuffix);
      if (name.size() > suffix.size() && name.ends_with(suffix) && name.front() != '.') {
        names.push_back(name);
      }
    }
    closedir(dir);
  } else {
    return {{}, QStringLiteral("No se puede leer la carpeta \"%1\".").arg(Named(folder))};
  }
  std::sort(names.begin(), names.end());
  TBatchList list;
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    try {
      list.items.push_back({Named(name), path, LoadProgrammingFile(path)});
    } catch (const EProgrammingFile& refused) {
      return {{}, refused.Text()};
    }
  }
  if (list.items.empty()) {
    list.fault = QStringLiteral("La carpeta \"%1\" no tiene archivos de programación (.%2).")
                     .arg(Named(folder), QString::fromUtf8(kProgrammingFileSuffix.data()));
  }
  return list;
}

}  // namespace

TBatchList ParseBatchCsv(const std::string& text) {
  const std::string_view body = std::string_view(text).starts_with("\xEF\xBB\xBF")
                                    ? std::string_view(text).substr(3)
                                    : std::string_view(text);
  // Spreadsheets set to Spanish write ";" between fields.
  const std::string_view head = body.substr(0, body.find('\n'));
  const char separator = head.find(';') != head.npos && head.find(',') == head.npos ? ';' : ',';
  const TCsvRecords csv = ParseCsv(body, separator);
  if (csv.records.empty()) return {{}, QStringLiteral("La lista está vacía.")};
  std::array<int, kColumns.size()> column{};
  for (std::size_t c = 0; c < kColumns.size(); ++c) {
    const TCsvRecord& header = csv.records.front();
    const auto at = std::find_if(header.begin(), header.end(),
                                 [&](const std::string& h) { return ModeWord(h) == kColumns[c]; });
    if (at == header.end()) {
      return {{},
              QStringLiteral("La primera línea de la lista no nombra la columna «%1»; debe ser: "
                             "abonado, principal, respaldo, bornera, informe.")
                  .arg(QString::fromUtf8(kColumns[c]))};
    }
    column[c] = int(at - header.begin());
  }
  TBatchList list;
  for (std::size_t r = 1; r < csv.records.size(); ++r) {
    const TCsvRecord& record = csv.records[r];
    const QString name = QStringLiteral("línea %1").arg(csv.lines[r]);
    std::string file =
        std::string(kProgrammingFileMagic) + " " + std::string(kProgrammingFileVersion) + "\n";
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
      const std::size_t at = std::size_t(column[c]);
      std::string value = at < record.size() ? Trim(record[at]) : std::string();
      if (c >= 3) value = ModeWord(value);
      // A value of several lines would end its field early and start another.
      if (value.find_first_of("\r\n") != std::string::npos) {
        return {{},
                QStringLiteral("Lista, %1: %2: tiene más de una línea.")
                    .arg(name, QString::fromUtf8(kColumns[c]))};
      }
      file += std::string(kFileKeys[c]) + "=" + value + "\n";
    }
    const TProgrammingFileParse parsed = ParseProgrammingFile(file);
    if (!parsed.values) {
      return {
          {},
          QStringLiteral("Lista, %1: %2: %3.").arg(name, parsed.fault.field, parsed.fault.problem)};
    }
    list.items.push_back({name, {}, *parsed.values});
  }
  if (list.items.empty()) list.fault = QStringLiteral("La lista no tiene ningún equipo.");
  return list;
}

TBatchList ReadBatchList(const std::string& path) {
  if (IsFolder(path)) return ReadFolder(path);
  std::optional<std::string> text;
  try {
    text = ReadUserFile(path, kLargestList);
  } catch (const EProfileError& failure) {
    return {{},
            QStringLiteral("No se puede leer la lista \"%1\": %2")
                .arg(Named(path), QString::fromLocal8Bit(failure.what()))};
  }
  if (!text) return {{}, QStringLiteral("La lista \"%1\" no existe.").arg(Named(path))};
  if (text->size() > kLargestList) {
    return {{}, QStringLiteral("La lista \"%1\" es demasiado grande.").arg(Named(path))};
  }
  return ParseBatchCsv(*text);
}

TBatchRun::TBatchRun(std::vector<TBatchItem> items)
    : items_(std::move(items)), results_(items_.size()) {}

std::optional<std::size_t> TBatchRun::Next() const {
  if (current_ >= items_.size()) return std::nullopt;
  return current_;
}

void TBatchRun::Record(const TSessionResult& result) {
  if (Over()) return;
  TBatchResult& item = results_[current_];
  ++item.attempts;
  item.message = result.message;
  item.time = QDateTime::currentDateTime();
  if (result.outcome == TOutcome::verified) {
    item.state = TBatchState::verified;
    failedCurrent_ = false;
    ++current_;
  } else {
    item.state = TBatchState::failed;
    failedCurrent_ = true;
  }
}

bool TBatchRun::CurrentFailed() const {
  return failedCurrent_;
}

void TBatchRun::Skip() {
  if (Over()) return;
  // A unit that failed stays failed; one never tried is skipped.
  if (!failedCurrent_) results_[current_].state = TBatchState::skipped;
  failedCurrent_ = false;
  ++current_;
}

void TBatchRun::Stop() {
  while (!Over())
    Skip();
}

QString TBatchRun::Summary() const {
  int verified = 0, failed = 0, skipped = 0;
  for (const TBatchResult& result : results_) {
    verified += result.state == TBatchState::verified;
    failed += result.state == TBatchState::failed;
    skipped += result.state == TBatchState::skipped || result.state == TBatchState::pending;
  }
  return QStringLiteral("%1 equipos: %2 verificados, %3 con falla, %4 salteados.")
      .arg(results_.size())
      .arg(verified)
      .arg(failed)
      .arg(skipped);
}

bool TBatchRun::AllVerified() const {
  return std::all_of(results_.begin(), results_.end(),
                     [](const TBatchResult& r) { return r.state == TBatchState::verified; });
}

QString BatchStateCaption(TBatchState state) {
  switch (state) {
    case TBatchState::verified:
      return QStringLiteral("Verificado");
    case TBatchState::failed:
      return QStringLiteral("Falla");
    case TBatchState::skipped:
      return QStringLiteral("Salteado");
    case TBatchState::pending:
      break;
  }
  return QStringLiteral("Pendiente");
}

}  // namespace vardelio
