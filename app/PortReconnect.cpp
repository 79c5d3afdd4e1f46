#include "PortReconnect.h"

#include <unistd.h>

#include <QAction>
#include <QMenu>
#include <QTimer>
#include <filesystem>

#include "PortStatus.h"
#include "framework/Dialogs.h"
#include "portconfig/DeviceWatch.h"
#include "portconfig/PortIdentity.h"
#include "portconfig/ProfileFile.h"
#include "portconfig/SettingsText.h"
#include "serial/ComPort.h"
#include "serial/platform/PortName.h"

namespace vardelio {
namespace {

bool StoredChoice(const std::string& file) {
  try {
    return ParseYesNo(ReadProfileString(file, kReconnectSection, kReconnectKey, "No"));
  } catch (const std::exception&) {
    return false;  // the port's own settings say what is wrong with the file
  }
}

}  // namespace

TPortReconnect::TPortReconnect(TCustomComPort* port, TPortStatus* status, QMenu* menu,
                               std::string settingsFile)
    : port_(port), status_(status), settingsFile_(std::move(settingsFile)) {
  action_ = menu->addAction(QStringLiteral("&Reconectar el puerto automáticamente"));
  action_->setObjectName(QStringLiteral("ReconectarPuerto1"));
  action_->setCheckable(true);
  action_->setChecked(StoredChoice(settingsFile_));
  connect(action_, &QAction::toggled, this, [this](bool on) { SetEnabled(on); });
  // The hang-up reaches the status inside the port's event handling: acted on after it.
  status_->OnLineGone = [this] { QTimer::singleShot(0, this, [this] { Check(); }); };
  Follow();
}

TPortReconnect::~TPortReconnect() {
  status_->OnLineGone = nullptr;
}

void TPortReconnect::SetEnabled(bool on) {
  if (action_->isChecked() != on) action_->setChecked(on);  // comes back here once
  RunReported([&] {
    if (StoredChoice(settingsFile_) != on)
      WriteProfileString(settingsFile_, kReconnectSection, kReconnectKey, YesNoText(on));
  });
  Follow();
}

void TPortReconnect::Follow() {
  const bool on = action_->isChecked();
  if (port_ == nullptr || !on) {
    delete std::exchange(watch_, nullptr);
    status_->SetAway(false);
    return;
  }
  if (port_->Connected() && !status_->LineGone()) serial_ = ReadPortIdentity(port_->Port()).serial;
  if (watch_ == nullptr || watchedPort_ != port_->Port()) {
    delete watch_;
    watch_ = new TDeviceWatch(this);
    watchedPort_ = port_->Port();
    watch_->Watch(DevFolder());
    // Links (by-id, the simulated unit's) come and go in their own folder.
    const std::filesystem::path path = DevicePathForPort(watchedPort_);
    if (path.parent_path() != DevFolder()) watch_->Watch(path.parent_path().string());
    connect(watch_, &TDeviceWatch::Changed, this, &TPortReconnect::Check);
  }
  Check();
}

bool TPortReconnect::Present() const {
  return access(DevicePathForPort(port_->Port()).c_str(), F_OK) == 0;
}

// With no serial number to tell adapters apart, the name alone decides.
bool TPortReconnect::SameAdapter() const {
  return serial_.isEmpty() || ReadPortIdentity(port_->Port()).serial == serial_;
}

void TPortReconnect::Check() {
  if (port_ == nullptr || watch_ == nullptr) return;
  if (port_->Connected()) {
    if (!Present() || status_->LineGone()) Away();
    return;
  }
  if (Present() && SameAdapter()) {
    Reopen();
  } else {
    status_->SetAway(true);
  }
}

void TPortReconnect::Away() {
  try {
    port_->ClosePort();
  } catch (const std::exception&) {
    // The line is gone; what is left of it goes when the port next opens or closes.
  }
  status_->SetAway(true);
}

// Quietly: right after the node appears it may still be root's until udev hands it to
// dialout; the permission change wakes us again.
void TPortReconnect::Reopen() {
  status_->SetAway(false);
  try {
    port_->OpenPort();
  } catch (const std::exception& error) {
    status_->NoteFailure(error);
  }
}

}  // namespace vardelio
