#pragma once
// Cuts the bytes a port receives into packets between a start and a stop string.

#include <memory>
#include <string>

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
  void AppendData(const std::string& data);
  const std::string& ReceiveBuffer() const { return receiveBuffer_; }
  bool PacketOpen() const { return packetOpen_; }

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  virtual void ScanBuffer();
  virtual void FireDiscard(const std::string& text) { OnDiscard(this, text); }
  virtual void FirePacket(const std::string& text) { OnPacket(this, text); }
  virtual void FireCustomStart(const std::string& text, int& pos) {
    OnCustomStart(this, text, pos);
  }
  virtual void FireCustomStop(const std::string& text, int& pos) { OnCustomStop(this, text, pos); }

 private:
  void ReceiveLinkData(QObject* sender, const void* buffer, int count);
  void FindStart();
  void BeginPacket(int pos);
  void FindEnd();
  void CompletePacket(std::size_t length);
  void StripDelimiters(std::string& packet) const;
  std::string FoldCase(const std::string& text) const;
  // Of the first occurrence, from 1; 0 when `what` is empty or absent.
  std::size_t PositionOf(const std::string& what, const std::string& in) const;
  bool HasEndRule() const;
  bool BufferFull() const;
  void ChangeAndReset(auto& field, const auto& value);

  std::unique_ptr<TComLink> portLink_;
  TCustomComPort* comPort_ = nullptr;
  bool caseInsensitive_ = false;
  bool includeStrings_ = false;
  int maxBufferSize_ = 1024;
  std::string startString_;
  std::string stopString_;
  int size_ = 0;
  std::string receiveBuffer_;
  bool packetOpen_ = false;
};

}  // namespace vardelio
