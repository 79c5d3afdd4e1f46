#pragma once
// The program's few options, answered before any window exists.

#include <optional>
#include <ostream>

namespace vardelio {

// --help and --version print and give the exit code; an unknown option prints the usage to
// `errors` and gives 2. Nothing (no arguments) means: start the program.
std::optional<int> HandleCommandLine(int argc, const char* const* argv, std::ostream& out,
                                     std::ostream& errors);

}  // namespace vardelio
