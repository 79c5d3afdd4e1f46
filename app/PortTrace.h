#pragma once
// Records a port's traffic, its opening and closing and its errors in a line trace, through a
// link of its own, so the port's other links and handlers see the line as before.

#include <QPointer>
#include <QString>
#include <memory>
#include <string_view>

#include "LineTrace.h"
#include "serial/ComLink.h"

namespace vardelio {

class TCustomComPort;

class TPortTrace {
 public:
  // Attaches to `port`; an open port is recorded as open at once.
  TPortTrace(TCustomComPort& port, std::unique_ptr<TLineTrace> trace);
  // Detaches, then writes out what is queued.
  ~TPortTrace();
  TPortTrace(const TPortTrace&) = delete;
  TPortTrace& operator=(const TPortTrace&) = delete;

  // An operation of the port failed with this message (the port's 8-bit text).
  void Error(std::string_view message);
  // What the operator did ("ACTION") or was told ("BOX"), as one line.
  void Note(std::string_view kind, const QString& text);
  TLineTrace& Trace() { return *trace_; }

 private:
  void Connect(QObject* sender, bool open);
  void LineErrors(QObject* sender, TComErrors errors);
  void NoteOpen(const char* suffix);

  QPointer<TCustomComPort> port_;
  std::unique_ptr<TLineTrace> trace_;
  TComLink link_;
  TComErrorEvent previousOnError_;
};

// "framing, overrun": the names of the line errors in a set.
std::string LineErrorNames(TComErrors errors);

}  // namespace vardelio
