#pragma once
// Cuts the bytes a port receives into packets between a start and a stop string.

#include <memory>
#include <string>
#include <string_view>

#include "ComLink.h"
#include "framework/Component.h"

namespace vardelio {

class TCustomComPort;

using TComStrEvent = THandler<const std::string&>;            // Str
using TCustPacketEvent = THandler<const std::string&, int&>;  // Str, in/out Pos

class TComDataPacket : public TComponent {
  Q_OBJECT
 public:
  explicit TComDataPacket(QObject* owner = nullptr);
  ~TComDataPacket() override;

  TCustomComPort* ComPort() const { return comPort_; }
  // Detaches from the old port and attaches to the new one; the buffer is kept.
  void SetComPort(TCustomComPort* port);
  bool CaseInsensitive() const { return caseInsensitive_; }
  void SetCaseInsensitive(bool value);
  bool IncludeStrings() const { return includeStrings_; }
  void SetIncludeStrings(bool value) { includeStrings_ = value; }
  // 0 or less: no bound.
  int MaxBufferSize() const { return maxBufferSize_; }
  void SetMaxBufferSize(int value) { maxBufferSize_ = value; }
  const std::string& StartString() const { return startString_; }
  void SetStartString(const std::string& value);
  const std::string& StopString() const { return stopString_; }
  void SetStopString(const std::string& value);
  int Size() const { return size_; }
  void SetSize(int value);

  TComStrEvent OnDiscard;
  TComStrEvent OnPacket;
  TCustPacketEvent OnCustomStart;
  TCustPacketEvent OnCustomStop;

  // Discards what is buffered through OnDiscard and closes any open packet.
  void ResetBuffer();
  void AppendData(std::string_view data);
  // What is buffered and not yet cut into packets or discarded.
  const std::string& ReceiveBuffer() const;
  bool PacketOpen() const { return packetOpen_; }

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  virtual void ScanBuffer();
  virtual void FireDiscard(const std::string& text);
  virtual void FirePacket(const std::string& text);
  virtual void FireCustomStart(const std::string& text, int& pos);
  virtual void FireCustomStop(const std::string& text, int& pos);

 private:
  template <typename Slot, typename... Args>
  void CallHandler(const Slot& slot, Args&&... args);
  // Runs `fire`, a call of one Fire* method, then ends the scan when the handler destroyed the
  // framer, moved it off the port whose delivery the scan runs in, or that delivery has ended
  // meanwhile: nothing of the framer is touched after that.
  template <typename Call>
  void Fire(const Call& fire);
  void ReceiveLinkData(QObject* sender, const void* buffer, int count);
  // One-character start and stop, and nothing else: the usual rules, cut without the general
  // scan's per-packet steps. True when nothing more can be cut from the buffer.
  bool ScanPlain();
  inline bool PlainRules() const;
  // The steps of a scan run once per packet: inline, and defined where the scan is.
  inline void FindStart();
  inline void BeginPacket(int pos);
  inline void FindEnd();
  inline void CompletePacket(std::size_t length, bool stopFound);
  inline std::string_view StripDelimiters(std::string_view packet, bool stopFound) const;
  inline bool BeginsWith(std::string_view text, std::string_view prefix) const;
  // Of the first occurrence, from 1; 0 when `what` is empty or absent. No copies either way.
  inline std::size_t PositionOf(std::string_view what, std::string_view in) const;
  // The buffered bytes not yet consumed.
  std::string_view Unconsumed() const noexcept {
    return {receiveBuffer_.data() + consumed_, receiveBuffer_.size() - consumed_};
  }
  // Whole packets at the front of a block that came to an empty buffer, cut from the block
  // itself; the rest of the block joins the buffer.
  void CutFromBlock();
  // Puts the rest of the block being cut into the buffer: before a handler's look at the
  // buffer or change to it, and once the cut from the block ends.
  inline void JoinBlock() const;
  void JoinRest() const;
  // Cuts the consumed bytes off the buffer, once per batch rather than once per packet.
  inline void Compact() const;
  inline bool HasEndRule() const;
  inline bool BufferFull() const;
  void ChangeAndReset(auto& field, const auto& value);

  std::unique_ptr<TComLink> portLink_;
  TCustomComPort* comPort_ = nullptr;
  bool caseInsensitive_ = false;
  bool includeStrings_ = false;
  int maxBufferSize_ = 1024;
  std::string startString_;
  std::string stopString_;
  int size_ = 0;
  mutable std::string receiveBuffer_;
  mutable std::size_t consumed_ = 0;  // bytes at the front already cut or discarded
  // The rest of the block being cut, not in the buffer yet (see CutFromBlock).
  mutable std::string_view block_;
  mutable bool cuttingBlock_ = false;
  const void* scan_ = nullptr;  // the innermost scan's own record, on its stack
  bool packetOpen_ = false;
  // A delivery without hand-over ended while a handler of its scan ran: the rest is its.
  bool restAbandoned_ = false;
};

}  // namespace vardelio
