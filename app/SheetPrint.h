#pragma once
// "Archivo" > "Imprimir hoja...": the job sheet of the values in the window, through the print
// dialog, which can also save it as a PDF.

#include <QString>

#include "SheetPrinter.h"

class QWidget;

namespace vardelio {

struct TJobSheet;

// Asks for the printer (or a PDF file) and prints; false when the operator cancels or the print
// module cannot be loaded (which is said in a box).
bool PrintJobSheet(QWidget* parent, const TJobSheet& sheet);
// The call that prints this sheet.
TPrintCall JobSheetPrintCall(QWidget* parent, const TJobSheet& sheet);
// The print module's entry, from the program's folder; null, with the reason in `error`, when
// it cannot be loaded.
TPrintEntry LoadPrintModule(const QString& programFolder, QString* error);

}  // namespace vardelio
