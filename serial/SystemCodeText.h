#pragma once
// What the system code of a port error means to an installer, and what to do about it.

#include <QString>
#include <exception>

namespace vardelio {

// A sentence or two in the user's language for the system code of a port error; a code
// without its own words is named with the system's description.
QString SystemCodeExplanation(int systemCode);

// The explanation for an error that carries a system code; empty for any other error.
QString ExplainPortError(const std::exception& error);

}  // namespace vardelio
