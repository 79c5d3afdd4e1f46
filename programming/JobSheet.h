#pragma once
// The job sheet of a programming: one A4 page in Spanish for the customer's file and the
// monitoring station, printed or written as a PDF whose text can be selected.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>
#include <string>

#include "PanelFrames.h"

class QPagedPaintDevice;
class QPainter;

namespace vardelio {

struct TJobSheet {
  TPanelProgramming values;
  QString file;                       // shown readably; empty when none
  QDateTime date;                     // when the sheet was made
  std::optional<QDateTime> verified;  // the latest verification of these values, if any
};

// The sheet of these values today, with their last verification from the history (none when
// the history cannot be read).
TJobSheet MakeJobSheet(const TPanelProgramming& values, const QString& file,
                       const std::string& historyPath);

// Paints the sheet on a page of `device` (a PDF writer or a printer), set to A4 portrait.
void PaintJobSheet(QPagedPaintDevice& device, const TJobSheet& sheet);
// The sheet as a one-page PDF document.
QByteArray JobSheetPdf(const TJobSheet& sheet);
// Writes it with the settings file's care, over nothing but an older PDF; raises EProfileError
// when it cannot.
void WriteJobSheetPdf(const std::string& path, const TJobSheet& sheet);

}  // namespace vardelio
