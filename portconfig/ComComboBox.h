#pragma once
// A drop-down list bound to one property of a port, as the setup dialog uses six of them.

#include <QComboBox>
#include <memory>

#include "ComSelect.h"
#include "framework/Handler.h"

namespace vardelio {

class TComComboBox : public QComboBox {
  Q_OBJECT
  Q_PROPERTY(int ComProperty READ ComPropertyValue WRITE SetComPropertyValue)
  Q_PROPERTY(bool AutoApply READ AutoApply WRITE SetAutoApply)
  Q_PROPERTY(QString Text READ Text WRITE SetText STORED false)

 public:
  explicit TComComboBox(QWidget* parent = nullptr);
  ~TComComboBox() override;

  TCustomComPort* ComPort() const { return select_->Port(); }
  // Binds the port (or none) and shows its present value; unbinds itself when it goes.
  void SetComPort(TCustomComPort* port);
  TComProperty ComProperty() const { return select_->Kind(); }
  // Fills the list for the kind and selects the port's value, or the first entry.
  void SetComProperty(TComProperty kind);
  bool AutoApply() const { return select_->AutoApply(); }
  void SetAutoApply(bool value) { select_->SetAutoApply(value); }

  // The selected entry's text, empty when none is selected.
  QString Text() const;
  // Selects the entry with that text, in any letter case; nothing when none has it.
  void SetText(const QString& text);

  // An editable port box takes a typed name or path (not in the list) as the operator's pick.
  void ApplyToPort();
  // An editable port box shows a name it does not list as typed text.
  void ReadFromPort();
  // The port box's entries again (after a plug or an unplug), keeping what is picked or typed.
  void SetPortEntries(const QStringList& names);

  // After the user has picked an entry and its value was taken.
  TNotifyEvent OnChange;

 private:
  int ComPropertyValue() const { return ComProperty(); }
  void SetComPropertyValue(int kind) { SetComProperty(TComProperty(kind)); }
  void Picked(int index);

  std::unique_ptr<TComSelect> select_;
  QMetaObject::Connection portGone_;
};

}  // namespace vardelio
