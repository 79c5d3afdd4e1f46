#include "UserFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vardelio {
namespace {

// Temporaries are named this plus six random characters, short whatever the file's name.
constexpr char kTemporaryPrefix[] = ".vardelio-";
constexpr int kMaxLinks = 40;  // as the kernel's own limit on a path's links
constexpr std::size_t kRandomLength = 6;

[[noreturn]] void Fail(const char* what, const std::string& path, int error) {
  throw EProfileError(std::string(what) + " " + path + ": " + std::strerror(error));
}

// Closes a descriptor when it goes out of scope.
struct TDescriptor {
  int fd;
  explicit TDescriptor(int d) : fd(d) {}
  ~TDescriptor() {
    if (fd >= 0) close(fd);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a chain of links ends at, which need not exist yet.
std::string ResolveLinks(std::string path) {
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) {
      if (errno == EINVAL || errno == ENOENT) return path;  // not a link, or nothing there
      Fail("Cannot resolve", path, errno);
    }
    const std::string next(target, std::size_t(n));
    path = next.front() == '/' ? next : FolderOf(path) + "/" + next;
  }
  Fail("Cannot resolve", path, ELOOP);
}

std::string RandomName() {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[kRandomLength];
  if (getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) {
    for (std::size_t i = 0; i < kRandomLength; ++i)
      bytes[i] = static_cast<unsigned char>(rand());
  }
  std::string name = kTemporaryPrefix;
  for (const unsigned char b : bytes)
    name += kLetters[b % (sizeof kLetters - 1)];
  return name;
}

bool IsTemporaryName(const char* name) {
  const std::size_t prefix = sizeof kTemporaryPrefix - 1;
  return std::strncmp(name, kTemporaryPrefix, prefix) == 0 &&
         std::strlen(name) == prefix + kRandomLength;
}

// A temporary that nobody holds locked was left by a save that died: remove it.
void RemoveStaleTemporaries(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    if (!IsTemporaryName(entry->d_name)) continue;
    TDescriptor file(openat(dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (file.fd >= 0 && flock(file.fd, LOCK_EX | LOCK_NB) == 0) {
      unlinkat(dirfd(dir), entry->d_name, 0);
    }
  }
  closedir(dir);
}

// Gives the locked anonymous file a short name in the folder (a name derived from the
// settings file's could exceed the file-name limit).
std::string NameAnonymous(int fd, const std::string& folder, const std::string& path) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (;;) {
    const std::string name = folder + "/" + RandomName();
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return name;
    }
    if (errno != EEXIST) Fail("Cannot write", path, errno);
  }
}

// A temporary in the folder, locked, with its name (empty while it is still anonymous).
int CreateTemporary(const std::string& folder, const std::string& path, std::string& name) {
  name.clear();
  // The umask applies to the 0666 here, as it does to any new file.
  int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) {
    flock(fd, LOCK_EX);
    return fd;
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) Fail("Cannot write", path, errno);
  // No anonymous files here: a named one, locked so no other save takes it for stale.
  for (;;) {
    name = folder + "/" + RandomName();
    fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) Fail("Cannot write", path, errno);
    struct stat st {};
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &st) == 0 && st.st_nlink > 0) return fd;
    close(fd);  // another save removed it between its creation and the lock
  }
}

void WriteAll(int fd, const std::string& text, const std::string& path) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("Cannot write", path, n < 0 ? errno : EIO);
    data += n;
    left -= std::size_t(n);
  }
  if (fsync(fd) != 0) Fail("Cannot write", path, errno);
}

// The replacement takes the owner and mode of the file it replaces.
void KeepOwnerAndMode(int fd, const struct stat& old) {
  if (old.st_uid != geteuid() || old.st_gid != getegid()) {
    [[maybe_unused]] const int ignored = fchown(fd, old.st_uid, old.st_gid);
  }
  fchmod(fd, old.st_mode & 07777);
}

void CheckWritable(const std::string& path, const struct stat& st) {
  if (S_ISDIR(st.st_mode)) Fail("Cannot write", path, EISDIR);
  // Like a read-only attribute: root may write anywhere, but not over this.
  if ((st.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0) {
    Fail("Cannot write", path, EACCES);
  }
}

void SyncFolder(const std::string& folder) {
  TDescriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd >= 0) fsync(dir.fd);
}

}  // namespace

std::optional<std::string> ReadUserFile(const std::string& path) {
  TDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    Fail("Cannot read", path, errno);
  }
  std::string text;
  char chunk[8192];
  for (;;) {
    const ssize_t n = read(file.fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("Cannot read", path, errno);
    if (n == 0) return text;
    text.append(chunk, std::size_t(n));
  }
}

void ReplaceUserFile(const std::string& path, const std::string& text) {
  const std::string target = ResolveLinks(path);
  struct stat old {};
  const bool exists = stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) Fail("Cannot write", target, errno);
  if (exists) CheckWritable(target, old);
  const std::string folder = FolderOf(target);
  RemoveStaleTemporaries(folder);
  std::string name;
  TDescriptor temp(CreateTemporary(folder, target, name));
  try {
    if (exists) KeepOwnerAndMode(temp.fd, old);
    WriteAll(temp.fd, text, target);
    if (name.empty()) name = NameAnonymous(temp.fd, folder, target);
    if (rename(name.c_str(), target.c_str()) != 0) Fail("Cannot write", target, errno);
  } catch (...) {
    if (!name.empty()) unlink(name.c_str());
    throw;
  }
  SyncFolder(folder);
}

}  // namespace vardelio
