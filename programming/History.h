#pragma once
// The history of every programming: one line per send, receive, verification and batch item,
// from the window or the command line, appended to $XDG_DATA_HOME/vardelio/historial.csv.
//
//   fecha,puerto,operacion,abonado,telefono-principal,telefono-respaldo,bornera,informe-test,resultado,archivo
//   2026-12-08T12:30:01-03:00,/dev/ttyUSB0,verificacion,1B2C,"12,34",,Incendio,7
//   Días,verificada,/home/ana/1B2C.vardelio

#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "UnitSession.h"

namespace vardelio {

inline constexpr char kHistoryHeader[] =
    "fecha,puerto,operacion,abonado,telefono-principal,telefono-respaldo,bornera,informe-test,"
    "resultado,archivo\n";

struct THistoryEntry {
  QDateTime time;  // with its offset from UTC
  std::string port;
  std::string operation;  // envio, recepcion, verificacion, serie
  std::string subscriber, mainPhone, backupPhone;
  std::optional<TTerminalBlock> terminalBlock;  // absent: the unit's digit was unknown
  std::optional<TTestReport> testReport;
  std::string outcome;  // a word of HistoryOutcome's, or error-puerto
  std::string file;     // as bytes; empty when none
};

// $XDG_DATA_HOME/vardelio/historial.csv, ~/.local/share/vardelio/historial.csv without it.
std::string HistoryPath();

// The entry an evaluated operation leaves; `batch` marks an item of a batch run.
THistoryEntry HistoryEntry(const TSessionResult& result, const std::string& port,
                           const std::string& file, bool batch = false);
// The entry of an operation the port could not carry (error-puerto); a receive has no values.
THistoryEntry PortErrorEntry(const char* operation, const TPanelProgramming& values,
                             const std::string& port, const std::string& file);
std::string HistoryOutcome(const TSessionResult& result);
// The operator's words for an outcome word.
QString HistoryOutcomeCaption(const std::string& outcome);

std::string HistoryLine(const THistoryEntry& entry);
// The entries of a history's text; lines that are not entries are skipped.
std::vector<THistoryEntry> ParseHistory(const std::string& text);

// Adds one line, under the settings file's lock and care: the file is never cut short, a
// line is never interleaved with another writer's, and a new file is its owner's alone.
// Raises EProfileError when it cannot.
void AppendHistory(const THistoryEntry& entry, const std::string& path = HistoryPath());
// The whole history; empty when there is none yet. Raises EProfileError.
std::vector<THistoryEntry> ReadHistory(const std::string& path = HistoryPath());

// Appends for one window or one command, and tells its operator once when it cannot: the
// programming goes on either way.
class THistoryWriter {
 public:
  explicit THistoryWriter(std::function<void(const QString&)> tell,
                          std::string path = HistoryPath());
  void Add(const THistoryEntry& entry);
  bool Failed() const { return told_; }

 private:
  std::function<void(const QString&)> tell_;
  std::string path_;
  bool told_ = false;
};

// When the values were last verified on a unit, from the history: the latest verification,
// alone or in a batch, that found them.
std::optional<QDateTime> LastVerified(const std::vector<THistoryEntry>& history,
                                      const TPanelProgramming& values);

}  // namespace vardelio
