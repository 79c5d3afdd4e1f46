#include "SheetPrint.h"

#include <QPrintDialog>
#include <QPrinter>

#include "framework/Ansi.h"
#include "programming/FileNames.h"
#include "programming/JobSheet.h"

namespace vardelio {

void PrintJobSheetOn(QPrinter& printer, const TJobSheet& sheet) {
  printer.setDocName(
      QStringLiteral("Hoja de programación Vardelio %1").arg(FromAnsi(sheet.values.Subscriber)));
  printer.setCreator(QStringLiteral("Vardelio"));
  printer.setFullPage(true);  // the sheet keeps its own margins
  PaintJobSheet(printer, sheet);
}

bool PrintJobSheet(QWidget* parent, const TJobSheet& sheet) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageSize(QPageSize(QPageSize::A4));
  QPrintDialog dialog(&printer, parent);
  dialog.setWindowTitle(QStringLiteral("Imprimir hoja"));
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
  if (dialog.exec() != QDialog::Accepted) return false;
  // A PDF holds customers' numbers: it is written as every such file is.
  if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
    WriteJobSheetPdf(FileNameBytes(printer.outputFileName()), sheet);
    return true;
  }
  PrintJobSheetOn(printer, sheet);
  return true;
}

}  // namespace vardelio
