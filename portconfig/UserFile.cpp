#include "UserFile.h"

#include "CarryOver.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <linux/magic.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace vardelio {
namespace {

// Temporaries are named this plus eight random letters or digits, short whatever the file's
// name, and unlike anything a user would call a file of their own.
constexpr char kTemporaryPrefix[] = ".vardelio-save-";
constexpr std::size_t kRandomLength = 8;
constexpr int kMaxLinks = 40;  // as the kernel's own limit on a path's links

[[noreturn]] void Fail(const char* what, const std::string& path, int error) {
  throw EProfileError(std::string(what) + " " + path + ": " + std::strerror(error), error);
}

[[noreturn]] void Refuse(EFileRefused::TWhy why, const char* what, const std::string& path) {
  static constexpr const char* kReasons[] = {
      "not a regular file", "a link another user left in a folder all may write",
      "it belongs to another user", "other users may read it"};
  throw EFileRefused(why, std::string(what) + " " + path + ": " + kReasons[why], path);
}

[[noreturn]] void FailNotRegular(const char* what, const std::string& path) {
  Refuse(EFileRefused::kNotRegular, what, path);
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
  int Release() { return std::exchange(fd, -1); }
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A folder all may write and none may clean up after others (sticky, like /tmp).
bool Shared(const struct stat& folder) {
  return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
}

// In a shared folder, what belongs neither to the user nor to the folder's owner was put
// there by someone else: the kernel's rule for such folders, kept here where links are
// followed by hand, so that nobody can point a save at another file of the saver's, nor have
// a save write into a file of theirs.
bool PutThereByOthers(const std::string& path, uid_t owner) {
  if (owner == geteuid()) return false;
  struct stat folder {};
  if (stat(FolderOf(path).c_str(), &folder) != 0) Fail("Cannot resolve", path, errno);
  return Shared(folder) && owner != folder.st_uid;
}

void RequireTrustedLink(const std::string& link) {
  struct stat own {};
  if (lstat(link.c_str(), &own) != 0) Fail("Cannot resolve", link, errno);
  if (PutThereByOthers(link, own.st_uid)) Refuse(EFileRefused::kOthersLink, "Cannot resolve", link);
}

// A link of /proc (/proc/self/fd/N, what /dev/stdout leads to) names an open file, which may
// have no path at all (a pipe): it is opened through the link, which only its process has.
bool OnProc(const std::string& folder) {
  struct statfs fs {};
  return statfs(folder.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// The file a chain of links ends at, which need not exist yet.
TWrittenFile ResolveLinks(std::string path) {
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) {
      if (errno == EINVAL || errno == ENOENT) return {path};  // not a link, or nothing there
      Fail("Cannot resolve", path, errno);
    }
    RequireTrustedLink(path);
    if (OnProc(FolderOf(path))) return {path, false, true};
    const std::string next(target, std::size_t(n));
    path = next.front() == '/' ? next : FolderOf(path) + "/" + next;
  }
  Fail("Cannot resolve", path, ELOOP);
}

// The one check of what is there, before it is opened and again once it is.
void CheckWritten(const struct stat& st, const TWrittenFile& file, const TWriteRules& rules) {
  if (!S_ISREG(st.st_mode) && !(rules.pipes && S_ISFIFO(st.st_mode))) {
    Refuse(EFileRefused::kNotRegular, "Cannot write", file.path);
  }
  if (!file.viaProc && PutThereByOthers(file.path, st.st_uid)) {
    Refuse(EFileRefused::kOthersFile, "Cannot write", file.path);
  }
  if (!rules.privateOnly) return;
  if (st.st_uid != geteuid()) Refuse(EFileRefused::kOthersFile, "Cannot write", file.path);
  if ((st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    Refuse(EFileRefused::kOthersMayRead, "Cannot write", file.path);
  }
}

void CheckOpened(int fd, const TWrittenFile& file, const TWriteRules& rules) {
  struct stat st {};
  if (fstat(fd, &st) != 0) Fail("Cannot write", file.path, errno);
  CheckWritten(st, file, rules);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// False when nothing is there. A FIFO, device, socket or folder is refused before anything
// opens it: opening a FIFO blocks, and opening a device can change its state.
bool RegularOrAbsent(const std::string& path, const char* what) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return false;
    Fail(what, path, errno);
  }
  if (!S_ISREG(st.st_mode)) FailNotRegular(what, path);
  return true;
}

// Checks again what was opened (without blocking): the name may have changed in between.
struct stat RequireRegular(int fd, const std::string& path, const char* what) {
  struct stat st {};
  if (fstat(fd, &st) != 0) Fail(what, path, errno);
  if (!S_ISREG(st.st_mode)) FailNotRegular(what, path);
  return st;
}

std::atomic<std::chrono::milliseconds::rep> lockWait{5000};

[[noreturn]] void FailLocked(const char* what, const std::string& path) {
  throw EProfileError(std::string(what) + " " + path + ": locked by another program");
}

// Tries again after a short sleep until the wait is over, so that a program that never lets
// go costs a reported error rather than a frozen window. False when the wait is over; a file
// system that cannot lock leaves the file unlocked rather than unusable.
bool Lock(int fd, int how) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(lockWait.load());
  auto pause = microseconds(500);
  for (;;) {
    if (flock(fd, how | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return true;
    const auto now = steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<steady_clock::duration>(pause, deadline - now));
    pause = std::min<microseconds>(pause * 2, milliseconds(5));
  }
}

// At most `limit` + 1 bytes, so a caller with a limit sees the file was longer.
std::string ReadFrom(int fd, const std::string& path,
                     std::size_t limit = std::numeric_limits<std::size_t>::max() - 1) {
  std::string text;
  char chunk[8192];
  while (text.size() <= limit) {
    const std::size_t wanted = std::min(sizeof chunk, limit + 1 - text.size());
    const ssize_t n = pread(fd, chunk, wanted, off_t(text.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("Cannot read", path, errno);
    if (n == 0) return text;
    text.append(chunk, std::size_t(n));
  }
  return text;
}

// A write past the process's file size limit raises SIGXFSZ, which by default ends the
// program half-way through a save. Held back (and then taken away) while a save writes, so
// that the write fails with EFBIG and the old content can be put back.
class TSizeSignalHeld {
 public:
  TSizeSignalHeld() {
    sigemptyset(&signal_);
    sigaddset(&signal_, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &signal_, &previous_);
  }
  ~TSizeSignalHeld() {
    if (!sigismember(&previous_, SIGXFSZ)) {  // one already held back is the caller's
      const timespec none{};
      while (sigtimedwait(&signal_, nullptr, &none) == SIGXFSZ) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  TSizeSignalHeld(const TSizeSignalHeld&) = delete;
  TSizeSignalHeld& operator=(const TSizeSignalHeld&) = delete;

 private:
  sigset_t signal_{}, previous_{};
};

// 0, or the error that stopped the text from being stored whole.
int Store(int fd, const std::string& text) {
  const TSizeSignalHeld held;
  // Written over the old bytes before the rest is cut, so the space they held stays ours.
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = pwrite(fd, text.data() + done, text.size() - done, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += std::size_t(n);
  }
  if (ftruncate(fd, off_t(text.size())) != 0 || fsync(fd) != 0) return errno;
  return 0;
}

void WriteInPlace(int fd, const std::string& old, const std::string& text,
                  const std::string& path) {
  const int error = Store(fd, text);
  if (error == 0) return;
  if (const int again = Store(fd, old); again != 0) Fail("Cannot restore", path, again);
  Fail("Cannot write", path, error);
}

// --- temporaries -------------------------------------------------------------------------

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
  if (std::strncmp(name, kTemporaryPrefix, prefix) != 0) return false;
  if (std::strlen(name) != prefix + kRandomLength) return false;
  return std::all_of(name + prefix, name + prefix + kRandomLength,
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// Ours and abandoned: a regular file of the saver's that no save holds locked. Anything else
// is never opened (a FIFO would block) and never removed.
void RemoveIfAbandoned(int folder, const char* name) {
  struct stat seen {};
  if (fstatat(folder, name, &seen, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (!S_ISREG(seen.st_mode) || seen.st_uid != geteuid()) return;
  TDescriptor file(openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat opened {};
  if (file.fd < 0 || fstat(file.fd, &opened) != 0 || !SameFile(seen, opened)) return;
  if (flock(file.fd, LOCK_EX | LOCK_NB) != 0) return;
  struct stat now {};  // still under that name (its save may have just renamed it)
  if (fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(now, opened)) {
    unlinkat(folder, name, 0);
  }
}

// A temporary that nobody holds locked was left by a save that died.
void RemoveStaleTemporaries(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    if (IsTemporaryName(entry->d_name)) RemoveIfAbandoned(dirfd(dir), entry->d_name);
  }
  closedir(dir);
}

// A locked temporary in a folder: anonymous (no name) where the file system allows it, so
// that a save killed half-way leaves nothing behind. Removed unless Keep() is called.
class TTemporary {
 public:
  TTemporary(const std::string& folder, const std::string& path, mode_t mode = 0666)
      : folder_(folder), path_(path), mode_(mode) {}
  ~TTemporary() {
    if (!name_.empty() && !kept_) unlink(name_.c_str());
  }
  TTemporary(const TTemporary&) = delete;
  TTemporary& operator=(const TTemporary&) = delete;

  // 0, or the error that stopped its creation.
  int Create() {
    RemoveStaleTemporaries(folder_);
    // A nameless file gets its name through /proc, which a chroot or container may lack.
    if (access("/proc/self/fd", F_OK) != 0) return CreateNamed();
    // The umask applies to the 0666 here, as it does to any new file.
    file_.fd = open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode_);
    if (file_.fd >= 0) {
      flock(file_.fd, LOCK_EX | LOCK_NB);  // nameless: nobody else can hold it
      return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    return CreateNamed();
  }
  int fd() const { return file_.fd; }
  // Gives it a name of its own, or the one given (false when that is taken).
  bool Link(const std::string& name);
  void Keep() { kept_ = true; }
  const std::string& Name() const { return name_; }

 private:
  int CreateNamed();

  std::string folder_, path_, name_;
  mode_t mode_;
  TDescriptor file_{-1};
  bool kept_ = false;
};

int TTemporary::CreateNamed() {
  for (;;) {
    const std::string name = folder_ + "/" + RandomName();
    TDescriptor file(open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode_));
    if (file.fd < 0 && errno == EEXIST) continue;
    if (file.fd < 0) return errno;
    // Locked, so no other save takes it for stale; it may have done so just before.
    if (flock(file.fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) continue;
    struct stat st {};
    if (fstat(file.fd, &st) == 0 && st.st_nlink > 0) {
      name_ = name;
      file_.fd = file.Release();
      return 0;
    }
  }
}

bool TTemporary::Link(const std::string& name) {
  if (!name_.empty()) {
    if (name.empty()) return true;
    if (link(name_.c_str(), name.c_str()) != 0) {
      if (errno == EEXIST) return false;
      Fail("Cannot write", path_, errno);
    }
    unlink(name_.c_str());
    name_ = name;
    return true;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(file_.fd);
  for (;;) {
    const std::string target = name.empty() ? folder_ + "/" + RandomName() : name;
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      name_ = target;
      return true;
    }
    if (errno != EEXIST) Fail("Cannot write", path_, errno);
    if (!name.empty()) return false;
  }
}

void WriteAll(int fd, const std::string& text, const std::string& path) {
  if (const int error = Store(fd, text); error != 0) Fail("Cannot write", path, error);
}

void SyncFolder(const std::string& folder) {
  TDescriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd >= 0) fsync(dir.fd);
}

// Replaces the file by rename when that loses nothing; false, with the file untouched, when it
// would.
bool ReplaceWhole(int file, const struct stat& old, const std::string& target,
                  const std::string& text) {
  const std::string folder = FolderOf(target);
  if (old.st_nlink != 1 || faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    return false;
  }
  TTemporary temp(folder, target);
  if (temp.Create() != 0 || !CarryOver(file, old, temp.fd())) return false;
  WriteAll(temp.fd(), text, target);
  temp.Link("");
  // A folder may refuse it yet (sticky, or the file is a mount point): write in place.
  if (rename(temp.Name().c_str(), target.c_str()) != 0) return false;
  temp.Keep();
  SyncFolder(folder);
  return true;
}

// Creates the file whole under its name; false when another save created it first.
bool CreateWhole(const std::string& target, const std::string& text, const TWriteRules& rules) {
  const std::string folder = FolderOf(target);
  TTemporary temp(folder, target, rules.privateNew ? 0600 : 0666);
  if (const int error = temp.Create(); error != 0) Fail("Cannot write", target, error);
  WriteAll(temp.fd(), text, target);
  if (!temp.Link(target)) return false;
  temp.Keep();
  SyncFolder(folder);
  return true;
}

// The target opened for writing and locked, still under its name; -1 when it has gone or
// been replaced meanwhile.
int OpenLocked(const TWrittenFile& target, const TWriteRules& rules) {
  const int noLink = target.viaProc ? 0 : O_NOFOLLOW;
  TDescriptor file(open(target.path.c_str(), O_RDWR | noLink | O_NONBLOCK | O_CLOEXEC));
  if (file.fd < 0 && (errno == ENOENT || errno == ELOOP)) return -1;
  if (file.fd < 0) Fail("Cannot write", target.path, errno);
  CheckOpened(file.fd, target, rules);
  struct stat opened {};
  if (fstat(file.fd, &opened) != 0) Fail("Cannot write", target.path, errno);
  if (!Lock(file.fd, LOCK_EX)) FailLocked("Cannot write", target.path);
  // Another save may have replaced or removed it while this one waited for the lock.
  struct stat now {};
  if (stat(target.path.c_str(), &now) == 0 && SameFile(now, opened)) return file.Release();
  return -1;
}

}  // namespace

void SetLockWait(std::chrono::milliseconds wait) {
  lockWait = wait.count();
}

TWrittenFile CheckWrittenFile(const std::string& path, const TWriteRules& rules) {
  TWrittenFile file = ResolveLinks(path);
  struct stat st {};
  if (stat(file.path.c_str(), &st) != 0) {
    if (errno == ENOENT && !file.viaProc) return file;
    Fail("Cannot write", file.path, errno);
  }
  file.exists = true;
  CheckWritten(st, file, rules);
  return file;
}

int OpenUserFileToAppend(const std::string& path, const TWriteRules& rules) {
  for (int round = 0;; ++round) {
    const TWrittenFile target = CheckWrittenFile(path, rules);
    int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (!target.viaProc) flags |= O_NOFOLLOW;
    if (!target.exists) flags |= O_CREAT | O_EXCL;
    TDescriptor file(open(target.path.c_str(), flags, rules.privateNew ? 0600 : 0666));
    // Made, removed or replaced by a link since it was checked: checked again.
    const bool changed = errno == (target.exists ? ENOENT : EEXIST) || errno == ELOOP;
    if (file.fd < 0 && changed && round < kMaxLinks) continue;
    if (file.fd < 0) Fail("Cannot write", target.path, errno);
    CheckOpened(file.fd, target, rules);
    return file.Release();
  }
}

std::optional<std::string> ReadUserFile(const std::string& name, std::size_t limit) {
  const std::string path = ResolveLinks(name).path;
  if (!RegularOrAbsent(path, "Cannot read")) return std::nullopt;
  TDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    Fail("Cannot read", path, errno);
  }
  RequireRegular(file.fd, path, "Cannot read");
  if (!Lock(file.fd, LOCK_SH)) FailLocked("Cannot read", path);
  return ReadFrom(file.fd, path, limit);
}

void UpdateUserFile(const std::string& path,
                    const std::function<std::string(const std::string& old)>& edit,
                    const TWriteRules& rules) {
  for (;;) {
    // Again on each round: another program may have put a link where the file was missing.
    const TWrittenFile checked = CheckWrittenFile(path, rules);
    const std::string& target = checked.path;
    if (!checked.exists) {
      if (CreateWhole(target, edit(""), rules)) return;
      continue;
    }
    TDescriptor file(OpenLocked(checked, rules));
    if (file.fd < 0) continue;
    struct stat old {};
    if (fstat(file.fd, &old) != 0) Fail("Cannot write", target, errno);
    // Like a read-only attribute: root may write anywhere, but not over this.
    if ((old.st_mode & 0222) == 0) Fail("Cannot write", target, EACCES);
    const std::string before = ReadFrom(file.fd, target);
    const std::string text = edit(before);
    if (!ReplaceWhole(file.fd, old, target, text)) WriteInPlace(file.fd, before, text, target);
    return;
  }
}

}  // namespace vardelio
