#include "PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

bool LinkDevice(const std::string& devicePath, const std::string& link) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      errno = EEXIST;
      return false;
    }
    unlink(link.c_str());
  }
  return symlink(devicePath.c_str(), link.c_str()) == 0;
}

}  // namespace vardelio
