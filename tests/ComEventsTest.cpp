#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "FakeComPlatform.h"
#include "RecordingPresenter.h"
#include "Waiting.h"
#include "serial/ComPort.h"
#include "serial/ComThread.h"

using namespace vardelio;
using vardelio::test::ServeUntil;
using vardelio::test::TFakeComPlatform;
using vardelio::test::TRecordingPresenter;
using vardelio::test::WaitUntil;

namespace {

using Log = std::vector<std::string>;

// Writes down every handler and link slot as it is called, from any thread.
class TEventLog {
 public:
  void Add(const std::string& entry) {
    std::lock_guard lock(mutex_);
    log_.push_back(entry);
  }
  Log Entries() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    log_.clear();
  }
  bool Contains(const std::string& entry) const {
    const Log l = Entries();
    return std::find(l.begin(), l.end(), entry) != l.end();
  }

 private:
  mutable std::mutex mutex_;
  Log log_;
};

std::string OnOff(const char* name, bool on) {
  return std::string(name) + (on ? "+" : "-");
}

void Record(TComPort& port, TEventLog& log) {
  port.OnAfterOpen = TNotifyEvent([&](QObject*) { log.Add("AfterOpen"); });
  port.OnBeforeClose = TNotifyEvent([&](QObject*) { log.Add("BeforeClose"); });
  port.OnAfterClose = TNotifyEvent([&](QObject*) { log.Add("AfterClose"); });
  port.OnRxChar = TRxCharEvent([&](QObject*, int n) { log.Add("RxChar" + std::to_string(n)); });
  port.OnRxBuf = TRxBufEvent([&](QObject*, const void* b, int n) {
    log.Add("RxBuf:" + std::string(static_cast<const char*>(b), std::size_t(n)));
  });
  port.OnTxEmpty = TNotifyEvent([&](QObject*) { log.Add("TxEmpty"); });
  port.OnBreak = TNotifyEvent([&](QObject*) { log.Add("Break"); });
  port.OnRing = TNotifyEvent([&](QObject*) { log.Add("Ring"); });
  port.OnRxFlag = TNotifyEvent([&](QObject*) { log.Add("RxFlag"); });
  port.OnRx80Full = TNotifyEvent([&](QObject*) { log.Add("Rx80Full"); });
  port.OnCTSChange = TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("CTS", on)); });
  port.OnDSRChange = TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("DSR", on)); });
  port.OnRLSDChange = TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("RLSD", on)); });
  port.OnError = TComErrorEvent(
      [&](QObject*, TComErrors e) { log.Add("Error" + std::to_string(e.ToBits())); });
}

void RecordLink(TComLink& link, TEventLog& log, bool wantsData) {
  link.OnLinkConnect =
      TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("link:Connect", on)); });
  link.OnLinkCTSChange =
      TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("link:CTS", on)); });
  link.OnLinkDSRChange =
      TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("link:DSR", on)); });
  link.OnLinkRLSDChange =
      TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("link:RLSD", on)); });
  link.OnLinkRxActive = TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("link:Rx", on)); });
  link.OnLinkTxActive = TComSignalEvent([&](QObject*, bool on) { log.Add(OnOff("link:Tx", on)); });
  link.OnLinkTxEmpty = TNotifyEvent([&](QObject*) { log.Add("link:TxEmpty"); });
  link.OnLinkRing = TNotifyEvent([&](QObject*) { log.Add("link:Ring"); });
  link.OnLinkRxFlag = TNotifyEvent([&](QObject*) { log.Add("link:RxFlag"); });
  link.OnLinkTxBuf = TRxBufEvent([&](QObject*, const void* b, int n) {
    log.Add("link:TxBuf:" + std::string(static_cast<const char*>(b), std::size_t(n)));
  });
  if (wantsData) {
    link.OnLinkRxBuf = TRxBufEvent([&](QObject*, const void* b, int n) {
      log.Add("link:RxBuf:" + std::string(static_cast<const char*>(b), std::size_t(n)));
    });
  }
}

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

TEST_F(Delivery, ThreadSyncCarriesAnExceptionBackAndEndsTheThreadQuietly) {
  Start(smThreadSync);
  port.OnRing = TNotifyEvent([](QObject*) { throw EComPort(11, 5); });
  fake.PushEvents(EV_RING);
  ASSERT_TRUE(ServeUntil([&] { return ThreadEnded(); }));
  EXPECT_TRUE(boxes.errors.isEmpty());
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.WriteText("L"), 1);  // still writable
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
}

TEST_F(Delivery, WindowSyncSendsOneMessagePerEventAndShowsExceptions) {
  Start(smWindowSync);
  port.OnRing = TNotifyEvent([&](QObject*) {
    log.Add("Ring");
    throw EComPort(11, 5);
  });
  fake.PushEvents(EV_RING | EV_RLSD);
  ASSERT_TRUE(ServeUntil([&] { return log.Contains("RLSD-"); }));
  EXPECT_EQ(log.Entries(), (Log{"Ring", "RLSD-"}));
  EXPECT_EQ(boxes.errors, QStringList{"GetCommModemStatus function failed (win error code: 5)"});
  log.Clear();
  fake.PushEvents(EV_BREAK);  // the thread goes on
  ASSERT_TRUE(ServeUntil([&] { return log.Contains("Break"); }));
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

// In each mode, the port's own handler or a link's slot deletes the port, or a handler closes
// it and the main thread deletes it while the batch is still being processed, or a handler
// deletes it while the main thread's close serves the batch: the deletion completes, nothing of
// the batch runs after it, and the thread ends and is joined.
TEST(DeletedByItsHandler, CompletesInEveryMode) {
  enum TBy { byHandler, byLink, byMainAfterClose, byHandlerWhileClosing };
  const struct {
    TSyncMethod mode;
    TBy by;
  } cases[] = {{smThreadSync, byHandler},
               {smWindowSync, byHandler},
               {smNone, byHandler},
               {smThreadSync, byLink},
               {smWindowSync, byLink},
               {smNone, byLink},
               {smThreadSync, byMainAfterClose},
               {smWindowSync, byMainAfterClose},
               {smNone, byMainAfterClose},
               {smThreadSync, byHandlerWhileClosing},
               {smWindowSync, byHandlerWhileClosing}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.by));
    std::atomic<bool> closed = false;
    TFakeComPlatform platform;
    TEventLog log;
    TComLink reader;  // outlives the port
    std::atomic<TComPort*> self = new TComPort(nullptr, &platform);
    // Cleared once the deletion has completed: what the test reads next was done by then.
    const auto deleteSelf = [&] {
      delete self.load();
      self = nullptr;
    };
    TComPort& port = *self.load();
    Record(port, log);
    port.SetSyncMethod(c.mode);
    if (c.by == byMainAfterClose) {
      port.OnRxChar = TRxCharEvent([&](QObject*, int) {
        log.Add("RxChar");
        port.ClosePort();
        closed = true;
        QThread::msleep(20);  // still in the batch when the main thread deletes the port
      });
    } else if (c.by == byLink) {
      reader.OnLinkRxBuf = TRxBufEvent([&](QObject*, const void*, int) {
        log.Add("link:RxBuf");
        deleteSelf();
      });
      port.AttachLink(&reader);
    } else {
      port.OnRxChar = TRxCharEvent([&](QObject*, int) {
        log.Add("RxChar");
        deleteSelf();
      });
    }
    port.OpenPort();
    platform.Locked([&] { platform.input = "ab"; });
    platform.HoldTakenEvents(c.by == byHandlerWhileClosing);
    platform.PushEvents(EV_RXCHAR | EV_RING);  // the ring comes after the deletion: never
    if (c.by == byMainAfterClose) {
      ASSERT_TRUE(ServeUntil([&] { return closed.load(); }));
      deleteSelf();
    }
    if (c.by == byHandlerWhileClosing) {
      // The batch is handed over once the close waits for the thread's end.
      ASSERT_TRUE(WaitUntil([&] { return platform.QueuedEvents() == 0; }));
      std::thread release([&] {
        WaitUntil([&] { return platform.StopsSet() > 0; });
        QThread::msleep(20);
        platform.HoldTakenEvents(false);
      });
      port.ClosePort();
      release.join();
    }
    ASSERT_TRUE(ServeUntil([&] {
      return self.load() == nullptr && platform.OpenStopSignals() == 0 &&
             RetiredComThreadCount() == 0;
    }));
    EXPECT_TRUE(log.Contains(c.by == byLink ? "link:RxBuf" : "RxChar"));
    EXPECT_TRUE(log.Contains("AfterClose"));
    // A window-sync close still serves the messages sent before it, as any close does.
    if (c.by != byMainAfterClose || c.mode != smWindowSync) {
      EXPECT_FALSE(log.Contains("Ring"));
    }
    EXPECT_EQ(platform.Count("CloseLine"), 1);
  }
}

// A link's slot or a handler deletes the port in the middle of the notices of opening or
// closing: the notices stop there, and the line is released if it was taken.
TEST(DeletedByItsHandler, InTheOpenAndCloseNotices) {
  using TDelete = std::function<void()>;
  using TArm = std::function<void(TComPort&, TComLink&, const TDelete&)>;
  const auto when = [](bool wanted, const TDelete& del) {
    return TComSignalEvent([=](QObject*, bool on) {
      if (on == wanted) del();
    });
  };
  const struct {
    const char* name;
    TArm arm;
    bool onClose;
  } cases[] = {
      {"BeforeOpen",
       [](TComPort& p, TComLink&, const TDelete& del) {
         p.OnBeforeOpen = TNotifyEvent([=](QObject*) { del(); });
       },
       false},
      {"link:Connect+",
       [&](TComPort&, TComLink& l, const TDelete& del) { l.OnLinkConnect = when(true, del); },
       false},
      {"AfterOpen",
       [](TComPort& p, TComLink&, const TDelete& del) {
         p.OnAfterOpen = TNotifyEvent([=](QObject*) { del(); });
       },
       false},
      {"CTS+", [&](TComPort& p, TComLink&, const TDelete& del) { p.OnCTSChange = when(true, del); },
       false},
      {"link:CTS-",
       [&](TComPort&, TComLink& l, const TDelete& del) { l.OnLinkCTSChange = when(false, del); },
       true},
      {"CTS-",
       [&](TComPort& p, TComLink&, const TDelete& del) { p.OnCTSChange = when(false, del); }, true},
      {"link:Connect-",
       [&](TComPort&, TComLink& l, const TDelete& del) { l.OnLinkConnect = when(false, del); },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TFakeComPlatform platform;
    platform.modemStatus = MS_CTS_ON;
    TComLink link;  // outlives the port
    TComPort* self = new TComPort(nullptr, &platform);
    self->SetEvents({});
    self->AttachLink(&link);
    c.arm(*self, link, [&self] { delete std::exchange(self, nullptr); });
    self->OpenPort();
    if (c.onClose) {
      ASSERT_NE(self, nullptr);
      self->ClosePort();
    }
    EXPECT_EQ(self, nullptr);
    EXPECT_EQ(platform.Count("CloseLine"), platform.Count("OpenLine"));
    EXPECT_FALSE(platform.open);
  }
}

// The batch is handed over only once the close already waits for the thread's end: the close
// serves it and returns, in both modes that hand over. A handler that closes the port, or
// closes and reopens it, meanwhile finds the close under way and changes nothing.
TEST_F(Delivery, ClosingServesAHandOverRequestedWhileItWaits) {
  enum TRing { logs, closes, closesAndReopens };
  const struct {
    TSyncMethod mode;
    TRing ring;
  } cases[] = {{smThreadSync, logs},
               {smWindowSync, logs},
               {smThreadSync, closes},
               {smWindowSync, closes},
               {smThreadSync, closesAndReopens},
               {smWindowSync, closesAndReopens}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.ring));
    log.Clear();
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
  }
}

// A window-sync handler waits in a nested event loop (a message box); the next message's
// handler closes the port, or closes and reopens it, inside that loop. The outer handler then
// returns into a hand-over that only it still holds.
TEST_F(Delivery, AHandlerMayCloseThePortInsideAnotherHandlersNestedLoop) {
  for (const bool reopen : {false, true}) {
    SCOPED_TRACE(reopen);
    Start(smWindowSync);
    bool closedInside = false;
    port.OnRing = TNotifyEvent([&](QObject*) {
      log.Add("Ring");
      ServeUntil([&] { return closedInside; });
      log.Add("Ring returns");
    });
    port.OnRLSDChange = TComSignalEvent([&](QObject*, bool) {
      if (std::exchange(closedInside, true)) return;
      port.ClosePort();
      if (reopen) port.OpenPort();
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

TEST_F(Delivery, APortWithoutEventsHasNoThread) {
  port.SetEvents({});
  Start(smThreadSync);
  EXPECT_FALSE(port.EventThreadActive());
  EXPECT_EQ(fake.Count("SetCommMask"), 0);
  port.ClosePort();
}

}  // namespace
