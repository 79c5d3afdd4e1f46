#include <QCoreApplication>
#include <QObject>
#include <QSemaphore>

#include "PollThread.h"
#include "Receivers.h"
#include "Splitter.h"

namespace vardelio::bench {

namespace {

// A bare reader whose chunks reach the main thread by Qt's means alone: a blocking queued
// call, or (`sendOnly`) a queued call the reader waits on only until the chunk is copied. The
// reader may be waiting on the main thread when the receiver goes, so the main thread serves
// its events until the reader has ended; the reader's last act wakes it.
class TQtFloor final : public TReceiver {
 public:
  TQtFloor(const std::string& path, TArrivals& arrivals, bool sendOnly)
      : sendOnly_(sendOnly),
        splitter_(Record(arrivals)),
        reader_(
            path, [this](const char* data, std::size_t size) { Take(data, size); },
            [this] {
              QMetaObject::invokeMethod(
                  &target_, [] {}, Qt::QueuedConnection);
            }) {}
  ~TQtFloor() override {
    reader_.Stop();
    while (!reader_.Finished())
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  const char* Name() const override { return sendOnly_ ? "bare + Qt send" : "bare + Qt blocking"; }
  bool OnMainThread() const override { return true; }

 private:
  // On the reader's thread.
  void Take(const char* data, std::size_t size) {
    if (!sendOnly_) {
      QMetaObject::invokeMethod(
          &target_, [&] { splitter_.Feed(data, size); }, Qt::BlockingQueuedConnection);
      return;
    }
    QMetaObject::invokeMethod(
        &target_,
        [this, data, size] {
          copy_.assign(data, size);
          copied_.release();
          splitter_.Feed(copy_.data(), copy_.size());
        },
        Qt::QueuedConnection);
    copied_.acquire();
  }

  const bool sendOnly_;
  QObject target_;  // lives on the main thread; goes after the reader has ended
  TSplitter splitter_;
  QSemaphore copied_;
  std::string copy_;  // main thread only; reused, so a chunk costs no allocation
  TPollThread reader_;
};

}  // namespace

std::unique_ptr<TReceiver> BareReaderWithQtBlocking(const std::string& path, TArrivals& arrivals) {
  return std::make_unique<TQtFloor>(path, arrivals, false);
}

std::unique_ptr<TReceiver> BareReaderWithQtSend(const std::string& path, TArrivals& arrivals) {
  return std::make_unique<TQtFloor>(path, arrivals, true);
}

}  // namespace vardelio::bench
