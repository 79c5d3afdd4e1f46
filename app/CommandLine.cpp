#include "CommandLine.h"

#include <string_view>

namespace vardelio {
namespace {

constexpr std::string_view kUsage =
    "Usage: vardelio [--help | --version]\n"
    "\n"
    "Programs a Vardelio alarm unit over a serial line and reads its programming back.\n"
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

}  // namespace

std::optional<int> HandleCommandLine(int argc, const char* const* argv, std::ostream& out,
                                     std::ostream& errors) {
  if (argc < 2) return std::nullopt;
  const std::string_view option = argv[1];
  if (option == "--help" || option == "-h") {
    out << kUsage;
    return 0;
  }
  if (option == "--version") {
    out << "vardelio " VARDELIO_VERSION "\n";
    return 0;
  }
  errors << "vardelio: unknown option " << option << "\n\n" << kUsage;
  return 2;
}

}  // namespace vardelio
