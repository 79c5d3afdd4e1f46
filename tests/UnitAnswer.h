#pragma once
// Holds the window's evaluation back until the simulated unit has answered in full, so a
// loaded machine cannot let the evaluation overtake the answer.

#include <QPlainTextEdit>
#include <QTimer>
#include <functional>

#include "SimulatedUnit.h"
#include "Waiting.h"

namespace vardelio::test {

// Longer than any test: no evaluation comes on its own.
constexpr int kNoEvaluation = 600000;

// True once the unit has taken `requests` requests and, unless it keeps silent, the buffer
// holds its answer: the buffer is only ever set from a whole packet.
inline bool Answered(const TSimulatedUnit& unit, const QPlainTextEdit* buffer, int requests,
                     bool silent = false) {
  return unit.Requests() == requests && (silent || !buffer->toPlainText().isEmpty());
}

// Runs `start` with the evaluation held back, waits until `answered` and lets the evaluation
// come at once. False if the answer never came (the evaluation still comes).
inline bool EvaluateOnceAnswered(QTimer* timer, const std::function<void()>& start,
                                 const std::function<bool()>& answered) {
  timer->setInterval(kNoEvaluation);
  start();
  const bool in = ServeUntil(answered);
  timer->setInterval(0);  // restarts a running timer, leaves a stopped one stopped
  return in;
}

}  // namespace vardelio::test
