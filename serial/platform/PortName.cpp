#include "PortName.h"

#include <cctype>

namespace vardelio {
namespace {

// "COMn" in any letter case, n from 1 without leading zeros; 0 otherwise.
int ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return 0;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  if (name[3] == '0') return 0;
  int number = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

}  // namespace

std::string DevicePathForPort(const std::string& portName) {
  // The system would open the path cut at a NUL: another device than the one named.
  if (portName.empty() || portName.find('\0') != std::string::npos) return {};
  if (portName.front() == '/') return portName;
  if (const int n = ComNumber(portName); n > 0) return "/dev/ttyS" + std::to_string(n - 1);
  // A relative name may not climb out of /dev.
  if (portName.find("..") != std::string::npos) return {};
  return "/dev/" + portName;
}

}  // namespace vardelio
