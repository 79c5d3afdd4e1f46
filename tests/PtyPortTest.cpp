#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTemporaryFile>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "PtyPair.h"
#include "Raised.h"
#include "serial/ComPort.h"
#include "serial/platform/ComPlatform.h"

using namespace vardelio;
using vardelio::test::Raised;
using vardelio::test::TPtyPair;

namespace {

class PtyPort : public ::testing::Test {
 protected:
  PtyPort() { port.SetPort(device.DevicePath()); }

  // The terminal hands received bytes on a little later than they were written.
  int WaitForBytes(int expected) {
    for (int i = 0; i < 400; ++i) {
      const int waiting = port.BytesWaiting();
      if (waiting >= expected) return waiting;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return port.BytesWaiting();
  }

  TPtyPair device;
  TComPort port;
};

TEST_F(PtyPort, OpensClosesAndOpensAgain) {
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
  EXPECT_NE(port.LineHandle(), kInvalidLineHandle);
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
}

TEST_F(PtyPort, WhatWaitedInTheTerminalBeforeTheOpenIsDropped) {
  device.Send("stale");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  port.SetEvents({});
  port.OpenPort();
  device.Send("new");
  EXPECT_EQ(WaitForBytes(3), 3);
  char buffer[8] = {};
  EXPECT_EQ(port.ReadBytes(buffer, 8), 3);
  EXPECT_STREQ(buffer, "new");
}

// Reception is told over only when nothing waits in the terminal either: a read that empties
// our queue while more waits in the terminal leaves the links' receive activity on.
TEST_F(PtyPort, AReadThatEmptiesTheQueueWhileTheTerminalHoldsMoreLeavesReceptionOn) {
  // Opened before the port holds the device: it sees the terminal's input and takes none.
  const int watcher = open(device.DevicePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(watcher, 0);
  std::vector<bool> activity;
  TComLink link;
  link.OnLinkRxActive = TComSignalEvent([&](QObject*, bool on) { activity.push_back(on); });
  port.SetEvents({});
  port.Buffer().SetInputSize(2);  // our queue takes two; the rest waits in the terminal
  port.AttachLink(&link);
  port.OpenPort();
  device.Send("abcd");
  int held = 0;
  for (int i = 0; i < 400 && held < 4; ++i) {
    ioctl(watcher, FIONREAD, &held);
    if (held < 4) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(held, 4);
  char buffer[2] = {};
  EXPECT_EQ(port.ReadBytes(buffer, 2), 2);
  EXPECT_EQ(activity, std::vector<bool>{});  // "cd" still waits
  EXPECT_EQ(port.ReadBytes(buffer, 2), 2);
  EXPECT_EQ(activity, std::vector<bool>{false});
  port.ClosePort();
  close(watcher);
}

// A count is never stale: bytes that reach the terminal after a read has completed are in the
// next count, whether or not the read's completion was awaited first.
TEST_F(PtyPort, TheCountAfterACompletedReadIncludesWhatArrivedSince) {
  // Opened before the port holds the device: it sees the terminal's input and takes none.
  const int watcher = open(device.DevicePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(watcher, 0);
  const auto inTerminal = [&](int expected) {
    int held = 0;
    for (int i = 0; i < 400 && held < expected; ++i) {
      ioctl(watcher, FIONREAD, &held);
      if (held < expected) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return held;
  };
  port.SetEvents({});
  port.OpenPort();
  char buffer[8] = {};
  for (const bool awaitedFirst : {false, true}) {
    SCOPED_TRACE(awaitedFirst ? "awaited" : "not awaited yet");
    device.Send("abcd");
    ASSERT_EQ(WaitForBytes(4), 4);
    TIoRequestRef request;
    NewIoRequest(request);
    EXPECT_EQ(port.StartRead(buffer, 4, request), 4);
    if (awaitedFirst) {
      EXPECT_EQ(port.AwaitIo(request), 4);
    }
    device.Send("efgh");
    ASSERT_EQ(inTerminal(4), 4);
    EXPECT_EQ(port.BytesWaiting(), 4);
    if (!awaitedFirst) {
      EXPECT_EQ(port.AwaitIo(request), 4);
    }
    EXPECT_EQ(port.ReadBytes(buffer, 8), 4);
  }
  close(watcher);
}

TEST_F(PtyPort, ASecondOpenOfTheSameDeviceIsBusy) {
  port.OpenPort();
  TComPort second;
  second.SetPort(device.DevicePath());
  const EComPort error = Raised([&] { second.OpenPort(); });
  EXPECT_EQ(error.PortErrorCode(), 1);
  EXPECT_EQ(error.SystemCode(), EWOULDBLOCK);
  EXPECT_EQ(std::string(error.what()), "Unable to open com port (win error code: 11)");
  EXPECT_FALSE(second.Connected());
}

TEST_F(PtyPort, WhatCannotBeOpenedSaysWhy) {
  QTemporaryFile plainFile;
  ASSERT_TRUE(plainFile.open());
  const struct {
    std::string name;
    int systemCode;
  } cases[] = {{"/dev/vardelio-no-such-port", ENOENT},
               {plainFile.fileName().toStdString(), ENOTTY},
               {"", ENOENT},
               {"/dev/ptmx", ENOTTY},  // would hand out a new pseudo-terminal's master
               {device.DevicePath() + std::string(1, '\0') + "x", ENOENT}};
  for (const auto& c : cases) {
    TComPort other;
    other.SetPort(c.name);
    const EComPort error = Raised([&] { other.OpenPort(); });
    EXPECT_EQ(error.PortErrorCode(), 1) << c.name;
    if (error.PortErrorCode() != 1) other.ClosePort();
    EXPECT_EQ(error.SystemCode(), c.systemCode) << c.name;
    EXPECT_FALSE(other.Connected()) << c.name;
  }
}

// What can stand where a port is named: each gives one error with its system code, and the
// port stays closed and closable.
TEST_F(PtyPort, FaultsOfTheNamedPath) {
  QTemporaryDir folder;
  const std::string base = folder.path().toStdString();
  std::ofstream(base + "/file") << "x";
  mkfifo((base + "/fifo").c_str(), 0600);
  symlink((base + "/loop").c_str(), (base + "/loop").c_str());
  const struct {
    std::string path;
    int systemCode;
  } cases[] = {{base + "/file", ENOTTY},
               {base, EISDIR},
               {base + "/fifo", ENOTTY},
               {"/dev/null", ENOTTY},
               {"/" + std::string(5000, 'n'), ENAMETOOLONG},
               {base + "/loop", ELOOP},
               {device.DevicePath(), EWOULDBLOCK}};  // already open below
  port.OpenPort();
  for (const auto& c : cases) {
    TComPort other;
    other.SetPort(c.path);
    const EComPort error = Raised([&] { other.OpenPort(); });
    EXPECT_EQ(error.PortErrorCode(), 1) << c.path.substr(0, 60);
    EXPECT_EQ(error.SystemCode(), c.systemCode) << c.path.substr(0, 60);
    EXPECT_FALSE(other.Connected());
    other.ClosePort();
  }
  EXPECT_TRUE(port.Connected());  // the port that holds the device is not disturbed
}

TEST_F(PtyPort, TheReadRequestLeavesAsOneByte) {
  port.OpenPort();
  EXPECT_EQ(port.WriteText("L"), 1);
  EXPECT_EQ(device.Receive(1), "L");
  EXPECT_EQ(port.WriteText(""), 0);
  EXPECT_EQ(device.Receive(0, 50), "");  // nothing more on the line
}

TEST_F(PtyPort, ReceivedBytesWaitUntilReadAndAPurgeDropsThem) {
  port.OpenPort();
  device.Send("SOKZ");
  EXPECT_EQ(WaitForBytes(4), 4);
  char buffer[8] = {};
  EXPECT_EQ(port.ReadBytes(buffer, 8), 4);  // returns at once with what is there
  EXPECT_STREQ(buffer, "SOKZ");
  device.Send(std::string("\xff\x00\x41", 3));  // stays data: no error marking from a device
  EXPECT_EQ(WaitForBytes(3), 3);
  port.PurgeBuffers(true, false);
  EXPECT_EQ(port.BytesWaiting(), 0);
}

TEST_F(PtyPort, SpeedAndStopBitsReachTheTerminal) {
  const struct {
    TBaudRate rate;
    int custom;
    TStopBits stop;
    unsigned speed;
  } cases[] = {{br115200, 0, sbOneStopBit, 115200},
               {brCustom, 12345, sbTwoStopBits, 12345},
               {br256000, 0, sbTwoStopBits, 256000}};
  port.OpenPort();
  for (const auto& c : cases) {
    port.BeginBatch();
    port.SetBaudRate(c.rate);
    port.SetCustomBaudRate(c.custom);
    port.SetStopBits(c.stop);
    port.EndBatch();
    EXPECT_EQ(device.Speed(), c.speed);
    EXPECT_EQ(device.TwoStopBits(), c.stop == sbTwoStopBits);
  }
  EXPECT_TRUE(port.ModemSignals().Empty());  // a pseudo-terminal has no modem lines
}

TEST_F(PtyPort, AWriteTheDeviceNeverTakesEndsAtItsTimeout) {
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(200);
  port.OpenPort();
  const EComPort error = Raised([&] { port.WriteText(std::string(256 * 1024, 'x')); });
  EXPECT_EQ(error.PortErrorCode(), 2);
  EXPECT_EQ(error.SystemCode(), ETIMEDOUT);
  EXPECT_TRUE(port.Connected());
}

TEST_F(PtyPort, TheDeviceHangingUpFailsTheNextWrite) {
  port.OpenPort();
  device.HangUp();
  const EComPort error = Raised([&] { port.WriteText("L"); });
  EXPECT_EQ(error.PortErrorCode(), 2);
  EXPECT_EQ(error.SystemCode(), EIO);
  EXPECT_STREQ(error.what(), "WriteFile function failed (win error code: 5)");
}

TEST_F(PtyPort, AVanishedDeviceKeepsAnsweringForItsErrorAndEveryOtherCallFails) {
  port.OpenPort();
  device.HangUp();
  EXPECT_EQ(port.BytesWaiting(), 0);  // takes the error first, as a count during a reply does
  EXPECT_TRUE(port.TakeLineErrors().Contains(ceIO));
  char buffer[4];
  const struct {
    int code;
    std::function<void()> operation;
  } cases[] = {{11, [&] { port.ModemSignals(); }},
               {5, [&] { port.PurgeBuffers(true, false); }},
               {3, [&] { port.ReadBytes(buffer, 4); }},
               {2, [&] { port.WriteText("L"); }},
               {7, [&] { port.SetBaudRate(br19200); }},
               {8, [&] { port.Timeouts().SetReadTotalConstant(10); }},
               {9, [&] { port.Buffer().SetInputSize(2048); }}};
  for (const auto& c : cases) {
    const EComPort error = Raised(c.operation);
    EXPECT_EQ(error.PortErrorCode(), c.code);
    EXPECT_EQ(error.SystemCode(), EIO) << c.code;
  }
  port.ClosePort();  // closing still works
  EXPECT_FALSE(port.Connected());
}

// Whoever sees the hang-up first, a count of waiting bytes or the event wait, the wait gives
// the error event once and then fails, and the error call still answers with the loss.
TEST_F(PtyPort, AHangUpSeenFirstByACountStillReachesTheEventWaitOnce) {
  for (const bool countFirst : {true, false}) {
    SCOPED_TRACE(countFirst ? "count first" : "wait first");
    TPtyPair unit;
    TComPort line;
    line.SetPort(unit.DevicePath());
    line.SetEvents({});  // no event thread: this test is the waiter
    line.OpenPort();
    IComPlatform& platform = SystemComPlatform();
    ASSERT_TRUE(platform.SetCommMask(line.LineHandle(), EV_ERR | EV_RXCHAR));
    const TStopSignal stop = platform.CreateStopSignal();
    unit.HangUp();
    if (countFirst) {
      EXPECT_EQ(line.BytesWaiting(), 0);
    }
    std::uint32_t mask = 0;
    EXPECT_EQ(platform.WaitCommEvent(line.LineHandle(), stop, mask), TWaitResult::Events);
    EXPECT_EQ(mask, EV_ERR);
    if (!countFirst) {
      EXPECT_EQ(line.BytesWaiting(), 0);
    }
    EXPECT_TRUE(line.TakeLineErrors().Contains(ceIO));
    EXPECT_EQ(platform.WaitCommEvent(line.LineHandle(), stop, mask), TWaitResult::Failed);
    EXPECT_EQ(platform.LastError(), EIO);
    platform.CloseStopSignal(stop);
    line.ClosePort();
  }
}

// The kernel drops a terminal's unread input at hang-up; what the port had already taken in
// stays deliverable.
TEST_F(PtyPort, WhatTheDeviceSentBeforeVanishingIsStillDelivered) {
  port.OpenPort();
  device.Send("SOKZ");
  ASSERT_EQ(WaitForBytes(4), 4);
  device.HangUp();
  EXPECT_EQ(port.BytesWaiting(), 4);
  char buffer[8] = {};
  EXPECT_EQ(port.ReadBytes(buffer, 8), 4);
  EXPECT_STREQ(buffer, "SOKZ");
  EXPECT_EQ(Raised([&] { port.ReadBytes(buffer, 8); }).SystemCode(), EIO);
  EXPECT_EQ(port.BytesWaiting(), 0);
}

TEST_F(PtyPort, AFullQueueHoldsTheDeviceBackInsteadOfLosingBytes) {
  port.Buffer().SetInputSize(16);
  port.OpenPort();
  std::string sent;
  for (int i = 0; i < 40; ++i)
    sent += "S" + std::to_string(1000 + i) + "Z";
  device.Send(sent);
  std::string received;
  for (int tries = 0; received.size() < sent.size() && tries < 2000; ++tries) {
    char buffer[64];
    received.append(buffer, std::size_t(port.ReadBytes(buffer, sizeof buffer)));
    if (port.BytesWaiting() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_LE(port.BytesWaiting(), 16);
  }
  EXPECT_EQ(received, sent);
  EXPECT_TRUE(port.TakeLineErrors().Empty());
}

TEST_F(PtyPort, AReadWithATotalTimeoutGivesWhatArrived) {
  port.Timeouts().SetReadInterval(0);
  port.Timeouts().SetReadTotalConstant(100);
  port.OpenPort();
  device.Send("abc");
  char buffer[16] = {};
  EXPECT_EQ(port.ReadBytes(buffer, 16), 3);  // a timeout is no error for a read
  EXPECT_STREQ(buffer, "abc");
}

// A line opened through the platform itself on a pty, with a watcher that sees what the
// terminal holds (opened before the line is held, it takes none).
struct TRawLine {
  explicit TRawLine(std::uint32_t events) {
    watcher = open(device.DevicePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    line = platform.OpenLine(device.DevicePath());
    platform.SetCommMask(line, events);
    stop = platform.CreateStopSignal();
  }
  ~TRawLine() {
    platform.CloseStopSignal(stop);
    platform.CloseLine(line);
    close(watcher);
  }
  TRawLine(const TRawLine&) = delete;
  TRawLine& operator=(const TRawLine&) = delete;
  bool Opened() const { return watcher >= 0 && line != kInvalidLineHandle; }
  // Whether the terminal holds `bytes` by now.
  bool Held(int bytes) const {
    int n = 0;
    for (int i = 0; i < 400 && n < bytes; ++i) {
      ioctl(watcher, FIONREAD, &n);
      if (n < bytes) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return n >= bytes;
  }
  TPtyPair device;
  IComPlatform& platform = SystemComPlatform();
  int watcher = -1;
  TLineHandle line = kInvalidLineHandle;
  TStopSignal stop = kNoStopSignal;
};

// On a busy line the main thread may take the next batch itself, without a wait: only after a
// read of 1 KiB or more, and then as a wait would take it.
TEST(PtyLine, TakesTheNextBatchWithoutAWaitOnlyAfterAFullRead) {
  TRawLine raw(EV_RXCHAR | EV_ERR);
  ASSERT_TRUE(raw.Opened());
  auto& [device, platform, watcher, line, stop] = raw;
  const auto queued = [&] {
    std::uint32_t errors = 0;
    TComStat status;
    platform.ClearCommErrorQueued(line, errors, status);
    return int(status.cbInQue);
  };
  const auto empty = [&] {
    std::string bytes(8192, '\0');
    std::uint32_t read = 0;
    TOverlapped request;
    platform.ReadFile(line, bytes.data(), std::uint32_t(queued()), read, request);
  };
  const struct {
    int waited;   // bytes the wait's read takes
    int arrived;  // bytes in the terminal afterwards
    bool hangUp;
    bool taken;
    std::uint32_t mask;
    int queue;  // bytes in our queue afterwards
  } rows[] = {
      {10, 10, false, false, 0, 10},             // a short read: the terminal keeps them
      {1023, 10, false, false, 0, 1023},         // one byte short of a long read
      {1024, 10, false, true, EV_RXCHAR, 1034},  // a long read: taken
      {2000, 0, false, false, 0, 2000},          // nothing more: one read, no events
      {2000, 0, true, true, EV_ERR, 2000},       // the far end gone: told as a wait would
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.waited) + "+" + std::to_string(row.arrived));
    device.Send(std::string(std::size_t(row.waited), 'w'));
    ASSERT_TRUE(raw.Held(row.waited));
    std::uint32_t mask = 0;
    ASSERT_EQ(platform.WaitCommEvent(line, stop, mask), TWaitResult::Events);
    ASSERT_EQ(queued(), row.waited);
    if (row.arrived > 0) device.Send(std::string(std::size_t(row.arrived), 'a'));
    if (row.hangUp) device.HangUp();
    ASSERT_TRUE(row.hangUp || raw.Held(row.arrived));
    const bool taken = platform.TakeBusyLineEvents(line, mask);
    EXPECT_EQ(taken, row.taken);
    EXPECT_EQ(mask, row.mask);
    EXPECT_EQ(queued(), row.queue);
    empty();
    if (row.arrived > 0 && !taken) {
      ASSERT_EQ(platform.WaitCommEvent(line, stop, mask), TWaitResult::Events);
      empty();
    }
  }
}

}  // namespace

namespace {

// What the main thread takes on a busy line includes what the wait looks for besides the
// input: output written meanwhile that has left is told there, not 16 batches later.
TEST(PtyLine, ATakeWithoutAWaitTellsTheOutputHasLeft) {
  TRawLine raw(EV_RXCHAR | EV_TXEMPTY);
  ASSERT_TRUE(raw.Opened());
  auto& [device, platform, watcher, line, stop] = raw;
  device.Send(std::string(2000, 'w'));
  ASSERT_TRUE(raw.Held(2000));
  std::uint32_t mask = 0;
  ASSERT_EQ(platform.WaitCommEvent(line, stop, mask), TWaitResult::Events);  // a long read
  ASSERT_EQ(mask, std::uint32_t(EV_RXCHAR));
  std::uint32_t written = 0;
  TOverlapped request;
  ASSERT_TRUE(platform.WriteFile(line, "L", 1, written, request));
  ASSERT_EQ(device.Receive(1), "L");
  device.Send("aaaaaaaaaa");
  ASSERT_TRUE(raw.Held(10));
  ASSERT_TRUE(platform.TakeBusyLineEvents(line, mask));
  EXPECT_EQ(mask, std::uint32_t(EV_RXCHAR | EV_TXEMPTY));
}

}  // namespace
