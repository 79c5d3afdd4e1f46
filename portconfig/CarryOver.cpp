#include "CarryOver.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

namespace vardelio {
namespace {

// The names of a file's extended attributes (an ACL is one); false when they cannot be listed.
bool AttributeNames(int fd, std::vector<std::string>& names) {
  names.clear();
  std::string list;
  for (;;) {
    const ssize_t size = flistxattr(fd, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;  // none can exist here
    list.resize(std::size_t(size));
    const ssize_t got = flistxattr(fd, list.data(), list.size());
    if (got >= 0) {
      list.resize(std::size_t(got));
      break;
    }
    if (errno != ERANGE) return false;  // it grew in between: ask again
  }
  for (std::size_t at = 0; at < list.size(); at += names.back().size() + 1)
    names.emplace_back(list.c_str() + at);
  return true;
}

bool CopyAttribute(int from, int to, const std::string& name) {
  std::string value;
  for (;;) {
    const ssize_t size = fgetxattr(from, name.c_str(), nullptr, 0);
    if (size < 0) return false;
    value.resize(std::size_t(size));
    const ssize_t got = fgetxattr(from, name.c_str(), value.data(), value.size());
    if (got >= 0) {
      value.resize(std::size_t(got));
      break;
    }
    if (errno != ERANGE) return false;
  }
  return fsetxattr(to, name.c_str(), value.data(), value.size(), 0) == 0;
}

// The temporary gets exactly the file's attributes: copies of its own, and none it inherited
// from the folder that the file lacks.
bool CopyAttributes(int from, int to) {
  std::vector<std::string> wanted, present;
  if (!AttributeNames(from, wanted) || !AttributeNames(to, present)) return false;
  for (const std::string& name : present) {
    const bool keep = std::find(wanted.begin(), wanted.end(), name) != wanted.end();
    if (!keep && fremovexattr(to, name.c_str()) != 0) return false;
  }
  for (const std::string& name : wanted) {
    if (!CopyAttribute(from, to, name)) return false;
  }
  return true;
}

// The flags a user sets with chattr (no dump, no access time, compression, no copy on write).
constexpr int kUserFlags = FS_FL_USER_MODIFIABLE | FS_NOCOMP_FL | FS_NOCOW_FL;

// Gives the temporary the file's flags, before any data (some take effect only on an empty
// file); false when they differ afterwards.
bool CopyFlags(int from, int to) {
  int wanted = 0, present = 0;
  if (ioctl(from, FS_IOC_GETFLAGS, &wanted) != 0) return errno == ENOTTY || errno == ENOTSUP;
  if (ioctl(to, FS_IOC_GETFLAGS, &present) != 0) return false;
  if (((wanted ^ present) & kUserFlags) == 0) return true;
  int flags = (present & ~kUserFlags) | (wanted & kUserFlags);
  if (ioctl(to, FS_IOC_SETFLAGS, &flags) != 0 || ioctl(to, FS_IOC_GETFLAGS, &present) != 0) {
    return false;
  }
  return ((wanted ^ present) & kUserFlags) == 0;
}

}  // namespace

// True when the temporary now has the file's owner, group, mode and flags.
bool CarryOver(int file, const struct stat& old, int temp) {
  struct stat st {};
  if (fstat(temp, &st) != 0 || !CopyFlags(file, temp)) return false;
  if ((st.st_uid != old.st_uid || st.st_gid != old.st_gid) &&
      fchown(temp, old.st_uid, old.st_gid) != 0) {
    return false;
  }
  // After the owner, which clears set-id bits; before the ACL, which sets the mode's bits.
  if (fchmod(temp, old.st_mode & 07777) != 0 || !CopyAttributes(file, temp)) return false;
  if (fstat(temp, &st) != 0) return false;
  return st.st_uid == old.st_uid && st.st_gid == old.st_gid && st.st_mode == old.st_mode;
}

}  // namespace vardelio
