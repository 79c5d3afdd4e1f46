#include "ComComboBox.h"

#include "framework/Dialogs.h"
#include "serial/ComPort.h"

namespace vardelio {

TComComboBox::TComComboBox(QWidget* parent)
    : QComboBox(parent), select_(std::make_unique<TComSelect>(this)) {
  setEditable(false);  // a drop-down list: the user picks, never types
  connect(this, &QComboBox::activated, this, &TComComboBox::Picked);
}

TComComboBox::~TComComboBox() {
  disconnect(portGone_);
}

void TComComboBox::SetComPort(TCustomComPort* port) {
  if (port == select_->Port()) return;
  disconnect(portGone_);
  select_->SetPort(port);
  if (port == nullptr) return;
  portGone_ = connect(port, &QObject::destroyed, this, [this] {
    select_->SetPort(nullptr);
    if (count() > 0) setCurrentIndex(0);
  });
  ReadFromPort();
}

void TComComboBox::SetComProperty(TComProperty kind) {
  select_->SetKind(kind);
  select_->FillList(kind);
  if (count() == 0) return;
  if (select_->Port() == nullptr) {
    setCurrentIndex(0);
  } else {
    ReadFromPort();
  }
}

QString TComComboBox::Text() const {
  return currentIndex() >= 0 ? itemText(currentIndex()) : QString();
}

void TComComboBox::SetText(const QString& text) {
  const int index = findText(text, Qt::MatchFixedString);
  if (index >= 0) setCurrentIndex(index);
}

void TComComboBox::Picked(int index) {
  // Applying at once may fail; the error is shown and goes no further into the widget.
  RunReported([&] {
    select_->TakeText(index >= 0 ? itemText(index) : QString());
    OnChange(this);
  });
}

}  // namespace vardelio
