// Links, and the processing of each line event: links first, then the port's own handler.

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <memory>

#include "ComPort.h"

namespace vardelio {

// --- links

void TCustomComPort::AttachLink(TComLink* link) {
  if (link == nullptr || std::find(links_.begin(), links_.end(), link) != links_.end()) {
    throw EComPort(18);
  }
  links_.push_back(link);
  hasBufferLink_ = std::any_of(links_.begin(), links_.end(),
                               [](const TComLink* l) { return l->OnLinkRxBuf.Assigned(); });
}

void TCustomComPort::DetachLink(TComLink* link) {
  auto it = std::find(links_.begin(), links_.end(), link);
  if (it == links_.end()) throw EComPort(18);
  links_.erase(it);
  hasBufferLink_ = std::any_of(links_.begin(), links_.end(),
                               [](const TComLink* l) { return l->OnLinkRxBuf.Assigned(); });
}

namespace {

// A handler may close or destroy the port from another thread while it runs (see TOutside).
template <typename Slot, typename... Args>
void CallOutside(TCustomComPort* port, const Slot& slot, Args... args) {
  TPortLife::CallHandler(port, slot, static_cast<QObject*>(port), args...);
}

// A link whose own code is the port's (the framer) runs as the port's code does, and opens
// the gate only around its own handlers.
template <typename Slot, typename... Args>
void CallLink(TCustomComPort* port, const TComLink& link, Slot TComLink::*slot, Args... args) {
  if (link.RunsInDelivery) {
    (link.*slot)(port, args...);
  } else {
    CallOutside(port, link.*slot, args...);
  }
}

// Walks the links counted at the start; a link detached meanwhile ends the walk early, and
// so does a slot that destroys the port.
template <typename Slot, typename... Args>
void ForEachLink(TCustomComPort* port, const std::vector<TComLink*>& links, Slot TComLink::*slot,
                 Args... args) {
  const TPortAlive alive(port);
  const std::size_t count = links.size();
  for (std::size_t i = 0; i < count && i < links.size(); ++i) {
    CallLink(port, *links[i], slot, args...);
    if (alive.Gone()) return;
  }
}

TComSignalEvent TComLink::*SignalSlot(TLinkSignal kind) {
  switch (kind) {
    case TLinkSignal::Connect:
      return &TComLink::OnLinkConnect;
    case TLinkSignal::CTS:
      return &TComLink::OnLinkCTSChange;
    case TLinkSignal::DSR:
      return &TComLink::OnLinkDSRChange;
    case TLinkSignal::RLSD:
      return &TComLink::OnLinkRLSDChange;
    case TLinkSignal::RxActivity:
      return &TComLink::OnLinkRxActive;
    case TLinkSignal::TxActivity:
      break;
  }
  return &TComLink::OnLinkTxActive;
}

TNotifyEvent TComLink::*NoticeSlot(TLinkNotice kind) {
  switch (kind) {
    case TLinkNotice::Ring:
      return &TComLink::OnLinkRing;
    case TLinkNotice::TxEmpty:
      return &TComLink::OnLinkTxEmpty;
    case TLinkNotice::RxFlag:
      break;
  }
  return &TComLink::OnLinkRxFlag;
}

}  // namespace

thread_local TPortAlive* TPortAlive::innermost_ = nullptr;

void TPortAlive::PortDestroyed(const void* port) {
  for (TPortAlive* stretch = innermost_; stretch != nullptr; stretch = stretch->outer_) {
    if (stretch->port_ == port) stretch->gone_ = true;
  }
}

void TCustomComPort::SignalLinks(TLinkSignal kind, bool onOff) {
  ForEachLink(this, links_, SignalSlot(kind), onOff);
}

void TCustomComPort::NotifyLinks(TLinkNotice kind) {
  ForEachLink(this, links_, NoticeSlot(kind));
}

void TCustomComPort::SendTxBufToLinks(const void* buffer, int count) {
  ForEachLink(this, links_, &TComLink::OnLinkTxBuf, buffer, count);
}

// --- firing the port's own handlers

void TCustomComPort::FireAfterClose() {
  CallOutside(this, OnAfterClose);
}
void TCustomComPort::FireAfterOpen() {
  CallOutside(this, OnAfterOpen);
}
void TCustomComPort::FireBeforeClose() {
  CallOutside(this, OnBeforeClose);
}
void TCustomComPort::FireBeforeOpen() {
  CallOutside(this, OnBeforeOpen);
}
void TCustomComPort::FireRxChar(int count) {
  CallOutside(this, OnRxChar, count);
}
void TCustomComPort::FireRxBuf(const void* buffer, int count) {
  CallOutside(this, OnRxBuf, buffer, count);
}
void TCustomComPort::FireTxEmpty() {
  CallOutside(this, OnTxEmpty);
}
void TCustomComPort::FireBreak() {
  CallOutside(this, OnBreak);
}
void TCustomComPort::FireRing() {
  CallOutside(this, OnRing);
}
void TCustomComPort::FireRxFlag() {
  CallOutside(this, OnRxFlag);
}
void TCustomComPort::FireCTSChange(bool onOff) {
  CallOutside(this, OnCTSChange, onOff);
}
void TCustomComPort::FireDSRChange(bool onOff) {
  CallOutside(this, OnDSRChange, onOff);
}
void TCustomComPort::FireError(TComErrors errors) {
  CallOutside(this, OnError, errors);
}
void TCustomComPort::FireRLSDChange(bool onOff) {
  CallOutside(this, OnRLSDChange, onOff);
}
void TCustomComPort::FireRx80Full() {
  CallOutside(this, OnRx80Full);
}

// --- processing

void TCustomComPort::ProcessError() {
  const TComErrors errors = TakeLineErrors();
  if (!errors.Empty()) FireError(errors);
}

void TCustomComPort::ProcessRxChar() {
  const TPortAlive alive(this);
  int count = QueuedBytes();
  if (count > 0) SignalLinks(TLinkSignal::RxActivity, true);
  if (alive.Gone()) return;
  DistributeRxData(count);
  if (count > 0 && !alive.Gone()) FireRxChar(count);
}

// Either the count goes to OnRxChar, or the data to OnRxBuf and the links: never both.
void TCustomComPort::DistributeRxData(int& count) {
  if (count <= 0 || RxCharTriggers()) return;
  const auto first = std::find_if(links_.begin(), links_.end(),
                                  [](const TComLink* l) { return l->OnLinkRxBuf.Assigned(); });
  if (first != links_.end()) {
    ReadAndDistribute(count, std::size_t(first - links_.begin()));
  } else if (!rxCharTriggerEnabled_) {
    ReadAndDistribute(count, links_.size());
  } else {
    return;
  }
  count = 0;
}

void TCustomComPort::ReadAndDistribute(int count, std::size_t first) {
  // Freed on every path, also when a handler raises.
  const auto block = std::make_unique<char[]>(std::size_t(count));
  const TPortAlive alive(this);
  ReadBytes(block.get(), count);  // may tell the links that reception has ended
  if (alive.Gone()) return;
  FireRxBuf(block.get(), count);
  if (alive.Gone()) return;
  const std::size_t walk = links_.size();
  for (std::size_t i = first; i < walk && !alive.Gone() && i < links_.size(); ++i) {
    CallLink(this, *links_[i], &TComLink::OnLinkRxBuf, static_cast<const void*>(block.get()),
             count);
  }
}

void TCustomComPort::ProcessTxEmpty() {
  const TPortAlive alive(this);
  SignalLinks(TLinkSignal::TxActivity, false);
  if (!alive.Gone()) NotifyLinks(TLinkNotice::TxEmpty);
  if (!alive.Gone()) FireTxEmpty();
}

void TCustomComPort::ProcessBreak() {
  FireBreak();
}

void TCustomComPort::ProcessRing() {
  const TPortAlive alive(this);
  NotifyLinks(TLinkNotice::Ring);
  if (!alive.Gone()) FireRing();
}

// One query of the modem lines per step, at processing time.
void TCustomComPort::ReportSignal(TModemSignal line, TLinkSignal kind,
                                  void (TCustomComPort::*fire)(bool)) {
  const TPortAlive alive(this);
  const bool on = ModemSignals().Contains(line);
  SignalLinks(kind, on);
  if (!alive.Gone()) (this->*fire)(on);
}

void TCustomComPort::ProcessCTSChange() {
  ReportSignal(msCTS, TLinkSignal::CTS, &TCustomComPort::FireCTSChange);
}
void TCustomComPort::ProcessDSRChange() {
  ReportSignal(msDSR, TLinkSignal::DSR, &TCustomComPort::FireDSRChange);
}
void TCustomComPort::ProcessRLSDChange() {
  ReportSignal(msRLSD, TLinkSignal::RLSD, &TCustomComPort::FireRLSDChange);
}

void TCustomComPort::ProcessRxFlag() {
  const TPortAlive alive(this);
  NotifyLinks(TLinkNotice::RxFlag);
  if (!alive.Gone()) FireRxFlag();
}

void TCustomComPort::ProcessRx80Full() {
  FireRx80Full();
}

void TCustomComPort::ProcessEventSet(TComEvents events) {
  const std::pair<TComEvent, void (TCustomComPort::*)()> order[] = {
      {evError, &TCustomComPort::ProcessError},     {evRxChar, &TCustomComPort::ProcessRxChar},
      {evTxEmpty, &TCustomComPort::ProcessTxEmpty}, {evBreak, &TCustomComPort::ProcessBreak},
      {evRing, &TCustomComPort::ProcessRing},       {evCTS, &TCustomComPort::ProcessCTSChange},
      {evDSR, &TCustomComPort::ProcessDSRChange},   {evRxFlag, &TCustomComPort::ProcessRxFlag},
      {evRLSD, &TCustomComPort::ProcessRLSDChange}, {evRx80Full, &TCustomComPort::ProcessRx80Full}};
  const TPortAlive alive(this);
  for (const auto& [event, process] : order) {
    // A handler may have closed the port, or destroyed it: the rest of the batch has no line
    // to read.
    if (alive.Gone()) return;
    if (events.Contains(event) && connected_) (this->*process)();
  }
}

// --- lifecycle notices

namespace {

// Each notice may destroy the port: the rest are not given.
void NotifyWhileAlive(const TCustomComPort* port,
                      std::initializer_list<std::function<void()>> notices) {
  const TPortAlive alive(port);
  for (const auto& notice : notices) {
    if (alive.Gone()) return;
    notice();
  }
}

}  // namespace

void TCustomComPort::ProcessBeforeOpen() {
  FireBeforeOpen();
}

void TCustomComPort::ProcessAfterOpen() {
  NotifyWhileAlive(this, {[this] { SignalLinks(TLinkSignal::Connect, true); },
                          [this] { FireAfterOpen(); }, [this] { ProcessCTSChange(); },
                          [this] { ProcessDSRChange(); }, [this] { ProcessRLSDChange(); }});
}

void TCustomComPort::ProcessBeforeClose() {
  NotifyWhileAlive(this, {[this] { SignalLinks(TLinkSignal::CTS, false); },
                          [this] { SignalLinks(TLinkSignal::DSR, false); },
                          [this] { SignalLinks(TLinkSignal::RLSD, false); },
                          [this] { FireCTSChange(false); }, [this] { FireDSRChange(false); },
                          [this] { FireRLSDChange(false); }, [this] { FireBeforeClose(); }});
}

void TCustomComPort::ProcessAfterClose() {
  NotifyWhileAlive(
      this, {[this] { SignalLinks(TLinkSignal::Connect, false); }, [this] { FireAfterClose(); }});
}

}  // namespace vardelio
