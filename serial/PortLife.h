#pragma once
// The port's life in one place: which open is current, which thread may deliver its events,
// and whether a call may wait for an event thread or must leave it to end on its own.
// docs/threads.md states the rules this class keeps.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace vardelio {

class TComThread;
class TCustomComPort;

class TPortLife {
 public:
  class TOutside;
  enum TState : std::uint8_t { psClosed, psOpening, psOpen, psClosing };

  TState State() const { return state_.load(); }
  // --- transitions, on the thread that opens or closes (the main thread, or a handler's)
  void BeginOpen() { state_ = psOpening; }
  // The line is ready: deliveries of the open that begins now are current.
  void Delivering();
  // A close has begun: while it waits for the event thread it still serves the batch that
  // thread took; once it ends, no delivery of the open it ended is current any more.
  void BeginClose();
  void EndClose();
  // An open that failed, or raised before its line was ready.
  void OpenFailed() { state_ = psClosed; }
  // The port's destructor: no thread touches the port after this returns.
  void Destroyed();
  // A close that raised before the line was released: the open goes on as it was.
  void CloseFailed() { state_ = psOpen; }

  // Ends an event thread: joined when nothing it runs may be waiting for the caller, retired
  // (left to end on its own once its delivery returns) otherwise. Never waits for a handler.
  void EndThread(std::unique_ptr<TComThread> thread);

  // --- deliveries: a batch of events taken from the line, from taking it until its last
  // handler has returned. `Generation` marks which open took it.
  std::uint64_t Generation() const { return generation_.load(); }
  bool Current(std::uint64_t generation) const {
    const TState state = state_.load();
    return (state == psOpen || state == psClosing) && generation_.load() == generation &&
           !destroyed_.load();
  }

  // On an event thread: waits until no other thread delivers for this port, then makes the
  // caller the one that does. False when the thread is being stopped or the batch is stale.
  // In delivery without hand-over the gate stays locked while our own code runs, and is
  // opened only while a handler runs (see TOutside).
  class TDelivery {
   public:
    TDelivery(TPortLife& life, const TComThread& thread, std::uint64_t generation, bool runsHere);
    ~TDelivery();
    TDelivery(const TDelivery&) = delete;
    TDelivery& operator=(const TDelivery&) = delete;
    bool Admitted() const { return admitted_; }
    // Held while our own code runs on the delivering thread; null in the hand-over modes.
    std::unique_lock<std::mutex>* Gate() { return runsHere_ ? &gate_ : nullptr; }

   private:
    friend class TPortLife;
    TPortLife& life_;
    const TComThread& thread_;
    std::unique_lock<std::mutex> gate_;
    const bool runsHere_;
    bool admitted_ = false;
  };

  // Marks on this thread a stretch of the port's own processing for one batch (on the thread
  // that runs its handlers), or with generation 0 an open or close that a handler began (its
  // notices are not a delivery's). TPortAlive asks it whether the batch is still current.
  // A delivery without hand-over also passes its thread's stop mark: a close that retired the
  // thread ends the batch for it, as the close goes on without waiting.
  class TScope {
   public:
    TScope(const TCustomComPort* port, TPortLife* life, std::uint64_t generation,
           std::unique_lock<std::mutex>* gate, const std::atomic<bool>* stopped = nullptr);
    ~TScope();
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;
    static const TScope* Innermost() { return innermost_; }
    // Whether the batch is stale for `port`: closed, reopened or destroyed since it was taken.
    bool Stale(const void* port) const;
    // After a handler that ran with the gate opened, the gate shut again: whether the delivery
    // it ran in has ended meanwhile, so that nothing of the port or of its links may be touched
    // again. An end the handler made itself counts too: once the port is closed, the main thread
    // may destroy them before the handler returns.
    static bool DeliveryEnded(const void* port);

   private:
    friend class TOutside;
    static inline thread_local TScope* innermost_ = nullptr;
    const TCustomComPort* port_;
    TPortLife* life_;
    std::uint64_t generation_;
    std::unique_lock<std::mutex>* gate_;
    const std::atomic<bool>* stopped_;
    TScope* outer_;
  };

  // Around a call to a handler or a link: on a thread that delivers without hand-over the
  // gate is opened meanwhile, so the main thread can close or destroy the port without
  // waiting for a handler that may be waiting for it. So the slot called is a copy taken
  // before, and once the gate shuts again the caller asks `Gone`/`DeliveryEnded` before it
  // touches the port or the link again.
  class TOutside {
   public:
    explicit TOutside(const void* port);
    // Whether a TOutside made here now would open the gate. Inline: asked for every handler.
    static bool Opens(const void* port) {
      const TScope* scope = TScope::innermost_;
      return scope != nullptr && scope->port_ == port && scope->gate_ != nullptr &&
             scope->gate_->owns_lock();
    }
    ~TOutside();
    TOutside(const TOutside&) = delete;
    TOutside& operator=(const TOutside&) = delete;

   private:
    std::unique_lock<std::mutex>* opened_ = nullptr;
  };

  // Calls a handler's slot for `port` outside the gate. Copied only when the gate opens: the
  // copy costs an atomic count, and without a gate nothing runs beside the call.
  template <typename Slot, typename... Args>
  static void CallHandler(const void* port, const Slot& slot, Args&&... args) {
    if (!TOutside::Opens(port)) {
      slot(std::forward<Args>(args)...);
      return;
    }
    const Slot handler = slot;
    const TOutside outside(port);
    handler(std::forward<Args>(args)...);
  }

 private:
  std::mutex gate_;
  std::condition_variable free_;           // the delivering thread has left, or a thread is stopped
  const TComThread* deliverer_ = nullptr;  // under gate_
  std::atomic<TState> state_{psClosed};
  std::atomic<std::uint64_t> generation_{1};
  std::atomic<bool> destroyed_{false};
};

}  // namespace vardelio
