#include <gtest/gtest.h>

#include <QObject>
#include <QThread>
#include <atomic>

#include "FakeComPlatform.h"
#include "PortLife.h"
#include "Waiting.h"
#include "serial/ComDataPacket.h"
#include "serial/ComPort.h"
#include "serial/ComThread.h"

using namespace vardelio;
using vardelio::test::CallMainBlocking;
using vardelio::test::ServeUntil;
using vardelio::test::TFakeComPlatform;
using vardelio::test::THandlerCount;
using vardelio::test::TWatchdog;

namespace {

// A handler on the event thread closes and reopens its port while more data arrives: the new
// open's thread delivers only once that handler has returned, and what was left of the old
// batch (the ring) is never delivered.
TEST(PortLife, AReopenFromAHandlerOnTheEventThreadWaitsForThatHandler) {
  const TWatchdog watchdog("reopen from a handler on the event thread");
  TFakeComPlatform platform;
  TComPort port(nullptr, &platform);
  port.SetSyncMethod(smNone);
  TComDataPacket framer;
  framer.SetComPort(&port);
  framer.SetStartString("S");
  framer.SetStopString("Z");
  THandlerCount count;
  std::atomic<int> packets = 0, rings = 0;
  framer.OnPacket = TComStrEvent([&](QObject*, const std::string&) {
    const THandlerCount::TInside inside(count);
    if (++packets > 1) return;
    port.ClosePort();
    port.OpenPort();
    platform.Locked([&] { platform.input += "SBZ"; });
    platform.PushEvents(EV_RXCHAR);
    QThread::msleep(30);  // still in the handler while the new thread would deliver
  });
  port.OnRing = TNotifyEvent([&](QObject*) {
    const THandlerCount::TInside inside(count);
    ++rings;
  });
  port.OpenPort();
  platform.Locked([&] { platform.input = "SAZ"; });
  platform.PushEvents(EV_RXCHAR | EV_RING);
  // The old thread has ended: whatever it was to deliver, it has.
  ASSERT_TRUE(ServeUntil([&] { return packets == 2 && RetiredComThreadCount() == 0; }));
  port.ClosePort();
  EXPECT_EQ(count.Overlaps(), 0);
  EXPECT_EQ(rings, 0);
}

// A handler on the event thread closes its port, then tells the window through a blocking
// call; the window reopens or deletes the port meanwhile. Neither waits for the other.
TEST(PortLife, AWindowActingOnTheClosedPortDuringABlockingCallFromItsHandlerCompletes) {
  for (const bool reopen : {true, false}) {
    SCOPED_TRACE(reopen ? "reopen" : "delete");
    const TWatchdog watchdog(reopen ? "reopen during a blocking call"
                                    : "delete during a blocking call");
    TFakeComPlatform platform;
    QObject window;
    std::atomic<TComPort*> self = new TComPort(nullptr, &platform);
    self.load()->SetSyncMethod(smNone);
    std::atomic<bool> told = false;
    self.load()->OnRxChar = TRxCharEvent([&](QObject* sender, int) {
      auto* port = static_cast<TComPort*>(sender);
      std::atomic<bool>& done = told;  // the handler goes with a deleted port: kept here
      if (done) return;
      port->ClosePort();
      CallMainBlocking(&window, [&] {
        if (reopen) {
          self.load()->OpenPort();
        } else {
          delete self.exchange(nullptr);
        }
      });
      done = true;
    });
    self.load()->OpenPort();
    platform.Locked([&] { platform.input = "a"; });
    platform.PushEvents(EV_RXCHAR);
    ASSERT_TRUE(ServeUntil([&] { return told.load(); }));
    if (reopen) {
      EXPECT_TRUE(self.load()->Connected());
      delete self.exchange(nullptr);
    }
    ASSERT_TRUE(ServeUntil([&] { return RetiredComThreadCount() == 0; }));
    EXPECT_EQ(platform.Count("CloseLine"), platform.Count("OpenLine"));
  }
}

}  // namespace
