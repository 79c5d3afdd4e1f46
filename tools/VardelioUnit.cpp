// vardelio-unit: a simulated Vardelio on a pseudo-terminal, reachable through a symbolic
// link, for trying the programmer without hardware.
//
//   vardelio-unit [--silent] [--delay MS] [--missing-separator] [--garbage]
//                 [--time-over] [--hang-up-after N] [--alter-on-store] [--alter FIELD]
//                 [--silent-on-read] LINK

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "PseudoTerminal.h"
#include "SimulatedUnit.h"
#include "UnitCommandLine.h"

namespace {

volatile sig_atomic_t stopping = 0;

}  // namespace

int main(int argc, char** argv) {
  // Refused or answered before anything is made: no link is ever named after an option.
  vardelio::TUnitCommandLine command;
  if (const auto done = vardelio::ParseUnitCommandLine(argc, argv, command, std::cout, std::cerr)) {
    return *done;
  }
  const vardelio::TUnitBehaviour behaviour = command.behaviour;
  std::string device;
  const int master = vardelio::OpenPseudoTerminal(device);
  if (master < 0) {
    std::perror("pseudo-terminal");
    return 1;
  }
  const std::string& link = command.link;
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
