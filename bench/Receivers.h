#pragma once
// The receivers compared: our port with its framer, a bare poll reader alone, with three
// ways to reach the main thread built on our hand-over and two built on Qt's alone, and Qt's
// serial port.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/ComTypes.h"

namespace vardelio::bench {

using TClock = std::chrono::steady_clock;

// Records when each packet arrived and notices gaps; safe from any thread. Only a waiter's
// awaited count wakes it, so a receiver never pays a wake-up per packet it did not ask for.
class TArrivals {
 public:
  void Arrived(int sequence);
  // Waits until `count` packets arrived or nothing came for `quietMs`; false then.
  bool WaitFor(std::size_t count, int quietMs);
  std::size_t Count();
  int Lost();
  TClock::time_point At(int sequence);
  TClock::time_point Last();
  void Reset(std::size_t expected);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<TClock::time_point> times_;
  std::size_t count_ = 0;
  std::size_t wanted_ = 0;  // the count a waiter waits for
  int next_ = 0;
  int lost_ = 0;
  TClock::time_point last_;
};

// One receiver on the slave side of `path`. Arrivals reach `arrivals` from the receiver's
// own thread; main-thread receivers need the caller to run the event loop.
class TReceiver {
 public:
  virtual ~TReceiver() = default;
  virtual const char* Name() const = 0;
  virtual bool OnMainThread() const = 0;
};

std::unique_ptr<TReceiver> OurPort(const std::string& path, TArrivals& arrivals,
                                   TSyncMethod mode = smThreadSync);
// Frames on its own thread: the comparison for delivery on the event thread. Not a latency
// floor: Qt's reader, with no second thread, answers sooner.
std::unique_ptr<TReceiver> BarePollReader(const std::string& path, TArrivals& arrivals);
// Built on our hand-over, so its cost cancels out against the port: the bare reader handing
// each chunk to the main thread through the port's hand-over, as thread-sync delivery does.
// With `releaseFirst`, as window-sync delivery does: the reader goes back to the line as soon
// as the main thread has the chunk.
std::unique_ptr<TReceiver> BareReaderWithHandOver(const std::string& path, TArrivals& arrivals,
                                                  bool releaseFirst = false);
// The floor for a delivery that does not wait: the bare reader posts a copy of each chunk
// to the main thread and goes back to the line.
std::unique_ptr<TReceiver> BareReaderWithPost(const std::string& path, TArrivals& arrivals);
// The floor for thread-sync delivery that shares nothing of ours: the bare reader hands each
// chunk to the main thread through Qt's blocking queued call and waits until it is framed.
std::unique_ptr<TReceiver> BareReaderWithQtBlocking(const std::string& path, TArrivals& arrivals);
// The floor for window-sync delivery that shares nothing of ours: the bare reader posts each
// chunk through Qt's event queue and waits only until the main thread has copied it.
std::unique_ptr<TReceiver> BareReaderWithQtSend(const std::string& path, TArrivals& arrivals);
std::unique_ptr<TReceiver> QtSerialPort(const std::string& path, TArrivals& arrivals,
                                        int* errorSignals = nullptr);

// Sequence number of a packet's payload ("000123"), -1 when it is none.
int SequenceOf(const std::string& payload);
// Where the peers' splitters hand each payload: the arrivals.
std::function<void(const std::string&)> Record(TArrivals& arrivals);

}  // namespace vardelio::bench
