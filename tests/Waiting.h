#pragma once
// Serves the main thread's event loop until a condition holds, for tests with threads.

#include <QCoreApplication>
#include <QThread>
#include <functional>

namespace vardelio::test {

// False if the condition did not come true within the (generous) limit.
inline bool ServeUntil(const std::function<bool()>& condition, int limitMs = 5000) {
  for (int waited = 0; waited < limitMs; waited += 1) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    if (condition()) return true;
    QThread::msleep(1);
  }
  return condition();
}

// The same, without serving the event loop: for what another thread does on its own.
inline bool WaitUntil(const std::function<bool()>& condition, int limitMs = 5000) {
  for (int waited = 0; waited < limitMs; waited += 1) {
    if (condition()) return true;
    QThread::msleep(1);
  }
  return condition();
}

}  // namespace vardelio::test
