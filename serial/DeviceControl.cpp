// The port's settings as the platform's device-control and timeout records.

#include <array>

#include "ComPort.h"

namespace vardelio {

std::uint32_t BaudRateValue(TBaudRate rate) {
  static constexpr std::array<std::uint32_t, 16> kRates = {
      0,     110,   300,   600,   1200,  2400,   4800,   9600,
      14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return rate < kRates.size() ? kRates[rate] : 0;
}

TDcb BuildDeviceControl(const TCustomComPort& port) {
  const TComParity& parity = port.Parity();
  const TComFlowControl& flow = port.FlowControl();
  TDcb dcb;
  dcb.DCBlength = sizeof(TDcb);
  dcb.BaudRate = port.BaudRate() == brCustom ? std::uint32_t(port.CustomBaudRate())
                                             : BaudRateValue(port.BaudRate());
  std::uint32_t flags = dcb::fBinary;
  if (parity.Check()) flags |= dcb::fParity;
  if (flow.OutCTSFlow()) flags |= dcb::fOutxCtsFlow;
  if (flow.OutDSRFlow()) flags |= dcb::fOutxDsrFlow;
  flags |= std::uint32_t(flow.ControlDTR()) << dcb::kDtrControlShift;
  if (flow.DSRSensitivity()) flags |= dcb::fDsrSensitivity;
  if (flow.TxContinueOnXoff()) flags |= dcb::fTXContinueOnXoff;
  if (flow.XonXoffOut()) flags |= dcb::fOutX;
  if (flow.XonXoffIn()) flags |= dcb::fInX;
  const bool replace = parity.Check() && parity.Replace();
  if (replace) flags |= dcb::fErrorChar;
  if (port.DiscardNull()) flags |= dcb::fNull;
  flags |= std::uint32_t(flow.ControlRTS()) << dcb::kRtsControlShift;
  dcb.Flags = flags;
  // Truncated toward zero, then kept to 16 bits.
  dcb.XonLim = dcb.XoffLim = std::uint16_t(port.Buffer().InputSize() / 4);
  dcb.ByteSize = std::uint8_t(5 + port.DataBits());
  dcb.Parity = parity.Bits();
  dcb.StopBits = port.StopBits();
  dcb.XonChar = flow.XonChar();
  dcb.XoffChar = flow.XoffChar();
  dcb.ErrorChar = replace ? parity.ReplaceChar() : '\0';
  dcb.EofChar = 0;
  dcb.EvtChar = port.EventChar();
  return dcb;
}

TCommTimeouts BuildCommTimeouts(const TComTimeouts& t) {
  // -1 is the platform's maximum: all bits set.
  return {std::uint32_t(t.ReadInterval()), std::uint32_t(t.ReadTotalMultiplier()),
          std::uint32_t(t.ReadTotalConstant()), std::uint32_t(t.WriteTotalMultiplier()),
          std::uint32_t(t.WriteTotalConstant())};
}

}  // namespace vardelio
