#pragma once
// Runs work from a worker thread on the main thread while the worker waits for it.

#include <QBasicTimer>
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace vardelio {

class THandOver;

// The main thread's end of a hand-over: the receiver of a plain typed event, which the event
// loop delivers without looking anything up.
class THandOverTarget : public QObject {
  Q_OBJECT
 public:
  explicit THandOverTarget(THandOver* handOver);
  // The hand-over is going: later posts do nothing, and the target goes once it may.
  void Orphan();
  // Whether it hears each turn of the thread's event loops.
  bool WatchesLoops() const { return watchesLoops_; }
  // From any thread: asks the main thread's event loop to serve the hand-over.
  void Post();
  // On the main thread: serves it at the loop's next turn, after what the loop holds, without
  // the wake-up a post costs (the loop is awake: it runs this).
  void ServeNextTurn();

 protected:
  bool event(QEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void Serve();
  void LoopTurns();
  void TurnBegins();

  THandOver* handOver_;
  bool watchesLoops_ = false;
  QBasicTimer nextTurn_;         // a zero timer: fires once the loop has served what it holds
  int serving_ = 0;              // calls of Serve on the stack
  bool nextTurnWanted_ = false;  // the timer is to be armed as the loop's next turn begins
  // Events made, counted before each is posted: ThreadSanitizer cannot see Qt order an
  // event's making before its freeing on the main thread, so the count shows it.
  std::atomic<std::uint32_t> made_{0};
};

// Shared, so that a message being run keeps its hand-over alive even when the work drops
// the last other owner (a handler that closes its own port).
class THandOver : public std::enable_shared_from_this<THandOver> {
 public:
  // Created on any thread; the main thread's event loop serves it.
  THandOver();
  ~THandOver();
  THandOver(const THandOver&) = delete;
  THandOver& operator=(const THandOver&) = delete;

  // From the worker: runs `work` on the main thread and returns once it has run; an
  // exception it raised is raised here.
  void Call(std::function<void()> work);
  // From the worker: like Call, but while `work` returns true it runs again, each time at a
  // later turn of the main thread's loop, after what the loop already holds, so that runs
  // first (a deferred delete, a queued close); the worker waits until it returns false or
  // raises.
  void CallRepeated(std::function<bool()> work);

  // From the worker: like Call, but `work` receives a release that lets the worker go on
  // before the work has finished; the work's exceptions stay on the main thread.
  using TRelease = std::function<void()>;
  using TSent = std::function<void(const TRelease& release)>;
  void Send(TSent work);
  // From the worker: sends each in order, as Send does one after the other, but waits only
  // until the last has been released. The worker would do nothing between them but wait.
  void SendAll(std::vector<TSent> works);

  // On the main thread: serves hand-overs until `finished` is true. `finished` is checked
  // after every wake-up, so whoever makes it true must call Wake().
  void ServeUntil(const std::function<bool()>& finished);
  void Wake();

  // On the main thread: whether it is running work handed over by this hand-over now.
  bool Serving() const { return running_ > 0; }

 private:
  friend class THandOverTarget;
  struct TItem;
  void Post(const std::shared_ptr<TItem>& item);
  void Queue(const std::shared_ptr<TItem>& item);  // without telling anyone
  void Enqueue(const std::shared_ptr<TItem>& item);
  void PostServe();
  void Chain(const std::shared_ptr<TItem>& item);
  // On the main thread, as an event loop turns: an event for the work chained without one.
  void PostChained();
  static void AwaitRelease(TItem& item);
  void ServePending();
  static void Run(TItem& item);

  std::mutex mutex_;
  std::condition_variable changed_;  // for the main thread: work queued, or Wake
  std::deque<std::shared_ptr<TItem>> pending_;
  int running_ = 0;   // main thread only
  int unposted_ = 0;  // main thread only: work chained without an event
  // Made last: the main thread's loop may ask the hand-over as soon as its target exists, and
  // the target's making hands over only what was made before it.
  THandOverTarget* target_;
};

}  // namespace vardelio
