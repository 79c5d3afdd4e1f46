#include "HandOver.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimerEvent>
#include <climits>
#include <utility>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vardelio {
namespace {

// Held around posting to a target, around orphaning one, and while the main thread's loop
// asks one (which may post: hence recursive). Qt orders posting and freeing on its own lock of
// the main thread's posted events, which ThreadSanitizer cannot see; with two hand-overs alive
// at once (a port reopened while its old thread still posts) it would see a race. A hand-over
// made or destroyed on the event thread (a smNone handler's reopen) is looked at by the main
// thread's loop: the lock keeps it alive and its making seen while the loop asks.
std::recursive_mutex& PostsLock() {
  static std::recursive_mutex lock;
  return lock;
}

const QEvent::Type kServeEvent = QEvent::Type(QEvent::registerEventType());

// Raised once by the main thread, waited for by one worker. The worker sleeps in the kernel
// and wakes with nothing more to take: a condition variable takes its mutex again, marked
// contended, so its unlock costs one more system call each time.
class TWakeFlag {
 public:
  bool Raised() const { return state_.load(std::memory_order_acquire) == kRaised; }
  void Raise() {
    if (state_.exchange(kRaised, std::memory_order_acq_rel) == kSleeping) Futex(FUTEX_WAKE_PRIVATE);
  }
  void Wait() {
    std::uint32_t state = kLowered;
    if (state_.compare_exchange_strong(state, kSleeping, std::memory_order_acquire)) {
      state = kSleeping;
    }
    while (state != kRaised) {
      Futex(FUTEX_WAIT_PRIVATE);
      state = state_.load(std::memory_order_acquire);
    }
  }

 private:
  static constexpr std::uint32_t kLowered = 0, kRaised = 1, kSleeping = 2;
  // A wait sleeps only while the state is still kSleeping; a wake wakes every waiter.
  void Futex(int op) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&state_), op,
            op == FUTEX_WAIT_PRIVATE ? kSleeping : INT_MAX, nullptr, nullptr, 0);
  }
  std::atomic<std::uint32_t> state_{kLowered};
};

}  // namespace

struct THandOver::TItem {
  std::function<void(const TRelease&)> work;
  bool carryException = false;
  TWakeFlag released;
  std::shared_ptr<TItem> next;  // of a batch: queued once this one is released
  bool chained = false;         // queued so, with no event of its own
  std::exception_ptr failure;
  THandOver* owner = nullptr;
  bool again = false;  // run once more at a later turn, the worker still waiting
};

void THandOverTarget::Post() {
  auto* event = new QEvent(kServeEvent);
  // Before the post, so the main thread never waits for the count.
  made_.fetch_add(1, std::memory_order_release);
  const std::lock_guard lock(PostsLock());
  QCoreApplication::postEvent(this, event);
}

bool THandOverTarget::event(QEvent* event) {
  // Before the event is touched: orders its making before this look and Qt's freeing of it.
  made_.load(std::memory_order_acquire);
  if (event->type() != kServeEvent) return QObject::event(event);
  Serve();
  return true;
}

void THandOverTarget::ServeNextTurn() {
  if (!watchesLoops_ || thread() != QThread::currentThread()) return Post();
  // Armed as the next turn begins, not now: Qt's own dispatcher fires a turn's timers right
  // behind its posted events, before what those posted.
  nextTurnWanted_ = true;
}

void THandOverTarget::timerEvent(QTimerEvent* event) {
  if (event->timerId() != nextTurn_.timerId()) return QObject::timerEvent(event);
  nextTurn_.stop();
  Serve();
}

void THandOverTarget::Serve() {
  if (handOver_ == nullptr) return;
  ++serving_;
  handOver_->ServePending();
  --serving_;
}

THandOverTarget::THandOverTarget(THandOver* handOver) : handOver_(handOver) {
  // An open from a smNone handler makes it on the event thread, which has no loop: the main
  // thread serves it whatever thread made it.
  if (const QCoreApplication* app = QCoreApplication::instance()) moveToThread(app->thread());
  auto* dispatcher = QAbstractEventDispatcher::instance(thread());
  {
    // The main thread's loop calls it from the first connect on, maybe while this thread is
    // still here: what its slots read is handed over under the lock they take.
    const std::lock_guard lock(PostsLock());
    watchesLoops_ = dispatcher != nullptr;
  }
  if (dispatcher == nullptr) return;
  // Every turn of an event loop, nested ones included, starts with one of these.
  connect(dispatcher, &QAbstractEventDispatcher::awake, this, &THandOverTarget::LoopTurns);
  connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &THandOverTarget::LoopTurns);
  // As a turn begins only: Qt's own dispatcher tells of a block between a turn's posted
  // events and its timers, and sends the window system's events after both.
  connect(dispatcher, &QAbstractEventDispatcher::awake, this, &THandOverTarget::TurnBegins);
}

// Both under the lock that orphaning takes: a close on the event thread (a smNone handler's)
// destroys the hand-over there, not while the main thread's loop asks it.
void THandOverTarget::LoopTurns() {
  const std::lock_guard lock(PostsLock());
  if (handOver_ != nullptr) handOver_->PostChained();
}

void THandOverTarget::TurnBegins() {
  const std::lock_guard lock(PostsLock());
  if (std::exchange(nextTurnWanted_, false) && handOver_ != nullptr && !nextTurn_.isActive()) {
    nextTurn_.start(0, this);
  }
}

void THandOverTarget::Orphan() {
  const std::lock_guard lock(PostsLock());
  handOver_ = nullptr;
  // Inside its own slot, the event system still uses it once the slot returns; a nested event
  // loop may have run the slot again meanwhile, so only the outermost call may free it. A
  // close on the event thread (a smNone handler's reopen, closed again) frees it off its own.
  if (serving_ > 0 || thread() != QThread::currentThread()) {
    deleteLater();
  } else {
    delete this;
  }
}

THandOver::THandOver() : target_(new THandOverTarget(this)) {}

THandOver::~THandOver() {
  target_->Orphan();
}

void THandOver::Post(const std::shared_ptr<TItem>& item) {
  Enqueue(item);
  AwaitRelease(*item);
}

void THandOver::Queue(const std::shared_ptr<TItem>& item) {
  item->owner = this;
  const std::lock_guard lock(mutex_);
  pending_.push_back(item);
}

void THandOver::Enqueue(const std::shared_ptr<TItem>& item) {
  Queue(item);
  changed_.notify_all();  // a main thread waiting in ServeUntil serves it now
  PostServe();            // otherwise the event loop does
}

// Outside the lock, so the main thread need not wait for it.
void THandOver::PostServe() {
  target_->Post();
}

// On the main thread, as a batch's message is released: the next one is queued without an
// event, and the serve running this one goes on to it. Only an event loop that turns before
// then (a handler's message box) needs an event for it.
void THandOver::Chain(const std::shared_ptr<TItem>& item) {
  item->chained = true;
  Queue(item);
  ++unposted_;
  if (!target_->WatchesLoops()) PostChained();
}

void THandOver::PostChained() {
  if (unposted_ == 0) return;
  unposted_ = 0;
  PostServe();
}

void THandOver::AwaitRelease(TItem& item) {
  item.released.Wait();
}

void THandOver::Call(std::function<void()> work) {
  auto item = std::make_shared<TItem>();
  item->work = [work = std::move(work)](const TRelease&) { work(); };
  item->carryException = true;
  Post(item);
  if (item->failure) std::rethrow_exception(item->failure);
}

void THandOver::CallRepeated(std::function<bool()> work) {
  auto item = std::make_shared<TItem>();
  TItem* self = item.get();  // the item owns the work: no cycle through a shared pointer
  item->work = [work = std::move(work), self](const TRelease&) { self->again = work(); };
  item->carryException = true;
  Post(item);
  if (item->failure) std::rethrow_exception(item->failure);
}

void THandOver::Send(TSent work) {
  auto item = std::make_shared<TItem>();
  item->work = std::move(work);
  Post(item);
}

void THandOver::SendAll(std::vector<TSent> works) {
  if (works.empty()) return;
  std::vector<std::shared_ptr<TItem>> items;
  for (TSent& work : works) {
    items.push_back(std::make_shared<TItem>());
    items.back()->work = std::move(work);
  }
  for (std::size_t i = 0; i + 1 < items.size(); ++i) {
    items[i]->next = items[i + 1];
  }
  // Each next one is queued as the one before is released, as the worker would have sent it
  // then: a nested event loop in a handler (a message box) still serves it.
  Enqueue(items.front());
  AwaitRelease(*items.back());
}

void THandOver::Run(TItem& item) {
  THandOver& self = *item.owner;
  const TRelease release = [&self, &item] {
    if (item.released.Raised()) return;
    // Queued before the worker may go on, as the worker would have sent it.
    if (item.next) self.Chain(std::exchange(item.next, nullptr));
    item.released.Raise();
  };
  ++self.running_;
  try {
    item.work(release);
  } catch (...) {
    --self.running_;
    if (!item.carryException) {
      release();
      throw;
    }
    item.failure = std::current_exception();
    release();
    return;
  }
  --self.running_;
  if (item.again) return;  // queued again by the serve; the worker waits on
  release();
}

// Serves what was waiting on entry, and the rest of a batch whose messages it serves: a
// worker that keeps sending must not keep the main thread from its event loop.
void THandOver::ServePending() {
  const std::shared_ptr<THandOver> keep = shared_from_this();
  std::size_t budget;
  {
    std::lock_guard lock(mutex_);
    budget = pending_.size();
  }
  for (;;) {
    std::shared_ptr<TItem> item;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty() || (budget == 0 && !pending_.front()->chained)) return;
      item = pending_.front();
      pending_.pop_front();
    }
    if (budget > 0) --budget;
    if (item->chained && unposted_ > 0) --unposted_;  // served before a loop needed its event
    Run(*item);
    if (item->again) {
      item->again = false;
      // Behind what the loop holds now: it runs at a later turn. The worker waits for this
      // thread, so nothing else wakes the loop.
      Queue(item);
      target_->ServeNextTurn();
    }
  }
}

void THandOver::ServeUntil(const std::function<bool()>& finished) {
  const std::shared_ptr<THandOver> keep = shared_from_this();
  for (;;) {
    ServePending();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !pending_.empty() || finished(); });
    if (pending_.empty() && finished()) return;
  }
}

void THandOver::Wake() {
  { std::lock_guard lock(mutex_); }
  changed_.notify_all();
}

}  // namespace vardelio
