#pragma once
// The commands that work at the bench without a window or a display: --send, --receive,
// --batch and --sheet.

#include <QString>
#include <iosfwd>
#include <optional>

namespace vardelio {

class IComPlatform;

// Exit codes of the bench commands.
enum TBenchExit : int {
  kExitDone = 0,     // the unit took the values, or they verified (or the sheet was written)
  kExitUnit = 1,     // the unit did not: no answer, a wrong answer, a mismatch, a time-over
  kExitRefused = 2,  // a usage error, or a file refused
  kExitPort = 3,     // the port could not be opened or written
};

// Whether the arguments ask for one of these commands.
bool IsBenchCommand(int argc, const char* const* argv);

// Runs the command the arguments name and gives its exit code. Makes its own application
// object (one without a window system, or an offscreen one for the sheet). `in` answers the
// batch run's questions.
int RunBenchCommand(int argc, char** argv, std::istream& in, std::ostream& out,
                    std::ostream& errors);

// The port's messages come from the translation engine from now on. A catalog that cannot be
// used leaves them in English and gives the reason.
std::optional<QString> StartPortMessages();

}  // namespace vardelio
