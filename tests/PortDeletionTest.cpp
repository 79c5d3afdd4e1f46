#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include "EventRecording.h"
#include "FakeComPlatform.h"
#include "Waiting.h"
#include "serial/ComPort.h"
#include "serial/ComThread.h"

using namespace vardelio;
using vardelio::test::Record;
using vardelio::test::ServeUntil;
using vardelio::test::TEventLog;
using vardelio::test::TFakeComPlatform;
using vardelio::test::WaitUntil;

namespace {

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

}  // namespace
