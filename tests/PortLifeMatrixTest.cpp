#include <gtest/gtest.h>

#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <functional>
#include <string>

#include "FakeComPlatform.h"
#include "PortLife.h"
#include "Waiting.h"
#include "serial/ComPort.h"
#include "serial/ComThread.h"

using namespace vardelio;
using vardelio::test::CallMainBlocking;
using vardelio::test::ServeUntil;
using vardelio::test::TFakeComPlatform;
using vardelio::test::THandlerCount;
using vardelio::test::TWatchdog;
using vardelio::test::WaitUntil;

namespace {

// Every delivery mode × what is done to the port × where it is done from × when data comes.
enum TAction {
  aClose,
  aReopen,
  aDelete,
  aDeleteLater,
  aReapply,      // a setting change that reaches the open line
  aRelink,       // one link detached, another attached
  aNestedLoop,   // an event loop turns inside the place, then returns
  aBlockClose,   // a blocking call to the main thread, which closes the port
  aBlockReopen,  // the handler closes, then a blocking call in which the main thread reopens
  aBlockDelete,  // a blocking call in which the main thread deletes the port
  kActions
};
enum TPlace { pHandler, pMainWhileHandler, pNestedLoop, pOtherPort, kPlaces };
enum TData { dBefore, dDuring, dAfter, kData };

const char* const kActionNames[] = {"Close",       "Reopen",     "Delete",     "DeleteLater",
                                    "Reapply",     "Relink",     "NestedLoop", "BlockClose",
                                    "BlockReopen", "BlockDelete"};
const char* const kPlaceNames[] = {"handler", "main-while-handler", "nested-loop", "other-port"};
const char* const kDataNames[] = {"data-before", "data-during", "data-after"};
const char* const kModeNames[] = {"ThreadSync", "WindowSync", "None"};

bool Blocking(TAction a) {
  return a == aBlockClose || a == aBlockReopen || a == aBlockDelete;
}
bool Deletes(TAction a) {
  return a == aDelete || a == aDeleteLater || a == aBlockDelete;
}
// Ends the delivery of the batch it is done in.
bool EndsBatch(TAction a) {
  return a == aClose || a == aReopen || a == aDelete || Blocking(a);
}

// Why a combination cannot be done; null when it can (docs/threads.md lists the same).
const char* NotApplicable(TSyncMethod mode, TAction action, TPlace place) {
  const bool ownThread = mode == smNone;
  if (place == pMainWhileHandler && !ownThread) return "the handler runs on the main thread";
  if ((place == pNestedLoop || action == aNestedLoop) && ownThread)
    return "the event thread has no event loop of its own";
  if (place == pOtherPort && ownThread) return "another port's handler runs on its own thread";
  if (Blocking(action) && (!ownThread || place != pHandler))
    return "only a handler off the main thread can make a blocking call to it";
  if (action == aRelink && ownThread) return "links change only while no handler can run";
  return nullptr;
}

// What one row shares between the test and the handlers; handlers reach it through a pointer
// copied onto their own stack, as the handler that deletes its port goes with it.
struct TRow {
  TRow(TSyncMethod m, TAction a, TPlace p, TData d, bool b)
      : mode(m), action(a), place(p), data(d), busy(b) {
    platform.busyLine = busy;
  }
  ~TRow() { delete port.exchange(nullptr); }  // a row that failed half-way leaves no thread
  TRow(const TRow&) = delete;
  TRow& operator=(const TRow&) = delete;
  const TSyncMethod mode;
  const TAction action;
  const TPlace place;
  const TData data;
  // Thread-sync on a busy line: the main thread takes the next batches itself, inside the
  // hand-over, until something ends the open.
  const bool busy;

  TFakeComPlatform platform, otherPlatform;
  QObject window;
  THandlerCount count;
  TComLink link, otherLink;
  std::atomic<TComPort*> port = nullptr;
  std::atomic<bool> destroyed = false, acted = false, handlerIn = false, handlerDone = false;
  std::atomic<bool> ended = false;       // the close that ends delivery has returned
  std::atomic<bool> batchEnded = false;  // the trigger batch's delivery was ended by the action
  std::atomic<int> triggers = 0, rx = 0, afterEnd = 0, staleRings = 0;

  std::string Name() const {
    return std::string(kModeNames[mode]) + " " + kActionNames[action] + " " + kPlaceNames[place] +
           " " + kDataNames[data] + (busy ? " busy-line" : "");
  }
  void Feed(TFakeComPlatform& line, std::uint32_t events) {
    line.Locked([&] { line.input += "x"; });
    line.PushEvents(events);
  }
  void Delivered() {
    if (ended) ++afterEnd;
    ++rx;
  }
  TComPort* MakePort() {
    auto* made = new TComPort(nullptr, &platform);
    made->SetSyncMethod(mode);
    made->SetEvents({evRxChar, evRing});
    TRow* row = this;
    made->OnRxChar = TRxCharEvent([row](QObject*, int) { row->OnRxChar(); });
    made->OnRing = TNotifyEvent([row](QObject*) {
      const THandlerCount::TInside inside(row->count);
      row->Delivered();
      if (row->batchEnded) ++row->staleRings;
    });
    QObject::connect(
        made, &QObject::destroyed, &window,
        [row, made] {
          TComPort* expected = made;
          row->port.compare_exchange_strong(expected, nullptr);
          row->ended = true;
          row->destroyed = true;
        },
        Qt::DirectConnection);
    port = made;
    return made;
  }
  void OnRxChar() {
    const THandlerCount::TInside inside(count);
    Delivered();
    if (place == pOtherPort || triggers++ > 0) return;
    Trigger();
  }
  // In the port's first handler: the action, from the place of the row.
  void Trigger() {
    switch (place) {
      case pHandler:
        Act();
        break;
      case pMainWhileHandler:
        handlerIn = true;
        WaitUntil([this] { return acted.load(); }, 5000);
        break;
      case pNestedLoop:
      case pOtherPort:
        InNestedLoop([this] { Act(); });
        break;
      case kPlaces:
        break;
    }
    handlerDone = true;
  }
  static void InNestedLoop(const std::function<void()>& work) {
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
      work();
      loop.quit();
    });
    loop.exec();
  }
  void Act() {
    if (data == dDuring) Feed(platform, EV_RXCHAR);
    TComPort* p = port;
    switch (action) {
      case aClose:
        p->ClosePort();
        ended = true;
        break;
      case aReopen:
        p->ClosePort();
        p->OpenPort();
        break;
      case aDelete:
        delete port.exchange(nullptr);
        break;
      case aDeleteLater:
        p->deleteLater();
        break;
      case aReapply:
        p->SetBaudRate(p->BaudRate() == br9600 ? br19200 : br9600);
        break;
      case aRelink:
        if (std::find(links.begin(), links.end(), &link) != links.end()) {
          p->DetachLink(&link);
          p->AttachLink(&otherLink);
        }
        break;
      case aNestedLoop:
        InNestedLoop([] {});
        break;
      case aBlockClose:
        CallMainBlocking([this] { port.load()->ClosePort(); });
        ended = true;
        break;
      case aBlockReopen:
        p->ClosePort();
        CallMainBlocking([this] { port.load()->OpenPort(); });
        break;
      case aBlockDelete:
        CallMainBlocking([this] { delete port.exchange(nullptr); });
        break;
      case kActions:
        break;
    }
    // Only the port's own batch is ended so; another port's handler acts between the port's
    // batches, and a batch still queued then is the new open's to deliver.
    if (EndsBatch(action) && place != pOtherPort) batchEnded = true;
    acted = true;
  }
  std::vector<TComLink*> links;
};

// Opens a port on the line, feeds it, and sees the data arrive.
bool Usable(TRow& row) {
  TComPort* p = row.port;
  if (p == nullptr) p = row.MakePort();
  p->ClosePort();
  row.ended = false;
  row.batchEnded = false;
  const int before = row.rx;
  p->OpenPort();
  row.Feed(row.platform, EV_RXCHAR);
  const bool delivered = ServeUntil([&] { return row.rx > before; });
  delete row.port.exchange(nullptr);
  // A handler still returning on its own thread is left to end; the checks wait for that.
  return ServeUntil([] { return RetiredComThreadCount() == 0; }) && delivered;
}

void RunRow(TRow& row) {
  TComPort* p = row.MakePort();
  const bool links = row.mode != smNone;
  if (links) {
    TRow* self = &row;
    for (TComLink* l : {&row.link, &row.otherLink}) {
      l->OnLinkRxActive = TComSignalEvent(
          [self](QObject*, bool) { const THandlerCount::TInside inside(self->count); });
    }
    p->AttachLink(&row.link);
    row.links = {&row.link};
  }
  TComPort other(nullptr, &row.otherPlatform);
  if (row.place == pOtherPort) {
    other.SetSyncMethod(row.mode);
    TRow* self = &row;
    other.OnRxChar = TRxCharEvent([self](QObject*, int) {
      if (self->triggers++ > 0) return;
      self->Trigger();
    });
    other.OpenPort();
  }
  p->OpenPort();
  if (row.place == pOtherPort) {
    if (row.data == dBefore) row.Feed(row.platform, EV_RXCHAR | EV_RING);
    row.Feed(row.otherPlatform, EV_RXCHAR);
  } else {
    row.Feed(row.platform, EV_RXCHAR | EV_RING);
    if (row.data == dBefore) row.Feed(row.platform, EV_RXCHAR);
  }
  if (row.place == pMainWhileHandler) {
    ASSERT_TRUE(ServeUntil([&] { return row.handlerIn.load(); }));
    row.Act();
  }
  ASSERT_TRUE(ServeUntil([&] {
    // As the main loop would, wherever deleteLater was called from.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return row.acted && row.handlerDone && (!Deletes(row.action) || row.destroyed);
  }));
  if (row.data == dAfter) {
    const int before = row.rx;
    row.Feed(row.platform, EV_RXCHAR);
    TComPort* still = row.port;
    if (still != nullptr && still->Connected()) {
      EXPECT_TRUE(ServeUntil([&] { return row.rx > before; }));
    }
  }
  ASSERT_TRUE(ServeUntil([&] { return RetiredComThreadCount() == 0; }));
  other.ClosePort();
  EXPECT_EQ(row.count.Overlaps(), 0) << "handlers of the port ran on two threads at once";
  EXPECT_EQ(row.afterEnd, 0) << "delivered after the close that ended delivery";
  EXPECT_EQ(row.staleRings, 0) << "the rest of a batch ended by its handler was delivered";
  EXPECT_EQ(row.platform.TakesOffLine(), 0) << "the main thread took events from a closed line";
  if (row.busy && row.data == dDuring && (row.place == pHandler || row.place == pNestedLoop)) {
    // What came during the handler is taken in the same hand-over, unless the open ended or
    // the port waits for its deferred delete (or the hand-over outlasted its time: a
    // preempted main thread).
    EXPECT_LE(row.platform.BusyTakes(),
              EndsBatch(row.action) || row.action == aDeleteLater ? 0 : 1);
  }
  EXPECT_TRUE(Usable(row)) << "the port could not be used again";
  EXPECT_EQ(row.platform.OpenStopSignals(), 0u);
  EXPECT_EQ(row.platform.Count("CloseLine"), row.platform.Count("OpenLine"));
}

class PortLifeMatrix : public ::testing::TestWithParam<std::tuple<TSyncMethod, TAction>> {};

TEST_P(PortLifeMatrix, EveryPlaceAndDataTiming) {
  const auto [mode, action] = GetParam();
  int rows = 0;
  for (int place = 0; place < kPlaces; ++place) {
    if (const char* why = NotApplicable(mode, action, TPlace(place))) {
      RecordProperty(kPlaceNames[place], why);
      continue;
    }
    for (int data = 0; data < kData; ++data) {
      for (const bool busy : {false, true}) {
        if (busy && mode != smThreadSync) continue;
        // Set first, so it also watches the row's cleaning up.
        const TWatchdog watchdog{std::string(kActionNames[action]) + " " + kPlaceNames[place] +
                                 " " + kDataNames[data] + " in mode " + kModeNames[mode]};
        TRow row(mode, action, TPlace(place), TData(data), busy);
        SCOPED_TRACE(row.Name());
        RunRow(row);
        ++rows;
        if (HasFatalFailure()) return;
      }
    }
  }
  RecordProperty("rows", rows);
}

std::string MatrixName(const ::testing::TestParamInfo<std::tuple<TSyncMethod, TAction>>& info) {
  return std::string(kModeNames[std::get<0>(info.param)]) + kActionNames[std::get<1>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PortLifeMatrix,
    ::testing::Combine(::testing::Values(smThreadSync, smWindowSync, smNone),
                       ::testing::Values(aClose, aReopen, aDelete, aDeleteLater, aReapply, aRelink,
                                         aNestedLoop, aBlockClose, aBlockReopen, aBlockDelete)),
    MatrixName);

// The rows that cannot be done, counted: the list docs/threads.md gives, each with its reason.
TEST(PortLifeMatrixRows, DoneAndNotApplicable) {
  int done = 0, notApplicable = 0;
  for (TSyncMethod mode : {smThreadSync, smWindowSync, smNone}) {
    for (int action = 0; action < kActions; ++action) {
      for (int place = 0; place < kPlaces; ++place) {
        (NotApplicable(mode, TAction(action), TPlace(place)) ? notApplicable : done) += kData;
      }
    }
  }
  EXPECT_EQ(done + notApplicable, 3 * kActions * kPlaces * kData);
  EXPECT_EQ(done, 165);
}

}  // namespace
