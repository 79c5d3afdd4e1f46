#pragma once
// The port's event thread: waits on the line and delivers each batch of events as the
// port's delivery mode says.

#include <atomic>
#include <thread>

#include "ComPort.h"

namespace vardelio {

class TComThread {
 public:
  // Created suspended, with the line's event mask taken from the port's Events now.
  explicit TComThread(TCustomComPort& ownerPort);
  // Stops the thread and waits for its end, serving its hand-overs meanwhile.
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  void Resume();
  // True once the loop has ended, by a stop, a failed wait or an exception.
  bool Finished() const { return finished_; }

  TCustomComPort& OwnerPort;

 private:
  void Execute();
  void DeliverEvents(TComEvents events);
  void ApplyPriority() const;

  IComPlatform& platform_;
  const TLineHandle line_;
  const TSyncMethod syncMethod_;
  TStopSignal stopSignal_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
};

// The hidden receiver of the event thread's messages in window-sync delivery.
class TPortNotifyWindow {
 public:
  TPortNotifyWindow(TCustomComPort& port, THandOver& handOver) : port_(port), handOver_(handOver) {}
  // From the event thread: returns once the handler has taken the message.
  void SendPortEvent(std::uint32_t event);

 private:
  TCustomComPort& port_;
  THandOver& handOver_;
};

}  // namespace vardelio
