#include "ComThread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <array>
#include <mutex>
#include <vector>

#include "framework/Dialogs.h"

namespace vardelio {
namespace {

// Mask bit of each event, by ordinal.
constexpr std::array<std::uint32_t, 10> kEventBits = {EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_RING,
                                                      EV_BREAK,  EV_CTS,     EV_DSR,    EV_ERR,
                                                      EV_RLSD,   EV_RX80FULL};

// The order in which a batch is processed, and its messages are sent.
constexpr std::array<TComEvent, 10> kDeliveryOrder = {
    evError, evRxChar, evTxEmpty, evBreak, evRing, evCTS, evDSR, evRxFlag, evRLSD, evRx80Full};

// Threads retired from their own delivery, until they have ended. Left at exit, each is
// joined then: it has ended or is about to.
struct TRetiredThreads {
  std::mutex mutex;
  std::vector<std::unique_ptr<TComThread>> threads;
  bool appGoing = false;  // the application object is being destroyed: post nothing to it
  TRetiredReaper* reaper = nullptr;  // lives on the main thread until the application goes
};

TRetiredThreads& Retired() {
  static TRetiredThreads retired;
  return retired;
}

// Called by the application's destructor before it frees anything.
void ApplicationGoing() {
  TRetiredThreads& retired = Retired();
  std::lock_guard lock(retired.mutex);
  retired.appGoing = true;
  delete std::exchange(retired.reaper, nullptr);
}

// From a retired thread at its end: the main thread joins it. Under the lock, so the
// application cannot go between the look and the post.
void PostReap() {
  TRetiredThreads& retired = Retired();
  std::lock_guard lock(retired.mutex);
  if (retired.reaper != nullptr)
    QMetaObject::invokeMethod(retired.reaper, "Reap", Qt::QueuedConnection);
}

bool OnMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app == nullptr || QThread::currentThread() == app->thread();
}

// Made on the main thread before the first event thread starts: an object made on another
// thread and then used by Qt's event dispatch has no order ThreadSanitizer can see.
void MakeReaper() {
  if (QCoreApplication::instance() == nullptr || !OnMainThread()) return;
  {
    TRetiredThreads& retired = Retired();
    std::lock_guard lock(retired.mutex);
    if (retired.reaper != nullptr || retired.appGoing) return;
    retired.reaper = new TRetiredReaper;
  }
  qAddPostRoutine(&ApplicationGoing);  // outside the lock, which the routine takes
}

}  // namespace

void ReapRetiredComThreads() {
  if (!OnMainThread()) return;
  std::vector<std::unique_ptr<TComThread>> ended;
  {
    TRetiredThreads& retired = Retired();
    std::lock_guard lock(retired.mutex);
    for (auto& thread : retired.threads) {
      if (thread->Finished()) ended.push_back(std::move(thread));
    }
    std::erase(retired.threads, nullptr);
  }
  ended.clear();  // joined outside the lock
}

std::size_t RetiredComThreadCount() {
  TRetiredThreads& retired = Retired();
  std::lock_guard lock(retired.mutex);
  return retired.threads.size();
}

std::uint32_t EventSetToMask(TComEvents events) {
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < kEventBits.size(); ++i) {
    if (events.Contains(TComEvent(i))) mask |= kEventBits[i];
  }
  return mask;
}

TComEvents MaskToEventSet(std::uint32_t mask) {
  TComEvents events;
  for (std::size_t i = 0; i < kEventBits.size(); ++i) {
    if (mask & kEventBits[i]) events.Include(TComEvent(i));
  }
  return events;
}

// --- the thread

TComThread::TComThread(TCustomComPort& ownerPort, std::shared_ptr<TPortLife> life,
                       std::shared_ptr<THandOver> handOver,
                       std::shared_ptr<TPortNotifyWindow> notifyWindow)
    : OwnerPort(ownerPort),
      platform_(ownerPort.Platform()),
      life_(std::move(life)),
      generation_(life_->Generation()),
      line_(ownerPort.LineHandle()),
      syncMethod_(ownerPort.SyncMethod()),
      handOver_(std::move(handOver)),
      notifyWindow_(std::move(notifyWindow)),
      stopSignal_(platform_.CreateStopSignal()) {
  // Without it the thread could never be stopped, and closing would wait for ever.
  if (stopSignal_ == kNoStopSignal) throw EComPort(1, platform_.LastError());
  platform_.SetCommMask(line_, EventSetToMask(ownerPort.Events()));
}

TComThread::~TComThread() {
  if (retired_) {  // it ended by itself and closed its stop signal
    if (thread_.joinable()) thread_.join();
    return;
  }
  platform_.SetStopSignal(stopSignal_);
  std::this_thread::yield();
  if (thread_.joinable()) {
    // A batch being handed over completes instead of leaving both threads waiting.
    handOver_->ServeUntil([this] { return finished_.load(); });
    thread_.join();
  }
  // Closed here, not by the thread: it must outlive the last SetStopSignal.
  platform_.CloseStopSignal(stopSignal_);
}

void TComThread::Resume() {
  thread_ = std::thread([this] { Execute(); });
}

bool TComThread::InOwnDelivery() const {
  switch (syncMethod_) {
    case smThreadSync:
      return handOver_->Serving();  // only this thread hands work over to it
    case smNone:
      return std::this_thread::get_id() == ownId_.load();
    case smWindowSync:
      break;  // the thread was released before the handler ran
  }
  return false;
}

void TComThread::Retire(std::unique_ptr<TComThread> thread) {
  thread->retired_ = true;
  TRetiredThreads& retired = Retired();
  std::lock_guard lock(retired.mutex);
  retired.threads.push_back(std::move(thread));
}

void TComThread::ApplyPriority() const {
  // Nice values for idle .. time-critical; raising needs privileges and may be refused.
  static constexpr std::array<int, 7> kNice = {19, 10, 5, 0, -5, -10, -20};
  const int nice = kNice[OwnerPort.EventWatchPriority()];
  if (nice != 0) setpriority(PRIO_PROCESS, unsigned(gettid()), nice);
}

void TComThread::Execute() {
  // Its own record: the std::thread may not be stored yet when the first batch arrives.
  ownId_ = std::this_thread::get_id();
  ApplyPriority();
  try {
    std::uint32_t mask = 0;
    // Retired only while it delivers, so never while it waits on the line.
    while (!stopping_ && platform_.WaitCommEvent(line_, stopSignal_, mask) == TWaitResult::Events) {
      DeliverEvents(MaskToEventSet(mask));
    }
  } catch (...) {
    // Raised while processing: it ends the thread and is shown nowhere.
  }
  const bool retired = retired_;
  if (retired) {
    platform_.CloseStopSignal(stopSignal_);  // nobody sets it any more
  } else {
    platform_.SetCommMask(line_, 0);
    platform_.PurgeComm(line_, PURGE_TXCLEAR | PURGE_RXCLEAR);
  }
  finished_ = true;
  finished_.notify_all();
  handOver_->Wake();
  // Joined on the main thread; the port may be gone already.
  if (retired) PostReap();
}

void TComThread::DeliverEvents(TComEvents events) {
  if (events.Empty()) return;
  TPortLife::TDelivery delivery(*life_, *this, generation_, syncMethod_ == smNone);
  if (!delivery.Admitted()) return;
  switch (syncMethod_) {
    case smThreadSync: {
      // On a busy line the main thread takes the next batches itself, one per turn of its
      // loop, while this thread waits: whatever a handler left to the loop runs first.
      int more = 0;
      const auto start = std::chrono::steady_clock::now();
      handOver_->CallRepeated([this, events, &more, start] {
        if (!life_->Current(generation_)) return false;  // closed, reopened or destroyed
        // Between runs the loop turned: a close may have begun and wait for this thread.
        if (more > 0 && !MayTakeMore(more, start)) return false;
        const TPortLife::TScope batch(&OwnerPort, life_.get(), generation_, nullptr);
        if (more++ == 0) {
          OwnerPort.ProcessEventSet(events);
        } else {
          std::uint32_t mask = 0;
          if (!platform_.TakeBusyLineEvents(line_, mask)) return false;
          const TComEvents taken = MaskToEventSet(mask);
          if (!taken.Empty()) OwnerPort.ProcessEventSet(taken);
        }
        return MayTakeMore(more, start);
      });
      break;
    }
    case smWindowSync: {
      std::vector<std::uint32_t> messages;
      for (TComEvent event : kDeliveryOrder) {
        if (events.Contains(event)) messages.push_back(kEventBits[event]);
      }
      notifyWindow_->SendPortEvents(messages, generation_);
      break;
    }
    case smNone: {
      const TPortLife::TScope batch(&OwnerPort, life_.get(), generation_, delivery.Gate(),
                                    &stopping_);
      OwnerPort.ProcessEventSet(events);
      break;
    }
  }
}

// On the main thread, inside a thread-sync hand-over, while this thread waits for it: whether
// a busy line's next batch is taken there, as this thread would take it, without the two
// wake-ups each hand-over costs. Bounded in batches and in time: after slow handlers (a slow
// read) the line goes back to this thread and its own duties.
bool TComThread::MayTakeMore(int taken, std::chrono::steady_clock::time_point start) const {
  constexpr int kBatches = 17;                         // the one handed over and 16 more
  constexpr auto kFor = std::chrono::milliseconds(8);  // half a frame
  // A handler closed, reopened or destroyed the port, or a close waits for this batch.
  if (stopping_ || !life_->Current(generation_)) return false;
  return taken < kBatches && std::chrono::steady_clock::now() - start < kFor &&
         platform_.LineBusy(line_);  // a quiet line costs no second event
}

// --- window-sync delivery

void TPortNotifyWindow::SendPortEvents(const std::vector<std::uint32_t>& events,
                                       std::uint64_t generation) {
  std::vector<THandOver::TSent> messages;
  for (std::uint32_t event : events) {
    messages.push_back([this, event, generation](const THandOver::TRelease& release) {
      // Released before the handlers run: the next message is queued, or after the last the
      // event thread goes back to the line.
      release();
      if (port_ != nullptr) port_->HandlePortMessage(event, generation);
    });
  }
  handOver_.SendAll(std::move(messages));
}

void TCustomComPort::HandlePortMessage(std::uint32_t event) {
  HandlePortMessage(event, life_->Generation());
}

void TCustomComPort::HandlePortMessage(std::uint32_t event, std::uint64_t generation) {
  if (!connected_ || destroying_ || !life_->Current(generation)) return;
  const TPortLife::TScope batch(this, life_.get(), generation, nullptr);
  const TComEvents events = MaskToEventSet(event);
  if (events.Empty() || event != EventSetToMask(events)) return;  // one known event only
  RunReported([&] { ProcessEventSet(events); });
}

bool TCustomComPort::EventLoopEnded() const {
  return eventThread_ && eventThread_->Finished();
}

// --- started and stopped by the open and close sequences

void TCustomComPort::StartEventThread() {
  MakeReaper();  // its thread may retire on its own, away from the main thread
  handOver_ = std::make_shared<THandOver>();
  if (syncMethod_ == smWindowSync) {
    notifyWindow_ = std::make_shared<TPortNotifyWindow>(*this, *handOver_);
  }
  eventThread_ = std::make_unique<TComThread>(*this, life_, handOver_, notifyWindow_);
  eventThread_->Resume();
}

void TCustomComPort::StopEventThread() {
  const TPortAlive alive(this);
  life_->EndThread(std::move(eventThread_));
  // Destroyed by a handler that this wait served: its destructor released the rest.
  if (alive.Gone()) return;
  notifyWindow_.reset();
  handOver_.reset();
}

}  // namespace vardelio
