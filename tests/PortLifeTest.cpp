#include <gtest/gtest.h>

#include <QObject>
#include <QThread>
#include <atomic>
#include <string>
#include <utility>

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
// batch (the ring) is never delivered. The reopen may hand its batches to the main thread.
TEST(PortLife, AReopenFromAHandlerOnTheEventThreadWaitsForThatHandler) {
  for (const TSyncMethod reopened : {smNone, smThreadSync, smWindowSync}) {
    SCOPED_TRACE(testing::Message() << "reopened in mode " << int(reopened));
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
      port.SetSyncMethod(reopened);
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
}

// A handler on the event thread closes its port, then tells the window through a blocking
// call; the window reopens or deletes the port meanwhile. Neither waits for the other.
TEST(PortLife, AWindowActingOnTheClosedPortDuringABlockingCallFromItsHandlerCompletes) {
  for (const bool reopen : {true, false}) {
    SCOPED_TRACE(reopen ? "reopen" : "delete");
    const TWatchdog watchdog(reopen ? "reopen during a blocking call"
                                    : "delete during a blocking call");
    TFakeComPlatform platform;
    std::atomic<TComPort*> self = new TComPort(nullptr, &platform);
    self.load()->SetSyncMethod(smNone);
    std::atomic<bool> told = false;
    self.load()->OnRxChar = TRxCharEvent([&](QObject* sender, int) {
      auto* port = static_cast<TComPort*>(sender);
      std::atomic<bool>& done = told;  // the handler goes with a deleted port: kept here
      if (done) return;
      port->ClosePort();
      CallMainBlocking([&] {
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

// What a handler leaves to the event loop (a deferred delete of the port or of its owner, a
// close queued to the window) runs before the next batch is delivered: it was posted before
// the next hand-over. On a busy line too, where the main thread would otherwise take the
// batches behind it inside the same hand-over.
TEST(BusyLine, WhatAHandlerPostsRunsBeforeTheNextBatch) {
  enum TPosted { portDeleteLater, ownerDeleteLater, queuedClose };
  for (const bool busy : {false, true}) {
    for (const TPosted posted : {portDeleteLater, ownerDeleteLater, queuedClose}) {
      SCOPED_TRACE(testing::Message() << (busy ? "busy line, " : "quiet line, ") << posted);
      TFakeComPlatform fake;
      fake.busyLine = busy;
      QObject window;
      auto* owner = new QObject;
      auto* port = new TComPort(owner, &fake);
      port->SetSyncMethod(smThreadSync);
      bool done = false;
      QObject::connect(port, &QObject::destroyed, [&] { done = true; });
      int rings = 0;
      port->OnBreak = TNotifyEvent([&](QObject*) {
        switch (posted) {
          case portDeleteLater:
            port->deleteLater();
            break;
          case ownerDeleteLater:
            owner->deleteLater();
            break;
          case queuedClose:
            QMetaObject::invokeMethod(
                &window,
                [&] {
                  port->ClosePort();
                  done = true;
                },
                Qt::QueuedConnection);
            break;
        }
      });
      port->OnRing = TNotifyEvent([&](QObject*) { ++rings; });
      port->OpenPort();
      fake.PushEvents(EV_BREAK);
      fake.PushEvents(EV_RING);
      fake.PushEvents(EV_RING);
      ASSERT_TRUE(ServeUntil([&] { return done; }));
      ServeUntil([] { return RetiredComThreadCount() == 0; });
      // A close serves the batch the event thread had taken already; no other arrives.
      EXPECT_LE(rings, posted == queuedClose ? 1 : 0);
      EXPECT_EQ(fake.TakesOffLine(), 0);
      if (posted != ownerDeleteLater) delete owner;
    }
  }
}

}  // namespace

// Without hand-over, the main thread closes or deletes the port, its framer or both at once
// while a handler runs on the event thread, and does not wait for that thread. The thread,
// once the handler returns, touches none of them again and delivers nothing more: every
// handler door (the port's own, a link's, the framer's) × every way of tearing down.
TEST(PortLife, TearingDownRightAfterAHandlerWasLeftRunningTouchesNothingGone) {
  enum TDoor { dPortRxBuf, dLink, dFramer };
  enum TTearDown { tClose, tClosePort, tCloseFramer, tCloseBoth, tDeletePort, tDeleteBoth };
  const char* const doors[] = {"the port's OnRxBuf", "a link's", "the framer's OnPacket"};
  const char* const ways[] = {"close",
                              "close, delete the port",
                              "close, delete the framer",
                              "close, delete both",
                              "delete the port",
                              "delete both"};
  for (TDoor door : {dPortRxBuf, dLink, dFramer}) {
    for (TTearDown way : {tClose, tClosePort, tCloseFramer, tCloseBoth, tDeletePort, tDeleteBoth}) {
      const std::string name = std::string(doors[door]) + ", " + ways[way];
      SCOPED_TRACE(name);
      const TWatchdog watchdog(name);
      TFakeComPlatform platform;
      struct TSeen {
        std::atomic<bool> in = false, acted = false;
        std::atomic<int> calls = 0, afterAct = 0;
        void Call() {
          if (acted) ++afterAct;
          if (calls++ > 0) return;
          in = true;
          vardelio::test::WaitUntil([this] { return acted.load(); }, 5000);
        }
      } seen;
      TSeen* s = &seen;  // handlers keep only this: what they belong to may be gone
      auto* port = new TComPort(nullptr, &platform);
      port->SetSyncMethod(smNone);
      TComLink link;
      link.OnLinkRxBuf = TRxBufEvent([s, door](QObject*, const void*, int) {
        if (door == dLink) s->Call();
      });
      port->AttachLink(&link);
      auto* framer = new TComDataPacket;
      framer->SetStartString("S");
      framer->SetStopString("Z");
      framer->SetComPort(port);
      framer->OnPacket = TComStrEvent([s, door](QObject*, const std::string&) {
        if (door == dFramer) s->Call();
      });
      port->OnRxBuf = TRxBufEvent([s, door](QObject*, const void*, int) {
        if (door == dPortRxBuf) s->Call();
      });
      port->OpenPort();
      platform.Locked([&] { platform.input = "SAZSBZSCZ"; });
      platform.PushEvents(EV_RXCHAR | EV_RING);
      ASSERT_TRUE(ServeUntil([&] { return seen.in.load(); }));
      if (way != tDeletePort && way != tDeleteBoth) port->ClosePort();
      if (way == tCloseFramer || way == tCloseBoth || way == tDeleteBoth) {
        delete std::exchange(framer, nullptr);
      }
      if (way != tClose && way != tCloseFramer) delete std::exchange(port, nullptr);
      seen.acted = true;
      ASSERT_TRUE(ServeUntil([] { return RetiredComThreadCount() == 0; }));
      EXPECT_EQ(seen.afterAct.load(), 0) << "delivered after the teardown";
      if (port != nullptr) port->DetachLink(&link);
      delete framer;
      delete port;
      EXPECT_EQ(platform.Count("CloseLine"), platform.Count("OpenLine"));
    }
  }
}

// A framer's handler destroys the framer, at each place its scan fires one: the scan ends
// there, and the rest of the block is not cut by a framer that is gone.
TEST(PortLife, AFramerHandlerThatDestroysItsFramerEndsTheScan) {
  enum TSite { sPlainPacket, sBlockPacket, sGeneralPacket, sDiscard, sCustomStart, sCustomStop };
  const char* const names[] = {"a packet, usual rules",   "a packet cut where it lies in the block",
                               "a packet, general rules", "a discard",
                               "a custom start",          "a custom stop"};
  for (TSite site :
       {sPlainPacket, sBlockPacket, sGeneralPacket, sDiscard, sCustomStart, sCustomStop}) {
    SCOPED_TRACE(names[site]);
    struct THeld {
      TComDataPacket* framer = new TComDataPacket;
      int calls = 0;
      void Destroy() {
        ++calls;
        delete std::exchange(framer, nullptr);
      }
    } held;
    THeld* h = &held;
    TComDataPacket& f = *held.framer;
    f.SetStartString(site == sGeneralPacket ? "SS" : "S");
    f.SetStopString("Z");
    const auto destroy = TComStrEvent([h](QObject*, const std::string&) { h->Destroy(); });
    if (site == sDiscard) {
      f.OnDiscard = destroy;
    } else if (site == sCustomStart || site == sCustomStop) {
      TCustPacketEvent& slot = site == sCustomStart ? f.OnCustomStart : f.OnCustomStop;
      slot = TCustPacketEvent([h](QObject*, const std::string&, int& pos) {
        pos = 1;
        h->Destroy();
      });
    } else {
      f.OnPacket = destroy;
    }
    f.AppendData(site == sGeneralPacket ? "xSSAZSSBZ"
                 : site == sBlockPacket ? "SAZSBZ"
                                        : "xSAZSBZ");
    EXPECT_EQ(held.calls, 1);
    EXPECT_EQ(held.framer, nullptr);
  }
}

// Without hand-over, a framer's handler detaches the framer from its port, or attaches it to
// another, in the middle of a block: the old port's event thread cuts no more of it (whoever
// holds the framer now may use or destroy it), and the rest stays in the buffer. A later handler
// of that scan would have run with the gate shut: one that waits for the main thread while the
// main thread closes the port would wait in a circle.
TEST(PortLife, AFramerHandlerThatMovesItsFramerEndsTheOldPortsScan) {
  for (const bool toOther : {false, true}) {
    SCOPED_TRACE(toOther ? "attached to another port" : "detached");
    const TWatchdog watchdog(toOther ? "a framer moved to another port, then a close"
                                     : "a framer detached, then a close");
    TFakeComPlatform platform;
    TComPort port(nullptr, &platform), other(nullptr, &platform);
    port.SetSyncMethod(smNone);
    TComDataPacket framer;
    framer.SetStartString("S");
    framer.SetStopString("Z");
    framer.SetComPort(&port);
    std::atomic<int> packets = 0;
    std::string last;
    framer.OnPacket = TComStrEvent([&](QObject*, const std::string& text) {
      last = text;
      // Counted once moved: the main thread closes the port as soon as it sees the count.
      if (packets == 0) {
        framer.SetComPort(toOther ? &other : nullptr);
      } else if (text != "D") {
        CallMainBlocking([&] { port.ClosePort(); });
      }
      ++packets;
    });
    port.OpenPort();
    platform.Locked([&] { platform.input = "SAZSBZSCZ"; });
    platform.PushEvents(EV_RXCHAR);
    ASSERT_TRUE(ServeUntil([&] { return packets >= 1; }));
    port.ClosePort();
    ASSERT_TRUE(ServeUntil([] { return RetiredComThreadCount() == 0; }));
    EXPECT_EQ(packets.load(), 1) << "cut on the old port's thread";
    EXPECT_EQ(framer.ReceiveBuffer(), "SBZSCZ");
    // The old port's rest is dropped when data comes next, never cut with it.
    framer.AppendData("SDZ");
    EXPECT_EQ(packets.load(), 2);
    EXPECT_EQ(last, "D");
    EXPECT_EQ(framer.ReceiveBuffer(), "");
    framer.SetComPort(nullptr);
  }
}

// Without hand-over, a framer's handler leaves its port's delivery (a close, deleting the port,
// or detaching the framer), then asks the window, through a blocking call, to delete the framer:
// nothing of the port's runs it any more, so the window may. Back from that handler, the scan
// cuts nothing more.
TEST(PortLife, AFramerDeletedByTheWindowAfterItsHandlerLeftThePortIsNotTouched) {
  enum TLeave { lClose, lDeletePort, lDetach };
  const char* const names[] = {"the handler closes the port", "the handler deletes the port",
                               "the handler detaches the framer"};
  for (TLeave leave : {lClose, lDeletePort, lDetach}) {
    SCOPED_TRACE(names[leave]);
    const TWatchdog watchdog(names[leave]);
    TFakeComPlatform platform;
    auto* port = new TComPort(nullptr, &platform);
    port->SetSyncMethod(smNone);
    auto* framer = new TComDataPacket;
    framer->SetStartString("S");
    framer->SetStopString("Z");
    framer->SetComPort(port);
    struct TSeen {
      std::atomic<int> packets = 0;
      std::atomic<bool> done = false;
    } seen;
    TSeen* s = &seen;  // the handler goes with the framer: it keeps only this
    framer->OnPacket = TComStrEvent([s, &port, &framer, leave](QObject*, const std::string&) {
      if (s->packets++ > 0) return;
      if (leave == lDeletePort) {
        delete std::exchange(port, nullptr);
      } else if (leave == lClose) {
        port->ClosePort();
      } else {
        framer->SetComPort(nullptr);
      }
      CallMainBlocking([&] { delete std::exchange(framer, nullptr); });
      s->done = true;
    });
    port->OpenPort();
    platform.Locked([&] { platform.input = "SAZSBZSCZ"; });
    platform.PushEvents(EV_RXCHAR);
    ASSERT_TRUE(ServeUntil([&] { return seen.done && RetiredComThreadCount() == 0; }));
    EXPECT_EQ(seen.packets.load(), 1) << "cut by a framer that is gone";
    delete port;
  }
}

// A handler that empties or replaces its own slot goes on running from the callable it was
// called through, with what that callable holds, on every door: the framer's and the port's,
// in each delivery mode.
TEST(PortLife, AHandlerThatReplacesItsOwnSlotKeepsWhatItHolds) {
  for (const TSyncMethod mode : {smNone, smThreadSync, smWindowSync}) {
    for (const bool framerDoor : {false, true}) {
      SCOPED_TRACE(std::to_string(int(mode)) + (framerDoor ? ", framer" : ", port"));
      const TWatchdog watchdog("a handler that replaces its own slot");
      TFakeComPlatform platform;
      TComPort port(nullptr, &platform);
      port.SetSyncMethod(mode);
      TComDataPacket framer;
      framer.SetStartString("S");
      framer.SetStopString("Z");
      framer.SetComPort(&port);
      std::atomic<bool> done = false;
      std::string seen;
      const std::string held(64, 'h');  // on the heap: a freed copy is seen
      if (framerDoor) {
        framer.OnPacket = TComStrEvent([&, held](QObject*, const std::string&) {
          framer.OnPacket.Clear();
          seen = held;
          done = true;
        });
      } else {
        port.OnRxBuf = TRxBufEvent([&, held](QObject*, const void*, int) {
          port.OnRxBuf = TRxBufEvent();
          seen = held;
          done = true;
        });
      }
      port.OpenPort();
      platform.Locked([&] { platform.input = "SAZ"; });
      platform.PushEvents(EV_RXCHAR);
      ASSERT_TRUE(ServeUntil([&] { return done.load(); }));
      port.ClosePort();
      EXPECT_EQ(seen, held);
      framer.SetComPort(nullptr);
    }
  }
}
