#include "BenchCommands.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <istream>
#include <memory>
#include <ostream>
#include <string_view>

#include "BatchList.h"
#include "BenchConsole.h"
#include "FileNames.h"
#include "History.h"
#include "JobSheet.h"
#include "ProgrammingFile.h"
#include "framework/Ansi.h"
#include "framework/Application.h"
#include "i18n/FrameworkTexts.h"
#include "i18n/TranslationEngine.h"
#include "serial/ComError.h"

namespace vardelio {
namespace {

constexpr std::string_view kCommands[] = {"--send", "--receive", "--batch", "--sheet"};

struct TBenchOptions {
  std::string command;  // one of kCommands
  std::string file;     // FILE, LIST, or the sheet's OUT
  std::string sheetOf;  // the sheet's FILE
  std::string port;
  bool verify = false;
  bool force = false;
};

std::string Utf8(const QString& text) {
  return text.toStdString();
}

int UsageError(std::ostream& errors, const std::string& what) {
  errors << "vardelio: " << what << "\nTry 'vardelio --help' for more information.\n";
  return kExitRefused;
}

// A usage error's text, or nothing.
std::optional<std::string> Parse(int argc, const char* const* argv, TBenchOptions& o) {
  std::vector<std::string> operands;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    const bool valued =
        a == "--port" || a == "--send" || a == "--receive" || a == "--batch" || a == "--sheet";
    if (valued && (i + 1 >= argc || argv[i + 1][0] == '\0')) {
      return "missing value for " + std::string(a);
    }
    if (a == "--port") {
      o.port = argv[++i];
    } else if (a == "--verify") {
      o.verify = true;
    } else if (a == "--force") {
      o.force = true;
    } else if (valued) {
      if (!o.command.empty()) return "only one of --send, --receive, --batch, --sheet";
      o.command = a;
      o.file = argv[++i];
    } else if (a == "--") {
      for (++i; i < argc; ++i)
        operands.emplace_back(argv[i]);
    } else if (a.starts_with('-') && a != "-") {
      return "unknown option " + std::string(a);
    } else {
      operands.emplace_back(a);
    }
  }
  const std::size_t wanted = o.command == "--sheet" ? 1 : 0;
  if (operands.size() != wanted) {
    return wanted == 1 ? "--sheet OUT.pdf takes the programming FILE after it"
                       : "unexpected " + operands.front();
  }
  if (wanted == 1) o.sheetOf = operands.front();
  if (o.verify && o.command != "--send") return "--verify goes with --send";
  if (o.force && o.command != "--receive") return "--force goes with --receive";
  if (!o.port.empty() && o.command == "--sheet") return "--port does not go with --sheet";
  return std::nullopt;
}

class TBench {
 public:
  TBench(const TBenchOptions& options, std::istream& in, std::ostream& out, std::ostream& errors)
      : o_(options),
        in_(in),
        out_(out),
        errors_(errors),
        history_([this](const QString& text) { errors_ << "vardelio: " << Utf8(text) << "\n"; }),
        line_([this](const QString& text) { out_ << Utf8(text) << "\n"
                                                 << std::flush; }) {}

  int Send();
  int Receive();
  int Batch();

 private:
  // Opens the port; false, after saying why, when it cannot.
  bool Open(const char* operation, const std::string& file, const TPanelProgramming& values = {});
  int PortFailed(const std::exception& error, const char* operation, const std::string& file,
                 const TPanelProgramming& values = {});
  std::optional<TPanelProgramming> Load(const std::string& file);
  // Runs it; nothing, after saying why, when the port failed.
  std::optional<TSessionResult> Run(TUnitOperation operation, const TPanelProgramming& values,
                                    const std::string& file, bool batch = false);
  std::string Ask(const QString& question);

  const TBenchOptions& o_;
  std::istream& in_;
  std::ostream& out_;
  std::ostream& errors_;
  THistoryWriter history_;
  TUnitLine line_;
};

int TBench::PortFailed(const std::exception& error, const char* operation, const std::string& file,
                       const TPanelProgramming& values) {
  errors_ << "vardelio: " << line_.PortName() << ": " << error.what() << "\n";
  history_.Add(PortErrorEntry(operation, values, line_.PortName(), file));
  return kExitPort;
}

bool TBench::Open(const char* operation, const std::string& file, const TPanelProgramming& values) {
  try {
    line_.Open(o_.port);
    return true;
  } catch (const std::exception& error) {
    PortFailed(error, operation, file, values);
    return false;
  }
}

std::optional<TPanelProgramming> TBench::Load(const std::string& file) {
  try {
    return LoadProgrammingFile(file);
  } catch (const EProgrammingFile& refused) {
    errors_ << "vardelio: " << Utf8(refused.Text()) << "\n";
    return std::nullopt;
  }
}

std::optional<TSessionResult> TBench::Run(TUnitOperation operation, const TPanelProgramming& values,
                                          const std::string& file, bool batch) {
  const char* name = batch                                  ? "serie"
                     : operation == TUnitOperation::send    ? "envio"
                     : operation == TUnitOperation::receive ? "recepcion"
                                                            : "verificacion";
  try {
    TSessionResult result = line_.Run(operation, values);
    history_.Add(HistoryEntry(result, line_.PortName(), file, batch));
    return result;
  } catch (const std::exception& error) {
    PortFailed(error, name, file, values);
    return std::nullopt;
  }
}

int TBench::Send() {
  const std::optional<TPanelProgramming> values = Load(o_.file);
  if (!values) return kExitRefused;
  const std::string file = AbsoluteFileName(o_.file);
  if (!Open(o_.verify ? "verificacion" : "envio", file, *values)) return kExitPort;
  const auto result = Run(o_.verify ? TUnitOperation::verify : TUnitOperation::send, *values, file);
  if (!result) return kExitPort;
  return result->Succeeded() ? kExitDone : kExitUnit;
}

int TBench::Receive() {
  if (!o_.force && FileNameExists(FileNameFromBytes(o_.file))) {
    errors_ << "vardelio: " << o_.file << " already exists; --force replaces it\n";
    return kExitRefused;
  }
  if (!Open("recepcion", AbsoluteFileName(o_.file))) return kExitPort;
  const auto result = Run(TUnitOperation::receive, {}, AbsoluteFileName(o_.file));
  if (!result) return kExitPort;
  if (!result->Succeeded()) return kExitUnit;
  const TProgrammingReply& reply = result->reply;
  if (!reply.TerminalBlock || !reply.TestReport) {
    out_ << Utf8(QStringLiteral("El equipo envió %1 desconocido; no se guarda el archivo.")
                     .arg(!reply.TerminalBlock ? fields::kTerminalBlock : fields::kTestReport))
         << "\n";
    return kExitUnit;
  }
  try {
    SaveProgrammingFile(o_.file,
                        {reply.Subscriber, reply.MainPhone, reply.BackupPhone, *reply.TerminalBlock,
                         *reply.TestReport},
                        o_.force);
  } catch (const EProgrammingFile& refused) {
    errors_ << "vardelio: " << Utf8(refused.Text()) << "\n";
    return kExitRefused;
  }
  return kExitDone;
}

std::string TBench::Ask(const QString& question) {
  out_ << Utf8(question) << std::flush;
  std::string answer;
  if (!std::getline(in_, answer)) return "t";  // nobody left to answer: the run ends
  out_ << "\n";
  return answer;
}

int TBench::Batch() {
  TBatchList list = ReadBatchList(o_.file);
  if (!list.fault.isEmpty()) {
    errors_ << "vardelio: " << Utf8(list.fault) << "\n";
    return kExitRefused;
  }
  if (!Open("serie", AbsoluteFileName(o_.file))) return kExitPort;
  TBatchRun run(std::move(list.items));
  while (const auto next = run.Next()) {
    const TBatchItem& item = run.Items()[*next];
    const QString who = QStringLiteral("[%1/%2] Abonado %3 (%4)")
                            .arg(*next + 1)
                            .arg(run.Items().size())
                            .arg(FromAnsi(item.values.Subscriber), item.name);
    const std::string answer =
        run.CurrentFailed()
            ? Ask(who + QStringLiteral(": Enter reintenta, s saltea, t termina: "))
            : Ask(QStringLiteral("Siguiente: ") + who +
                  QStringLiteral(". Conecte el equipo y presione Enter (s saltea, t termina): "));
    if (answer == "t" || answer == "T") {
      run.Stop();
    } else if (answer == "s" || answer == "S") {
      run.Skip();
    } else {
      const auto result = Run(TUnitOperation::verify, item.values, item.file, true);
      if (!result) return kExitPort;
      run.Record(*result);
    }
  }
  out_ << "\n";
  for (std::size_t i = 0; i < run.Items().size(); ++i) {
    const TBatchResult& r = run.Results()[i];
    out_ << Utf8(QStringLiteral("%1  %2  %3  %4\n")
                     .arg(FromAnsi(run.Items()[i].values.Subscriber), BatchStateCaption(r.state),
                          r.time.isValid() ? r.time.toString(QStringLiteral("HH:mm:ss"))
                                           : QStringLiteral("--:--:--"),
                          run.Items()[i].name));
  }
  out_ << Utf8(run.Summary()) << "\n";
  return run.AllVerified() ? kExitDone : kExitUnit;
}

int Sheet(const TBenchOptions& o, std::ostream& errors) {
  TJobSheet sheet;
  try {
    sheet.values = LoadProgrammingFile(o.sheetOf);
  } catch (const EProgrammingFile& refused) {
    errors << "vardelio: " << Utf8(refused.Text()) << "\n";
    return kExitRefused;
  }
  sheet.file = ReadableFileName(FileNameFromBytes(AbsoluteFileName(o.sheetOf)));
  sheet.date = QDateTime::currentDateTime();
  try {
    sheet.verified = LastVerified(ReadHistory(), sheet.values);
  } catch (const std::exception& error) {
    errors << "vardelio: the history cannot be read (" << error.what()
           << "); the sheet shows no verification\n";
  }
  try {
    WriteJobSheetPdf(o.file, sheet);
  } catch (const std::exception& error) {
    errors << "vardelio: " << error.what() << "\n";
    return kExitRefused;
  }
  return kExitDone;
}

}  // namespace

bool IsBenchCommand(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--") return false;
    if (a == "--trace") ++i;  // its FILE may be called anything
    for (const std::string_view command : kCommands) {
      if (a == command) return true;
    }
  }
  return false;
}

std::optional<QString> StartPortMessages() {
  TTranslationEngine& engine = DefaultEngine();
  StartTranslationEngine(engine);
  engine.AddResourceStringDomain("cport");
  try {
    InitPortErrorMessages([&engine](const QString& text) { return engine.TranslateText(text); });
  } catch (const std::exception& error) {
    InitPortErrorMessages({});
    return FromAnsi(error.what());
  }
  return std::nullopt;
}

int RunBenchCommand(int argc, char** argv, std::istream& in, std::ostream& out,
                    std::ostream& errors) {
  QuietQtMessages();
  TBenchOptions options;
  if (const auto usage = Parse(argc, argv, options)) return UsageError(errors, *usage);
  if (options.command == "--sheet") {
    // The page is drawn without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    return Sheet(options, errors);
  }
  QCoreApplication application(argc, argv);
  if (const auto failure = StartPortMessages()) errors << "vardelio: " << Utf8(*failure) << "\n";
  TBench bench(options, in, out, errors);
  if (options.command == "--send") return bench.Send();
  if (options.command == "--receive") return bench.Receive();
  return bench.Batch();
}

}  // namespace vardelio
