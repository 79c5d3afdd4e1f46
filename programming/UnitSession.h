#pragma once
// The unit's protocol without a window: a send, a receive and a send with a read-back, each
// evaluated once, a second after its frame is written, with the window's order and messages.

#include <QString>
#include <optional>
#include <string>

#include "PanelFrames.h"

class QTimer;

namespace vardelio {

class TCustomComPort;

enum class TUnitOperation { send, receive, verify };
enum class TOutcome {
  programmed,
  notProgrammed,
  verified,
  notVerified,
  received,
  receiveError,
  nothingReceived,
};

// How an evaluated operation ended.
struct TSessionResult {
  TUnitOperation operation = TUnitOperation::send;
  TOutcome outcome = TOutcome::notProgrammed;
  QString message;          // as the operator was told
  TPanelProgramming sent;   // a send's or a verification's values
  TProgrammingReply reply;  // what a receive or a read-back parsed
  bool timeOver = false;    // the unit said its programming time was over meanwhile
  bool Succeeded() const;
};

// What an operation shows as it goes: the window's controls, or a terminal.
class TSessionFace {
 public:
  virtual ~TSessionFace() = default;
  // An outcome or the time-over notice; a window waits here until its box is closed.
  virtual void Message(const QString& text) = 0;
  virtual void Progress(int /*position*/) {}
  virtual void ButtonsEnabled(bool) {}
  // The buffer: the frame while it is built, then the last packet. Kept here unless the face
  // keeps it itself (a window, in its hidden text control).
  virtual std::string Buffer() const { return buffer_; }
  virtual void SetBuffer(const std::string& text) { buffer_ = text; }
  virtual void EntriesCleared() {}
  // Receives each field of a reply as the parse reaches it; nullptr: nobody.
  virtual TReplyParseSink* ReplySink() { return nullptr; }
  // A verification ends by showing what was sent.
  virtual void ShowValues(const TPanelProgramming&) {}
  // Once an operation has been evaluated, after its message.
  virtual void Finished(const TSessionResult&) {}

 private:
  std::string buffer_;
};

class TUnitSession {
 public:
  // `timer` is the one-shot evaluation timer (its interval is the caller's: one second);
  // its timeout and the framer's packets are the caller's to route to Evaluate and Packet.
  TUnitSession(TCustomComPort& port, QTimer& timer, TSessionFace& face, int* tag = nullptr);

  // False, after the message, when the values break the entries' rules (CheckProgramming); a port
  // error is raised as the port raises it, leaving what was done up to the write as it stands.
  bool Send(const TPanelProgramming& values);
  void Receive();
  // A send and, once the unit has acknowledged it, a receive whose values are compared with
  // those sent. Any other operation started meanwhile ends the verification.
  bool SendAndVerify(const TPanelProgramming& values);
  // Every packet the framer completes, whatever operation is pending.
  void Packet(const std::string& text);
  // The timer: evaluates the buffer once.
  void Evaluate();
  // An operation waits for its evaluation.
  bool Busy() const;
  int Tag() const { return *tag_; }

 private:
  enum class TVerifying { no, acknowledgement, readBack };

  bool StartSend(const TPanelProgramming& values);
  void StartReceive();
  void Append(const std::string& text, int progress);
  void StartTimer();
  void EvaluateSend();
  void EvaluateReceive();
  void EvaluateReadBack();
  TProgrammingReply Parse();
  void Finish(TSessionResult result);

  TCustomComPort& port_;
  QTimer& timer_;
  TSessionFace& face_;
  int ownTag_ = 0;
  int* tag_;
  TVerifying verifying_ = TVerifying::no;
  TPanelProgramming sent_;
  bool timeOver_ = false;
};

// One line for each field read back otherwise than it was sent, each naming the field.
QString Differences(const TPanelProgramming& sent, const TProgrammingReply& got);

}  // namespace vardelio
