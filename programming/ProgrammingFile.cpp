#include "ProgrammingFile.h"

#include <QFileInfo>
#include <QStringDecoder>
#include <array>
#include <utility>

#include "EntryRules.h"
#include "FileNames.h"
#include "framework/Ansi.h"
#include "portconfig/UserFile.h"

namespace vardelio {
namespace {

// Far above any programming file: a bigger one is something else, and is not read whole.
constexpr std::uintmax_t kLargestFile = 64 * 1024;

constexpr std::array<std::string_view, 3> kTerminalBlockWords = {"asalto", "accidente", "incendio"};
constexpr std::array<std::string_view, 4> kTestReportWords = {"deshabilitado", "24-hs", "7-dias",
                                                              "30-dias"};

enum TField { fSubscriber, fMainPhone, fBackupPhone, fTerminalBlock, fTestReport, kFieldCount };
constexpr std::array<std::string_view, kFieldCount> kKeys = {
    "abonado", "telefono-principal", "telefono-respaldo", "bornera", "informe-test"};

const QString& Caption(int field) {
  static const std::array<const QString*, kFieldCount> captions = {
      &fields::kSubscriber, &fields::kMainPhone, &fields::kBackupPhone, &fields::kTerminalBlock,
      &fields::kTestReport};
  return *captions[std::size_t(field)];
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

// One line at a time; LF or CR LF ends a line.
bool NextLine(std::string_view& rest, std::string_view& line) {
  if (rest.empty()) return false;
  const std::size_t end = rest.find('\n');
  line = rest.substr(0, end);
  rest.remove_prefix(end == rest.npos ? rest.size() : end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

// What the file holds, quoted in a box: a line at most, and every character visible.
QString Quoted(std::string_view raw) {
  constexpr int kLongest = 24;
  // Enough bytes for one character more than is shown, however long each is.
  const std::string_view head = raw.substr(0, 4 * (kLongest + 1));
  const QList<uint> characters = QString::fromUtf8(head.data(), qsizetype(head.size())).toUcs4();
  QString shown;
  for (qsizetype i = 0; i < characters.size() && i < kLongest; ++i) {
    const char32_t c = characters[i];
    shown += QChar::isPrint(c) ? QString::fromUcs4(&c, 1) : ShownCharacter(c);
  }
  if (characters.size() > kLongest) shown += QChar(0x2026);
  return QStringLiteral("«%1»").arg(shown);
}

template <std::size_t N>
std::optional<std::size_t> WordIndex(const std::array<std::string_view, N>& words,
                                     std::string_view word) {
  for (std::size_t i = 0; i < N; ++i) {
    if (words[i] == word) return i;
  }
  return std::nullopt;
}

// Takes one field's value into `values`, or tells what is wrong with it.
std::optional<TFileFault> TakeField(int field, std::string_view text, TPanelProgramming& values) {
  // Every byte is looked at: a plain conversion would drop a byte-order mark at the start, and
  // a decoder that keeps state would hold back a sequence cut short at the end.
  QStringDecoder decoder(QStringDecoder::Utf8,
                         QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
  const QString value = decoder(QByteArrayView(text.data(), qsizetype(text.size())));
  const auto unknown = [&] {
    return TFileFault{Caption(field), QStringLiteral("valor %1 desconocido").arg(Quoted(text))};
  };
  switch (field) {
    case fSubscriber:
      values.Subscriber = std::string(text);
      return CheckEntry(TEntry::subscriber, value);
    case fMainPhone:
      values.MainPhone = std::string(text);
      return CheckEntry(TEntry::mainPhone, value);
    case fBackupPhone:
      values.BackupPhone = std::string(text);
      return CheckEntry(TEntry::backupPhone, value);
    case fTerminalBlock:
      if (const auto i = WordIndex(kTerminalBlockWords, text)) {
        values.TerminalBlock = TTerminalBlock(*i);
        return std::nullopt;
      }
      return unknown();
    default:
      if (const auto i = WordIndex(kTestReportWords, text)) {
        values.TestReport = TTestReport(*i);
        return std::nullopt;
      }
      return unknown();
  }
}

QString FaultText(const TFileFault& fault) {
  return fault.field.isEmpty()
             ? fault.problem + QLatin1Char('.')
             : fault.field + QStringLiteral(": ") + fault.problem + QLatin1Char('.');
}

QString Sentence(const char* action, const std::string& path, const QString& why) {
  const QString name = ReadableFileName(QFileInfo(FileNameFromBytes(path)).fileName());
  return QStringLiteral("No se puede %1 el archivo \"%2\".\n\n%3")
      .arg(QString::fromUtf8(action), name, why);
}

TProgrammingFileParse Refused(const QString& field, const QString& problem) {
  return {std::nullopt, {field, problem}};
}

}  // namespace

EProgrammingFile::EProgrammingFile(const QString& text)
    : std::runtime_error(ToAnsi(text)), text_(text) {}

QString TerminalBlockCaption(TTerminalBlock value) {
  static const QString captions[] = {QStringLiteral("Asalto"), QStringLiteral("Accidente"),
                                     QStringLiteral("Incendio")};
  return captions[std::size_t(value)];
}

QString TestReportCaption(TTestReport value) {
  static const QString captions[] = {QStringLiteral("Deshabilitado"), QStringLiteral("24 Hs"),
                                     QStringLiteral("7 Días"), QStringLiteral("30 Días")};
  return captions[std::size_t(value)];
}

std::string ProgrammingFileText(const TPanelProgramming& values) {
  std::string text = std::string(kProgrammingFileMagic) + " " +
                     std::string(kProgrammingFileVersion) +
                     "\n"
                     "# Programación de un Vardelio. bornera: asalto, accidente o incendio;\n"
                     "# informe-test: deshabilitado, 24-hs, 7-dias o 30-dias.\n";
  const std::string_view value[kFieldCount] = {
      values.Subscriber, values.MainPhone, values.BackupPhone,
      kTerminalBlockWords[std::size_t(values.TerminalBlock)],
      kTestReportWords[std::size_t(values.TestReport)]};
  for (int field = 0; field < kFieldCount; ++field) {
    text += std::string(kKeys[std::size_t(field)]) + "=" + std::string(value[field]) + "\n";
  }
  return text;
}

TProgrammingFileParse ParseProgrammingFile(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // as some editors save
  std::string_view line;
  const bool any = NextLine(text, line);
  line = Trim(line);
  const std::size_t space = line.find_first_of(" \t");
  if (!any || line.substr(0, space) != kProgrammingFileMagic) {
    return Refused({}, QStringLiteral("No es un archivo de programación de Vardelio"));
  }
  const std::string_view version = space == line.npos ? "" : Trim(line.substr(space));
  if (version != kProgrammingFileVersion) {
    return Refused(QStringLiteral("Versión del formato"),
                   QStringLiteral("%1 es desconocida; este programa lee la versión %2")
                       .arg(Quoted(version), QString::fromUtf8(kProgrammingFileVersion.data())));
  }
  TPanelProgramming values;
  std::array<bool, kFieldCount> seen{};
  for (int number = 2; NextLine(text, line); ++number) {
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;
    const std::size_t equals = line.find('=');
    const std::string_view key = Trim(line.substr(0, equals));
    const auto field = WordIndex(kKeys, key);
    if (equals == line.npos || !field) {
      return Refused(QStringLiteral("Línea %1").arg(number),
                     QStringLiteral("%1 no es un campo de la programación").arg(Quoted(key)));
    }
    if (std::exchange(seen[*field], true)) {
      return Refused(Caption(int(*field)), QStringLiteral("aparece dos veces"));
    }
    if (auto fault = TakeField(int(*field), Trim(line.substr(equals + 1)), values)) {
      return {std::nullopt, *fault};
    }
  }
  for (int field = 0; field < kFieldCount; ++field) {
    if (!seen[std::size_t(field)]) return Refused(Caption(field), QStringLiteral("falta"));
  }
  return {values, {}};
}

TPanelProgramming LoadProgrammingFile(const std::string& path) {
  const auto refuse = [&](const QString& why) {
    return EProgrammingFile(Sentence("abrir", path, why));
  };
  std::optional<std::string> text;
  try {
    text = ReadUserFile(path, kLargestFile);
  } catch (const EProfileError& failure) {
    throw refuse(QString::fromLocal8Bit(failure.what()));
  }
  if (!text) throw refuse(QStringLiteral("El archivo no existe."));
  // Measured as read, not before: it may grow while the read waits for another program's save.
  if (text->size() > kLargestFile) {
    throw refuse(QStringLiteral("No es un archivo de programación de Vardelio."));
  }
  TProgrammingFileParse parsed = ParseProgrammingFile(*text);
  if (!parsed.values) throw refuse(FaultText(parsed.fault));
  return *parsed.values;
}

void SaveProgrammingFile(const std::string& path, const TPanelProgramming& values, bool replace) {
  if (const auto fault = CheckProgramming(values)) {
    throw EProgrammingFile(Sentence("guardar", path, FaultText(*fault)));
  }
  const std::string text = ProgrammingFileText(values);
  // Asked under the save's lock, so a file made since the caller looked is not lost either.
  const auto edit = [&](const std::string& old) {
    if (!replace && !old.empty()) {
      throw EProgrammingFile(Sentence("guardar", path, QStringLiteral("El archivo ya existe.")));
    }
    return text;
  };
  try {
    UpdateUserFile(path, edit, kCustomerFileRules);
  } catch (const EProfileError& failure) {
    throw EProgrammingFile(Sentence("guardar", path, QString::fromLocal8Bit(failure.what())));
  }
}

}  // namespace vardelio
