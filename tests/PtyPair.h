#pragma once
// A pseudo-terminal pair: the port opens the device path, the test plays the device.

#include <string>
#include <string_view>

namespace vardelio::test {

class TPtyPair {
 public:
  TPtyPair();
  ~TPtyPair();
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  const std::string& DevicePath() const { return path_; }
  int Master() const { return master_; }
  // What the device sends to the port.
  void Send(std::string_view bytes);
  // What the port sent, waiting up to `waitMs` for at least `atLeast` bytes.
  std::string Receive(std::size_t atLeast, int waitMs = 2000);
  // The device goes away, as an unplugged adapter does.
  void HangUp();
  // The line's speed and whether two stop bits are set, as the terminal holds them.
  unsigned Speed() const;
  bool TwoStopBits() const;

 private:
  int master_ = -1;
  std::string path_;
};

}  // namespace vardelio::test
