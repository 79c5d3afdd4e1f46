#pragma once
// The unit on its line for a program without a window: the port and the framer set up as the
// window sets up its own, the one-second evaluation timer, and one operation at a time, run
// to its evaluation.

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "UnitSession.h"

namespace vardelio {

class IComPlatform;
class TComDataPacket;
class TComPort;

// The settings file the port's settings are read from (never written from here).
inline constexpr char kPortSettingsFile[] = "comporttest.ini";

// The port and framer's settings, as the window's layout describes them: 9600 8N1, no flow
// control, packets between "S" and "Z". The port is named ComPort1, as its settings section is.
void ConfigureUnitLine(TComPort& port, TComDataPacket& framer);

class TUnitLine final : public TSessionFace {
 public:
  // `say` receives every message an operation shows, in order.
  explicit TUnitLine(std::function<void(const QString&)> say, IComPlatform* platform = nullptr);
  ~TUnitLine() override;

  // The settings file's port and settings, or `port` instead of its port; opens it. Raises
  // EComPort.
  void Open(const std::string& port);
  std::string PortName() const;

  // Runs one operation to its evaluation. Raises EComPort when the port cannot be written.
  TSessionResult Run(TUnitOperation operation, const TPanelProgramming& values = {});

  void Message(const QString& text) override;
  void Finished(const TSessionResult& result) override;

 private:
  void Evaluate();

  std::function<void(const QString&)> say_;
  QObject owner_;
  TComPort* port_;
  TComDataPacket* framer_;
  QTimer timer_;
  std::unique_ptr<TUnitSession> session_;
  std::function<void()> done_;
  std::exception_ptr failure_;
  TSessionResult result_;
};

}  // namespace vardelio
