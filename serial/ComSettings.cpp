#include "ComSettings.h"

#include "ComPort.h"

namespace vardelio {
namespace {

// The setter rule: nothing happens for the stored value; otherwise store, then apply.
template <typename T, typename Apply>
void ChangeAndApply(T& field, T value, Apply apply) {
  if (field == value) return;
  field = value;
  apply();
}

}  // namespace

// --- parity

void TComParity::Assign(const TPersistent& source) {
  const auto* other = dynamic_cast<const TComParity*>(&source);
  if (other == nullptr) return TPersistent::Assign(source);
  bits_ = other->bits_;
  check_ = other->check_;
  replace_ = other->replace_;
  replaceChar_ = other->replaceChar_;
}

template <typename T>
void TComParity::Change(T& field, T value) {
  ChangeAndApply(field, value, [this] {
    if (OwnerPort) OwnerPort->ApplyDeviceControl();
  });
}

void TComParity::SetBits(TParityBits value) {
  Change(bits_, value);
}
void TComParity::SetCheck(bool value) {
  Change(check_, value);
}
void TComParity::SetReplace(bool value) {
  Change(replace_, value);
}
void TComParity::SetReplaceChar(char value) {
  Change(replaceChar_, value);
}

// --- flow control

void TComFlowControl::Assign(const TPersistent& source) {
  const auto* other = dynamic_cast<const TComFlowControl*>(&source);
  if (other == nullptr) return TPersistent::Assign(source);
  outCTSFlow_ = other->outCTSFlow_;
  outDSRFlow_ = other->outDSRFlow_;
  controlDTR_ = other->controlDTR_;
  controlRTS_ = other->controlRTS_;
  xonXoffOut_ = other->xonXoffOut_;
  xonXoffIn_ = other->xonXoffIn_;
  dsrSensitivity_ = other->dsrSensitivity_;
  txContinueOnXoff_ = other->txContinueOnXoff_;
  xonChar_ = other->xonChar_;
  xoffChar_ = other->xoffChar_;
}

template <typename T>
void TComFlowControl::Change(T& field, T value) {
  ChangeAndApply(field, value, [this] {
    if (OwnerPort) OwnerPort->ApplyDeviceControl();
  });
}

void TComFlowControl::SetOutCTSFlow(bool value) {
  Change(outCTSFlow_, value);
}
void TComFlowControl::SetOutDSRFlow(bool value) {
  Change(outDSRFlow_, value);
}
void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
  Change(controlDTR_, value);
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
  Change(controlRTS_, value);
}
void TComFlowControl::SetXonXoffOut(bool value) {
  Change(xonXoffOut_, value);
}
void TComFlowControl::SetXonXoffIn(bool value) {
  Change(xonXoffIn_, value);
}
void TComFlowControl::SetDSRSensitivity(bool value) {
  Change(dsrSensitivity_, value);
}
void TComFlowControl::SetTxContinueOnXoff(bool value) {
  Change(txContinueOnXoff_, value);
}
void TComFlowControl::SetXonChar(char value) {
  Change(xonChar_, value);
}
void TComFlowControl::SetXoffChar(char value) {
  Change(xoffChar_, value);
}

TFlowControl TComFlowControl::FlowControl() const {
  const bool xonXoffOff = !xonXoffIn_ && !xonXoffOut_;
  const bool xonXoffOn = xonXoffIn_ && xonXoffOut_;
  if (controlRTS_ == rtsHandshake && outCTSFlow_ && xonXoffOff) return fcHardware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffOn) return fcSoftware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffOff) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  if (value != fcCustom) {
    controlRTS_ = rtsDisable;
    outCTSFlow_ = xonXoffIn_ = xonXoffOut_ = false;
  }
  if (value == fcHardware) {
    controlRTS_ = rtsHandshake;
    outCTSFlow_ = true;
  } else if (value == fcSoftware) {
    xonXoffIn_ = xonXoffOut_ = true;
  }
  if (OwnerPort) OwnerPort->ApplyDeviceControl();
}

// --- timeouts

void TComTimeouts::Assign(const TPersistent& source) {
  const auto* other = dynamic_cast<const TComTimeouts*>(&source);
  if (other == nullptr) return TPersistent::Assign(source);
  readInterval_ = other->readInterval_;
  readTotalMultiplier_ = other->readTotalMultiplier_;
  readTotalConstant_ = other->readTotalConstant_;
  writeTotalMultiplier_ = other->writeTotalMultiplier_;
  writeTotalConstant_ = other->writeTotalConstant_;
}

void TComTimeouts::Change(std::int32_t& field, std::int32_t value) {
  ChangeAndApply(field, value, [this] {
    if (OwnerPort) OwnerPort->ApplyTimeoutSettings();
  });
}

void TComTimeouts::SetReadInterval(std::int32_t value) {
  Change(readInterval_, value);
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t value) {
  Change(readTotalMultiplier_, value);
}
void TComTimeouts::SetReadTotalConstant(std::int32_t value) {
  Change(readTotalConstant_, value);
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t value) {
  Change(writeTotalMultiplier_, value);
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t value) {
  Change(writeTotalConstant_, value);
}

// --- buffer

void TComBuffer::Assign(const TPersistent& source) {
  const auto* other = dynamic_cast<const TComBuffer*>(&source);
  if (other == nullptr) return TPersistent::Assign(source);
  inputSize_ = other->inputSize_;
  outputSize_ = other->outputSize_;
}

void TComBuffer::Change(std::int32_t& field, std::int32_t value) {
  if (field == value) return;
  field = (value > 0 && value % 2 != 0) ? value - 1 : value;
  if (OwnerPort) OwnerPort->ApplyBufferSizes();
}

void TComBuffer::SetInputSize(std::int32_t value) {
  Change(inputSize_, value);
}
void TComBuffer::SetOutputSize(std::int32_t value) {
  Change(outputSize_, value);
}

}  // namespace vardelio
