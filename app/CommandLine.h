#pragma once
// The program's few options, answered before any window exists.

#include <optional>
#include <ostream>
#include <string>

namespace vardelio {

// What the program starts with.
struct TStartOptions {
  std::string programmingFile;  // FILE: fills the window at start; nothing is sent
  std::string traceFile;        // --trace FILE: record the line in FILE from the start
};

// --help and --version print and give the exit code; an unknown option, one without its value
// or a second file prints one line and a hint to --help to `errors` and gives 2. Nothing means:
// start the program, with the options given put in `start` (after "--", a file's name may begin
// with "-").
std::optional<int> HandleCommandLine(int argc, const char* const* argv, std::ostream& out,
                                     std::ostream& errors, TStartOptions* start = nullptr);

}  // namespace vardelio
