#pragma once
// The port's event thread: waits on the line and delivers each batch of events as the
// port's delivery mode says.

#include <QObject>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "ComPort.h"
#include "PortLife.h"

namespace vardelio {

class TComThread {
 public:
  // Created suspended, with the line's event mask taken from the port's Events now; it
  // delivers through the port's hand-over and, in window-sync, its notify window, and only
  // while the open it belongs to (the life's current generation) lasts.
  TComThread(TCustomComPort& ownerPort, std::shared_ptr<TPortLife> life,
             std::shared_ptr<THandOver> handOver, std::shared_ptr<TPortNotifyWindow> notifyWindow);
  // Stops the thread and waits for its end, serving its hand-overs meanwhile.
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  void Resume();
  // True once the loop has ended, by a stop, a failed wait or an exception.
  bool Finished() const { return finished_; }
  // Whether it runs the port's handlers itself (delivery without hand-over).
  bool ProcessesAlone() const { return syncMethod_ == smNone; }

  // Whether the caller is inside this thread's own delivery in thread-sync or none: the
  // thread then waits for the caller, so the caller cannot wait for the thread's end.
  bool InOwnDelivery() const;
  // Leaves it to end on its own once its delivery returns: it touches the line and its port
  // no more, so the line can be released and the port destroyed at once. It is kept among
  // the retired threads until it has ended. Asked by TPortLife only.
  static void Retire(std::unique_ptr<TComThread> thread);

  TCustomComPort& OwnerPort;

 private:
  friend class TPortLife;
  void Execute();
  void DeliverEvents(TComEvents events);
  bool MayTakeMore(int taken, std::chrono::steady_clock::time_point start) const;
  void ApplyPriority() const;

  IComPlatform& platform_;
  const std::shared_ptr<TPortLife> life_;  // outlives the port when the thread does
  const std::uint64_t generation_;         // of the open it belongs to
  const TLineHandle line_;
  const TSyncMethod syncMethod_;
  const std::shared_ptr<THandOver> handOver_;
  // Shared, as a port destroyed by a handler its own close serves goes before the thread.
  const std::shared_ptr<TPortNotifyWindow> notifyWindow_;
  TStopSignal stopSignal_;
  std::thread thread_;
  std::atomic<std::thread::id> ownId_;
  std::atomic<bool> finished_{false};
  std::atomic<bool> retired_{false};
  std::atomic<bool> stopping_{false};  // set under the life's gate: it delivers no more
};

// Joins the retired event threads that have ended; on the main thread only, as their
// hand-overs belong to it.
void ReapRetiredComThreads();
// On the main thread, the receiver of a retired thread's request to be joined: asked by name,
// so what is posted is made inside Qt, and the slot takes the lock the post was made under.
class TRetiredReaper : public QObject {
  Q_OBJECT
 public slots:
  void Reap() { ReapRetiredComThreads(); }
};

// Retired event threads not joined yet.
std::size_t RetiredComThreadCount();

// The hidden receiver of the event thread's messages in window-sync delivery.
class TPortNotifyWindow {
 public:
  TPortNotifyWindow(TCustomComPort& port, THandOver& handOver)
      : port_(&port), handOver_(handOver) {}
  // From the event thread: one message per event, in order, of the open `generation`;
  // returns once the handler has taken the last.
  void SendPortEvents(const std::vector<std::uint32_t>& events, std::uint64_t generation);
  // On the main thread, from the port's destructor: later messages do nothing.
  void Detach() { port_ = nullptr; }

 private:
  TCustomComPort* port_;  // read and cleared on the main thread only
  THandOver& handOver_;
};

}  // namespace vardelio
