#pragma once
// Printing through the print dialog, in a module of its own that the program loads on the first
// print, so that it starts without the print support libraries.

#include <QString>
#include <functional>

class QPagedPaintDevice;
class QPrinter;
class QWidget;

namespace vardelio {

// What the program asks of the print module: the module knows printers, not sheets.
struct TPrintCall {
  QWidget* parent = nullptr;
  QString title;                                  // the print dialog's
  QString docName;                                // the print job's
  std::function<void(QPagedPaintDevice&)> paint;  // on a page set to A4 portrait
  std::function<void(const QString&)> writePdf;   // when the dialog chose a PDF file
};

// Asks for the printer (or a PDF file) and prints; false when the operator cancels.
bool PrintThroughDialog(const TPrintCall& call);
// Prints on a printer already chosen: the page is the sheet's, margins and all.
void PrintOn(QPrinter& printer, const TPrintCall& call);

// The module's entry, found by this name.
inline constexpr char kPrintEntry[] = "vardelio_print";
using TPrintEntry = bool (*)(const TPrintCall&);

}  // namespace vardelio
