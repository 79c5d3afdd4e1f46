#pragma once
// The simulated unit's command line: the link to make and how the unit behaves.

#include <optional>
#include <ostream>
#include <string>

#include "SimulatedUnit.h"

namespace vardelio {

struct TUnitCommandLine {
  std::string link;
  TUnitBehaviour behaviour;
};

// Fills `parsed` and gives nothing when the unit is to run. --help prints the usage to `out`
// and gives 0; an unknown option, a missing or second LINK, or an option without its number
// prints the usage to `errors` and gives 2. Options may stand before or after LINK; after
// "--" every argument is LINK, so a link may begin with "-".
std::optional<int> ParseUnitCommandLine(int argc, const char* const* argv, TUnitCommandLine& parsed,
                                        std::ostream& out, std::ostream& errors);

}  // namespace vardelio
