#pragma once
// The program's few options, answered before any window exists.

#include <optional>
#include <ostream>
#include <string>

namespace vardelio {

// --help and --version print and give the exit code; an unknown option or a second file prints
// the usage to `errors` and gives 2. Nothing means: start the program, with the programming file
// named, if any, put in `file` (after "--", a name may begin with "-").
std::optional<int> HandleCommandLine(int argc, const char* const* argv, std::ostream& out,
                                     std::ostream& errors, std::string* file = nullptr);

}  // namespace vardelio
