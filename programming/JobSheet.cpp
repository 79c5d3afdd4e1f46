#include "JobSheet.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <array>

#include "History.h"
#include "JpegImage.h"
#include "ProgrammingFile.h"
#include "framework/Ansi.h"
#include "portconfig/UserFile.h"

namespace vardelio {
namespace {

// The page is laid out in millimetres.
constexpr double kLeft = 20, kWidth = 170, kLine = 8;
constexpr std::array<const char*, 3> kTerminalBlockIcons = {":/art/shield.jpg", ":/art/cross.jpg",
                                                            ":/art/flame.jpg"};

QString Date(const QDateTime& time) {
  return time.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}

class TSheetPainter {
 public:
  TSheetPainter(QPainter& painter, double dotsPerMm) : p_(painter), mm_(dotsPerMm) {}

  QRectF Box(double x, double y, double w, double h) const {
    return {x * mm_, y * mm_, w * mm_, h * mm_};
  }
  void Font(double points, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(points);
    font.setBold(bold);
    // A ligature ("fi") would be extracted as one odd character instead of two letters.
    font.setStyleStrategy(QFont::PreferNoShaping);
    p_.setFont(font);
  }
  void Text(double x, double y, double w, const QString& text, int flags = Qt::AlignLeft) {
    p_.drawText(Box(x, y, w, kLine), flags | Qt::AlignVCenter, text);
  }
  void Rule(double y) {
    p_.drawLine(Box(kLeft, y, kWidth, 0).topLeft(), Box(kLeft, y, kWidth, 0).topRight());
  }
  // A field's name and its value, as the window's entries show them.
  void Field(double y, const QString& name, const QString& value) {
    Font(11);
    Text(kLeft, y, 60, name + QLatin1Char(':'));
    p_.drawRect(Box(kLeft + 62, y + 0.5, 90, kLine - 1));
    Font(11, true);
    Text(kLeft + 64, y, 86, value.isEmpty() ? QStringLiteral("(sin número)") : value);
  }
  // A radio button: a ring, filled when chosen.
  void Choice(double x, double y, const QString& caption, bool chosen) {
    const QRectF ring = Box(x, y + 2, 4, 4);
    p_.setBrush(Qt::NoBrush);
    p_.drawEllipse(ring);
    if (chosen) {
      p_.setBrush(Qt::black);
      p_.drawEllipse(ring.adjusted(mm_, mm_, -mm_, -mm_));
      p_.setBrush(Qt::NoBrush);
    }
    Font(11, chosen);
    Text(x + 6, y, 60, caption);
  }
  void Picture(double x, double y, double side, const QString& resource) {
    const QImage image = LoadJpeg(resource);
    if (!image.isNull()) p_.drawImage(Box(x, y, side, side), image);
  }

 private:
  QPainter& p_;
  double mm_;
};

}  // namespace

void PaintJobSheet(QPagedPaintDevice& device, const TJobSheet& sheet) {
  device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                   QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
  QPainter painter(&device);
  const double mm = device.logicalDpiX() / 25.4;
  TSheetPainter s(painter, mm);
  const TPanelProgramming& v = sheet.values;

  s.Picture(kLeft, 15, 18, QStringLiteral(":/art/logo.jpg"));
  s.Font(18, true);
  s.Text(kLeft + 24, 16, 140, QStringLiteral("Hoja de programación Vardelio"));
  s.Font(11);
  s.Text(kLeft + 24, 25, 140,
         QStringLiteral("Abonado %1 · %2").arg(FromAnsi(v.Subscriber), Date(sheet.date)));
  s.Rule(38);

  double y = 44;
  s.Field(y, fields::kSubscriber, FromAnsi(v.Subscriber));
  s.Field(y += 11, fields::kMainPhone, FromAnsi(v.MainPhone));
  s.Field(y += 11, fields::kBackupPhone, FromAnsi(v.BackupPhone));
  s.Font(9);
  s.Text(kLeft, y += 10, kWidth,
         QStringLiteral("Una ',' en un teléfono es una pausa de discado de 2 segundos y medio."));

  s.Font(12, true);
  s.Text(kLeft, y += 12, 80, fields::kTerminalBlock + QLatin1Char(':'));
  s.Text(kLeft + 90, y, 80, fields::kTestReport + QLatin1Char(':'));
  const double groups = y + 10;
  for (std::size_t i = 0; i < kTerminalBlockIcons.size(); ++i) {
    const double row = groups + double(i) * 14;
    s.Choice(kLeft + 2, row + 2, TerminalBlockCaption(TTerminalBlock(i)),
             v.TerminalBlock == TTerminalBlock(i));
    s.Picture(kLeft + 50, row, 12, QString::fromUtf8(kTerminalBlockIcons[i]));
  }
  for (int i = 0; i < 4; ++i) {
    s.Choice(kLeft + 92, groups + 2 + i * 10.5, TestReportCaption(TTestReport(i)),
             v.TestReport == TTestReport(i));
  }

  y = groups + 48;
  s.Rule(y);
  s.Font(12, true);
  s.Text(kLeft, y += 4, kWidth, QStringLiteral("Verificación"));
  s.Font(11);
  s.Text(kLeft, y += kLine, kWidth,
         sheet.verified
             ? QStringLiteral("Verificada en el equipo el %1 (según el historial).")
                   .arg(Date(*sheet.verified))
             : QStringLiteral("Sin verificación registrada en el historial para estos valores."));
  if (!sheet.file.isEmpty()) {
    s.Text(kLeft, y += kLine, kWidth, QStringLiteral("Archivo: %1").arg(sheet.file));
  }
  s.Text(kLeft, y += kLine, kWidth, QStringLiteral("Fecha de la hoja: %1").arg(Date(sheet.date)));

  y += 30;
  s.Rule(y);
  s.Font(11);
  s.Text(kLeft, y + 2, 80, QStringLiteral("Firma del instalador"));
  s.Text(kLeft + 90, y + 2, 80, QStringLiteral("Aclaración y fecha"));
}

TJobSheet MakeJobSheet(const TPanelProgramming& values, const QString& file,
                       const std::string& historyPath) {
  TJobSheet sheet{values, file, QDateTime::currentDateTime(), std::nullopt};
  try {
    sheet.verified = LastVerified(ReadHistory(historyPath), values);
  } catch (const std::exception&) {
    // A sheet without the verification is still a sheet; it says none is recorded.
  }
  return sheet;
}

QByteArray JobSheetPdf(const TJobSheet& sheet) {
  QByteArray pdf;
  QBuffer buffer(&pdf);
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setTitle(
        QStringLiteral("Hoja de programación Vardelio %1").arg(FromAnsi(sheet.values.Subscriber)));
    writer.setCreator(QStringLiteral("Vardelio"));
    writer.setResolution(300);
    PaintJobSheet(writer, sheet);
  }  // the writer ends the document as it goes
  return pdf;
}

void WriteJobSheetPdf(const std::string& path, const TJobSheet& sheet) {
  const QByteArray pdf = JobSheetPdf(sheet);
  // Checked under the save's lock: a programming file given as OUT by mistake stays as it was.
  const auto replace = [&](const std::string& old) {
    if (!old.empty() && !old.starts_with("%PDF-")) {
      throw EProfileError(path + ": no es un PDF; la hoja no se escribe sobre él");
    }
    return pdf.toStdString();
  };
  UpdateUserFile(path, replace, kCustomerFileRules);
}

}  // namespace vardelio
