// Saving the settings file as other users and other programs meet it: owners, groups, ACLs,
// links, a second program saving at once, a disk that takes only part of a save.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

#include "SettingsFile.h"
#include "portconfig/ProfileFile.h"

using namespace vardelio;
using vardelio::test::ReadAll;

namespace {

struct stat Stat(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st;
}

// The flags chattr sets; -1 where the file system has none.
int InodeFlags(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  int flags = -1;
  if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) flags = -1;
  if (fd >= 0) close(fd);
  return flags;
}

bool SetInodeFlags(const std::string& path, int flags) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  const bool set = fd >= 0 && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) close(fd);
  return set;
}

std::string Attribute(const std::string& path, const char* name) {
  char value[256];
  const ssize_t n = getxattr(path.c_str(), name, value, sizeof value);
  return n < 0 ? std::string("(none)") : std::string(value, std::size_t(n));
}

// An access ACL: owner rw, user 4000 r, group r, mask r, others r (the kernel's xattr form).
std::string AccessAcl() {
  struct Entry {
    std::uint16_t tag, perm;
    std::uint32_t id;
  };
  const Entry entries[] = {
      {0x01, 6, ~0u}, {0x02, 4, 4000}, {0x04, 4, ~0u}, {0x10, 4, ~0u}, {0x20, 4, ~0u}};
  const std::uint32_t version = 2;
  std::string acl(reinterpret_cast<const char*>(&version), sizeof version);
  acl.append(reinterpret_cast<const char*>(entries), sizeof entries);
  return acl;
}

class UserFile : public ::testing::Test {
 protected:
  void SetUp() override {
    chmod(folder.path().toLocal8Bit().constData(), 0755);  // other users may pass through
  }
  std::string Path(const std::string& name) const {
    return folder.path().toStdString() + "/" + name;
  }
  QTemporaryDir folder;
};

constexpr uid_t kOwner = 1234, kMember = 1235;
constexpr gid_t kGroup = 4321;
const std::string kOld = "[ComPort1]\nPort=COM7\n\n[Keep]\nA=1\n";

struct TSaveCase {
  const char* name;
  uid_t fileUid = 0;
  gid_t fileGid = 0;
  mode_t fileMode = 0644;
  uid_t folderUid = 0;
  mode_t folderMode = 0755;
  uid_t saverUid = 0;
  gid_t saverGid = 0;
  std::vector<gid_t> saverGroups = {};
  bool attributes = false;   // a user.* attribute and an ACL
  bool folderAcl = false;    // a default ACL on the folder, which the file does not have
  bool throughLink = false;  // saved through a link in a folder of the saver's
  bool hardLink = false;
  int inodeFlags = 0;        // added with chattr
  rlim_t sizeLimit = 0;      // the largest file the saver may write
  bool sizeSignal = false;   // a write past it raises SIGXFSZ, which ends a program by default
  bool withoutProc = false;  // in a chroot or container that has no /proc
  bool saved = true;
  bool replaced = false;  // a new file took its place (else the same file was rewritten)
};

const TSaveCase kSaveCases[] = {
    {.name = "root, with an ACL and an attribute", .attributes = true, .replaced = true},
    {.name = "its owner, with an ACL and an attribute",
     .fileUid = kOwner,
     .fileGid = kOwner,
     .folderUid = kOwner,
     .saverUid = kOwner,
     .saverGid = kOwner,
     .attributes = true,
     .replaced = true},
    {.name = "a member of its group",
     .fileGid = kGroup,
     .fileMode = 0664,
     .folderMode = 0777,
     .saverUid = kMember,
     .saverGid = kMember,
     .saverGroups = {kGroup}},
    {.name = "a member of its group, no write bit for the group",
     .fileGid = kGroup,
     .folderMode = 0777,
     .saverUid = kMember,
     .saverGid = kMember,
     .saverGroups = {kGroup},
     .saved = false},
    {.name = "its owner, through a link, in a folder they cannot write",
     .fileUid = kOwner,
     .fileGid = kOwner,
     .saverUid = kOwner,
     .saverGid = kOwner,
     .throughLink = true},
    {.name = "root, in a folder whose default ACL the file lacks",
     .folderAcl = true,
     .replaced = true},
    {.name = "root, a file with a second hard link", .hardLink = true},
    {.name = "root, a file that backups skip and whose reads leave no time",
     .inodeFlags = FS_NODUMP_FL | FS_NOATIME_FL,
     .replaced = true},
    {.name = "its owner, a file that backups skip",
     .fileUid = kOwner,
     .fileGid = kOwner,
     .folderUid = kOwner,
     .saverUid = kOwner,
     .saverGid = kOwner,
     .inodeFlags = FS_NODUMP_FL,
     .replaced = true},
    {.name = "root, in place, on a disk that takes part of it",
     .hardLink = true,
     .sizeLimit = 100,
     .saved = false},
    {.name = "root, by rename, on a disk that takes part of it", .sizeLimit = 100, .saved = false},
    {.name = "its owner, where /proc is not mounted",
     .fileUid = kOwner,
     .fileGid = kOwner,
     .folderUid = kOwner,
     .saverUid = kOwner,
     .saverGid = kOwner,
     .withoutProc = true,
     .replaced = true},
    {.name = "root, in place, past a size limit whose signal ends programs",
     .hardLink = true,
     .sizeLimit = 100,
     .sizeSignal = true,
     .saved = false},
    {.name = "root, by rename, past a size limit whose signal ends programs",
     .sizeLimit = 100,
     .sizeSignal = true,
     .saved = false},
};

constexpr int kNoNamespace = 4;  // the child could not leave /proc behind

// Runs action in a child process that acts as the case's saver; its exit code.
int RunAs(const TSaveCase& c, const std::function<void()>& action) {
  const pid_t child = fork();
  if (child == 0) {
    if (c.withoutProc && (unshare(CLONE_NEWNS) != 0 ||
                          mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                          umount2("/proc", MNT_DETACH) != 0)) {
      _exit(kNoNamespace);
    }
    if (setgroups(c.saverGroups.size(), c.saverGroups.data()) != 0 ||
        setresgid(c.saverGid, c.saverGid, c.saverGid) != 0 ||
        setresuid(c.saverUid, c.saverUid, c.saverUid) != 0) {
      _exit(3);
    }
    if (c.sizeLimit > 0) {
      if (!c.sizeSignal) signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG
      const rlimit limit{c.sizeLimit, c.sizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    try {
      action();
    } catch (const EProfileError&) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

bool AttributesSupported(const std::string& folder) {
  const std::string probe = folder + "/probe";
  std::ofstream(probe) << "";
  const std::string acl = AccessAcl();
  const bool supported =
      setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0 &&
      setxattr(probe.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
  std::filesystem::remove(probe);
  return supported;
}

TEST_F(UserFile, WhoeverSavesKeepsOwnerGroupModeAttributesAndLinks) {
  if (geteuid() != 0) GTEST_SKIP() << "acting as other users needs root";
  const bool attributes = AttributesSupported(folder.path().toStdString());
  const std::string value = std::string(300, 'v');  // past the size limit of its rows
  int index = 0;
  for (const TSaveCase& c : kSaveCases) {
    SCOPED_TRACE(c.name);
    if ((c.attributes || c.folderAcl) && !attributes) {
      std::cout << "skipped \"" << c.name << "\": no user attributes or ACLs on this file system\n";
      continue;
    }
    const std::string dir = Path(std::to_string(++index));
    std::filesystem::create_directory(dir);
    const std::string file = dir + "/s.ini";
    std::ofstream(file) << kOld;
    ASSERT_EQ(chown(file.c_str(), c.fileUid, c.fileGid), 0);
    ASSERT_EQ(chmod(file.c_str(), c.fileMode), 0);
    if (c.attributes) {
      ASSERT_EQ(setxattr(file.c_str(), "user.comment", "kept", 4, 0), 0);
      const std::string acl = AccessAcl();
      ASSERT_EQ(setxattr(file.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
    }
    if (c.folderAcl) {
      const std::string acl = AccessAcl();
      ASSERT_EQ(setxattr(dir.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0), 0);
    }
    const int flags = InodeFlags(file) | c.inodeFlags;
    if (c.inodeFlags != 0 && (flags < 0 || !SetInodeFlags(file, flags))) {
      std::cout << "skipped \"" << c.name << "\": no such file flags on this file system\n";
      continue;
    }
    if (c.hardLink) link(file.c_str(), (dir + "/other-name").c_str());
    ASSERT_EQ(chown(dir.c_str(), c.folderUid, c.folderUid), 0);
    ASSERT_EQ(chmod(dir.c_str(), c.folderMode), 0);
    std::string savedAs = file;
    if (c.throughLink) {
      std::filesystem::create_directory(dir + "-link");
      savedAs = dir + "-link/s.ini";
      std::filesystem::create_symlink(file, savedAs);
    }
    const struct stat before = Stat(file);
    const std::string acl = Attribute(file, "system.posix_acl_access");

    const int code = RunAs(c, [&] { WriteProfileString(savedAs, "ComPort1", "Port", value); });
    if (code == kNoNamespace) {
      std::cout << "skipped \"" << c.name << "\": no mount namespace can be made here\n";
      continue;
    }
    EXPECT_EQ(code, c.saved ? 0 : 1);

    const struct stat after = Stat(file);
    EXPECT_EQ(after.st_uid, c.fileUid);
    EXPECT_EQ(after.st_gid, c.fileGid);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_ino != before.st_ino, c.replaced);
    if (c.saved) {
      EXPECT_EQ(ReadAll(file), "[ComPort1]\nPort=" + value + "\n\n[Keep]\nA=1\n");
    } else {
      EXPECT_EQ(ReadAll(file), kOld);
    }
    if (c.attributes) {
      EXPECT_EQ(Attribute(file, "user.comment"), "kept");
    }
    EXPECT_EQ(Attribute(file, "system.posix_acl_access"), acl);
    if (c.inodeFlags != 0) {
      EXPECT_EQ(InodeFlags(file), flags);
    }
    if (c.hardLink) {
      EXPECT_EQ(ReadAll(dir + "/other-name"), ReadAll(file));
    }
    if (c.throughLink) {
      EXPECT_TRUE(std::filesystem::is_symlink(savedAs));
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      EXPECT_FALSE(entry.path().filename().string().starts_with(".vardelio-")) << entry.path();
  }
}

// Another program (a dot-file manager, say) turns the new file's name into a link to a file
// not there yet, while the save creates it: the save follows the link, as it would have.
TEST_F(UserFile, ANameThatBecomesADanglingLinkDuringASaveIsFollowed) {
  const std::string file = Path("s.ini");
  int edits = 0;
  UpdateUserFile(file, [&](const std::string& old) {
    if (++edits == 1) std::filesystem::create_symlink("kept/s.ini", file);
    if (edits == 1) std::filesystem::create_directory(Path("kept"));
    if (edits > 3) throw EProfileError("the save went round in circles");
    return old + "A=1\n";
  });
  EXPECT_TRUE(std::filesystem::is_symlink(file));
  EXPECT_EQ(ReadAll(Path("kept/s.ini")), "A=1\n");
}

// Each save reads, changes and writes the file under a lock, so no key is lost.
TEST_F(UserFile, TwoProgramsSavingAtOnceLoseNoKey) {
  const std::string file = Path("shared.ini");
  constexpr int kKeys = 200;
  std::vector<pid_t> writers;
  for (const char* section : {"First", "Second"}) {
    writers.push_back(fork());
    if (writers.back() == 0) {
      // 200 saves back to back may keep the other waiting longer than a user's two saves.
      SetLockWait(std::chrono::minutes(1));
      for (int i = 0; i < kKeys; ++i)
        WriteProfileString(file, section, "Key" + std::to_string(i), std::to_string(i));
      _exit(0);
    }
  }
  for (const pid_t writer : writers) {
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int found = 0;
  for (const char* section : {"First", "Second"}) {
    for (int i = 0; i < kKeys; ++i)
      found += ReadProfileString(file, section, "Key" + std::to_string(i), "") == std::to_string(i);
  }
  EXPECT_EQ(found, 2 * kKeys);
}

}  // namespace
