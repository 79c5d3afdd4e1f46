#pragma once
// Binds one setup-dialog list to one property of a port: fills the list, keeps the value
// picked until it is applied, and finds the port's present value in the list.

#include <QString>
#include <QStringList>
#include <string>

#include "serial/ComTypes.h"

class QComboBox;

namespace vardelio {

class TCustomComPort;

enum TComProperty : std::uint8_t {
  cpNone,
  cpPort,
  cpBaudRate,
  cpDataBits,
  cpStopBits,
  cpParity,
  cpFlowControl
};

class TComSelect {
 public:
  // `items` is the list box whose entries this fills and reads; not owned.
  explicit TComSelect(QComboBox* items) : items_(items) {}

  // Replaces the entries with the texts of the kind; the port list may raise "Registry error".
  void FillList(TComProperty kind);
  // The pending value of the kind, from an entry's text (the name as it is, the other kinds
  // through their text forms); applied at once with AutoApply.
  void TakeText(const QString& text);
  // Assigns the pending value through the port's setter; a port name never picked stays.
  void ApplyToPort();
  // The index of the entry showing the port's present value, -1 when none does; a found
  // entry becomes the pending value.
  int ReadFromPort();

  // The value an entry stands for: a port's name (its entry also describes the adapter),
  // or the entry's text.
  QString EntryValue(int index) const;
  // The first entry whose value is the text in any letter case, -1 when none is.
  int FindValue(const QString& text) const;
  // Replaces the port entries with these names, each described as sysfs tells.
  void SetPortEntries(const QStringList& names);

  TComProperty Kind() const { return kind_; }
  void SetKind(TComProperty kind) { kind_ = kind; }
  TCustomComPort* Port() const { return port_; }
  void SetPort(TCustomComPort* port) { port_ = port; }
  bool AutoApply() const { return autoApply_; }
  void SetAutoApply(bool value) { autoApply_ = value; }

 private:
  std::string PortValueText() const;

  // Pending values, zeroed until something is picked or read.
  std::string portName_;
  TBaudRate baudRate_ = brCustom;
  TDataBits dataBits_ = dbFive;
  TStopBits stopBits_ = sbOneStopBit;
  TParityBits parity_ = prNone;
  TFlowControl flowControl_ = fcHardware;

  QComboBox* items_;
  TComProperty kind_ = cpNone;
  TCustomComPort* port_ = nullptr;
  bool autoApply_ = false;
};

}  // namespace vardelio
