#include "PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace vardelio {

int OpenPseudoTerminal(std::string& devicePath) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return -1;
  const char* path = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
  if (path == nullptr) {
    close(master);
    return -1;
  }
  devicePath = path;
  return master;
}

}  // namespace vardelio
