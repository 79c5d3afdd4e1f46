#pragma once
// "Archivo" > "Imprimir hoja...": the job sheet of the values in the window, through the print
// dialog, which can also save it as a PDF.

class QPrinter;
class QWidget;

namespace vardelio {

struct TJobSheet;

// Asks for the printer (or a PDF file) and prints; false when the operator cancels.
bool PrintJobSheet(QWidget* parent, const TJobSheet& sheet);
// Prints on a printer already chosen: one A4 page.
void PrintJobSheetOn(QPrinter& printer, const TJobSheet& sheet);

}  // namespace vardelio
