#pragma once
// Opens the device side of a fresh pseudo-terminal pair.

#include <string>

namespace vardelio {

// The master descriptor, with the path at which the other side can be opened; -1 on failure.
int OpenPseudoTerminal(std::string& devicePath);

}  // namespace vardelio
