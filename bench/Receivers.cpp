#include "Receivers.h"

#include <QSerialPort>
#include <cstdlib>

#include "PollThread.h"
#include "Splitter.h"
#include "framework/HandOver.h"
#include "serial/ComDataPacket.h"
#include "serial/ComPort.h"

namespace vardelio::bench {

int SequenceOf(const std::string& payload) {
  if (payload.size() != 6) return -1;
  return std::atoi(payload.c_str());
}

std::function<void(const std::string&)> Record(TArrivals& arrivals) {
  return [&arrivals](const std::string& payload) { arrivals.Arrived(SequenceOf(payload)); };
}

void TArrivals::Reset(std::size_t expected) {
  std::lock_guard lock(mutex_);
  times_.assign(expected, {});
  count_ = 0;
  next_ = 0;
  lost_ = 0;
}

void TArrivals::Arrived(int sequence) {
  const TClock::time_point now = TClock::now();
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (sequence < 0 || std::size_t(sequence) >= times_.size()) return;
    if (sequence > next_) lost_ += sequence - next_;
    next_ = sequence + 1;
    times_[std::size_t(sequence)] = now;
    last_ = now;
    wake = ++count_ == wanted_;
  }
  if (wake) changed_.notify_all();
}

bool TArrivals::WaitFor(std::size_t count, int quietMs) {
  std::unique_lock lock(mutex_);
  wanted_ = count;
  for (;;) {
    const std::size_t before = count_;
    if (changed_.wait_for(lock, std::chrono::milliseconds(quietMs),
                          [&] { return count_ >= count; })) {
      return true;
    }
    if (count_ == before) return false;  // nothing came for quietMs
  }
}

std::size_t TArrivals::Count() {
  std::lock_guard lock(mutex_);
  return count_;
}

int TArrivals::Lost() {
  std::lock_guard lock(mutex_);
  return lost_ + int(times_.size() - std::min(times_.size(), std::size_t(next_)));
}

TClock::time_point TArrivals::At(int sequence) {
  std::lock_guard lock(mutex_);
  return times_[std::size_t(sequence)];
}

TClock::time_point TArrivals::Last() {
  std::lock_guard lock(mutex_);
  return last_;
}

namespace {

// The main window's arrangement: a 4096-byte queue, "S" ... "Z", its delivery mode by default.
class TOurPort final : public TReceiver {
 public:
  TOurPort(const std::string& path, TArrivals& arrivals, TSyncMethod mode) : mode_(mode) {
    port_.SetPort(path);
    port_.SetSyncMethod(mode);
    port_.Buffer().SetInputSize(4096);
    TComEvents events = kAllComEvents;
    events.Exclude(evCTS);
    events.Exclude(evDSR);
    port_.SetEvents(events);
    framer_.SetComPort(&port_);
    framer_.SetStartString("S");
    framer_.SetStopString("Z");
    framer_.OnPacket = TComStrEvent([&arrivals](QObject*, const std::string& payload) {
      arrivals.Arrived(SequenceOf(payload));
    });
    port_.OpenPort();
  }
  ~TOurPort() override { port_.ClosePort(); }
  const char* Name() const override { return "ours"; }
  bool OnMainThread() const override { return mode_ != smNone; }

 private:
  TSyncMethod mode_;
  TComPort port_;
  TComDataPacket framer_;
};

// One thread blocked in poll that frames what it reads itself, with no hand-over: the
// comparison for delivery on the event thread.
class TBarePollReader final : public TReceiver {
 public:
  TBarePollReader(const std::string& path, TArrivals& arrivals)
      : splitter_(Record(arrivals)),
        reader_(path, [this](const char* data, std::size_t size) { splitter_.Feed(data, size); }) {}
  const char* Name() const override { return "bare poll reader"; }
  bool OnMainThread() const override { return false; }

 private:
  TSplitter splitter_;
  TPollThread reader_;
};

// The bare reader's thread hands each chunk to the main thread and waits, as thread-sync
// delivery does; or, as window-sync delivery does, only until the main thread has taken a copy.
class TBareReaderWithHandOver final : public TReceiver {
 public:
  TBareReaderWithHandOver(const std::string& path, TArrivals& arrivals, bool releaseFirst)
      : handOver_(std::make_shared<THandOver>()),
        splitter_(Record(arrivals)),
        reader_(
            path,
            [this, releaseFirst](const char* data, std::size_t size) {
              if (!releaseFirst) {
                handOver_->Call([&] { splitter_.Feed(data, size); });
                return;
              }
              handOver_->Send([&](const THandOver::TRelease& release) {
                const std::string chunk(data, size);
                release();
                splitter_.Feed(chunk.data(), chunk.size());
              });
            },
            [this] { handOver_->Wake(); }) {}
  ~TBareReaderWithHandOver() override {
    // The thread may be waiting in the hand-over: serve it until it has ended.
    reader_.Stop();
    handOver_->ServeUntil([this] { return reader_.Finished(); });
  }
  const char* Name() const override { return "bare + hand-over"; }
  bool OnMainThread() const override { return true; }

 private:
  std::shared_ptr<THandOver> handOver_;
  TSplitter splitter_;
  TPollThread reader_;
};

// The bare reader's thread posts a copy of each chunk to the main thread and goes straight
// back to poll: the floor for a delivery that does not wait. Copies queue in a mailbox; only
// the first one into an empty mailbox posts an event, as an event per chunk is not needed.
class TBareReaderWithPost final : public TReceiver {
 public:
  TBareReaderWithPost(const std::string& path, TArrivals& arrivals)
      : splitter_(Record(arrivals)),
        reader_(path, [this](const char* data, std::size_t size) { Post(data, size); }) {}
  const char* Name() const override { return "bare + post"; }
  bool OnMainThread() const override { return true; }

 private:
  void Post(const char* data, std::size_t size) {
    bool first;
    {
      std::lock_guard lock(mutex_);
      first = mailbox_.empty();
      mailbox_.emplace_back(data, size);
    }
    if (first)
      QMetaObject::invokeMethod(
          &target_, [this] { Serve(); }, Qt::QueuedConnection);
  }
  void Serve() {
    {
      std::lock_guard lock(mutex_);
      serving_.swap(mailbox_);
    }
    for (const std::string& chunk : serving_)
      splitter_.Feed(chunk.data(), chunk.size());
    serving_.clear();
  }

  QObject target_;  // lives on the main thread; goes after the reader has ended
  std::mutex mutex_;
  std::vector<std::string> mailbox_;
  std::vector<std::string> serving_;  // main thread only
  TSplitter splitter_;
  TPollThread reader_;
};

// Qt's serial module with readyRead on the main thread.
class TQtSerialPort final : public TReceiver {
 public:
  TQtSerialPort(const std::string& path, TArrivals& arrivals, int* errors)
      : splitter_(Record(arrivals)) {
    port_.setPortName(QString::fromStdString(path));
    port_.setBaudRate(9600);
    QObject::connect(&port_, &QSerialPort::readyRead, [this] {
      const QByteArray data = port_.readAll();
      splitter_.Feed(data.constData(), std::size_t(data.size()));
    });
    if (errors != nullptr) {
      QObject::connect(&port_, &QSerialPort::errorOccurred,
                       [errors](QSerialPort::SerialPortError e) {
                         if (e != QSerialPort::NoError) ++*errors;
                       });
    }
    port_.open(QIODevice::ReadWrite);
  }
  const char* Name() const override { return "Qt serial port"; }
  bool OnMainThread() const override { return true; }

 private:
  QSerialPort port_;
  TSplitter splitter_;
};

}  // namespace

std::unique_ptr<TReceiver> OurPort(const std::string& path, TArrivals& arrivals, TSyncMethod mode) {
  return std::make_unique<TOurPort>(path, arrivals, mode);
}
std::unique_ptr<TReceiver> BarePollReader(const std::string& path, TArrivals& arrivals) {
  return std::make_unique<TBarePollReader>(path, arrivals);
}
std::unique_ptr<TReceiver> BareReaderWithHandOver(const std::string& path, TArrivals& arrivals,
                                                  bool releaseFirst) {
  return std::make_unique<TBareReaderWithHandOver>(path, arrivals, releaseFirst);
}
std::unique_ptr<TReceiver> BareReaderWithPost(const std::string& path, TArrivals& arrivals) {
  return std::make_unique<TBareReaderWithPost>(path, arrivals);
}
std::unique_ptr<TReceiver> QtSerialPort(const std::string& path, TArrivals& arrivals,
                                        int* errorSignals) {
  return std::make_unique<TQtSerialPort>(path, arrivals, errorSignals);
}

}  // namespace vardelio::bench
