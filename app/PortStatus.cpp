#include "PortStatus.h"

#include <QLabel>
#include <QStatusBar>
#include <cerrno>

#include "portconfig/PortIdentity.h"
#include "portconfig/SettingsText.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"

namespace vardelio {
namespace {

constexpr int kOpenFailed = 1;

QChar ParityLetter(TParityBits bits) {
  switch (bits) {
    case prOdd:
      return QLatin1Char('O');
    case prEven:
      return QLatin1Char('E');
    case prMark:
      return QLatin1Char('M');
    case prSpace:
      return QLatin1Char('S');
    default:
      return QLatin1Char('N');
  }
}

}  // namespace

QString SettingsSummary(const TCustomComPort& port) {
  const QString speed = port.BaudRate() == brCustom
                            ? QString::number(port.CustomBaudRate())
                            : QString::fromStdString(BaudRateText(port.BaudRate()));
  return speed + QLatin1Char(' ') + QString::fromStdString(DataBitsText(port.DataBits())) +
         ParityLetter(port.Parity().Bits()) + QString::fromStdString(StopBitsText(port.StopBits()));
}

QString StateWordsForCode(int systemCode) {
  switch (systemCode) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return QStringLiteral("el puerto no existe");
    case EACCES:
    case EPERM:
      return QStringLiteral("sin permiso (grupo dialout)");
    case EAGAIN:
    case EBUSY:
      return QStringLiteral("en uso por otro programa");
    case EIO:
      return QStringLiteral("el adaptador no responde");
    case ENOTTY:
      return QStringLiteral("no es un puerto serie");
    default:
      return QStringLiteral("error del sistema %1").arg(systemCode);
  }
}

TPortStatus::TPortStatus(TCustomComPort* port, QStatusBar* bar) : port_(port) {
  label_ = new QLabel(bar);
  label_->setObjectName(QStringLiteral("PortStatus"));
  bar->addWidget(label_, 1);
  link_.OnLinkConnect = TComSignalEvent([this](QObject*, bool open) {
    if (open) failure_.clear();
    lineGone_ = false;
    Refresh();
  });
  port->AttachLink(&link_);
  // A hang-up is told as a line error; the handler before ours is still called.
  previousOnError_ = port->OnError;
  port->OnError =
      TComErrorEvent([this](QObject* sender, TComErrors errors) { LineErrors(sender, errors); });
  Refresh();
}

TPortStatus::~TPortStatus() {
  if (port_ == nullptr) return;
  port_->OnError = previousOnError_;
  port_->DetachLink(&link_);
}

void TPortStatus::LineErrors(QObject* sender, TComErrors errors) {
  previousOnError_(sender, errors);
  if (errors.Contains(ceIO)) {
    lineGone_ = true;
    Refresh();
    if (OnLineGone) OnLineGone();
  }
}

void TPortStatus::NoteFailure(const std::exception& error) {
  const auto* port = dynamic_cast<const EComPort*>(&error);
  if (port != nullptr && port->PortErrorCode() == kOpenFailed)
    failure_ = port->SystemCode() == kNoSystemCode ? QStringLiteral("no se pudo abrir")
                                                   : StateWordsForCode(port->SystemCode());
  Refresh();  // a failed load or dialog may have changed the settings shown
}

void TPortStatus::SetAway(bool away) {
  away_ = away;
  Refresh();
}

QString TPortStatus::State() const {
  if (port_ == nullptr) return {};
  if (port_->Connected())
    return lineGone_ ? QStringLiteral("desconectado") : QStringLiteral("abierto");
  if (away_) return QStringLiteral("desconectado");
  return failure_.isEmpty() ? QStringLiteral("cerrado") : QStringLiteral("cerrado: ") + failure_;
}

QString TPortStatus::Text() const {
  if (port_ == nullptr) return {};
  const QString separator = QString::fromUtf8(" · ");
  return PortWithDescription(ReadPortIdentity(port_->Port())) + separator +
         SettingsSummary(*port_) + separator + State();
}

void TPortStatus::Refresh() {
  label_->setText(Text());
  if (port_ != nullptr) label_->setToolTip(QString::fromLocal8Bit(port_->Port()));
}

}  // namespace vardelio
