#pragma once
// The port's four groups of settings; each change is applied through the owning port.

#include <cstdint>

#include "ComTypes.h"
#include "framework/Persistent.h"

namespace vardelio {

class TCustomComPort;

// Parity of the line; every change applies device control.
class TComParity : public TPersistent {
 public:
  explicit TComParity(TCustomComPort* ownerPort = nullptr) : OwnerPort(ownerPort) {}
  const char* ClassName() const override { return "TComParity"; }
  void Assign(const TPersistent& source) override;

  TParityBits Bits() const { return bits_; }
  bool Check() const { return check_; }
  bool Replace() const { return replace_; }
  char ReplaceChar() const { return replaceChar_; }
  void SetBits(TParityBits value);
  void SetCheck(bool value);
  void SetReplace(bool value);
  void SetReplaceChar(char value);

  TCustomComPort* const OwnerPort;

 private:
  template <typename T>
  void Change(T& field, T value);

  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  char replaceChar_ = 0;
};

// Flow control of the line, and the preset that sums it up; every change applies device control.
class TComFlowControl : public TPersistent {
 public:
  explicit TComFlowControl(TCustomComPort* ownerPort = nullptr) : OwnerPort(ownerPort) {}
  const char* ClassName() const override { return "TComFlowControl"; }
  void Assign(const TPersistent& source) override;

  bool OutCTSFlow() const { return outCTSFlow_; }
  bool OutDSRFlow() const { return outDSRFlow_; }
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  bool XonXoffOut() const { return xonXoffOut_; }
  bool XonXoffIn() const { return xonXoffIn_; }
  bool DSRSensitivity() const { return dsrSensitivity_; }
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  char XonChar() const { return xonChar_; }
  char XoffChar() const { return xoffChar_; }
  TFlowControl FlowControl() const;

  void SetOutCTSFlow(bool value);
  void SetOutDSRFlow(bool value);
  void SetControlDTR(TDTRFlowControl value);
  void SetControlRTS(TRTSFlowControl value);
  void SetXonXoffOut(bool value);
  void SetXonXoffIn(bool value);
  void SetDSRSensitivity(bool value);
  void SetTxContinueOnXoff(bool value);
  void SetXonChar(char value);
  void SetXoffChar(char value);
  // Always applies, even when the preset reads the same already.
  void SetFlowControl(TFlowControl value);

  TCustomComPort* const OwnerPort;

 private:
  template <typename T>
  void Change(T& field, T value);

  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  char xonChar_ = 17;
  char xoffChar_ = 19;
};

// Read and write timeouts in milliseconds; -1 stands for the platform's maximum.
class TComTimeouts : public TPersistent {
 public:
  explicit TComTimeouts(TCustomComPort* ownerPort = nullptr) : OwnerPort(ownerPort) {}
  const char* ClassName() const override { return "TComTimeouts"; }
  void Assign(const TPersistent& source) override;

  std::int32_t ReadInterval() const { return readInterval_; }
  std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
  std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
  std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
  void SetReadInterval(std::int32_t value);
  void SetReadTotalMultiplier(std::int32_t value);
  void SetReadTotalConstant(std::int32_t value);
  void SetWriteTotalMultiplier(std::int32_t value);
  void SetWriteTotalConstant(std::int32_t value);

  TCustomComPort* const OwnerPort;

 private:
  void Change(std::int32_t& field, std::int32_t value);

  std::int32_t readInterval_ = -1;
  std::int32_t readTotalMultiplier_ = 0;
  std::int32_t readTotalConstant_ = 0;
  std::int32_t writeTotalMultiplier_ = 100;
  std::int32_t writeTotalConstant_ = 1000;
};

// The driver's queue sizes; an odd positive size is rounded down to even.
class TComBuffer : public TPersistent {
 public:
  explicit TComBuffer(TCustomComPort* ownerPort = nullptr) : OwnerPort(ownerPort) {}
  const char* ClassName() const override { return "TComBuffer"; }
  void Assign(const TPersistent& source) override;

  std::int32_t InputSize() const { return inputSize_; }
  std::int32_t OutputSize() const { return outputSize_; }
  void SetInputSize(std::int32_t value);
  void SetOutputSize(std::int32_t value);

  TCustomComPort* const OwnerPort;

 private:
  void Change(std::int32_t& field, std::int32_t value);

  std::int32_t inputSize_ = 1024;
  std::int32_t outputSize_ = 1024;
};

}  // namespace vardelio
