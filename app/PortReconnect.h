#pragma once
// Closes the window's port when its adapter goes and reopens it when the same one returns,
// when the operator has turned that on; off, the port stays as the window left it.

#include <QObject>
#include <QPointer>
#include <QString>
#include <string>

class QAction;
class QMenu;

namespace vardelio {

class TCustomComPort;
class TDeviceWatch;
class TPortStatus;

class TPortReconnect : public QObject {
  Q_OBJECT
 public:
  // Adds its check item to `menu`; the choice is read from and kept in `settingsFile`.
  TPortReconnect(TCustomComPort* port, TPortStatus* status, QMenu* menu, std::string settingsFile);
  ~TPortReconnect() override;

  bool Enabled() const { return watch_ != nullptr; }
  // Kept in the settings file at once; a file that cannot be written is said in a box.
  void SetEnabled(bool on);
  // The port's name or settings may have changed (after the setup dialog).
  void Follow();
  QAction* Action() const { return action_; }

 private:
  // A device folder changed, or the line hung up: close a port whose adapter has gone, open
  // one whose adapter is back.
  void Check();
  bool Present() const;
  bool SameAdapter() const;
  void Away();
  void Reopen();

  QPointer<TCustomComPort> port_;
  TPortStatus* status_;
  QAction* action_;
  std::string settingsFile_;
  TDeviceWatch* watch_ = nullptr;
  std::string watchedPort_;
  QString serial_;  // the adapter's serial number when last opened: another is not opened
};

inline constexpr char kReconnectSection[] = "Options";
inline constexpr char kReconnectKey[] = "ReconnectPort";

}  // namespace vardelio
