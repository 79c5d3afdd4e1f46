#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QTimer>
#include <atomic>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "PtyPair.h"
#include "RecordingPresenter.h"
#include "Waiting.h"
#include "serial/ComDataPacket.h"
#include "serial/ComPort.h"
#include "serial/ComThread.h"

using namespace vardelio;
using vardelio::test::ServeUntil;
using vardelio::test::TPtyPair;
using vardelio::test::TRecordingPresenter;

namespace {

using Texts = std::vector<std::string>;

// The main window's arrangement: a port and a framer cutting "S" ... "Z".
class PtyEvents : public ::testing::TestWithParam<TSyncMethod> {
 protected:
  PtyEvents() {
    port.SetPort(device.DevicePath());
    port.SetSyncMethod(GetParam());
    framer.SetComPort(&port);
    framer.SetStartString("S");
    framer.SetStopString("Z");
    framer.OnPacket = TComStrEvent([this](QObject*, const std::string& packet) {
      std::lock_guard lock(mutex);
      packets.push_back(packet);
      onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
    });
  }
  std::size_t Count() {
    std::lock_guard lock(mutex);
    return packets.size();
  }
  Texts Packets() {
    std::lock_guard lock(mutex);
    return packets;
  }

  TPtyPair device;
  TComPort port;
  TComDataPacket framer;
  std::mutex mutex;
  Texts packets;
  std::atomic<bool> onMainThread = true;
};

// A device on a pty and a port cutting "S" ... "Z" from it in one delivery mode, counting the
// I/O errors it reports.
struct TFramedLine {
  explicit TFramedLine(TSyncMethod mode) {
    line.SetPort(unit.DevicePath());
    line.SetSyncMethod(mode);
    cutter.SetComPort(&line);
    cutter.SetStartString("S");
    cutter.SetStopString("Z");
    line.OnError = TComErrorEvent([this](QObject*, TComErrors errors) {
      if (errors.Contains(ceIO)) ++ioErrors;
    });
  }
  TPtyPair unit;
  TComPort line;
  TComDataPacket cutter;
  std::atomic<int> ioErrors = 0;
};

TEST_P(PtyEvents, TheUnitsRepliesArriveAsPackets) {
  port.OpenPort();
  device.Send("SOKZ");
  ASSERT_TRUE(ServeUntil([&] { return Count() == 1; }));
  device.Send("SOKZSFZ");
  ASSERT_TRUE(ServeUntil([&] { return Count() == 3; }));
  device.Send("SO");
  QThread::msleep(20);
  device.Send("KZ");
  ASSERT_TRUE(ServeUntil([&] { return Count() == 4; }));
  EXPECT_EQ(Packets(), (Texts{"OK", "OK", "F", "OK"}));
  EXPECT_EQ(onMainThread.load(), GetParam() != smNone);
  port.ClosePort();
}

// Whichever thread runs the handler, bytes that arrive meanwhile can be counted from it, and
// then come as the next packet.
TEST_P(PtyEvents, WhatArrivesWhileAHandlerRunsIsCountedThereAndDeliveredNext) {
  std::atomic<int> counted = 0;
  framer.OnPacket = TComStrEvent([&](QObject*, const std::string& packet) {
    {
      std::lock_guard lock(mutex);
      packets.push_back(packet);
    }
    if (packet != "A") return;
    device.Send("SBZ");
    for (int i = 0; i < 400 && port.BytesWaiting() < 3; ++i)
      QThread::msleep(5);
    counted = port.BytesWaiting();
  });
  port.OpenPort();
  device.Send("SAZ");
  ASSERT_TRUE(ServeUntil([&] { return Count() == 2; }));
  EXPECT_EQ(counted.load(), 3);
  EXPECT_EQ(Packets(), (Texts{"A", "B"}));
  port.ClosePort();
}

TEST_P(PtyEvents, ClosingWhileTheDeviceFloodsReturns) {
  port.OpenPort();
  std::atomic<bool> flooding = true;
  std::thread flood([&] {
    const std::string burst(512, 'x');
    while (flooding) {
      if (write(device.Master(), burst.data(), burst.size()) < 0) QThread::usleep(200);
    }
  });
  ServeUntil([&] { return false; }, 100);  // let the line fill up
  port.ClosePort();
  flooding = false;
  flood.join();
  EXPECT_FALSE(port.Connected());
  // Without hand-over the close may retire a thread still delivering: the port and its framer
  // are destroyed right after, under it.
}

// A device sending faster than the port wakes: every packet arrives, in order, and the main
// thread's event loop keeps turning meanwhile (the device floods until it has seen it turn).
TEST_P(PtyEvents, AFloodArrivesWholeAndInOrderWhileTheLoopTurns) {
  std::atomic<int> ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(1);
  port.OpenPort();
  std::atomic<int> sent = 0;
  std::atomic<bool> flooded = false;
  std::thread flood([&] {
    constexpr int kCap = 4'000'000;  // 32 MB: a loop that never turns runs into it
    const int ticksBefore = ticks;
    while (sent < kCap && (sent < 20'000 || ticks < ticksBefore + 3)) {
      std::string burst;
      for (int i = 0; i < 512; ++i)
        burst += "S" + std::to_string(1'000'000 + sent++).substr(1) + "Z";
      device.Send(burst);
    }
    flooded = true;
  });
  const bool arrived =
      ServeUntil([&] { return flooded && Count() == std::size_t(sent.load()); }, 60'000);
  flood.join();
  ticker.stop();
  ASSERT_TRUE(arrived) << Count() << " of " << sent.load();
  EXPECT_LT(sent.load(), 4'000'000) << "the event loop did not turn during the flood";
  const Texts got = Packets();
  std::size_t misplaced = 0;
  for (std::size_t i = 0; i < got.size(); ++i)
    misplaced += got[i] != std::to_string(1'000'000 + i).substr(1);
  EXPECT_EQ(misplaced, 0u);
  port.ClosePort();
}

// The far end going away, in the middle of a frame or of a flood: one I/O error, a loop that
// then rests without spinning (CPU read from the process's own counters), and a port that
// still closes.
TEST_P(PtyEvents, TheFarEndClosingIsOneErrorAndNoSpin) {
  const auto cpuMicros = [] {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000L + u.ru_utime.tv_usec +
           u.ru_stime.tv_usec;
  };
  for (const bool flood : {false, true}) {
    SCOPED_TRACE(flood ? "during a flood" : "mid-frame");
    TFramedLine framed(GetParam());
    TPtyPair& unit = framed.unit;
    TComPort& line = framed.line;
    std::atomic<int>& ioErrors = framed.ioErrors;
    line.OpenPort();
    std::mutex unitMutex;  // the send and the hang-up meet in the kernel, out of TSan's sight
    std::atomic<bool> flooding = flood;
    std::thread writer([&] {
      const std::string burst(512, 'x');
      while (flooding) {
        std::lock_guard lock(unitMutex);
        if (write(unit.Master(), burst.data(), burst.size()) < 0) QThread::usleep(200);
      }
    });
    if (!flood) {
      std::lock_guard lock(unitMutex);
      unit.Send("SOK");
    }
    ServeUntil([] { return false; }, 50);
    flooding = false;
    writer.join();
    {
      std::lock_guard lock(unitMutex);
      unit.HangUp();
    }
    ASSERT_TRUE(ServeUntil([&] { return line.EventLoopEnded() && ioErrors >= 1; }));
    const long before = cpuMicros();
    ServeUntil([] { return false; }, 300);
    const long used = cpuMicros() - before;
    RecordProperty(flood ? "cpu_us_after_flood" : "cpu_us_after_mid_frame", int(used));
    EXPECT_LT(used, 100'000);  // a spinning loop would use it all
    EXPECT_EQ(ioErrors, 1);
    line.ClosePort();
    EXPECT_FALSE(line.Connected());
  }
}

// Completes in every mode; the line is released, so the port opens again at once.
TEST_P(PtyEvents, AHandlerThatClosesItsOwnPortCompletes) {
  std::atomic<bool> closed = false, handlerDone = false, doneBeforeNext = false;
  std::atomic<int> packets = 0;
  // One handler for both opens: the first closing one may still be running when the port is
  // opened again, so it is not replaced meanwhile.
  framer.OnPacket = TComStrEvent([&](QObject*, const std::string&) {
    if (closed) {
      doneBeforeNext = handlerDone.load();
      ++packets;
      return;
    }
    port.ClosePort();
    closed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // still in the handler
    handlerDone = true;
  });
  port.OpenPort();
  device.Send("SOKZ");
  ASSERT_TRUE(ServeUntil([&] { return closed.load(); }));
  EXPECT_FALSE(port.Connected());
  port.OpenPort();
  device.Send("SOKZ");
  ASSERT_TRUE(ServeUntil([&] { return packets == 1; }));
  // The new open delivers only once the closed line's thread is done with the port's handlers
  // and links; the open itself does not wait for a handler, which may be waiting for it.
  EXPECT_TRUE(doneBeforeNext);
  port.ClosePort();
}

// The same with `delete`: what called the handler stops, and the line is released.
TEST_P(PtyEvents, AHandlerThatDeletesItsOwnPortCompletes) {
  std::atomic<TComPort*> owned = new TComPort;
  owned.load()->SetPort(device.DevicePath());
  owned.load()->SetSyncMethod(GetParam());
  framer.SetComPort(owned.load());
  // The send reaches the handler through the kernel, which ThreadSanitizer cannot see: the
  // lock orders what the main thread did before the send ahead of the deletion.
  std::mutex sent;
  framer.OnPacket = TComStrEvent([&](QObject*, const std::string&) {
    { std::lock_guard lock(sent); }
    delete owned.load();
    owned = nullptr;  // once deleted: what the test reads next was done by then
  });
  owned.load()->OpenPort();
  {
    std::lock_guard lock(sent);
    device.Send("SOKZSOKZ");
  }
  ASSERT_TRUE(ServeUntil([&] { return owned.load() == nullptr && RetiredComThreadCount() == 0; }));
  EXPECT_EQ(framer.ComPort(), nullptr);
  std::atomic<int> packets = 0;
  framer.OnPacket = TComStrEvent([&](QObject*, const std::string&) { ++packets; });
  framer.SetComPort(&port);
  port.OpenPort();
  device.Send("SOKZ");
  ASSERT_TRUE(ServeUntil([&] { return packets == 1; }));
  port.ClosePort();
}

// An adapter pulled during a reply: the reply arrives and the loss is told once, as an
// error, never as a failure of the port's own calls.
TEST_P(PtyEvents, AReplyThenAHangUpIsReportedOnceAsAnIOErrorEveryRound) {
  TRecordingPresenter boxes;
  int ioErrors = 0;
  std::atomic<int> replies = 0;
  for (int round = 0; round < 200; ++round) {
    const int repliesBefore = replies;
    TFramedLine framed(GetParam());
    TPtyPair& unit = framed.unit;
    TComPort& line = framed.line;
    TComDataPacket& cutter = framed.cutter;
    // Pulled while the reply is handled; a count of waiting bytes (as the completion of a
    // send makes) is the first to see it.
    // The order of the send and the hang-up runs through the kernel, which TSan cannot see.
    std::mutex unitMutex;
    cutter.OnPacket = TComStrEvent([&](QObject*, const std::string&) {
      ++replies;
      std::lock_guard lock(unitMutex);
      unit.HangUp();
      EXPECT_EQ(line.BytesWaiting(), 0);
    });
    line.OpenPort();
    {
      std::lock_guard lock(unitMutex);
      unit.Send("SOKZ");
    }
    // Says which step never came: the reply, the end of the wait, or the error report.
    ASSERT_TRUE(ServeUntil([&] { return line.EventLoopEnded() && framed.ioErrors == 1; }))
        << "round " << round << ": replies " << replies - repliesBefore << ", wait ended "
        << line.EventLoopEnded() << ", I/O errors " << framed.ioErrors;
    QCoreApplication::processEvents();  // a second report would still be queued
    line.ClosePort();
    ioErrors += framed.ioErrors;
  }
  EXPECT_EQ(ioErrors, 200);
  EXPECT_EQ(replies, 200);
  EXPECT_TRUE(boxes.errors.isEmpty()) << boxes.errors.value(0).toStdString();
}

// What a pseudo-terminal can produce of the line events, with no reader taking the bytes.
TEST(PtyLineEvents, EventCharacterTransmitEmptyAndEightyPercentFull) {
  TPtyPair device;
  TComPort port;
  port.SetPort(device.DevicePath());
  port.SetEventChar('Z');
  port.Buffer().SetInputSize(10);  // 80 % is the eighth byte
  std::atomic<int> rxFlag = 0, txEmpty = 0, nearlyFull = 0, rxChar = 0;
  port.OnRxFlag = TNotifyEvent([&](QObject*) { ++rxFlag; });
  port.OnTxEmpty = TNotifyEvent([&](QObject*) { ++txEmpty; });
  port.OnRx80Full = TNotifyEvent([&](QObject*) { ++nearlyFull; });
  port.OnRxChar = TRxCharEvent([&](QObject*, int count) { rxChar = count; });
  port.OpenPort();
  device.Send("1234567");
  ASSERT_TRUE(ServeUntil([&] { return rxChar == 7; }));
  ServeUntil([] { return false; }, 30);
  EXPECT_EQ(nearlyFull, 0);
  device.Send("8");
  ASSERT_TRUE(ServeUntil([&] { return nearlyFull == 1; }));
  EXPECT_EQ(rxFlag, 0);
  device.Send("Z");
  ASSERT_TRUE(ServeUntil([&] { return rxFlag == 1; }));
  EXPECT_EQ(nearlyFull, 1);  // once, on the way up
  EXPECT_EQ(txEmpty, 0);
  port.WriteText("L");
  ASSERT_TRUE(ServeUntil([&] { return txEmpty == 1; }));
  port.ClosePort();
}

// In window-sync the event thread is released before the handler runs, so a handler that
// works a while (20 ms) before it reads, while the far end floods, reads with the thread
// already back on the line. One that takes all it is told empties the queue, and the next
// fill crosses 80 % again: that batch holds the thread until the read is done. One that takes
// a slice keeps the queue above 80 %: the thread waits on a full queue, and only the read can
// send it back to the terminal. Either way every byte arrives, in order.
struct TSlowReader {
  const char* name;
  int slice;  // the most a handler takes; 0: all it is told
};

constexpr int kSlice = 64;  // an eighth of the queue below

void PrintTo(const TSlowReader& reader, std::ostream* out) {
  *out << reader.name;
}

class PtySlowWindowSyncReader : public ::testing::TestWithParam<TSlowReader> {};

TEST_P(PtySlowWindowSyncReader, KeepsUpWithAFlood) {
  constexpr int kQueue = 512, kTotal = 3072;
  TPtyPair device;
  TComPort port;
  port.SetPort(device.DevicePath());
  port.SetSyncMethod(smWindowSync);
  port.Buffer().SetInputSize(kQueue);
  port.SetEvents({evRxChar, evRx80Full});
  std::string received;  // handlers and the test both run on the main thread
  int nearlyFull = 0;
  port.OnRx80Full = TNotifyEvent([&](QObject*) { ++nearlyFull; });
  port.OnRxChar = TRxCharEvent([&](QObject*, int count) {
    QThread::msleep(20);
    // Never more than is queued: a read that asks the terminal itself would hide a stall.
    const int take = GetParam().slice > 0 ? std::min(count, GetParam().slice) : count;
    std::vector<char> buffer(std::size_t(take) + 1);
    received.append(buffer.data(), std::size_t(port.ReadBytes(buffer.data(), take)));
  });
  std::string sent(kTotal, '\0');
  for (int i = 0; i < kTotal; ++i)
    sent[std::size_t(i)] = char('a' + i % 23);
  port.OpenPort();
  std::atomic<bool> stop = false;
  std::thread flood([&] {
    for (std::size_t done = 0; done < sent.size() && !stop;) {
      const ssize_t n = write(device.Master(), sent.data() + done,
                              std::min<std::size_t>(512, sent.size() - done));
      if (n > 0) {
        done += std::size_t(n);
      } else {
        QThread::usleep(200);
      }
    }
  });
  // Handlers alone bring all but what a last slice left queued; a stall ends the wait.
  const bool handled = ServeUntil([&] { return received.size() + kQueue >= sent.size(); });
  const bool rest =
      handled && ServeUntil([&] { return int(received.size()) + port.BytesWaiting() == kTotal; });
  stop = true;
  flood.join();
  ASSERT_TRUE(handled && rest) << "handlers received " << received.size() << " of " << kTotal;
  std::vector<char> tail(std::size_t(kTotal) - received.size() + 1);
  received.append(tail.data(),
                  std::size_t(port.ReadBytes(tail.data(), kTotal - int(received.size()))));
  EXPECT_EQ(received, sent);
  EXPECT_GE(nearlyFull, 1);
  port.ClosePort();
}

INSTANTIATE_TEST_SUITE_P(Reads, PtySlowWindowSyncReader,
                         ::testing::Values(TSlowReader{"AllItIsTold", 0},
                                           TSlowReader{"ASliceAboveEightyPercent", kSlice}),
                         [](const auto& info) { return std::string(info.param.name); });

// The event thread leaves the terminal out while the input queue is full; whatever makes
// room there must send it back, or reception stops for good. Each door that makes room, in
// each mode, with a handler that only counts.
enum class TRoomDoor { Read, Purge, LargerQueue };

class PtyRoomInAFullQueue : public ::testing::TestWithParam<std::tuple<TSyncMethod, TRoomDoor>> {};

TEST_P(PtyRoomInAFullQueue, SendsTheEventThreadBackToTheLine) {
  constexpr int kQueue = 64;
  const auto [mode, door] = GetParam();
  TPtyPair device;
  TComPort port;
  port.SetPort(device.DevicePath());
  port.SetSyncMethod(mode);
  port.Buffer().SetInputSize(kQueue);
  port.SetEvents({evRxChar});
  std::atomic<int> calls = 0, lastCount = 0;
  port.OnRxChar = TRxCharEvent([&](QObject*, int count) {
    lastCount = count;
    ++calls;
  });
  port.OpenPort();
  device.Send(std::string(3 * kQueue, 'x'));  // the terminal keeps what the queue cannot
  ASSERT_TRUE(ServeUntil([&] { return lastCount == kQueue; }));
  ServeUntil([] { return false; }, 30);  // the event thread is back in its wait
  const int before = calls;
  switch (door) {
    case TRoomDoor::Read: {
      char slice[8];
      ASSERT_EQ(port.ReadBytes(slice, sizeof slice), int(sizeof slice));
      break;
    }
    case TRoomDoor::Purge:
      port.PurgeBuffers(true, false);
      device.Send("after");
      break;
    case TRoomDoor::LargerQueue:
      port.Buffer().SetInputSize(2 * kQueue);
      break;
  }
  EXPECT_TRUE(ServeUntil([&] { return calls > before; })) << "no reception after room was made";
  port.ClosePort();
}

std::string ModeAndDoorName(
    const ::testing::TestParamInfo<std::tuple<TSyncMethod, TRoomDoor>>& info) {
  static const char* const kModes[] = {"ThreadSync", "WindowSync", "None"};
  static const char* const kDoors[] = {"Read", "Purge", "LargerQueue"};
  return std::string(kModes[std::get<0>(info.param)]) + kDoors[int(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(ModesAndDoors, PtyRoomInAFullQueue,
                         ::testing::Combine(::testing::Values(smThreadSync, smWindowSync, smNone),
                                            ::testing::Values(TRoomDoor::Read, TRoomDoor::Purge,
                                                              TRoomDoor::LargerQueue)),
                         ModeAndDoorName);

std::string ModeName(const ::testing::TestParamInfo<TSyncMethod>& info) {
  static const char* const kNames[] = {"ThreadSync", "WindowSync", "None"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Modes, PtyEvents, ::testing::Values(smThreadSync, smWindowSync, smNone),
                         ModeName);

}  // namespace
