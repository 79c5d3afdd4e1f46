#include "ComSelect.h"

#include <QComboBox>

#include "PortIdentity.h"
#include "PortList.h"
#include "SettingsText.h"
#include "serial/ComPort.h"

namespace vardelio {
namespace {

// The texts of an enumeration with `count` values, in their order.
template <typename E>
QStringList TextsOf(int count, std::string (*text)(E)) {
  QStringList texts;
  for (int i = 0; i < count; ++i)
    texts << QString::fromStdString(text(E(i)));
  return texts;
}

QStringList ListFor(TComProperty kind) {
  switch (kind) {
    case cpPort:  // entries of their own, with what the adapter is
      break;
    case cpBaudRate:
      return TextsOf<TBaudRate>(br256000 + 1, BaudRateText);
    case cpDataBits:
      return TextsOf<TDataBits>(dbEight + 1, DataBitsText);
    case cpStopBits:
      return TextsOf<TStopBits>(sbTwoStopBits + 1, StopBitsText);
    case cpParity:
      return TextsOf<TParityBits>(prSpace + 1, ParityText);
    case cpFlowControl:
      return TextsOf<TFlowControl>(fcCustom + 1, FlowControlText);
    case cpNone:
      break;
  }
  return {};
}

}  // namespace

void TComSelect::FillList(TComProperty kind) {
  items_->clear();
  if (kind == cpPort) {
    QStringList names;
    ListSerialPorts(names);
    SetPortEntries(names);
    return;
  }
  items_->addItems(ListFor(kind));
}

void TComSelect::SetPortEntries(const QStringList& names) {
  items_->clear();
  for (const QString& name : names)
    items_->addItem(PortWithDescription(ReadDeviceIdentity(name)), name);
}

QString TComSelect::EntryValue(int index) const {
  const QVariant name = items_->itemData(index);
  return name.isValid() ? name.toString() : items_->itemText(index);
}

int TComSelect::FindValue(const QString& text) const {
  for (int i = 0; i < items_->count(); ++i)
    if (EntryValue(i).compare(text, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

void TComSelect::TakeText(const QString& text) {
  const std::string value = text.toStdString();
  switch (kind_) {
    case cpPort:
      portName_ = value;
      break;
    case cpBaudRate:
      baudRate_ = ParseBaudRate(value);
      break;
    case cpDataBits:
      dataBits_ = ParseDataBits(value);
      break;
    case cpStopBits:
      stopBits_ = ParseStopBits(value);
      break;
    case cpParity:
      parity_ = ParseParity(value);
      break;
    case cpFlowControl:
      flowControl_ = ParseFlowControl(value);
      break;
    case cpNone:
      break;
  }
  if (autoApply_) ApplyToPort();
}

void TComSelect::ApplyToPort() {
  if (port_ == nullptr) return;
  switch (kind_) {
    case cpPort:
      // A port that is not in the list was never picked: its name stays as it is.
      if (!portName_.empty()) port_->SetPort(portName_);
      break;
    case cpBaudRate:
      port_->SetBaudRate(baudRate_);
      break;
    case cpDataBits:
      port_->SetDataBits(dataBits_);
      break;
    case cpStopBits:
      port_->SetStopBits(stopBits_);
      break;
    case cpParity:
      port_->Parity().SetBits(parity_);
      break;
    case cpFlowControl:
      port_->FlowControl().SetFlowControl(flowControl_);
      break;
    case cpNone:
      break;
  }
}

std::string TComSelect::PortValueText() const {
  switch (kind_) {
    case cpPort:
      return port_->Port();
    case cpBaudRate:
      return BaudRateText(port_->BaudRate());
    case cpDataBits:
      return DataBitsText(port_->DataBits());
    case cpStopBits:
      return StopBitsText(port_->StopBits());
    case cpParity:
      return ParityText(port_->Parity().Bits());
    case cpFlowControl:
      return FlowControlText(port_->FlowControl().FlowControl());
    case cpNone:
      break;
  }
  return {};
}

int TComSelect::ReadFromPort() {
  if (port_ == nullptr) return -1;
  const QString value = QString::fromStdString(PortValueText());
  const int index = FindValue(value);  // whole text, any case
  if (index >= 0) {
    const bool autoApply = std::exchange(autoApply_, false);  // reading applies nothing
    TakeText(EntryValue(index));
    autoApply_ = autoApply;
  }
  return index;
}

}  // namespace vardelio
