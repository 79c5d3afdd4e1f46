#pragma once
// Where a port name leads on Linux: a path as given, COMn as /dev/ttyS<n-1>, else under /dev.

#include <string>

namespace vardelio {

std::string DevicePathForPort(const std::string& portName);

}  // namespace vardelio
