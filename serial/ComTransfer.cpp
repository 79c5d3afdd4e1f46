// Moving bytes over the open line, and reading the line's state.

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ComPort.h"

namespace vardelio {

void NewIoRequest(TIoRequestRef& request) {
  request = std::make_unique<TIoRequest>();
}

void FreeIoRequest(TIoRequestRef& request) {
  request.reset();
}

int TCustomComPort::StartWrite(const void* buffer, int count, TIoRequestRef& request) {
  if (!request) throw EComPort(4);
  if (count < 0 || (count > 0 && buffer == nullptr)) throw EComPort(2, EINVAL);
  request->Kind = ioWrite;
  request->Data = std::make_unique<char[]>(std::size_t(count));
  if (count > 0) std::memcpy(request->Data.get(), buffer, std::size_t(count));
  request->Size = count;
  std::uint32_t written = 0;
  if (!platform_->WriteFile(lineHandle_, buffer, std::uint32_t(count), written,
                            request->Overlapped)) {
    RaiseSystemError(2);
  }
  SignalLinks(TLinkSignal::TxActivity, true);
  return int(written);
}

int TCustomComPort::StartWriteText(const std::string& text, TIoRequestRef& request) {
  if (text.empty()) return 0;
  return StartWrite(text.data(), int(text.size()), request);
}

int TCustomComPort::WriteText(const std::string& text) {
  TIoRequestRef request;
  NewIoRequest(request);
  StartWriteText(text, request);
  return AwaitIo(request);  // the request is freed on every path
}

int TCustomComPort::StartRead(void* buffer, int count, TIoRequestRef& request) {
  if (!request) throw EComPort(4);
  if (count < 0 || (count > 0 && buffer == nullptr)) throw EComPort(3, EINVAL);
  request->Kind = ioRead;
  std::uint32_t read = 0;
  if (!platform_->ReadFile(lineHandle_, buffer, std::uint32_t(count), read, request->Overlapped)) {
    RaiseSystemError(3);
  }
  return int(read);
}

int TCustomComPort::ReadBytes(void* buffer, int count) {
  TIoRequestRef request;
  NewIoRequest(request);
  StartRead(buffer, count, request);
  return AwaitIo(request);
}

int TCustomComPort::AwaitIo(TIoRequestRef& request) {
  if (!request) throw EComPort(4);
  std::uint32_t transferred = 0;
  if (!platform_->AwaitCompletion(lineHandle_, request->Overlapped, transferred)) {
    RaiseSystemError(request->Kind == ioWrite ? 2 : 3);
  }
  if (request->Kind == ioRead) {
    // Reception is over only when nothing waits in the terminal either; the terminal is asked
    // only once our queue is empty, and only when a link hears the answer.
    if (QueuedBytes() == 0 && LinksHearRxActivity() && WaitingBytes() == 0) {
      SignalLinks(TLinkSignal::RxActivity, false);
    }
  } else if (request->Data && request->Size > 0) {
    SendTxBufToLinks(request->Data.get(), request->Size);
  }
  return int(transferred);
}

void TCustomComPort::CancelPendingIo() {
  if (!platform_->PurgeComm(lineHandle_, PURGE_TXABORT | PURGE_RXABORT)) RaiseSystemError(5);
}

void TCustomComPort::PurgeBuffers(bool input, bool output) {
  std::uint32_t flags = 0;
  if (input) flags |= PURGE_RXCLEAR;
  if (output) flags |= PURGE_TXCLEAR;
  if (!platform_->PurgeComm(lineHandle_, flags)) RaiseSystemError(5);
}

int TCustomComPort::BytesWaiting() {
  std::uint32_t errors = 0;
  TComStat status;
  if (!platform_->ClearCommError(lineHandle_, errors, status)) RaiseSystemError(10);
  return int(status.cbInQue);
}

int TCustomComPort::QueuedBytes() {
  std::uint32_t errors = 0;
  TComStat status;
  if (!platform_->ClearCommErrorQueued(lineHandle_, errors, status)) RaiseSystemError(10);
  return int(status.cbInQue);
}

int TCustomComPort::WaitingBytes() {
  std::uint32_t errors = 0;
  TComStat status;
  if (!platform_->ClearCommError(lineHandle_, errors, status)) RaiseSystemError(10);
  heldErrors_.fetch_or(errors);
  return int(status.cbInQue);
}

bool TCustomComPort::LinksHearRxActivity() const {
  return std::any_of(links_.begin(), links_.end(),
                     [](const TComLink* l) { return l->OnLinkRxActive.Assigned(); });
}

TModemSignals TCustomComPort::ModemSignals() {
  std::uint32_t status = 0;
  if (!platform_->GetCommModemStatus(lineHandle_, status)) RaiseSystemError(11);
  TModemSignals lines;
  if (status & MS_CTS_ON) lines.Include(msCTS);
  if (status & MS_DSR_ON) lines.Include(msDSR);
  if (status & MS_RING_ON) lines.Include(msRing);
  if (status & MS_RLSD_ON) lines.Include(msRLSD);
  return lines;
}

TComErrors TCustomComPort::TakeLineErrors() {
  std::uint32_t flags = 0;
  TComStat status;
  if (!platform_->ClearCommError(lineHandle_, flags, status)) RaiseSystemError(10);
  flags |= heldErrors_.exchange(0);  // taken by our own counts since the last time
  TComErrors errors;
  if (flags & CE_FRAME) errors.Include(ceFrame);
  if ((flags & CE_RXPARITY) && Parity().Check()) errors.Include(ceRxParity);
  if (flags & CE_OVERRUN) errors.Include(ceOverrun);
  if (flags & CE_RXOVER) errors.Include(ceRxOver);
  if (flags & CE_TXFULL) errors.Include(ceTxFull);
  if (flags & CE_BREAK) errors.Include(ceBreak);
  if (flags & CE_IOE) errors.Include(ceIO);
  if (flags & CE_MODE) errors.Include(ceMode);
  return errors;
}

}  // namespace vardelio
