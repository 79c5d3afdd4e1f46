#pragma once
// A customer's programming kept in a small text file (".vardelio") an installer can read.
//
//   vardelio-programacion 1
//   abonado=1B2C
//   telefono-principal=12,34
//   telefono-respaldo=
//   bornera=incendio
//   informe-test=7-dias
//
// Blank lines and lines starting with "#" are ignored; LF or CR LF ends a line.

#include <QString>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "EntryRules.h"
#include "PanelFrames.h"

namespace vardelio {

inline constexpr std::string_view kProgrammingFileMagic = "vardelio-programacion";
inline constexpr std::string_view kProgrammingFileVersion = "1";
inline constexpr std::string_view kProgrammingFileSuffix = "vardelio";

QString TerminalBlockCaption(TTerminalBlock value);
QString TestReportCaption(TTestReport value);

// The first thing wrong with a file or with values to be saved; the values themselves are
// held to the entries' rules (CheckProgramming).
using TFileFault = TValueFault;

std::string ProgrammingFileText(const TPanelProgramming& values);
// Values, or the first fault in the file's order; a file is taken whole or not at all.
struct TProgrammingFileParse {
  std::optional<TPanelProgramming> values;
  TFileFault fault;
};
TProgrammingFileParse ParseProgrammingFile(std::string_view text);

// A file that could not be opened or saved; what() is the sentence for the operator, naming
// the file.
class EProgrammingFile : public std::runtime_error {
 public:
  explicit EProgrammingFile(const QString& text);
  const QString& Text() const { return text_; }

 private:
  QString text_;
};

TPanelProgramming LoadProgrammingFile(const std::string& path);
// Through the settings file's careful save: a failed save leaves the old file as it was.
// Without `replace`, a file that holds anything is refused and kept.
void SaveProgrammingFile(const std::string& path, const TPanelProgramming& values,
                         bool replace = true);

}  // namespace vardelio
