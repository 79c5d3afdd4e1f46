#include "ComDataPacket.h"

#include <QScopeGuard>
#include <algorithm>

#include "ComPort.h"
#include "PortLife.h"

namespace vardelio {
namespace {

// A scan that fires handlers, on this thread. A handler may destroy the framer; when the port
// delivers on its own thread, the main thread may close the port or destroy it and the framer
// while a handler runs. After each handler the scan asks whether it may go on.
class TScanStretch {
 public:
  TScanStretch(const TComDataPacket* framer, const TCustomComPort* port)
      : framer_(framer), port_(port), gated_(TPortLife::TOutside::Opens(port)), outer_(innermost_) {
    innermost_ = this;
  }
  ~TScanStretch() { innermost_ = outer_; }
  TScanStretch(const TScanStretch&) = delete;
  TScanStretch& operator=(const TScanStretch&) = delete;

  static void FramerDestroyed(const TComDataPacket* framer) {
    for (TScanStretch* s = innermost_; s != nullptr; s = s->outer_) {
      if (s->framer_ == framer) s->gone_ = true;
    }
  }
  // A handler moved the framer: a scan on another port's event thread no longer runs it, and
  // whoever holds it now may destroy it before the handler returns.
  static void FramerMoved(const TComDataPacket* framer, const TCustomComPort* port) {
    for (TScanStretch* s = innermost_; s != nullptr; s = s->outer_) {
      if (s->framer_ == framer) s->moved_ = s->port_ != port;
    }
  }
  static const TScanStretch* Of(const TComDataPacket* framer) {
    for (const TScanStretch* s = innermost_; s != nullptr; s = s->outer_) {
      if (s->framer_ == framer) return s;
    }
    return nullptr;
  }
  static bool Ended(const TComDataPacket* framer) {
    const TScanStretch* s = Of(framer);
    return s != nullptr && s->Ended();
  }
  // Whether the scan holds an event thread's gate, which each handler opens, and whose.
  bool Gated() const { return gated_; }
  const TCustomComPort* Port() const { return port_; }
  // Asked once a handler has returned, the gate shut again.
  bool Ended() const {
    return gone_ || (gated_ && (moved_ || TPortLife::TScope::DeliveryEnded(port_)));
  }

 private:
  static thread_local TScanStretch* innermost_;
  const TComDataPacket* const framer_;
  const TCustomComPort* const port_;  // kept here: the framer may be gone when it is asked
  const bool gated_;
  TScanStretch* const outer_;
  bool gone_ = false;
  bool moved_ = false;
};

thread_local TScanStretch* TScanStretch::innermost_ = nullptr;

struct TScanEnded {};

}  // namespace

TComDataPacket::TComDataPacket(QObject* owner)
    : TComponent(owner), portLink_(std::make_unique<TComLink>()) {
  // Bound before the link is ever attached, so the port counts us as a reader of its data.
  portLink_->OnLinkRxBuf = TRxBufEvent(this, &TComDataPacket::ReceiveLinkData);
  portLink_->RunsInDelivery = true;
}

TComDataPacket::~TComDataPacket() {
  TScanStretch::FramerDestroyed(this);
  try {
    SetComPort(nullptr);
  } catch (const std::exception&) {
    // The port no longer knew our link; nothing is left to undo.
  }
}

void TComDataPacket::SetComPort(TCustomComPort* port) {
  if (port == comPort_) return;
  TScanStretch::FramerMoved(this, port);
  if (comPort_ != nullptr) {
    RemoveFreeNotification(comPort_);
    TCustomComPort* old = std::exchange(comPort_, nullptr);
    old->DetachLink(portLink_.get());
  }
  comPort_ = port;
  if (port != nullptr) {
    port->FreeNotification(this);
    port->AttachLink(portLink_.get());
  }
}

void TComDataPacket::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  // The port is being destroyed and its links with it: forget it without calling it.
  if (operation == TOperation::opRemove && component == comPort_) comPort_ = nullptr;
}

// --- handlers

template <typename Slot, typename... Args>
inline void TComDataPacket::CallHandler(const Slot& slot, Args&&... args) {
  const auto* scan = static_cast<const TScanStretch*>(scan_);
  if (scan != nullptr && !scan->Gated()) {  // a scan off any gate: nothing runs beside it
    slot(static_cast<QObject*>(this), std::forward<Args>(args)...);
    return;
  }
  // The gate a scan holds is its port's, even when a handler has moved the framer since.
  TPortLife::CallHandler(scan != nullptr ? scan->Port() : comPort_, slot,
                         static_cast<QObject*>(this), std::forward<Args>(args)...);
}

void TComDataPacket::FireDiscard(const std::string& text) {
  CallHandler(OnDiscard, text);
}
void TComDataPacket::FirePacket(const std::string& text) {
  CallHandler(OnPacket, text);
}
void TComDataPacket::FireCustomStart(const std::string& text, int& pos) {
  CallHandler(OnCustomStart, text, pos);
}
void TComDataPacket::FireCustomStop(const std::string& text, int& pos) {
  CallHandler(OnCustomStop, text, pos);
}

template <typename Call>
void TComDataPacket::Fire(const Call& fire) {
  // Marked before the gate opens: if the delivery ends meanwhile, nothing here may be touched
  // after, and the rest of the block is the ended delivery's, dropped when data comes next.
  const auto* stretch = static_cast<const TScanStretch*>(scan_);
  const bool gated = stretch != nullptr && stretch->Gated();
  if (gated) restAbandoned_ = true;
  fire();
  if (stretch != nullptr && stretch->Ended()) throw TScanEnded{};
  if (gated) restAbandoned_ = false;
}

void TComDataPacket::ChangeAndReset(auto& field, const auto& value) {
  if (field == value) return;
  field = value;
  if (!Loading()) ResetBuffer();
}

void TComDataPacket::SetCaseInsensitive(bool value) {
  ChangeAndReset(caseInsensitive_, value);
}
void TComDataPacket::SetStartString(const std::string& value) {
  ChangeAndReset(startString_, value);
}
void TComDataPacket::SetStopString(const std::string& value) {
  ChangeAndReset(stopString_, value);
}
void TComDataPacket::SetSize(int value) {
  ChangeAndReset(size_, value);
}

void TComDataPacket::ResetBuffer() {
  restAbandoned_ = false;
  JoinBlock();
  // Closed even with nothing buffered: with no start string a packet opens on an empty buffer,
  // and left open under new rules it would take what comes next for a packet without a start.
  packetOpen_ = false;
  if (Unconsumed().empty()) return;
  // Emptied before the discard handler: one that changes the rules again finds nothing left
  // to discard, instead of discarding the same bytes without end.
  const std::string discarded(Unconsumed());
  receiveBuffer_.clear();
  consumed_ = 0;
  FireDiscard(discarded);
}

// Called once per block: it must cost next to nothing when the block was all cut.
inline void TComDataPacket::Compact() const {
  if (consumed_ == receiveBuffer_.size()) {
    receiveBuffer_.clear();
  } else {
    receiveBuffer_.erase(0, consumed_);
  }
  consumed_ = 0;
}

void TComDataPacket::JoinBlock() const {
  if (cuttingBlock_) JoinRest();
}

void TComDataPacket::JoinRest() const {
  cuttingBlock_ = false;
  if (!block_.empty()) receiveBuffer_.append(block_);
  block_ = {};
}

const std::string& TComDataPacket::ReceiveBuffer() const {
  JoinBlock();
  Compact();
  return receiveBuffer_;
}

void TComDataPacket::ReceiveLinkData(QObject*, const void* buffer, int count) {
  AppendData(std::string_view(static_cast<const char*>(buffer), std::size_t(std::max(count, 0))));
}

namespace {

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool SameFolded(char a, char b) {
  return a == b || Upper(a) == Upper(b);
}

std::size_t FindFolded(std::string_view what, std::string_view in) {
  const auto at = std::search(in.begin(), in.end(), what.begin(), what.end(), SameFolded);
  return at == in.end() ? std::string_view::npos : std::size_t(at - in.begin());
}

}  // namespace

std::size_t TComDataPacket::PositionOf(std::string_view what, std::string_view in) const {
  if (what.empty()) return 0;
  std::size_t found;
  if (caseInsensitive_) {
    found = FindFolded(what, in);
  } else {
    // One character, the usual delimiter: a plain scan, with no compare per candidate.
    found = what.size() == 1 ? in.find(what.front()) : in.find(what);
  }
  return found == std::string_view::npos ? 0 : found + 1;
}

inline bool TComDataPacket::HasEndRule() const {
  return size_ > 0 || !stopString_.empty() || OnCustomStop.Assigned();
}

inline bool TComDataPacket::BufferFull() const {
  return maxBufferSize_ > 0 && Unconsumed().size() >= std::size_t(maxBufferSize_);
}

void TComDataPacket::AppendData(std::string_view data) {
  JoinBlock();  // a handler's data comes after what the block it was called from still holds
  if (!HasEndRule()) {
    FirePacket(std::string(data));  // the block is the packet, as it came
    return;
  }
  const TScanStretch stretch(this, comPort_);
  const void* outerScan = std::exchange(scan_, &stretch);
  const auto restore = qScopeGuard([&] {
    if (!stretch.Ended()) scan_ = outerScan;  // else the framer may be gone
  });
  try {
    if (restAbandoned_) {
      ResetBuffer();
      if (stretch.Ended()) return;
    }
    // Cut where it lies only off an event thread's gate: a delivery that ends under a handler
    // leaves its rest in the buffer, never in a block that is freed with it.
    if (receiveBuffer_.empty() && !packetOpen_ && !stretch.Gated()) {
      block_ = data;
      cuttingBlock_ = true;
    } else {
      receiveBuffer_.append(data);
    }
    ScanBuffer();
  } catch (const TScanEnded&) {
    // The framer, or the delivery it ran in, is gone: nothing here may be touched.
  }
}

inline bool TComDataPacket::PlainRules() const {
  return startString_.size() == 1 && stopString_.size() == 1 && size_ <= 0 && !caseInsensitive_ &&
         !OnCustomStart.Assigned() && !OnCustomStop.Assigned();
}

// The same cut as the general scan. Every handler it fires may change the rules, so they are
// looked at again after each one; the general scan takes over where they stop being plain.
bool TComDataPacket::ScanPlain() {
  while (PlainRules()) {
    const char start = startString_.front();
    const std::string_view rest = Unconsumed();
    if (!packetOpen_) {
      const std::size_t at = rest.find(start);
      if (at == std::string_view::npos) return true;
      if (at > 0) {
        BeginPacket(int(at + 1));  // discards what came before the start
        continue;
      }
      packetOpen_ = true;
    } else if (rest.empty() || rest.front() != start) {
      return false;  // opened under other rules
    }
    const std::size_t end = rest.find(stopString_.front(), 1);
    if (end == std::string_view::npos) return true;
    packetOpen_ = false;
    consumed_ += end + 1;
    const std::string packet(includeStrings_ ? rest.substr(0, end + 1) : rest.substr(1, end - 1));
    Fire([&] { FirePacket(packet); });
  }
  return false;
}

// The plain cut of the packets that begin right at the front of the block, with no copy of
// them into the buffer: what the buffer would show a handler, it shows (JoinBlock).
void TComDataPacket::CutFromBlock() {
  while (cuttingBlock_ && PlainRules()) {
    const std::string_view rest = block_;
    if (rest.empty() || rest.front() != startString_.front()) break;
    const std::size_t end = rest.find(stopString_.front(), 1);
    if (end == std::string_view::npos) break;
    block_.remove_prefix(end + 1);
    const std::string packet(includeStrings_ ? rest.substr(0, end + 1) : rest.substr(1, end - 1));
    Fire([&] { FirePacket(packet); });
  }
  JoinBlock();
}

// Repeats for what remains after each packet. A loop rather than recursion, so a block
// holding thousands of packets cannot exhaust the stack.
void TComDataPacket::ScanBuffer() {
  try {
    CutFromBlock();
    // All cut, as in a stream of whole packets: under the usual rules an empty buffer holds
    // nothing for the scans below, whether a packet is open or not.
    const bool allCut = Unconsumed().empty() && PlainRules();
    for (bool done = allCut || ScanPlain(); !done;) {
      if (!packetOpen_) FindStart();
      if (!packetOpen_) break;
      const std::size_t before = Unconsumed().size();
      FindEnd();
      if (packetOpen_) break;
      // An end handler that keeps delivering empty packets from an empty buffer.
      if (before == 0 && Unconsumed().empty()) break;
    }
  } catch (const TScanEnded&) {
    throw;
  } catch (...) {
    if (TScanStretch::Ended(this)) throw;
    restAbandoned_ = false;
    JoinBlock();  // the rest of the block stays buffered, as if it had been copied in
    Compact();
    if (BufferFull()) ResetBuffer();
    throw;
  }
  Compact();
  if (BufferFull()) ResetBuffer();
}

void TComDataPacket::FindStart() {
  int pos = -1;
  if (OnCustomStart.Assigned()) {
    Compact();  // the handler sees the buffer from its first unconsumed byte
    Fire([&] { FireCustomStart(receiveBuffer_, pos); });
  }
  if (pos > 0) {
    BeginPacket(pos);
  } else if (pos == -1) {
    if (startString_.empty()) {
      packetOpen_ = true;
    } else if (const std::size_t at = PositionOf(startString_, Unconsumed()); at > 0) {
      BeginPacket(int(at));
    }
  }
}

void TComDataPacket::BeginPacket(int pos) {
  packetOpen_ = true;
  // A position past the end discards the whole buffer.
  const std::size_t cut = std::min(std::size_t(pos - 1), Unconsumed().size());
  if (cut == 0) return;
  const std::string discarded(Unconsumed().substr(0, cut));
  consumed_ += cut;
  Fire([&] { FireDiscard(discarded); });
}

void TComDataPacket::FindEnd() {
  int pos = -1;
  if (OnCustomStop.Assigned()) {
    Compact();
    Fire([&] { FireCustomStop(receiveBuffer_, pos); });
  }
  const std::string_view buffered = Unconsumed();
  std::size_t length = 0;
  bool stopFound = false;  // the packet ends at the first stop string past its start
  if (pos > 0) {
    length = std::min(std::size_t(pos), buffered.size());
  } else if (pos == -1) {
    if (size_ > 0 && buffered.size() >= std::size_t(size_)) {
      length = std::size_t(size_);
    } else {
      // Past the start string, so a start at the front is never taken for the stop.
      const std::size_t skip = std::min(startString_.size(), buffered.size());
      const std::size_t at = PositionOf(stopString_, buffered.substr(skip));
      if (at == 0) return;
      length = skip + at + stopString_.size() - 1;
      stopFound = true;
    }
  } else {
    return;
  }
  packetOpen_ = false;
  CompletePacket(length, stopFound);
}

void TComDataPacket::CompletePacket(std::size_t length, bool stopFound) {
  const std::string_view packet = Unconsumed().substr(0, length);
  consumed_ += length;  // the bytes stay where they are until the scan compacts
  const std::string text(StripDelimiters(packet, stopFound));
  Fire([&] { FirePacket(text); });
}

bool TComDataPacket::BeginsWith(std::string_view text, std::string_view prefix) const {
  if (prefix.empty() || text.size() < prefix.size()) return false;
  text = text.substr(0, prefix.size());
  return caseInsensitive_ ? std::equal(prefix.begin(), prefix.end(), text.begin(), SameFolded)
                          : text == prefix;
}

std::string_view TComDataPacket::StripDelimiters(std::string_view packet, bool stopFound) const {
  if (includeStrings_) return packet;
  const bool startCut = BeginsWith(packet, startString_);
  if (startCut) packet.remove_prefix(startString_.size());
  // Only when the stop string's first occurrence is at the very end. The end search already
  // proved it when it searched from right after a start at the front.
  const bool stopKnown = stopFound && (startCut || startString_.empty());
  if (!stopString_.empty() && packet.size() >= stopString_.size() &&
      (stopKnown || PositionOf(stopString_, packet) == packet.size() - stopString_.size() + 1)) {
    packet.remove_suffix(stopString_.size());
  }
  return packet;
}

}  // namespace vardelio
