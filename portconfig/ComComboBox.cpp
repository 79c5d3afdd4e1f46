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
  return currentIndex() >= 0 ? select_->EntryValue(currentIndex()) : QString();
}

void TComComboBox::SetText(const QString& text) {
  const int index = select_->FindValue(text);
  if (index >= 0) setCurrentIndex(index);
}

// What is in the edit line when it is not the picked entry's own text.
static QString TypedText(const QComboBox& box) {
  if (!box.isEditable()) return {};
  const QString typed = box.currentText().trimmed();
  const int index = box.currentIndex();
  return index >= 0 && box.itemText(index) == box.currentText() ? QString() : typed;
}

// An editable port box: what it shows is the pick, an entry's name or the text typed.
void TComComboBox::ApplyToPort() {
  if (ComProperty() == cpPort && isEditable()) {
    const QString typed = TypedText(*this);
    const int listed = typed.isEmpty() ? currentIndex() : select_->FindValue(typed);
    const QString value = listed >= 0 ? select_->EntryValue(listed) : typed;
    if (!value.isEmpty()) select_->TakeText(value);
  }
  select_->ApplyToPort();
}

void TComComboBox::ReadFromPort() {
  const int index = select_->ReadFromPort();
  setCurrentIndex(index);
  if (index < 0 && isEditable() && ComPort() != nullptr)
    setEditText(QString::fromStdString(ComPort()->Port()));
}

void TComComboBox::SetPortEntries(const QStringList& names) {
  const QString typed = TypedText(*this);
  const QString wanted = typed.isEmpty() ? Text() : typed;
  select_->SetPortEntries(names);
  const int index = wanted.isEmpty() ? -1 : select_->FindValue(wanted);
  setCurrentIndex(index);
  if (index < 0 && !wanted.isEmpty()) setEditText(wanted);
}

void TComComboBox::Picked(int index) {
  // Applying at once may fail; the error is shown and goes no further into the widget.
  RunReported([&] {
    select_->TakeText(index >= 0 ? select_->EntryValue(index) : QString());
    OnChange(this);
  });
}

}  // namespace vardelio
