#pragma once
// The status bar's account of the window's port: which adapter, its settings and its state.

#include <QObject>
#include <QPointer>
#include <QString>
#include <exception>
#include <functional>

#include "serial/ComLink.h"

class QLabel;
class QStatusBar;

namespace vardelio {

class TCustomComPort;

// "9600 8N1": speed, data bits, parity letter, stop bits.
QString SettingsSummary(const TCustomComPort& port);
// A few words for a system code in the state ("el puerto no existe").
QString StateWordsForCode(int systemCode);

class TPortStatus : public QObject {
  Q_OBJECT
 public:
  TPortStatus(TCustomComPort* port, QStatusBar* bar);
  ~TPortStatus() override;

  // An open that failed: the state names its cause until the port opens.
  void NoteFailure(const std::exception& error);
  // The adapter has gone (or is back) while the port is closed on purpose.
  void SetAway(bool away);
  // Settings or identity may have changed (after the setup dialog, a plug or an unplug).
  void Refresh();
  // "ttyUSB0 — FT232R USB UART (A1B2C3) · 9600 8N1 · abierto"
  QString Text() const;
  QString State() const;
  // The line has hung up (the adapter was pulled out) since it was last opened.
  bool LineGone() const { return lineGone_; }

  // Called after the line has hung up, once the status shows it.
  std::function<void()> OnLineGone;

 private:
  void LineErrors(QObject* sender, TComErrors errors);

  QPointer<TCustomComPort> port_;
  QLabel* label_ = nullptr;
  TComLink link_;
  TComErrorEvent previousOnError_;
  QString failure_;
  bool lineGone_ = false;
  bool away_ = false;
};

}  // namespace vardelio
