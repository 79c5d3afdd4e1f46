#include "PortLife.h"

#include "ComThread.h"

namespace vardelio {

void TPortLife::Delivering() {
  // Under the gate, so a thread waiting there sees the new open and its own staleness at once.
  const std::lock_guard lock(gate_);
  generation_.fetch_add(1);
  state_ = psOpen;
}

void TPortLife::BeginClose() {
  const std::lock_guard lock(gate_);
  state_ = psClosing;
}

void TPortLife::EndClose() {
  const std::lock_guard lock(gate_);
  state_ = psClosed;
}

void TPortLife::Destroyed() {
  {
    // Waits only while a delivering thread runs our own code, which never waits for anyone.
    const std::lock_guard lock(gate_);
    destroyed_ = true;
    state_ = psClosed;
  }
  free_.notify_all();
}

void TPortLife::EndThread(std::unique_ptr<TComThread> thread) {
  if (!thread) return;
  bool retire = false;
  {
    const std::lock_guard lock(gate_);
    // Under the gate: a delivering thread sees it before it runs any more of our code.
    thread->stopping_ = true;
    // Its handler runs on the caller's stack, or it delivers on its own and may be waiting
    // for the caller (a blocking call to the main thread): it ends once that returns.
    retire = thread->InOwnDelivery() || (thread->ProcessesAlone() && deliverer_ == thread.get());
    if (retire) thread->retired_ = true;  // before it can look, once its delivery returns
  }
  free_.notify_all();
  if (retire) {
    TComThread::Retire(std::move(thread));
  } else {
    thread.reset();  // stops it and waits, serving its hand-overs meanwhile
  }
}

// --- deliveries

TPortLife::TDelivery::TDelivery(TPortLife& life, const TComThread& thread, std::uint64_t generation,
                                bool runsHere)
    : life_(life), thread_(thread), gate_(life.gate_), runsHere_(runsHere) {
  // A thread of an earlier open may still be in a handler: this one waits for it to return.
  life_.free_.wait(
      gate_, [&] { return life_.deliverer_ == nullptr || thread_.stopping_ || life_.destroyed_; });
  // A close that waits for a thread serves what it hands over, but cannot wait for a handler
  // running on it: that thread, once stopped, delivers nothing more.
  const bool stopped = thread_.stopping_ && (runsHere_ || life_.deliverer_ != nullptr);
  admitted_ = !stopped && life_.Current(generation);
  if (admitted_) life_.deliverer_ = &thread_;
  if (!admitted_ || !runsHere_) gate_.unlock();
}

TPortLife::TDelivery::~TDelivery() {
  if (!admitted_) return;
  if (!gate_.owns_lock()) gate_.lock();
  life_.deliverer_ = nullptr;
  gate_.unlock();
  life_.free_.notify_all();
}

TPortLife::TScope::TScope(const TCustomComPort* port, TPortLife* life, std::uint64_t generation,
                          std::unique_lock<std::mutex>* gate, const std::atomic<bool>* stopped)
    : port_(port),
      life_(life),
      generation_(generation),
      gate_(gate),
      stopped_(stopped),
      outer_(innermost_) {
  innermost_ = this;
}

TPortLife::TScope::~TScope() {
  innermost_ = outer_;
}

bool TPortLife::TScope::Stale(const void* port) const {
  if (port != port_ || life_ == nullptr) return false;
  return !life_->Current(generation_) || (stopped_ != nullptr && stopped_->load());
}

bool TPortLife::TScope::DeliveryEnded(const void* port) {
  for (const TScope* scope = innermost_; scope != nullptr; scope = scope->outer_) {
    if (scope->port_ == port) {
      return scope->gate_ != nullptr && scope->Stale(port);
    }
  }
  return false;
}

TPortLife::TOutside::TOutside(const void* port) {
  if (Opens(port)) {
    opened_ = TScope::innermost_->gate_;
    opened_->unlock();
  }
}

TPortLife::TOutside::~TOutside() {
  if (opened_ != nullptr) opened_->lock();
}

}  // namespace vardelio
