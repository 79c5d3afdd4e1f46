#pragma once
// Our port's idle wake-ups, the CPU after a hang-up, and closing a flooded port, printed.

#include <QTimer>

namespace vardelio::bench {

// Stops `watchdog`, so the hang-up's CPU is the receivers' alone.
void PrintOtherFigures(QTimer& watchdog);

}  // namespace vardelio::bench
