#include "PortTrace.h"

#include "framework/Ansi.h"
#include "serial/ComPort.h"

namespace vardelio {

std::string LineErrorNames(TComErrors errors) {
  static constexpr struct {
    TComError error;
    const char* name;
  } kNames[] = {{ceFrame, "framing"},
                {ceRxParity, "parity"},
                {ceOverrun, "overrun"},
                {ceBreak, "break"},
                {ceIO, "I/O"},
                {ceMode, "mode"},
                {ceRxOver, "input queue overflow"},
                {ceTxFull, "output queue full"}};
  std::string names;
  for (const auto& entry : kNames) {
    if (!errors.Contains(entry.error)) continue;
    if (!names.empty()) names += ", ";
    names += entry.name;
  }
  return names;
}

TPortTrace::TPortTrace(TCustomComPort& port, std::unique_ptr<TLineTrace> trace)
    : port_(&port), trace_(std::move(trace)) {
  link_.OnLinkConnect =
      TComSignalEvent([this](QObject* sender, bool open) { Connect(sender, open); });
  link_.OnLinkRxBuf = TRxBufEvent([this](QObject*, const void* buffer, int count) {
    trace_->Received(buffer, std::size_t(count));
  });
  link_.OnLinkTxBuf = TRxBufEvent([this](QObject*, const void* buffer, int count) {
    trace_->Sent(buffer, std::size_t(count));
  });
  port.AttachLink(&link_);
  // The port's own error handler is not the window's; the previous one is still called.
  previousOnError_ = port.OnError;
  port.OnError =
      TComErrorEvent([this](QObject* sender, TComErrors errors) { LineErrors(sender, errors); });
  if (port.Connected()) NoteOpen(" (already open)");
}

TPortTrace::~TPortTrace() {
  if (port_ != nullptr) {
    port_->OnError = previousOnError_;
    port_->DetachLink(&link_);
  }
}

void TPortTrace::Error(std::string_view message) {
  trace_->Note("ERROR", FromAnsi(message).toUtf8().toStdString());
}

void TPortTrace::Note(std::string_view kind, const QString& text) {
  trace_->Note(kind, text.toUtf8().toStdString());
}

void TPortTrace::NoteOpen(const char* suffix) {
  const std::uint32_t speed = port_->BaudRate() == brCustom ? std::uint32_t(port_->CustomBaudRate())
                                                            : BaudRateValue(port_->BaudRate());
  trace_->Note("OPEN", port_->Port() + ' ' + std::to_string(speed) + " baud" + suffix);
}

void TPortTrace::Connect(QObject*, bool open) {
  if (open) {
    NoteOpen("");
  } else {
    trace_->Note("CLOSE", port_->Port());
  }
}

void TPortTrace::LineErrors(QObject* sender, TComErrors errors) {
  trace_->Note("ERROR", "line: " + LineErrorNames(errors));
  previousOnError_(sender, errors);
}

}  // namespace vardelio
