#include "SheetPrinter.h"

#include <QPrintDialog>
#include <QPrinter>

namespace vardelio {

void PrintOn(QPrinter& printer, const TPrintCall& call) {
  printer.setDocName(call.docName);
  printer.setCreator(QStringLiteral("Vardelio"));
  printer.setFullPage(true);  // the sheet keeps its own margins
  call.paint(printer);
}

bool PrintThroughDialog(const TPrintCall& call) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageSize(QPageSize(QPageSize::A4));
  QPrintDialog dialog(&printer, call.parent);
  dialog.setWindowTitle(call.title);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
  if (dialog.exec() != QDialog::Accepted) return false;
  if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
    call.writePdf(printer.outputFileName());
    return true;
  }
  PrintOn(printer, call);
  return true;
}

}  // namespace vardelio

extern "C" Q_DECL_EXPORT bool vardelio_print(const vardelio::TPrintCall& call) {
  return vardelio::PrintThroughDialog(call);
}
