#pragma once
// Records every platform call with its arguments; any call can be told to fail with a code.

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "serial/platform/ComPlatform.h"

namespace vardelio::test {

class TFakeComPlatform : public IComPlatform {
 public:
  static constexpr TLineHandle kHandle = 42;

  std::vector<std::string> calls;       // "SetupComm(4096,1024)"
  std::map<std::string, int> failures;  // call name -> system code, until erased
  std::string written;                  // what writes delivered
  std::string input;                    // what the line has received and not yet given out
  std::uint32_t lineErrors = 0;
  std::uint32_t modemStatus = 0;
  TDcb dcb;
  TCommTimeouts timeouts;
  bool open = false;

  void Fail(const std::string& call, int code) { failures[call] = code; }
  int Count(const std::string& call) const;
  // The names of the calls, without their arguments.
  std::vector<std::string> Names() const;

  TLineHandle OpenLine(const std::string& portName) override;
  bool CloseLine(TLineHandle line) override;
  bool SetCommState(TLineHandle line, const TDcb& dcb) override;
  bool SetCommTimeouts(TLineHandle line, const TCommTimeouts& timeouts) override;
  bool SetupComm(TLineHandle line, std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool SetCommMask(TLineHandle line, std::uint32_t mask) override;
  bool WriteFile(TLineHandle line, const void* data, std::uint32_t count, std::uint32_t& written,
                 TOverlapped& request) override;
  bool ReadFile(TLineHandle line, void* data, std::uint32_t count, std::uint32_t& read,
                TOverlapped& request) override;
  bool AwaitCompletion(TLineHandle line, TOverlapped& request, std::uint32_t& transferred) override;
  bool PurgeComm(TLineHandle line, std::uint32_t flags) override;
  bool ClearCommError(TLineHandle line, std::uint32_t& errors, TComStat& status) override;
  bool GetCommModemStatus(TLineHandle line, std::uint32_t& status) override;
  int LastError() const override { return lastError_; }

 private:
  // Logs the call; false (with the error set) when it is to fail or the handle is not ours.
  bool Enter(const std::string& name, const std::string& args, TLineHandle line);

  int lastError_ = 0;
};

}  // namespace vardelio::test
