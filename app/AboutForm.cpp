#include "AboutForm.h"

#include <QKeyEvent>

#include "programming/JpegImage.h"
#include "ui_AboutForm.h"

namespace vardelio {

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TAboutForm>()) {
  ui_->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(size());
  for (QLabel* label : {ui_->ProductName, ui_->Version, ui_->Label2, ui_->Label1}) {
    label->adjustSize();  // these labels size themselves to their text
  }
  ShowPicture(ui_->ProgramIcon, QStringLiteral(":/art/emblem.jpg"));
}

TAboutForm::~TAboutForm() = default;

void TAboutForm::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) return;
  QDialog::keyPressEvent(event);
}

}  // namespace vardelio
