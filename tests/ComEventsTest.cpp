#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <thread>

#include "EventRecording.h"
#include "FakeComPlatform.h"
#include "RecordingPresenter.h"
#include "Waiting.h"
#include "serial/ComPort.h"
#include "serial/ComThread.h"

using namespace vardelio;
using vardelio::test::Log;
using vardelio::test::Record;
using vardelio::test::RecordLink;
using vardelio::test::ServeUntil;
using vardelio::test::TEventLog;
using vardelio::test::TFakeComPlatform;
using vardelio::test::TRecordingPresenter;
using vardelio::test::WaitUntil;

namespace {

// Processing called directly, without an event thread.
class Processing : public ::testing::Test {
 protected:
  Processing() {
    port.SetEvents({});
    Record(port, log);
  }
  void Open() {
    port.OpenPort();
    log.Clear();
    fake.calls.clear();
  }
  TEventLog log;
  TFakeComPlatform fake;
  // Declared before the port, which still calls them while it closes.
  TComLink link, reader, second;
  TComPort port{nullptr, &fake};
};

TEST_F(Processing, ABatchRunsErrorsFirstThenItsFixedOrder) {
  Open();
  fake.lineErrors = CE_FRAME;
  fake.input = "ab";
  fake.modemStatus = MS_CTS_ON;
  port.ProcessEventSet(kAllComEvents);
  EXPECT_EQ(log.Entries(), (Log{"Error1", "RxChar2", "TxEmpty", "Break", "Ring", "CTS+", "DSR-",
                                "RxFlag", "RLSD-", "Rx80Full"}));
  log.Clear();
  port.ProcessEventSet({evTxEmpty, evRxChar});
  EXPECT_EQ(log.Entries(), (Log{"RxChar2", "TxEmpty"}));
  // Links hear of each event before the port's own handler.
  RecordLink(link, log, false);
  port.AttachLink(&link);
  log.Clear();
  port.ProcessEventSet({evTxEmpty, evRing, evRxFlag});
  EXPECT_EQ(log.Entries(), (Log{"link:Tx-", "link:TxEmpty", "TxEmpty", "link:Ring", "Ring",
                                "link:RxFlag", "RxFlag"}));
}

// An error event fires OnError only with errors to tell.
TEST_F(Processing, AnErrorEventWithoutErrorsFiresNothing) {
  const struct {
    std::uint32_t flags;
    Log expected;
  } cases[] = {{0, {}},
               {0x40, {}},         // a flag that maps to no error
               {CE_RXPARITY, {}},  // parity errors while parity is not checked
               {CE_FRAME, {"Error1"}}};
  Open();
  for (const auto& c : cases) {
    fake.lineErrors = c.flags;
    log.Clear();
    port.ProcessEventSet({evError});
    EXPECT_EQ(log.Entries(), c.expected) << c.flags;
    EXPECT_EQ(fake.Count("ClearCommError"), 1) << c.flags;  // asked once, whatever it gives
    fake.calls.clear();
  }
}

TEST_F(Processing, WithoutABufferLinkOnlyTheCountIsToldAndTheBytesStay) {
  RecordLink(link, log, false);
  port.AttachLink(&link);
  Open();
  fake.input = "SOKZ";
  port.ProcessRxChar();
  EXPECT_EQ(log.Entries(), (Log{"link:Rx+", "RxChar4"}));
  EXPECT_EQ(fake.input, "SOKZ");
  EXPECT_EQ(fake.Count("ReadFile"), 0);
}

TEST_F(Processing, ABufferLinkGetsTheDataAfterOnRxBufAndAfterReceptionEnds) {
  RecordLink(link, log, false);
  RecordLink(reader, log, true);
  RecordLink(second, log, true);
  port.AttachLink(&link);
  port.AttachLink(&reader);
  port.AttachLink(&second);
  EXPECT_FALSE(port.RxCharTriggers());
  Open();
  fake.input = "SOKZ";
  port.ProcessRxChar();
  EXPECT_EQ(log.Entries(), (Log{"link:Rx+", "link:Rx+", "link:Rx+", "link:Rx-", "link:Rx-",
                                "link:Rx-", "RxBuf:SOKZ", "link:RxBuf:SOKZ", "link:RxBuf:SOKZ"}));
  EXPECT_EQ(fake.Count("ReadFile"), 1);  // one read serves every link
}

TEST_F(Processing, NothingHappensWhenTheBytesWereAlreadyRead) {
  RecordLink(reader, log, true);
  port.AttachLink(&reader);
  Open();
  port.ProcessRxChar();
  EXPECT_TRUE(log.Entries().empty());
  EXPECT_EQ(fake.Count("ReadFile"), 0);
}

TEST_F(Processing, TheBlockIsReleasedWhenALinkRaises) {
  reader.OnLinkRxBuf =
      TRxBufEvent([](QObject*, const void*, int) { throw std::runtime_error("x"); });
  port.AttachLink(&reader);
  Open();
  fake.input = "data";
  EXPECT_THROW(port.ProcessRxChar(), std::runtime_error);  // AddressSanitizer checks the block
}

TEST_F(Processing, OpeningAndClosingTellLinksAndHandlersInOrder) {
  RecordLink(link, log, false);
  port.AttachLink(&link);
  fake.modemStatus = MS_CTS_ON | MS_RLSD_ON;
  port.OpenPort();
  EXPECT_EQ(log.Entries(), (Log{"link:Connect+", "AfterOpen", "link:CTS+", "CTS+", "link:DSR-",
                                "DSR-", "link:RLSD+", "RLSD+"}));
  log.Clear();
  port.WriteText("L");
  EXPECT_EQ(log.Entries(), (Log{"link:Tx+", "link:TxBuf:L"}));
  log.Clear();
  port.ClosePort();
  EXPECT_EQ(log.Entries(), (Log{"link:CTS-", "link:DSR-", "link:RLSD-", "CTS-", "DSR-", "RLSD-",
                                "BeforeClose", "link:Connect-", "AfterClose"}));
}

TEST_F(Processing, LinksAttachOnceAndDetachOnlyWhenAttached) {
  TComLink& a = link;
  TComLink& b = reader;
  b.OnLinkRxBuf = TRxBufEvent([](QObject*, const void*, int) {});
  port.AttachLink(&a);
  const auto code = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const EComPort& e) {
      return e.PortErrorCode();
    }
    return 0;
  };
  EXPECT_EQ(code([&] { port.AttachLink(&a); }), 18);
  EXPECT_EQ(code([&] { port.DetachLink(&b); }), 18);
  EXPECT_FALSE(port.HasBufferLink());
  port.AttachLink(&b);
  EXPECT_TRUE(port.HasBufferLink());
  port.DetachLink(&b);
  EXPECT_FALSE(port.HasBufferLink());
  port.DetachLink(&a);
  EXPECT_EQ(code([&] { port.DetachLink(&a); }), 18);
}

TEST(EventMask, ConvertsBothWays) {
  EXPECT_EQ(EventSetToMask(kAllComEvents), 0x05FFu);
  EXPECT_TRUE(MaskToEventSet(0x0200).Empty());
  EXPECT_EQ(MaskToEventSet(EV_TXEMPTY | EV_RING | 0x0200), (TComEvents{evTxEmpty, evRing}));
  EXPECT_EQ(EventSetToMask({evError, evRLSD}), EV_ERR | EV_RLSD);
}

// --- delivery by the event thread

class Delivery : public ::testing::Test {
 protected:
  void Start(TSyncMethod mode) {
    Record(port, log);
    port.SetSyncMethod(mode);
    port.OpenPort();
    log.Clear();
  }
  // The loop's end as the port sees it, which comes after the thread's last platform call.
  bool ThreadEnded() const { return port.EventLoopEnded(); }
  // The thread's last two steps, one right after the other.
  bool LastStepsLogged() const {
    const Log calls = fake.Calls();
    const auto mask = std::find(calls.begin(), calls.end(), "SetCommMask(0)");
    return mask != calls.end() && std::next(mask) != calls.end() &&
           *std::next(mask) == "PurgeComm(12)";
  }
  TRecordingPresenter boxes;
  TFakeComPlatform fake;
  TComPort port{nullptr, &fake};
  TEventLog log;
};

TEST_F(Delivery, ThreadSyncRunsTheBatchOnTheMainThread) {
  Start(smThreadSync);
  EXPECT_EQ(fake.Calls()[4], "SetCommMask(1535)");
  std::atomic<bool> onMainThread = false;
  port.OnRing = TNotifyEvent([&](QObject*) {
    onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    log.Add("Ring");
  });
  fake.PushEvents(EV_RING | EV_BREAK);
  ASSERT_TRUE(ServeUntil([&] { return log.Contains("Ring"); }));
  EXPECT_EQ(log.Entries(), (Log{"Break", "Ring"}));
  EXPECT_TRUE(onMainThread);
  port.ClosePort();
  EXPECT_TRUE(LastStepsLogged());
}

// Also when the batch that raises was taken by the main thread itself, on a busy line: what
// waits behind it is not delivered.
TEST_F(Delivery, ThreadSyncCarriesAnExceptionBackAndEndsTheThreadQuietly) {
  for (const bool busy : {false, true}) {
    SCOPED_TRACE(busy ? "busy line" : "quiet line");
    fake.busyLine = busy;
    Start(smThreadSync);
    port.OnBreak = TNotifyEvent([&](QObject*) { log.Add("Break"); });
    port.OnRing = TNotifyEvent([&](QObject*) {
      log.Add("Ring");
      throw EComPort(11, 5);
    });
    port.OnRxChar = TRxCharEvent([&](QObject*, int) {
      // Comes while the hand-over lasts; the break after the raise: never.
      fake.PushEvents(EV_RING);
      fake.PushEvents(EV_BREAK);
    });
    if (busy) {
      fake.Locked([&] { fake.input = "a"; });
      fake.PushEvents(EV_RXCHAR);
    } else {
      fake.PushEvents(EV_RING);
      fake.PushEvents(EV_BREAK);
    }
    ASSERT_TRUE(ServeUntil([&] { return ThreadEnded(); }));
    EXPECT_EQ(log.Entries(), (Log{"Ring"}));
    EXPECT_EQ(fake.BusyTakes(), busy ? 1 : 0);
    EXPECT_TRUE(boxes.errors.isEmpty());
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.WriteText("L"), 1);  // still writable
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
    fake.DropEvents();
  }
}

// A busy line's batches are taken by the main thread inside the hand-over, at most sixteen
// after the one handed over, so its event loop turns between them; none is lost or reordered.
TEST_F(Delivery, ThreadSyncTakesABusyLinesBatchesAFewAtATime) {
  fake.busyLine = true;
  Start(smThreadSync);
  std::string got;
  port.OnRxChar = TRxCharEvent([&](QObject*, int) {
    char byte = 0;
    if (port.ReadBytes(&byte, 1) == 1) got += byte;  // one a batch
  });
  std::string sent;
  for (int i = 0; i < 60; ++i) {
    const char byte = char('A' + i % 26);
    fake.Locked([&] { fake.input += byte; });
    fake.PushEvents(EV_RXCHAR);
    sent += byte;
  }
  ASSERT_TRUE(ServeUntil([&] { return got.size() == sent.size(); }));
  EXPECT_EQ(got, sent);
  // 1 + 16, three times, then 1 + 8; fewer when a hand-over outlasts its time (a preempted
  // main thread), never more.
  EXPECT_LE(fake.LongestBusyRun(), 16);
  EXPECT_GE(fake.LongestBusyRun(), 1);
  EXPECT_LE(fake.BusyTakes(), 56);
  port.ClosePort();
}

// A handler that takes long (a slow read, 20 ms) gets no more batches in the same hand-over:
// the line goes back to the event thread, whose own duties (transmit-empty rechecks, a full
// queue) would otherwise wait behind sixteen of them, a third of a second.
TEST_F(Delivery, ThreadSyncTakesNoMoreBatchesAfterASlowOne) {
  fake.busyLine = true;
  Start(smThreadSync);
  int got = 0;
  port.OnRxChar = TRxCharEvent([&](QObject*, int) {
    char byte = 0;
    if (port.ReadBytes(&byte, 1) == 1) ++got;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  for (int i = 0; i < 8; ++i) {
    fake.Locked([&] { fake.input += 'x'; });
    fake.PushEvents(EV_RXCHAR);
  }
  ASSERT_TRUE(ServeUntil([&] { return got == 8; }));
  EXPECT_EQ(fake.BusyTakes(), 0);
  port.ClosePort();
}

TEST_F(Delivery, WindowSyncSendsOneMessagePerEventAndShowsExceptions) {
  Start(smWindowSync);
  bool nextBatchTaken = true;
  port.OnRing = TNotifyEvent([&](QObject*) {
    log.Add("Ring");
    // Released by this message, the thread still waits for the batch's last to be taken.
    nextBatchTaken = WaitUntil([&] { return fake.QueuedEvents() == 0; }, 50);
    throw EComPort(11, 5);
  });
  fake.PushEvents(EV_RING | EV_RLSD);
  fake.PushEvents(EV_BREAK);
  ASSERT_TRUE(ServeUntil([&] { return log.Contains("Break"); }));
  EXPECT_EQ(log.Entries(), (Log{"Ring", "RLSD-", "Break"}));
  EXPECT_FALSE(nextBatchTaken);
  EXPECT_EQ(boxes.errors, QStringList{"GetCommModemStatus function failed (win error code: 5)"});
  log.Clear();
  fake.Locked([&] {
    fake.lineErrors = CE_FRAME;
    fake.input = "ab";
  });
  fake.PushEvents(EV_RXCHAR | EV_ERR);  // the error's message goes first
  ASSERT_TRUE(ServeUntil([&] { return log.Contains("RxChar2"); }));
  EXPECT_EQ(log.Entries(), (Log{"Error1", "RxChar2"}));
  port.ClosePort();
  log.Clear();
  port.HandlePortMessage(EV_BREAK);  // after closing: nothing
  EXPECT_TRUE(log.Entries().empty());
}

TEST_F(Delivery, NoneProcessesOnTheEventThreadAndAnExceptionEndsIt) {
  Start(smNone);
  std::atomic<bool> onMainThread = true;
  port.OnRing = TNotifyEvent([&](QObject*) {
    onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    throw EComPort(11, 5);
  });
  fake.PushEvents(EV_RING);
  ASSERT_TRUE(ServeUntil([&] { return ThreadEnded(); }));
  EXPECT_FALSE(onMainThread);
  EXPECT_TRUE(boxes.errors.isEmpty());
  port.ClosePort();
}

TEST_F(Delivery, AFailedWaitEndsTheLoopAndClosingStillWorks) {
  Start(smThreadSync);
  fake.FailWaits();
  ASSERT_TRUE(ServeUntil([&] { return ThreadEnded(); }));
  EXPECT_TRUE(LastStepsLogged());
  EXPECT_EQ(fake.Calls().back(), "PurgeComm(12)");
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
}

TEST_F(Delivery, ClosingCompletesABatchThatIsBeingHandedOver) {
  Start(smThreadSync);
  fake.PushEvents(EV_RING);
  // Close once the thread has taken the batch, without serving the event loop first: the
  // close serves the hand-over itself.
  ASSERT_TRUE(WaitUntil([&] { return fake.QueuedEvents() == 0; }));
  port.ClosePort();
  EXPECT_EQ(log.Entries(), (Log{"CTS-", "DSR-", "RLSD-", "BeforeClose", "Ring", "AfterClose"}));
}

// The batch is handed over only once the close already waits for the thread's end: the close
// serves it and returns, in both modes that hand over. A handler that closes the port, or
// closes and reopens it, meanwhile finds the close under way and changes nothing. The next
// batch, already waiting, is not delivered: not even by the main thread of a busy line.
TEST_F(Delivery, ClosingServesAHandOverRequestedWhileItWaits) {
  enum TRing { logs, closes, closesAndReopens };
  const struct {
    TSyncMethod mode;
    TRing ring;
    bool busy;
  } cases[] = {{smThreadSync, logs, false},
               {smWindowSync, logs, false},
               {smThreadSync, closes, false},
               {smWindowSync, closes, false},
               {smThreadSync, closesAndReopens, false},
               {smWindowSync, closesAndReopens, false},
               {smThreadSync, logs, true},
               {smThreadSync, closes, true},
               {smThreadSync, closesAndReopens, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.ring) + (c.busy ? " busy" : ""));
    log.Clear();
    fake.busyLine = c.busy;
    fake.HoldTakenEvents(true);
    Start(c.mode);
    if (c.ring != logs) {
      port.OnRing = TNotifyEvent([&](QObject*) {
        log.Add("Ring");
        port.ClosePort();
        if (c.ring == closesAndReopens) port.OpenPort();
      });
    }
    fake.PushEvents(EV_RING);
    ASSERT_TRUE(WaitUntil([&] { return fake.QueuedEvents() == 0; }));
    fake.PushEvents(EV_RING);  // waits behind the held one
    const int stopsBefore = fake.StopsSet();
    std::thread release([&] {
      // The close has set the stop and goes on to wait; the batch comes after that.
      WaitUntil([&] { return fake.StopsSet() > stopsBefore; });
      QThread::msleep(50);
      fake.HoldTakenEvents(false);
    });
    port.ClosePort();
    release.join();
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.EventThreadActive());
    EXPECT_EQ(log.Entries(), (Log{"CTS-", "DSR-", "RLSD-", "BeforeClose", "Ring", "AfterClose"}));
    EXPECT_EQ(fake.OpenStopSignals(), 0u);  // no thread is left running
    EXPECT_EQ(fake.Count("CloseLine"), fake.Count("OpenLine"));
    EXPECT_EQ(fake.BusyTakes(), 0);
    fake.Locked([&] { fake.busyLine = false; });
    fake.DropEvents();  // the next row's open starts from a quiet line
  }
}

// A window-sync handler waits in a nested event loop, one that spins or one that sleeps until
// something comes as a message box's does; the next message's handler closes the port, or
// closes and reopens it, inside that loop. The outer handler then returns into a hand-over that
// only it still holds.
TEST_F(Delivery, AHandlerMayCloseThePortInsideAnotherHandlersNestedLoop) {
  for (const bool sleeps : {false, true}) {
    for (const bool reopen : {false, true}) {
      SCOPED_TRACE(testing::Message() << "sleeps " << sleeps << ", reopens " << reopen);
      Start(smWindowSync);
      bool closedInside = false;
      QEventLoop nested;
      port.OnRing = TNotifyEvent([&](QObject*) {
        log.Add("Ring");
        if (sleeps) {
          QTimer::singleShot(2000, &nested, &QEventLoop::quit);
          nested.exec();
        } else {
          ServeUntil([&] { return closedInside; }, 2000);
        }
        EXPECT_TRUE(closedInside);  // the nested loop served the next message
        log.Add("Ring returns");
      });
      port.OnRLSDChange = TComSignalEvent([&](QObject*, bool) {
        if (std::exchange(closedInside, true)) return;
        port.ClosePort();
        if (reopen) port.OpenPort();
        nested.quit();
      });
      fake.PushEvents(EV_RING | EV_RLSD);
      ASSERT_TRUE(ServeUntil([&] { return log.Contains("Ring returns"); }));
      EXPECT_TRUE(log.Contains("AfterClose"));
      EXPECT_EQ(port.Connected(), reopen);
      port.ClosePort();
      port.OnRing = TNotifyEvent();
      port.OnRLSDChange = TComSignalEvent();
    }
  }
}

// A batch of three in window-sync: each handler waits in a nested loop for the last, which
// that loop still serves, in order; or the middle one closes the port inside the first's loop.
TEST_F(Delivery, EachMessageOfABatchIsServedInsideTheNestedLoopsBeforeIt) {
  for (const bool closeInside : {false, true}) {
    SCOPED_TRACE(closeInside);
    Start(smWindowSync);
    auto nested = [&](const char* name) {
      return TNotifyEvent([&, name](QObject*) {
        log.Add(name);
        if (closeInside && std::string(name) == "Ring") {
          port.ClosePort();
        } else {
          EXPECT_TRUE(ServeUntil([&] { return log.Contains("RLSD-") || !port.Connected(); }));
        }
        log.Add(std::string(name) + " returns");
      });
    };
    port.OnBreak = nested("Break");
    port.OnRing = nested("Ring");
    fake.PushEvents(EV_BREAK | EV_RING | EV_RLSD);
    ASSERT_TRUE(ServeUntil([&] { return log.Contains("Break returns"); }));
    // The close's notices, and the batch's last served by the close, as any close does.
    const Log closes = {"Break",       "Ring",  "CTS-",       "DSR-",         "RLSD-",
                        "BeforeClose", "RLSD-", "AfterClose", "Ring returns", "Break returns"};
    const Log served = {"Break", "Ring", "RLSD-", "Ring returns", "Break returns"};
    EXPECT_EQ(log.Entries(), closeInside ? closes : served);
    if (!closeInside) {  // the thread goes on
      log.Clear();
      fake.PushEvents(EV_CTS);
      EXPECT_TRUE(ServeUntil([&] { return log.Contains("CTS-"); }));
    }
    port.ClosePort();
    EXPECT_FALSE(port.EventThreadActive());
    port.OnBreak = TNotifyEvent();
    port.OnRing = TNotifyEvent();
    log.Clear();
  }
}

TEST_F(Delivery, APortWithoutEventsHasNoThread) {
  port.SetEvents({});
  Start(smThreadSync);
  EXPECT_FALSE(port.EventThreadActive());
  EXPECT_EQ(fake.Count("SetCommMask"), 0);
  port.ClosePort();
}

}  // namespace
