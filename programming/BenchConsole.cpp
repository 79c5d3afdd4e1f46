#include "BenchConsole.h"

#include <QEventLoop>

#include "Outcomes.h"
#include "portconfig/Persistence.h"
#include "serial/ComDataPacket.h"
#include "serial/ComPort.h"

namespace vardelio {
namespace {

constexpr int kEvaluationDelay = 1000;

}  // namespace

void ConfigureUnitLine(TComPort& port, TComDataPacket& framer) {
  port.BeginLoading();
  framer.BeginLoading();
  port.SetName(QStringLiteral("ComPort1"));
  port.SetBaudRate(br9600);
  port.SetPort("COM1");
  port.Parity().SetBits(prNone);
  port.SetStopBits(sbOneStopBit);
  port.SetDataBits(dbEight);
  TComEvents events = kAllComEvents;
  events.Exclude(evCTS);
  events.Exclude(evDSR);
  port.SetEvents(events);
  port.Buffer().SetInputSize(4096);
  TComFlowControl& flow = port.FlowControl();
  flow.SetOutCTSFlow(false);
  flow.SetOutDSRFlow(false);
  flow.SetControlDTR(dtrDisable);
  flow.SetControlRTS(rtsDisable);
  flow.SetXonXoffOut(false);
  flow.SetXonXoffIn(false);
  flow.SetTxContinueOnXoff(true);
  framer.SetName(QStringLiteral("ComDataPacket1"));
  framer.SetComPort(&port);
  framer.SetStartString("S");
  framer.SetStopString("Z");
  port.EndLoading();
  framer.EndLoading();
}

TUnitLine::TUnitLine(std::function<void(const QString&)> say, IComPlatform* platform)
    : say_(std::move(say)),
      port_(new TComPort(&owner_, platform)),
      framer_(new TComDataPacket(&owner_)) {
  ConfigureUnitLine(*port_, *framer_);
  timer_.setInterval(kEvaluationDelay);
  session_ = std::make_unique<TUnitSession>(*port_, timer_, *this);
  framer_->OnPacket =
      TComStrEvent([this](QObject*, const std::string& text) { session_->Packet(text); });
  QObject::connect(&timer_, &QTimer::timeout, [this] { Evaluate(); });
}

TUnitLine::~TUnitLine() {
  framer_->OnPacket.Clear();
  try {
    port_->ClosePort();
  } catch (const std::exception&) {
    // The port's own destructor releases the line.
  }
}

void TUnitLine::Open(const std::string& port) {
  RestoreSettings(*port_, ssIniFile, kPortSettingsFile);
  if (!port.empty()) port_->SetPort(port);
  port_->OpenPort();
}

std::string TUnitLine::PortName() const {
  return port_->Port();
}

// No exception may cross the event loop: a read-back's failed write is taken to Run.
void TUnitLine::Evaluate() {
  try {
    session_->Evaluate();
  } catch (...) {
    failure_ = std::current_exception();
    if (done_) done_();
  }
}

TSessionResult TUnitLine::Run(TUnitOperation operation, const TPanelProgramming& values) {
  QEventLoop loop;
  bool finished = false;
  failure_ = nullptr;
  done_ = [&] {
    finished = true;
    loop.quit();
  };
  const bool started = operation == TUnitOperation::receive ? (session_->Receive(), true)
                       : operation == TUnitOperation::send  ? session_->Send(values)
                                                            : session_->SendAndVerify(values);
  if (started && !finished) loop.exec();
  done_ = nullptr;
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  if (!started) {
    TSessionResult refused;
    refused.operation = operation;
    refused.sent = values;
    refused.message = outcomes::kBadSubscriber;
    return refused;
  }
  return result_;
}

void TUnitLine::Message(const QString& text) {
  if (say_) say_(text);
}

void TUnitLine::Finished(const TSessionResult& result) {
  result_ = result;
  if (done_) done_();
}

}  // namespace vardelio
