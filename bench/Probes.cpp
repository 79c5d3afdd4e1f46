#include "Probes.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QObject>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <thread>
#include <vector>

#include "Splitter.h"
#include "framework/HandOver.h"
#include "serial/ComDataPacket.h"

namespace vardelio::bench {

namespace {

using TClock = std::chrono::steady_clock;

double Micros(TClock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// How the main thread waits for calls, and how the worker wakes it once it has finished.
struct TMainLoop {
  std::function<void(const std::function<bool()>&)> serveUntil;
  std::function<void()> wake;
};

// The main thread in its event loop, as it waits for the receivers.
TMainLoop EventLoop(QObject& target) {
  return {[](const std::function<bool()>& done) {
            while (!done())
              QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
          },
          [&target] {
            QMetaObject::invokeMethod(
                &target, [] {}, Qt::QueuedConnection);
          }};
}

// Times `roundTrip` `calls` times on a worker thread while the main thread serves `loop`; the
// median round trip in microseconds. With `napUs`, the worker sleeps before each call, so the
// main thread has gone to sleep when the call starts, as it has in the program.
double WorkerRoundTrips(int calls, int napUs, const std::function<void()>& roundTrip,
                        const TMainLoop& loop) {
  std::vector<double> times(std::size_t(calls), 0.0);
  std::atomic<bool> finished = false;
  std::thread worker([&] {
    for (double& time : times) {
      if (napUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(napUs));
      const TClock::time_point start = TClock::now();
      roundTrip();
      time = Micros(TClock::now() - start);
    }
    finished = true;
    loop.wake();
  });
  loop.serveUntil([&] { return finished.load(); });
  worker.join();
  return SpreadOf(times).median;
}

double HandOverCall(int calls, int napUs) {
  auto handOver = std::make_shared<THandOver>();
  QObject target;
  return WorkerRoundTrips(
      calls, napUs, [&] { handOver->Call([] {}); }, EventLoop(target));
}

// The main thread waits in the hand-over's own loop instead of Qt's.
double HandOverServed(int calls, int napUs) {
  auto handOver = std::make_shared<THandOver>();
  const TMainLoop loop = {[&](const std::function<bool()>& done) { handOver->ServeUntil(done); },
                          [&] { handOver->Wake(); }};
  return WorkerRoundTrips(
      calls, napUs, [&] { handOver->Call([] {}); }, loop);
}

double QtBlockingQueued(int calls, int napUs) {
  QObject target;
  return WorkerRoundTrips(
      calls, napUs,
      [&] {
        QMetaObject::invokeMethod(
            &target, [] {}, Qt::BlockingQueuedConnection);
      },
      EventLoop(target));
}

// Two threads and two eventfds, with no event loop between: what a wake-up and an answer
// cost on this machine.
double EventfdPingPong(int calls) {
  const int ping = eventfd(0, EFD_CLOEXEC), pong = eventfd(0, EFD_CLOEXEC);
  constexpr std::uint64_t kStop = std::uint64_t(1) << 40;
  std::thread echo([&] {
    for (std::uint64_t value = 0; value < kStop;) {
      if (read(ping, &value, sizeof value) != sizeof value) break;
      const std::uint64_t one = 1;
      if (value < kStop && write(pong, &one, sizeof one) != sizeof one) break;
    }
  });
  std::vector<double> times(std::size_t(calls), 0.0);
  for (double& time : times) {
    const TClock::time_point start = TClock::now();
    std::uint64_t value = 1;
    if (write(ping, &value, sizeof value) != sizeof value) break;
    if (read(pong, &value, sizeof value) != sizeof value) break;
    time = Micros(TClock::now() - start);
  }
  [[maybe_unused]] const ssize_t n = write(ping, &kStop, sizeof kStop);
  echo.join();
  close(ping);
  close(pong);
  return SpreadOf(times).median;
}

double ThreadCpuMicros() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

double FramerRun(const std::string& stream, std::size_t block) {
  TComDataPacket framer;
  framer.SetStartString("S");
  framer.SetStopString("Z");
  int packets = 0;
  framer.OnPacket = TComStrEvent([&](QObject*, const std::string&) { ++packets; });
  const std::string_view all(stream);
  const double start = ThreadCpuMicros();
  for (std::size_t at = 0; at < all.size(); at += block)
    framer.AppendData(all.substr(at, block));
  return (ThreadCpuMicros() - start) / std::max(packets, 1);
}

double SplitterRun(const std::string& stream, std::size_t block) {
  int packets = 0;
  TSplitter splitter([&](const std::string&) { ++packets; });
  const double start = ThreadCpuMicros();
  for (std::size_t at = 0; at < stream.size(); at += block)
    splitter.Feed(stream.data() + at, std::min(block, stream.size() - at));
  return (ThreadCpuMicros() - start) / std::max(packets, 1);
}

}  // namespace

THandOverProbe ProbeHandOver(int runs, int calls, int asleepCalls, int napUs) {
  THandOverProbe probe;
  probe.calls = calls;
  probe.asleepCalls = asleepCalls;
  probe.napUs = napUs;
  const std::function<void()> kinds[] = {
      [&] { probe.ourUs.push_back(HandOverCall(calls, 0)); },
      [&] { probe.qtUs.push_back(QtBlockingQueued(calls, 0)); },
      [&] { probe.eventfdUs.push_back(EventfdPingPong(calls)); },
      [&] { probe.ourAsleepUs.push_back(HandOverCall(asleepCalls, napUs)); },
      [&] { probe.qtAsleepUs.push_back(QtBlockingQueued(asleepCalls, napUs)); },
      [&] { probe.serveAsleepUs.push_back(HandOverServed(asleepCalls, napUs)); },
  };
  constexpr std::size_t kKinds = std::size(kinds);
  for (int r = 0; r < runs; ++r) {
    for (std::size_t k = 0; k < kKinds; ++k)
      kinds[(k + std::size_t(r)) % kKinds]();  // rotate the order
  }
  return probe;
}

double ProbeAsleep(const std::string& which, int calls, int napUs) {
  if (which == "qt") return QtBlockingQueued(calls, napUs);
  if (which == "serve") return HandOverServed(calls, napUs);
  return HandOverCall(calls, napUs);
}

TFramerCost MeasureFramer(const std::string& stream, std::size_t block, int runs) {
  TFramerCost cost;
  cost.block = block;
  for (int r = 0; r < runs; ++r) {
    if (r % 2 == 0) {
      cost.framerUs.push_back(FramerRun(stream, block));
      cost.splitterUs.push_back(SplitterRun(stream, block));
    } else {
      cost.splitterUs.push_back(SplitterRun(stream, block));
      cost.framerUs.push_back(FramerRun(stream, block));
    }
  }
  return cost;
}

}  // namespace vardelio::bench
