#pragma once
// Opens the device side of a fresh pseudo-terminal pair.

#include <string>

namespace vardelio {

// The master descriptor, with the path at which the other side can be opened; -1 on failure.
int OpenPseudoTerminal(std::string& devicePath);

// Makes `link` a symbolic link to the device, replacing an older link there but never a file
// or folder of someone else's; false with errno set when it cannot.
bool LinkDevice(const std::string& devicePath, const std::string& link);

}  // namespace vardelio
