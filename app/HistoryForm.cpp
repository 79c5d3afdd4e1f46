#include "HistoryForm.h"

#include <sys/stat.h>

#include <QFileDialog>
#include <QHeaderView>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>

#include "framework/Ansi.h"
#include "framework/Dialogs.h"
#include "portconfig/UserFile.h"
#include "programming/Csv.h"
#include "programming/FileNames.h"
#include "programming/ProgrammingFile.h"
#include "ui_HistoryForm.h"

namespace vardelio {
namespace {

constexpr int kSubscriberColumn = 3;
constexpr int kEntryRole = Qt::UserRole + 1;

QString Operation(const std::string& word) {
  if (word == "envio") return QStringLiteral("Envío");
  if (word == "recepcion") return QStringLiteral("Recepción");
  if (word == "verificacion") return QStringLiteral("Verificación");
  if (word == "serie") return QStringLiteral("En serie");
  return QString::fromStdString(word);
}

QList<QStandardItem*> Row(const THistoryEntry& entry, int index) {
  const QStringList texts = {
      entry.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t")),
      QString::fromStdString(entry.port),
      Operation(entry.operation),
      FromAnsi(entry.subscriber),
      FromAnsi(entry.mainPhone),
      FromAnsi(entry.backupPhone),
      entry.terminalBlock ? TerminalBlockCaption(*entry.terminalBlock) : QString(),
      entry.testReport ? TestReportCaption(*entry.testReport) : QString(),
      HistoryOutcomeCaption(entry.outcome),
      ReadableFileName(FileNameFromBytes(entry.file))};
  QList<QStandardItem*> row;
  for (const QString& text : texts)
    row << new QStandardItem(text);
  // Sorted by its real time, whatever the offsets; the entry it shows goes with it.
  row.front()->setData(entry.time.toUTC(), Qt::UserRole);
  row.front()->setData(index, kEntryRole);
  return row;
}

}  // namespace

THistoryForm::THistoryForm(QWidget* parent, std::string path)
    : QDialog(parent),
      ui_(std::make_unique<Ui::THistoryForm>()),
      path_(std::move(path)),
      model_(new QStandardItemModel(this)),
      shown_(new QSortFilterProxyModel(this)) {
  ui_->setupUi(this);
  model_->setHorizontalHeaderLabels(
      {QStringLiteral("Fecha"), QStringLiteral("Puerto"), QStringLiteral("Operación"),
       fields::kSubscriber, fields::kMainPhone, fields::kBackupPhone, fields::kTerminalBlock,
       fields::kTestReport, QStringLiteral("Resultado"), QStringLiteral("Archivo")});
  shown_->setSourceModel(model_);
  shown_->setFilterKeyColumn(kSubscriberColumn);
  shown_->setFilterCaseSensitivity(Qt::CaseInsensitive);
  shown_->setSortRole(Qt::UserRole);
  ui_->Table->setModel(shown_);
  ui_->Table->horizontalHeader()->setStretchLastSection(true);
  ui_->Table->verticalHeader()->hide();
  export_ = ui_->Buttons->addButton(QStringLiteral("&Exportar..."), QDialogButtonBox::ActionRole);
  connect(export_, &QPushButton::clicked, this, [this] { RunReported([this] { ExportClick(); }); });
  connect(ui_->Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(ui_->Filter, &QLineEdit::textChanged, this, &THistoryForm::Filter);
  Reload();
}

THistoryForm::~THistoryForm() = default;

void THistoryForm::Reload() {
  model_->removeRows(0, model_->rowCount());
  try {
    entries_ = ReadHistory(path_);
  } catch (const std::exception& error) {
    entries_.clear();
    ShowMessage(QStringLiteral("No se puede leer el historial.\n\n%1")
                    .arg(QString::fromLocal8Bit(error.what())));
  }
  for (std::size_t i = 0; i < entries_.size(); ++i)
    model_->appendRow(Row(entries_[i], int(i)));
  // The latest first.
  shown_->sort(0, Qt::DescendingOrder);
  ui_->Table->resizeColumnsToContents();
  Filter(ui_->Filter->text());
}

void THistoryForm::Filter(const QString& text) {
  shown_->setFilterFixedString(text.trimmed());
  ui_->Count->setText(QStringLiteral("%1 de %2").arg(shown_->rowCount()).arg(entries_.size()));
}

std::vector<THistoryEntry> THistoryForm::Shown() const {
  std::vector<THistoryEntry> shown;
  for (int row = 0; row < shown_->rowCount(); ++row) {
    const int index = shown_->index(row, 0).data(kEntryRole).toInt();
    shown.push_back(entries_[std::size_t(index)]);
  }
  return shown;
}

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

bool THistoryForm::Export(const std::string& path) {
  // Its default name is the history's own: what the filter hides would be lost.
  if (SameFile(path, path_)) {
    ShowMessage(
        QStringLiteral("No se puede exportar el historial sobre el historial mismo.\n\n"
                       "Elija otro nombre para la copia."));
    return false;
  }
  std::string text = kHistoryHeader;
  for (const THistoryEntry& entry : Shown())
    text += HistoryLine(entry);
  try {
    UpdateUserFile(
        path, [&](const std::string&) { return text; }, kCustomerFileRules);
    return true;
  } catch (const std::exception& error) {
    ShowMessage(QStringLiteral("No se puede exportar el historial.\n\n%1")
                    .arg(QString::fromLocal8Bit(error.what())));
    return false;
  }
}

void THistoryForm::ExportClick() {
  const QString name = QFileDialog::getSaveFileName(
      this, QStringLiteral("Exportar el historial"),
      ui_->Filter->text().isEmpty() ? QStringLiteral("historial.csv")
                                    : QStringLiteral("historial-%1.csv").arg(ui_->Filter->text()),
      QStringLiteral("Planillas CSV (*.csv)"));
  if (!name.isEmpty()) Export(FileNameBytes(name));
}

}  // namespace vardelio
