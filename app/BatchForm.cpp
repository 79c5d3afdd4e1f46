#include "BatchForm.h"

#include <QHeaderView>
#include <QPushButton>

#include "framework/Ansi.h"
#include "framework/Dialogs.h"
#include "programming/History.h"
#include "ui_BatchForm.h"

namespace vardelio {
namespace {

enum TColumn { cSubscriber, cName, cResult, cTime, cMessage, kColumns };

}  // namespace

TBatchForm::TBatchForm(std::vector<TBatchItem> items, TVerifyOne verify, std::string port,
                       THistoryWriter* history, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::TBatchForm>()),
      run_(std::move(items)),
      verify_(std::move(verify)),
      port_(std::move(port)),
      history_(history) {
  ui_->setupUi(this);
  ui_->Table->setColumnCount(kColumns);
  ui_->Table->setHorizontalHeaderLabels({QStringLiteral("Abonado"), QStringLiteral("Equipo"),
                                         QStringLiteral("Resultado"), QStringLiteral("Hora"),
                                         QStringLiteral("Mensaje")});
  ui_->Table->horizontalHeader()->setStretchLastSection(true);
  ui_->Table->verticalHeader()->hide();
  ui_->Table->setRowCount(int(run_.Items().size()));
  for (std::size_t i = 0; i < run_.Items().size(); ++i)
    ShowRow(i);
  connect(ui_->Program, &QPushButton::clicked, this,
          [this] { RunReported([this] { ProgramClick(); }); });
  connect(ui_->Skip, &QPushButton::clicked, this, [this] { SkipClick(); });
  connect(ui_->Stop, &QPushButton::clicked, this, [this] { StopClick(); });
  connect(ui_->Close, &QPushButton::clicked, this, &QDialog::accept);
  ShowState();
}

TBatchForm::~TBatchForm() = default;

void TBatchForm::ShowRow(std::size_t item) {
  const TBatchItem& unit = run_.Items()[item];
  const TBatchResult& result = run_.Results()[item];
  const QString texts[kColumns] = {
      FromAnsi(unit.values.Subscriber), unit.name, BatchStateCaption(result.state),
      result.time.isValid() ? result.time.toString(QStringLiteral("HH:mm:ss")) : QString(),
      QString(result.message).replace(QLatin1Char('\n'), QLatin1Char(' '))};
  for (int column = 0; column < kColumns; ++column) {
    ui_->Table->setItem(int(item), column, new QTableWidgetItem(texts[column]));
  }
  // The whole message, where the column cuts it short.
  ui_->Table->item(int(item), cMessage)->setToolTip(result.message);
}

void TBatchForm::ShowState() {
  const auto next = run_.Next();
  ui_->Program->setEnabled(next && !busy_);
  ui_->Skip->setEnabled(next && !busy_);
  ui_->Stop->setEnabled(next && !busy_);
  ui_->Close->setEnabled(!next && !busy_);
  if (!next) {
    ui_->Next->setText(QStringLiteral("Serie terminada."));
    ui_->Program->setText(QStringLiteral("&Programar"));
    ui_->Summary->setText(run_.Summary());
    ui_->Close->setDefault(true);
    ui_->Close->setFocus();
    return;
  }
  const TBatchItem& unit = run_.Items()[*next];
  const QString who = QStringLiteral("Abonado %1 (%2, %3 de %4)")
                          .arg(FromAnsi(unit.values.Subscriber), unit.name)
                          .arg(*next + 1)
                          .arg(run_.Items().size());
  if (busy_) {
    ui_->Next->setText(QStringLiteral("Programando y verificando: %1...").arg(who));
  } else if (run_.CurrentFailed()) {
    ui_->Next->setText(
        QStringLiteral("Falló: %1. Presione Enter para reintentar, o Saltar.").arg(who));
    ui_->Program->setText(QStringLiteral("&Reintentar"));
  } else {
    ui_->Next->setText(
        QStringLiteral("Siguiente: %1. Conecte el equipo y presione Enter.").arg(who));
    ui_->Program->setText(QStringLiteral("&Programar"));
  }
  ui_->Table->selectRow(int(*next));
  ui_->Table->scrollToItem(ui_->Table->item(int(*next), 0));
  ui_->Program->setDefault(true);
  ui_->Program->setFocus();
}

void TBatchForm::ProgramClick() {
  const auto next = run_.Next();
  if (!next || busy_) return;
  const TBatchItem& unit = run_.Items()[*next];
  busy_ = true;
  ShowState();
  const auto done = [this] {
    busy_ = false;
    ShowState();
  };
  TSessionResult result;
  try {
    result = verify_(unit.values);
  } catch (...) {
    done();  // the port's error is told by the caller's report; the unit stays current
    throw;
  }
  run_.Record(result);
  if (history_ != nullptr) history_->Add(HistoryEntry(result, port_, unit.file, true));
  ShowRow(*next);
  done();
}

void TBatchForm::SkipClick() {
  if (busy_ || run_.Over()) return;
  const std::size_t item = *run_.Next();
  run_.Skip();
  ShowRow(item);
  ShowState();
}

void TBatchForm::StopClick() {
  if (busy_) return;
  const std::size_t first = run_.Next().value_or(run_.Items().size());
  run_.Stop();
  for (std::size_t i = first; i < run_.Items().size(); ++i)
    ShowRow(i);
  ShowState();
}

void TBatchForm::reject() {
  if (busy_) return;
  StopClick();
  QDialog::reject();
}

}  // namespace vardelio
