#include "SheetPrint.h"

#include <QCoreApplication>
#include <QLibrary>

#include "framework/Ansi.h"
#include "framework/Dialogs.h"
#include "programming/FileNames.h"
#include "programming/JobSheet.h"

namespace vardelio {

TPrintCall JobSheetPrintCall(QWidget* parent, const TJobSheet& sheet) {
  TPrintCall call;
  call.parent = parent;
  call.title = QStringLiteral("Imprimir hoja");
  call.docName =
      QStringLiteral("Hoja de programación Vardelio %1").arg(FromAnsi(sheet.values.Subscriber));
  call.paint = [&sheet](QPagedPaintDevice& device) { PaintJobSheet(device, sheet); };
  // A PDF holds customers' numbers: it is written as every such file is.
  call.writePdf = [&sheet](const QString& file) { WriteJobSheetPdf(FileNameBytes(file), sheet); };
  return call;
}

TPrintEntry LoadPrintModule(const QString& programFolder, QString* error) {
  // Where the package puts it, else beside the program (a build).
  for (const QString& folder :
       {programFolder + QStringLiteral("/" VARDELIO_PRINT_FROM_BIN), programFolder}) {
    QLibrary module(folder + QStringLiteral("/libvardelio-print.so"));
    if (const auto entry = reinterpret_cast<TPrintEntry>(module.resolve(kPrintEntry))) {
      return entry;  // loaded for good: the library stays when `module` goes
    }
    if (error->isEmpty()) *error = module.errorString();
  }
  return nullptr;
}

bool PrintJobSheet(QWidget* parent, const TJobSheet& sheet) {
  QString error;
  const TPrintEntry print = LoadPrintModule(QCoreApplication::applicationDirPath(), &error);
  if (print == nullptr) {
    ShowMessage(QStringLiteral("No se puede imprimir la hoja: falta el módulo de impresión.\n\n%1")
                    .arg(error));
    return false;
  }
  return print(JobSheetPrintCall(parent, sheet));
}

}  // namespace vardelio
