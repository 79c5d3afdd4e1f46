#include "ComPort.h"

#include <QScopeGuard>

#include "ComThread.h"

#include "framework/Dialogs.h"

namespace vardelio {

TCustomComPort::TCustomComPort(QObject* owner, IComPlatform* platform)
    : TComponent(owner), platform_(platform != nullptr ? platform : &SystemComPlatform()) {
  parity_ = std::make_unique<TComParity>(this);
  flowControl_ = std::make_unique<TComFlowControl>(this);
  timeouts_ = std::make_unique<TComTimeouts>(this);
  buffer_ = std::make_unique<TComBuffer>(this);
}

TCustomComPort::~TCustomComPort() {
  // Destroyed by one of its own handlers: what called that handler stops where it is, on
  // this thread and on an event thread still running one.
  TPortAlive::PortDestroyed(this);
  life_->Destroyed();
  const TPortLife::TScope notices(this, nullptr, 0, nullptr);  // its close's, not a batch's
  destroying_ = true;
  if (notifyWindow_) notifyWindow_->Detach();  // its thread may still be sending
  // A destructor cannot report; whatever closing raises, the line is not leaked.
  try {
    if (closing_) {
      // Destroyed by a handler that its own close ran: that close stops where it is, and the
      // rest of it is done here.
      ReleaseLineQuietly();
      ProcessAfterClose();
    } else {
      ClosePort();
    }
  } catch (const std::exception&) {
    ReleaseLineQuietly();
  }
  buffer_.reset();
  flowControl_.reset();
  timeouts_.reset();
  parity_.reset();
}

[[noreturn]] void TCustomComPort::RaiseSystemError(int portErrorCode) const {
  throw EComPort(portErrorCode, platform_->LastError());
}

// --- settings

template <typename T>
void TCustomComPort::ChangeDeviceSetting(T& field, T value) {
  if (field == value) return;
  field = value;
  ApplyDeviceControl();
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
  ChangeDeviceSetting(baudRate_, value);
}
void TCustomComPort::SetCustomBaudRate(std::int32_t value) {
  ChangeDeviceSetting(customBaudRate_, value);
}
void TCustomComPort::SetStopBits(TStopBits value) {
  ChangeDeviceSetting(stopBits_, value);
}
void TCustomComPort::SetDataBits(TDataBits value) {
  ChangeDeviceSetting(dataBits_, value);
}
void TCustomComPort::SetDiscardNull(bool value) {
  ChangeDeviceSetting(discardNull_, value);
}
void TCustomComPort::SetEventChar(char value) {
  ChangeDeviceSetting(eventChar_, value);
}

void TCustomComPort::SetPort(const std::string& value) {
  if (port_ == value) return;
  port_ = value;
  if (connected_ && !Loading()) {
    ClosePort();
    OpenPort();
  }
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (syncMethod_ == value) return;
  if (connected_ && !Loading()) throw EComPort(14);
  syncMethod_ = value;
}

void TCustomComPort::SetParity(const TComParity& value) {
  parity_->Assign(value);
  ApplyDeviceControl();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
  flowControl_->Assign(value);
  ApplyDeviceControl();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
  timeouts_->Assign(value);
  ApplyTimeoutSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer& value) {
  buffer_->Assign(value);
  ApplyBufferSizes();
}

void TCustomComPort::EndBatch() {
  if (batchDepth_ <= 0) return;
  if (--batchDepth_ == 0) ApplyAllSettings();
}

void TCustomComPort::ApplyDeviceControl() {
  if (!MayApply()) return;
  if (!platform_->SetCommState(lineHandle_, BuildDeviceControl(*this))) RaiseSystemError(7);
}

void TCustomComPort::ApplyTimeoutSettings() {
  if (!MayApply()) return;
  if (!platform_->SetCommTimeouts(lineHandle_, BuildCommTimeouts(*timeouts_))) {
    RaiseSystemError(8);
  }
}

void TCustomComPort::ApplyBufferSizes() {
  if (!MayApply()) return;
  if (!platform_->SetupComm(lineHandle_, std::uint32_t(buffer_->InputSize()),
                            std::uint32_t(buffer_->OutputSize()))) {
    RaiseSystemError(9);
  }
}

void TCustomComPort::ApplyAllSettings() {
  ApplyBufferSizes();
  ApplyDeviceControl();
  ApplyTimeoutSettings();
}

// --- connection

void TCustomComPort::SetConnected(bool value) {
  if (Loading()) {
    connected_ = value;  // opened by AfterLoad
    return;
  }
  if (value == connected_) return;
  value ? OpenPort() : ClosePort();
}

void TCustomComPort::AfterLoad() {
  if (!connected_) return;
  connected_ = false;
  // A port that cannot open must not stop the form that holds it from loading.
  RunReported([this] { OpenPort(); });
}

void TCustomComPort::AcquireLine() {
  lineHandle_ = platform_->OpenLine(port_);
  if (lineHandle_ == kInvalidLineHandle) RaiseSystemError(1);
}

void TCustomComPort::ReleaseLine() {
  if (lineHandle_ == kInvalidLineHandle) return;
  platform_->CloseLine(lineHandle_);
  lineHandle_ = kInvalidLineHandle;
}

void TCustomComPort::ReleaseLineQuietly() noexcept {
  try {
    StopEventThread();
    ReleaseLine();
  } catch (...) {
    lineHandle_ = kInvalidLineHandle;
  }
  eventThreadActive_ = false;
  connected_ = false;
}

void TCustomComPort::OpenPort() {
  if (connected_) return;
  ReapRetiredComThreads();
  // A thread of an earlier open may still be running a handler; the new thread waits for it
  // before it delivers, so nothing here waits for it (it may be waiting for us).
  const TPortLife::TScope notices(this, nullptr, 0, nullptr);
  const TPortAlive alive(this);
  life_->BeginOpen();
  bool ready = false;
  const auto failed = qScopeGuard([&] {
    if (!ready && !alive.Gone()) life_->OpenFailed();
  });
  ProcessBeforeOpen();
  if (alive.Gone()) return;
  AcquireLine();
  connected_ = true;
  heldErrors_ = 0;  // an earlier line's
  try {
    ApplyAllSettings();
  } catch (...) {
    ReleaseLine();
    connected_ = false;
    throw;
  }
  life_->Delivering();
  eventThreadActive_ = !events_.Empty();
  if (eventThreadActive_) {
    try {
      StartEventThread();
    } catch (...) {
      StopEventThread();
      eventThreadActive_ = false;
      ReleaseLine();
      connected_ = false;
      throw;
    }
  }
  ready = true;
  ProcessAfterOpen();
}

void TCustomComPort::ClosePort() {
  // While the close waits for the event thread it serves the thread's batch, whose handlers may
  // close or reopen the port: the close under way goes on, and the port ends closed.
  if (!connected_ || closing_) return;
  const TPortLife::TScope notices(this, nullptr, 0, nullptr);
  const TPortAlive alive(this);
  closing_ = true;
  life_->BeginClose();  // the batch its thread took is still served while the close waits
  {
    const auto closed = qScopeGuard([&] {
      if (alive.Gone()) return;
      closing_ = false;
      connected_ ? life_->CloseFailed() : life_->EndClose();
    });
    ProcessBeforeClose();
    if (alive.Gone()) return;
    CancelPendingIo();
    if (eventThreadActive_) {
      StopEventThread();
      if (alive.Gone()) return;
      eventThreadActive_ = false;
    }
    ReleaseLine();
    connected_ = false;
  }
  ProcessAfterClose();
}

}  // namespace vardelio
