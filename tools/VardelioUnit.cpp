// vardelio-unit: a simulated Vardelio on a pseudo-terminal, reachable through a symbolic
// link, for trying the programmer without hardware.
//
//   vardelio-unit LINK [--silent] [--delay MS] [--missing-separator] [--garbage]
//                      [--time-over] [--hang-up-after N]

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "PseudoTerminal.h"
#include "SimulatedUnit.h"

namespace {

volatile sig_atomic_t stopping = 0;

bool ParseOptions(int argc, char** argv, vardelio::TUnitBehaviour& behaviour) {
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    const bool hasValue = i + 1 < argc;
    if (option == "--silent") {
      behaviour.silent = true;
    } else if (option == "--missing-separator") {
      behaviour.missingSeparator = true;
    } else if (option == "--garbage") {
      behaviour.garbage = true;
    } else if (option == "--time-over") {
      behaviour.timeOver = true;
    } else if (option == "--delay" && hasValue) {
      behaviour.delayMs = std::atoi(argv[++i]);
    } else if (option == "--hang-up-after" && hasValue) {
      behaviour.hangUpAfter = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "unknown option: %s\n", option.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  vardelio::TUnitBehaviour behaviour;
  if (argc < 2 || !ParseOptions(argc, argv, behaviour)) {
    std::fprintf(stderr,
                 "usage: %s LINK [--silent] [--delay MS] [--missing-separator] [--garbage] "
                 "[--time-over] [--hang-up-after N]\n",
                 argv[0]);
    return 2;
  }
  std::string device;
  const int master = vardelio::OpenPseudoTerminal(device);
  if (master < 0) {
    std::perror("pseudo-terminal");
    return 1;
  }
  const std::string link = argv[1];
  if (!vardelio::LinkDevice(device, link)) {
    std::fprintf(stderr, "%s: %s%s\n", link.c_str(), std::strerror(errno),
                 errno == EEXIST ? " (not a link: left alone)" : "");
    return 1;
  }
  // Held open, unread, so the unit's side never sees a hang-up while no tool is connected.
  const int keepOpen = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  signal(SIGINT, [](int) { stopping = 1; });
  signal(SIGTERM, [](int) { stopping = 1; });
  std::printf("Vardelio simulated on %s (%s)\n", link.c_str(), device.c_str());
  std::fflush(stdout);
  vardelio::TSimulatedUnit unit(master, behaviour);
  unit.Start();
  while (!stopping)
    pause();
  unit.Stop();
  close(keepOpen);
  unlink(link.c_str());
  return 0;
}
