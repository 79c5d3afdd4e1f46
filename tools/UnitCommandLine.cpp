#include "UnitCommandLine.h"

#include <charconv>
#include <string_view>

namespace vardelio {
namespace {

constexpr std::string_view kUsage =
    "Usage: vardelio-unit [OPTION]... LINK\n"
    "Plays a Vardelio on a pseudo-terminal reachable as LINK (a symbolic link it makes and\n"
    "removes; an existing file that is not a link is left alone). Stop it with Ctrl+C.\n"
    "\n"
    "  --silent              answer nothing\n"
    "  --delay MS            pause MS milliseconds before each answer (default 5)\n"
    "  --missing-separator   drop the first separator of the data sent back\n"
    "  --garbage             answer a lower-case acknowledgement and noise\n"
    "  --time-over           answer every request as after the programming window\n"
    "  --hang-up-after N     close the line after N requests\n"
    "  --alter-on-store      store the next test-report period instead of the one sent\n"
    "  --alter FIELD         store FIELD otherwise than it was sent: subscriber,\n"
    "                        main-phone, backup-phone, terminal-block or period\n"
    "  --alter-only N        alter only the Nth programming, as one faulty unit in a row\n"
    "  --silent-on-read      acknowledge programming but never answer the read request\n"
    "  -h, --help            print this help and exit\n";

bool ParseCount(std::string_view text, int& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && value >= 0;
}

bool ParseField(std::string_view text, TUnitField& field) {
  const struct {
    std::string_view name;
    TUnitField field;
  } names[] = {{"subscriber", TUnitField::subscriber},
               {"main-phone", TUnitField::mainPhone},
               {"backup-phone", TUnitField::backupPhone},
               {"terminal-block", TUnitField::terminalBlock},
               {"period", TUnitField::testReport}};
  for (const auto& name : names) {
    if (name.name == text) {
      field = name.field;
      return true;
    }
  }
  return false;
}

// One option at argv[i]; one that takes a number also takes argv[i + 1].
bool ParseOption(int argc, const char* const* argv, int& i, TUnitBehaviour& behaviour) {
  const std::string_view option = argv[i];
  if (option == "--silent") return behaviour.silent = true;
  if (option == "--missing-separator") return behaviour.missingSeparator = true;
  if (option == "--garbage") return behaviour.garbage = true;
  if (option == "--time-over") return behaviour.timeOver = true;
  if (option == "--alter-on-store") {
    behaviour.alterOnStore = TUnitField::testReport;
    return true;
  }
  if (option == "--alter") return i + 1 < argc && ParseField(argv[++i], behaviour.alterOnStore);
  if (option == "--silent-on-read") return behaviour.silentOnRead = true;
  int* number = option == "--delay"           ? &behaviour.delayMs
                : option == "--hang-up-after" ? &behaviour.hangUpAfter
                : option == "--alter-only"    ? &behaviour.alterOnly
                                              : nullptr;
  return number != nullptr && i + 1 < argc && ParseCount(argv[++i], *number);
}

}  // namespace

std::optional<int> ParseUnitCommandLine(int argc, const char* const* argv, TUnitCommandLine& parsed,
                                        std::ostream& out, std::ostream& errors) {
  bool optionsEnded = false;
  int links = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!optionsEnded && (argument == "--help" || argument == "-h")) {
      out << kUsage;
      return 0;
    }
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && argument.size() > 1 && argument.front() == '-') {
      if (!ParseOption(argc, argv, i, parsed.behaviour)) {
        errors << "vardelio-unit: bad option " << argument << "\n\n" << kUsage;
        return 2;
      }
    } else if (++links == 1) {
      parsed.link = argument;
    }
  }
  if (links != 1) {
    errors << "vardelio-unit: " << (links == 0 ? "no LINK given" : "more than one LINK") << "\n\n"
           << kUsage;
    return 2;
  }
  return std::nullopt;
}

}  // namespace vardelio
