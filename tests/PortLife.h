#pragma once
// What the port-life tests watch: handlers running on two threads at once, and a hang.

#include <QMetaObject>
#include <QObject>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace vardelio::test {

// Counts the port's handlers on the stack of each thread; one entered while a handler runs on
// another thread is an overlap. Nesting on one thread (a handler's event loop) is not.
class THandlerCount {
 public:
  class TInside {
   public:
    explicit TInside(THandlerCount& count) : count_(count) { count_.Enter(); }
    ~TInside() { count_.Leave(); }
    TInside(const TInside&) = delete;
    TInside& operator=(const TInside&) = delete;

   private:
    THandlerCount& count_;
  };
  int Overlaps() const {
    std::lock_guard lock(mutex_);
    return overlaps_;
  }
  int Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  void Enter() {
    std::lock_guard lock(mutex_);
    ++calls_;
    for (const auto& [thread, depth] : depth_) {
      if (thread != std::this_thread::get_id() && depth > 0) ++overlaps_;
    }
    ++depth_[std::this_thread::get_id()];
  }
  void Leave() {
    std::lock_guard lock(mutex_);
    --depth_[std::this_thread::get_id()];
  }

  mutable std::mutex mutex_;
  std::map<std::thread::id, int> depth_;
  int overlaps_ = 0;
  int calls_ = 0;
};

// The calls waiting for the main thread. Qt hands a posted event over with locks
// ThreadSanitizer cannot see, so the work itself travels through this queue, whose lock it can.
inline std::mutex& MainCallsLock() {
  static std::mutex lock;
  return lock;
}
inline std::deque<std::function<void()>>& MainCalls() {
  static std::deque<std::function<void()>> calls;
  return calls;
}
inline void RunMainCalls() {
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard lock(MainCallsLock());
      if (MainCalls().empty()) return;
      call = std::move(MainCalls().front());
      MainCalls().pop_front();
    }
    call();
  }
}

// Runs the waiting calls on the main thread, called by name: Qt then allocates and frees the
// queued call itself. A posted functor or event would be allocated by our code on the worker
// and read or freed by our code on the main thread, with Qt's hand-over between them unseen.
class TMainCallRunner : public QObject {
  Q_OBJECT
 public slots:
  void Run() { RunMainCalls(); }
};
// Made before main, on the main thread: its memory is then never first written on a worker.
inline TMainCallRunner* const kMainCallRunner = new TMainCallRunner;

// A blocking call from a worker to the main thread, as a handler tells a window: it returns
// once the main thread has run `work`. Qt's blocking connection does the same, with a
// hand-shake ThreadSanitizer cannot see; this one waits on a future it can.
inline void CallMainBlocking(const std::function<void()>& work) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  {
    std::lock_guard lock(MainCallsLock());
    MainCalls().push_back([&work, &done] {
      work();
      done.set_value();
    });
  }
  QMetaObject::invokeMethod(kMainCallRunner, "Run", Qt::QueuedConnection);
  finished.wait();
}

// Ends the test program, naming what did not finish, if it is still armed after `limitMs`: a
// hang then fails its test instead of stopping the suite until the runner's timeout.
class TWatchdog {
 public:
  TWatchdog(std::string what, int limitMs = 10000)
      : what_(std::move(what)), thread_([this, limitMs] { Watch(limitMs); }) {}
  ~TWatchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;

 private:
  void Watch(int limitMs) {
    std::unique_lock lock(mutex_);
    if (changed_.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return done_; })) {
      return;
    }
    std::fprintf(stderr, "HANG: %s did not complete within %d ms\n", what_.c_str(), limitMs);
    std::fflush(stderr);
    std::_Exit(3);
  }

  std::string what_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace vardelio::test
