#pragma once
// Writes down, for the port's tests, every handler and link slot as it is called.

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "serial/ComPort.h"

namespace vardelio::test {

using Log = std::vector<std::string>;

// Writes down every handler and link slot as it is called, from any thread.
class TEventLog {
 public:
  void Add(const std::string& entry) {
    std::lock_guard lock(mutex_);
    log_.push_back(entry);
  }
  Log Entries() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    log_.clear();
  }
  bool Contains(const std::string& entry) const {
    const Log l = Entries();
    return std::find(l.begin(), l.end(), entry) != l.end();
  }

 private:
  mutable std::mutex mutex_;
  Log log_;
};

inline std::string OnOff(const char* name, bool on) {
  return std::string(name) + (on ? "+" : "-");
}

inline void Record(TComPort& port, TEventLog& log) {
  port.OnAfterOpen = TNotifyEvent([&](QObject*) { log.Add("AfterOpen"); });
  port.OnBeforeClose = TNotifyEvent([&](QObject*) { log.Add("BeforeClose"); });
  port.OnAfterClose = TNotifyEvent([&](QObject*) { log.Add("AfterClose"); });
  port.OnRxChar = TRxCharEvent([&](QObject*, int n) { log.Add("RxChar" + std::to_string(n)); });
  port.OnRxBuf = TRxBufEvent([&](QObject*, const void* b, int n) {
    log.Add("RxBuf:" + std::string(static_cast<const char*>(b), std::size_t(n)));
  });
  port.OnTxEmpty = TNotifyEvent([&](QObject*) { log.Add("TxEmpty"); });
  port.OnBreak = TNotifyEvent([&](QObject*) { log.Add("Break"); });
  port.OnRing = TNotifyEvent([&](QObject*) { log.Add("Ring"); });
  port.OnRxFlag = TNotifyEvent([&](QObject*) { log.Add("RxFlag"); });
  port.OnRx80Full = TNotifyEvent([&](QObject*) { log.Add("Rx80Full"); });
  port.OnCTSChange = TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("CTS", on)); });
  port.OnDSRChange = TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("DSR", on)); });
  port.OnRLSDChange = TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("RLSD", on)); });
  port.OnError = TComErrorEvent(
      [&](QObject*, TComErrors e) { log.Add("Error" + std::to_string(e.ToBits())); });
}

inline void RecordLink(TComLink& link, TEventLog& log, bool wantsData) {
  link.OnLinkConnect =
      TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("link:Connect", on)); });
  link.OnLinkCTSChange =
      TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("link:CTS", on)); });
  link.OnLinkDSRChange =
      TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("link:DSR", on)); });
  link.OnLinkRLSDChange =
      TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("link:RLSD", on)); });
  link.OnLinkRxActive = TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("link:Rx", on)); });
  link.OnLinkTxActive = TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("link:Tx", on)); });
  link.OnLinkTxEmpty = TNotifyEvent([&](QObject*) { log.Add("link:TxEmpty"); });
  link.OnLinkRing = TNotifyEvent([&](QObject*) { log.Add("link:Ring"); });
  link.OnLinkRxFlag = TNotifyEvent([&](QObject*) { log.Add("link:RxFlag"); });
  link.OnLinkTxBuf = TRxBufEvent([&](QObject*, const void* b, int n) {
    log.Add("link:TxBuf:" + std::string(static_cast<const char*>(b), std::size_t(n)));
  });
  if (wantsData) {
    link.OnLinkRxBuf = TRxBufEvent([&](QObject*, const void* b, int n) {
      log.Add("link:RxBuf:" + std::string(static_cast<const char*>(b), std::size_t(n)));
    });
  }
}

}  // namespace vardelio::test
