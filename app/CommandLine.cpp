#include "CommandLine.h"

#include <string>
#include <string_view>

namespace vardelio {
namespace {

constexpr std::string_view kUsage =
    "Usage: vardelio [--trace FILE] [FILE]\n"
    "       vardelio --send FILE [--verify] [--port PORT]\n"
    "       vardelio --receive FILE [--force] [--port PORT]\n"
    "       vardelio --batch LIST [--port PORT]\n"
    "       vardelio --sheet OUT.pdf FILE\n"
    "       vardelio --help | --version\n"
    "\n"
    "Programs a Vardelio alarm unit over a serial line and reads its programming back.\n"
    "FILE, a programming file (.vardelio), fills the window at start; nothing is sent.\n"
    "While the program runs, a second start hands FILE to its window and ends.\n"
    "Archivo > Abrir programacion and Guardar programacion read and write such files.\n"
    "\n"
    "  --trace FILE   record every byte sent and received on the port, with the port's\n"
    "                 opening, closing and errors, at the end of FILE (for support; also\n"
    "                 Archivo > Registro de la linea...)\n"
    "\n"
    "At the bench, without a window (and without a display):\n"
    "  --send FILE      send FILE's values to the unit and print the outcome;\n"
    "                   with --verify, read them back and compare them\n"
    "  --receive FILE   read the unit's programming into FILE (--force replaces it)\n"
    "  --batch LIST     send and verify unit after unit, from a folder of programming\n"
    "                   files or a CSV list (abonado,principal,respaldo,bornera,informe);\n"
    "                   asks before each unit\n"
    "  --sheet OUT FILE write the job sheet of FILE as a one-page PDF\n"
    "  --port PORT      use PORT instead of the settings file's (which is never written)\n"
    "  Exit codes: 0 done, 1 the unit did not take or verify the values, 2 usage error or\n"
    "  file refused, 3 the port could not be opened or written. Each operation adds a line\n"
    "  to ~/.local/share/vardelio/historial.csv.\n"
    "\n"
    "  --             what follows is FILE, even if its name begins with '-'\n"
    "  -h, --help     print this and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "The port, its speed and framing are chosen in Configuracion > Configurar Puerto and\n"
    "kept in ~/.config/vardelio/comporttest.ini.\n"
    "\n"
    "Serial port access:\n"
    "  Serial devices belong to the group 'dialout'. Add yourself once, then log in again:\n"
    "    sudo usermod -aG dialout $USER\n"
    "  What \"Unable to open com port (win error code: N)\" means when opening:\n"
    "    2       no such device: check the name (a USB adapter is ttyUSB0 or ttyACM0)\n"
    "    13      permission denied: you are not in the group 'dialout' yet\n"
    "    11, 16  the port is in use by another program\n"
    "  To find the adapter's name, plug it in and run:\n"
    "    ls /dev/serial/by-id/   or   dmesg | tail\n";

// One line, and where the rest is: the whole help would push the line out of sight.
int UsageError(std::ostream& errors, std::string_view what) {
  errors << "vardelio: " << what << "\nTry 'vardelio --help' for more information.\n";
  return 2;
}

}  // namespace

std::optional<int> HandleCommandLine(int argc, const char* const* argv, std::ostream& out,
                                     std::ostream& errors, TStartOptions* start) {
  TStartOptions options;
  bool optionsEnded = false;
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (optionsEnded || argument == "-" || !argument.starts_with('-')) {
      if (++files > 1) return UsageError(errors, "more than one file");
      options.programmingFile = argument;
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      out << kUsage;
      return 0;
    } else if (argument == "--version") {
      out << "vardelio " VARDELIO_VERSION "\n";
      return 0;
    } else if (argument == "--trace" && i + 1 < argc && argv[i + 1][0] != '\0') {
      options.traceFile = argv[++i];
    } else {
      return UsageError(
          errors, std::string(argument == "--trace" ? "missing file for " : "unknown option ") +
                      std::string(argument));
    }
  }
  if (start != nullptr) *start = options;
  return std::nullopt;
}

}  // namespace vardelio
