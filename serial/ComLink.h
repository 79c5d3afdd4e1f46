#pragma once
// The handler types of the serial components, and the link through which a component
// attaches to a port.

#include "ComTypes.h"
#include "framework/Handler.h"

namespace vardelio {

using TRxCharEvent = THandler<int>;              // Count
using TRxBufEvent = THandler<const void*, int>;  // Buffer, Count
using TComSignalEvent = THandler<bool>;          // OnOff
using TComErrorEvent = THandler<TComErrors>;     // Errors

// Eleven slots, all empty until the owning component binds them.
struct TComLink {
  TComSignalEvent OnLinkConnect;
  TRxBufEvent OnLinkRxBuf;
  TRxBufEvent OnLinkTxBuf;
  TNotifyEvent OnLinkTxEmpty;
  TNotifyEvent OnLinkRxFlag;
  TComSignalEvent OnLinkCTSChange;
  TComSignalEvent OnLinkDSRChange;
  TComSignalEvent OnLinkRLSDChange;
  TNotifyEvent OnLinkRing;
  TComSignalEvent OnLinkTxActive;
  TComSignalEvent OnLinkRxActive;
  // Its slots run the code of the port's own family (the framer), not a user's handler: they
  // are called as the port's own code is, and open the port's gate only around their handlers.
  bool RunsInDelivery = false;
};

// The signal slots of a link, for SignalLinks.
enum class TLinkSignal { Connect, CTS, DSR, RLSD, RxActivity, TxActivity };
// The notify slots of a link, for NotifyLinks.
enum class TLinkNotice { Ring, TxEmpty, RxFlag };

}  // namespace vardelio
