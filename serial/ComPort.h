#pragma once
// The serial port component: its settings, opening and closing the line, and moving bytes.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ComError.h"
#include "ComLink.h"
#include "ComSettings.h"
#include "ComTypes.h"
#include "PortLife.h"
#include "framework/Component.h"
#include "framework/HandOver.h"
#include "platform/ComPlatform.h"

namespace vardelio {

// One read or write in flight; owned by the caller through a TIoRequestRef.
struct TIoRequest {
  TOverlapped Overlapped;
  TIoKind Kind = ioWrite;
  std::unique_ptr<char[]> Data;  // copy of the bytes of a write
  std::int32_t Size = 0;
};
using TIoRequestRef = std::unique_ptr<TIoRequest>;

void NewIoRequest(TIoRequestRef& request);
void FreeIoRequest(TIoRequestRef& request);

class TComThread;
class TPortNotifyWindow;

// Priority of the event thread, as the seven levels of the platform.
enum TThreadPriority : std::uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

class TCustomComPort;

// Marks a stretch of a port's processing on this thread that calls handlers or links: a
// handler may destroy the port, after which the stretch must not touch it again; inside a
// delivery, a close or reopen since the batch was taken ends the stretch as well.
class TPortAlive {
 public:
  // `port` may be any object that a handler may destroy and that tells TPortAlive when it goes.
  explicit TPortAlive(const void* port)
      : port_(port), outer_(innermost_), batch_(TPortLife::TScope::Innermost()) {
    innermost_ = this;
  }
  ~TPortAlive() { innermost_ = outer_; }
  TPortAlive(const TPortAlive&) = delete;
  TPortAlive& operator=(const TPortAlive&) = delete;
  bool Gone() const { return gone_ || (batch_ != nullptr && batch_->Stale(port_)); }
  // From the port's destructor: every stretch of this thread that runs for it is told.
  static void PortDestroyed(const void* port);

 private:
  static thread_local TPortAlive* innermost_;
  const void* const port_;
  TPortAlive* const outer_;
  const TPortLife::TScope* const batch_;
  bool gone_ = false;
};

class TCustomComPort : public TComponent {
  Q_OBJECT
  friend class TComThread;

 public:
  // `platform` is the operating system's unless a test gives its own.
  explicit TCustomComPort(QObject* owner = nullptr, IComPlatform* platform = nullptr);
  ~TCustomComPort() override;

  // --- settings
  bool Connected() const { return connected_; }
  void SetConnected(bool value);
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  std::int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(std::int32_t value);
  const std::string& Port() const { return port_; }
  // Compared byte for byte: a new name closes and reopens an open line.
  void SetPort(const std::string& value);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value);
  char EventChar() const { return eventChar_; }
  void SetEventChar(char value);
  // Takes effect when the line is next opened.
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value) { events_ = value; }
  TSyncMethod SyncMethod() const { return syncMethod_; }
  // Refused with code 14 while the line is open.
  void SetSyncMethod(TSyncMethod value);

  TComParity& Parity() { return *parity_; }
  const TComParity& Parity() const { return *parity_; }
  TComFlowControl& FlowControl() { return *flowControl_; }
  const TComFlowControl& FlowControl() const { return *flowControl_; }
  TComTimeouts& Timeouts() { return *timeouts_; }
  const TComTimeouts& Timeouts() const { return *timeouts_; }
  TComBuffer& Buffer() { return *buffer_; }
  const TComBuffer& Buffer() const { return *buffer_; }
  // Copy every setting of the given object, then apply.
  void SetParity(const TComParity& value);
  void SetFlowControl(const TComFlowControl& value);
  void SetTimeouts(const TComTimeouts& value);
  void SetBuffer(const TComBuffer& value);

  bool RxCharTriggers() const { return rxCharTriggerEnabled_ && !hasBufferLink_; }
  bool HasBufferLink() const { return hasBufferLink_; }
  TThreadPriority EventWatchPriority() const { return eventWatchPriority_; }
  bool EventThreadActive() const { return eventThreadActive_; }
  // True once an open port's event loop has ended by itself (a vanished line, an exception).
  bool EventLoopEnded() const;

  // Which groups of settings saving and restoring cover.
  TSettingsGroups PersistedGroups = {sgBasic};

  // --- handler slots; Sender is the port
  TNotifyEvent OnAfterOpen, OnAfterClose, OnBeforeOpen, OnBeforeClose;
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TNotifyEvent OnTxEmpty, OnBreak, OnRing;
  TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
  TNotifyEvent OnRxFlag;
  TComErrorEvent OnError;
  TNotifyEvent OnRx80Full;

  // --- links: served before the port's own handler, in attachment order; not owned
  // Code 18 for a link attached twice or one that is not attached.
  void AttachLink(TComLink* link);
  void DetachLink(TComLink* link);
  void SignalLinks(TLinkSignal kind, bool onOff);
  void NotifyLinks(TLinkNotice kind);
  void SendTxBufToLinks(const void* buffer, int count);

  // --- processing of one event each, on the thread the delivery mode chooses
  void ProcessRxChar();
  void ProcessTxEmpty();
  void ProcessRxFlag();
  void ProcessRing();
  void ProcessBreak();
  void ProcessCTSChange();
  void ProcessDSRChange();
  void ProcessRLSDChange();
  void ProcessError();
  void ProcessRx80Full();
  // A whole batch in its fixed order: errors first, then received characters, ...
  void ProcessEventSet(TComEvents events);
  // The notify window's handler in window-sync delivery: `event` is one mask bit, of the
  // current open unless `generation` names the one that sent it.
  void HandlePortMessage(std::uint32_t event);
  void HandlePortMessage(std::uint32_t event, std::uint64_t generation);

  // --- batches: changes reach an open line once, at the outermost EndBatch
  void BeginBatch() { ++batchDepth_; }
  void EndBatch();
  std::int32_t BatchDepth() const { return batchDepth_; }

  virtual void ApplyDeviceControl();
  virtual void ApplyTimeoutSettings();
  virtual void ApplyBufferSizes();
  virtual void ApplyAllSettings();

  // --- connection
  void OpenPort();
  void ClosePort();
  virtual void AcquireLine();
  virtual void ReleaseLine();
  TLineHandle LineHandle() const { return lineHandle_; }

  // --- transfer
  int StartWrite(const void* buffer, int count, TIoRequestRef& request);
  int StartWriteText(const std::string& text, TIoRequestRef& request);
  // Returns once the bytes are written; raises code 2 when they cannot be.
  int WriteText(const std::string& text);
  int StartRead(void* buffer, int count, TIoRequestRef& request);
  int ReadBytes(void* buffer, int count);
  int AwaitIo(TIoRequestRef& request);
  void CancelPendingIo();
  void PurgeBuffers(bool input, bool output);
  int BytesWaiting();
  TModemSignals ModemSignals();
  TComErrors TakeLineErrors();

 protected:
  // The first step of destruction, from the most derived destructor: no event thread runs the
  // port's own code once it returns.
  void EndOfLife() { life_->Destroyed(); }
  void AfterLoad() override;
  IComPlatform& Platform() const { return *platform_; }

  virtual void FireAfterClose();
  virtual void FireAfterOpen();
  virtual void FireBeforeClose();
  virtual void FireBeforeOpen();
  virtual void FireRxChar(int count);
  virtual void FireRxBuf(const void* buffer, int count);
  virtual void FireTxEmpty();
  virtual void FireBreak();
  virtual void FireRing();
  virtual void FireRxFlag();
  virtual void FireCTSChange(bool onOff);
  virtual void FireDSRChange(bool onOff);
  virtual void FireError(TComErrors errors);
  virtual void FireRLSDChange(bool onOff);
  virtual void FireRx80Full();

  void ProcessBeforeOpen();
  void ProcessAfterOpen();
  void ProcessBeforeClose();
  void ProcessAfterClose();

 private:
  bool MayApply() const { return connected_ && batchDepth_ == 0 && !Loading(); }
  [[noreturn]] void RaiseSystemError(int portErrorCode) const;
  template <typename T>
  void ChangeDeviceSetting(T& field, T value);
  void ReleaseLineQuietly() noexcept;
  void StartEventThread();
  void StopEventThread();
  // BytesWaiting for our own code right after the line was looked at: the queue alone.
  int QueuedBytes();
  // BytesWaiting for our own code: the queue and the terminal. Unlike BytesWaiting, the line
  // errors it takes are kept for the error event.
  int WaitingBytes();
  bool LinksHearRxActivity() const;
  void DistributeRxData(int& count);
  // Reads `count` bytes once and hands them to OnRxBuf and every buffer link after `first`.
  void ReadAndDistribute(int count, std::size_t first);
  void ReportSignal(TModemSignal line, TLinkSignal kind, void (TCustomComPort::*fire)(bool));

  IComPlatform* platform_;
  // Shared with the event threads, which may outlive the port.
  const std::shared_ptr<TPortLife> life_ = std::make_shared<TPortLife>();
  std::shared_ptr<THandOver> handOver_;  // serves the event thread on this thread
  std::unique_ptr<TComThread> eventThread_;
  bool eventThreadActive_ = false;
  TLineHandle lineHandle_ = kInvalidLineHandle;
  std::shared_ptr<TPortNotifyWindow> notifyWindow_;
  std::int32_t batchDepth_ = 0;
  std::vector<TComLink*> links_;
  bool rxCharTriggerEnabled_ = true;
  TThreadPriority eventWatchPriority_ = tpNormal;
  bool hasBufferLink_ = false;
  std::atomic<bool> connected_{false};  // read by a thread retired while it delivers
  bool closing_ = false;                // from the start of a close until the line is released
  bool destroying_ = false;             // no handler runs for a port being destroyed
  std::atomic<std::uint32_t> heldErrors_{0};  // line errors taken by WaitingBytes
  TBaudRate baudRate_ = br9600;
  std::int32_t customBaudRate_ = 9600;
  std::string port_ = "COM1";
  TStopBits stopBits_ = sbOneStopBit;
  TDataBits dataBits_ = dbEight;
  bool discardNull_ = false;
  char eventChar_ = 0;
  TComEvents events_ = kAllComEvents;
  std::unique_ptr<TComBuffer> buffer_;
  std::unique_ptr<TComParity> parity_;
  std::unique_ptr<TComTimeouts> timeouts_;
  std::unique_ptr<TComFlowControl> flowControl_;
  TSyncMethod syncMethod_ = smThreadSync;
};

// The port as the forms place it.
class TComPort : public TCustomComPort {
  Q_OBJECT
 public:
  using TCustomComPort::TCustomComPort;
  // Before its type changes back to the base's: a thread still running the port's code
  // finishes that first (the base's destructor alone would come too late for that).
  ~TComPort() override { EndOfLife(); }
};

// The device-control record for the port's settings.
TDcb BuildDeviceControl(const TCustomComPort& port);
// The speed in bits per second of a table entry; 0 for brCustom.
std::uint32_t BaudRateValue(TBaudRate rate);
TCommTimeouts BuildCommTimeouts(const TComTimeouts& timeouts);

std::uint32_t EventSetToMask(TComEvents events);
// Bits outside the ten events are ignored.
TComEvents MaskToEventSet(std::uint32_t mask);

}  // namespace vardelio
