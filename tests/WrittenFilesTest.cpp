// Every file the program writes follows one set of rules: each writer (the settings file, a
// programming file, the recent list, the line trace) meets each thing that may stand where it
// writes.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "SettingsFile.h"
#include "app/LineTrace.h"
#include "programming/ProgrammingFile.h"
#include "app/RecentFiles.h"
#include "portconfig/ProfileFile.h"

using namespace vardelio;
using vardelio::test::ReadAll;

namespace {

constexpr uid_t kOther = 4000, kThird = 4001;

struct TWriter {
  const char* name;
  char letter;  // its column in a case's outcome
  // Writes at `file`, a name in the configuration folder; false when it refused.
  std::function<bool(const std::string& file)> write;
  const char* mark;  // what it leaves in the file
  mode_t newMode;    // of a file it creates, under the umask 022
};

// The recent list lives in the configuration folder: the case's folder is made that.
bool AddToRecentList(const std::string& file) {
  const std::string config = file.substr(0, file.rfind("/vardelio/"));
  const std::string before = qgetenv("XDG_CONFIG_HOME").toStdString();
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  const std::string target = RecentFilesPath();
  const QStringList list = AddRecentFile(QStringLiteral("/w/marca.vardelio"));
  setenv("XDG_CONFIG_HOME", before.c_str(), 1);
  EXPECT_EQ(target, file);
  return list.contains(QStringLiteral("/w/marca.vardelio"));  // kept in memory either way
}

const TWriter kWriters[] = {
    {"settings file", 'S',
     [](const std::string& file) {
       try {
         WriteProfileString(file, "ComPort1", "Port", "COM7");
         return true;
       } catch (const EProfileError&) {
         return false;
       }
     },
     "Port=COM7", 0644},
    {"programming file", 'P',
     [](const std::string& file) {
       try {
         SaveProgrammingFile(file, {"1234", "5", "6", {}, {}});
         return true;
       } catch (const EProgrammingFile&) {
         return false;
       }
     },
     "abonado=1234", 0600},
    {"recent list", 'R', AddToRecentList, "/w/marca.vardelio", 0600},
    {"line trace", 'T',
     [](const std::string& file) {
       try {
         TLineTrace trace(file, {});
         trace.Note("OPEN", "marca");
         return true;
       } catch (const EProfileError&) {
         return false;
       }
     },
     "OPEN marca", 0600},
};

void BindSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  close(fd);
}

// A folder of `owner`'s that all may write and none may clean up after others, like /tmp.
void MakeShared(const std::string& folder, uid_t owner) {
  ASSERT_EQ(chown(folder.c_str(), owner, owner), 0);
  ASSERT_EQ(chmod(folder.c_str(), 01777), 0);
}

void MakeFile(const std::string& path, mode_t mode, uid_t owner) {
  std::ofstream(path) << "kept\n";
  ASSERT_EQ(chown(path.c_str(), owner, owner), 0);
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

void MakeLink(const std::string& target, const std::string& link, uid_t owner) {
  std::filesystem::create_symlink(target, link);
  ASSERT_EQ(lchown(link.c_str(), owner, owner), 0);
}

// Where a case's file is: `folder`/recent-files, with `elsewhere` a folder of the writer's
// beside it, and `victim` a file of the writer's there that a link may point at.
struct TPlace {
  std::string folder, file, elsewhere, victim;
  int reader = -1;  // the reading end of a FIFO in the file's place
};

struct TCase {
  const char* name;
  std::function<void(TPlace&)> prepare;
  const char* writes;  // the letters of the writers that write; the others refuse
  char destination;    // 'F' the file itself, 'V' the victim, 'P' the FIFO's reader, '-' none
};

const TCase kCases[] = {
    {"nothing there yet", [](TPlace&) {}, "SPRT", 'F'},
    {"a file of the writer's, for them alone", [](TPlace& p) { MakeFile(p.file, 0600, 0); }, "SPRT",
     'F'},
    {"a file of the writer's that others may read", [](TPlace& p) { MakeFile(p.file, 0644, 0); },
     "SPR", 'F'},
    {"a file of another user's the writer may write",
     [](TPlace& p) { MakeFile(p.file, 0666, kOther); }, "SPR", 'F'},
    {"a file of another user's in a shared folder",
     [](TPlace& p) {
       MakeFile(p.file, 0666, kOther);
       MakeShared(p.folder, 0);
     },
     "", 'F'},
    {"a file of the shared folder's owner",
     [](TPlace& p) {
       MakeFile(p.file, 0666, kOther);
       MakeShared(p.folder, kOther);
     },
     "SPR", 'F'},
    {"a link of the writer's own in another's shared folder",
     [](TPlace& p) {
       MakeLink(p.victim, p.file, 0);
       MakeShared(p.folder, kOther);
     },
     "SPRT", 'V'},
    {"a link another user left in a shared folder",
     [](TPlace& p) {
       MakeLink(p.victim, p.file, kOther);
       MakeShared(p.folder, 0);
     },
     "", 'V'},
    {"a link a third user left in another's shared folder",
     [](TPlace& p) {
       MakeLink(p.victim, p.file, kThird);
       MakeShared(p.folder, kOther);
     },
     "", 'V'},
    {"a link the shared folder's owner left",
     [](TPlace& p) {
       MakeLink(p.victim, p.file, kOther);
       MakeShared(p.folder, kOther);
     },
     "SPRT", 'V'},
    {"a link another user left, to nothing yet",
     [](TPlace& p) {
       std::filesystem::remove(p.victim);
       MakeLink(p.victim, p.file, kOther);
       MakeShared(p.folder, 0);
     },
     "", 'V'},
    {"a FIFO nobody reads", [](TPlace& p) { mkfifo(p.file.c_str(), 0600); }, "", '-'},
    {"a FIFO with a reader",
     [](TPlace& p) {
       mkfifo(p.file.c_str(), 0600);
       p.reader = open(p.file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
     },
     "T", 'P'},
    {"a link to a device", [](TPlace& p) { MakeLink("/dev/null", p.file, 0); }, "", '-'},
    {"a folder", [](TPlace& p) { std::filesystem::create_directory(p.file); }, "", '-'},
    {"a socket", [](TPlace& p) { BindSocket(p.file); }, "", '-'},
};

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, std::size_t(n));
  return text;
}

TEST(WrittenFiles, EveryWriterFollowsTheSameRulesWhateverStandsWhereItWrites) {
  if (geteuid() != 0) GTEST_SKIP() << "links and files of other users need root to make";
  const mode_t umaskBefore = umask(022);
  QTemporaryDir base;
  int round = 0;
  for (const TCase& c : kCases) {
    for (const TWriter& writer : kWriters) {
      SCOPED_TRACE(std::string(c.name) + ", " + writer.name);
      const std::string root = base.filePath(QString::number(++round)).toStdString();
      TPlace place{root + "/vardelio", root + "/vardelio/recent-files", root + "/elsewhere",
                   root + "/elsewhere/victim"};
      std::filesystem::create_directories(place.folder);
      std::filesystem::create_directories(place.elsewhere);
      MakeFile(place.victim, 0600, 0);
      c.prepare(place);
      const std::string destination = c.destination == 'F' ? place.file : place.victim;
      const std::string before = ReadAll(destination);

      const bool expected = std::string(c.writes).find(writer.letter) != std::string::npos;
      const bool written = writer.write(place.file);
      if (writer.letter != 'R') {
        EXPECT_EQ(written, expected);
      }

      std::string after;
      if (c.destination == 'P') after = Drain(place.reader);
      if (c.destination == 'F' || c.destination == 'V') after = ReadAll(destination);
      if (expected) {
        EXPECT_NE(after.find(writer.mark), std::string::npos) << after;
      } else if (c.destination == 'F' || c.destination == 'V') {
        EXPECT_EQ(after, before);
      } else {
        EXPECT_EQ(after.find(writer.mark), std::string::npos);
      }
      if (std::string(c.name) == "nothing there yet") {
        struct stat made {};
        ASSERT_EQ(stat(place.file.c_str(), &made), 0);
        EXPECT_EQ(made.st_mode & 07777, writer.newMode);
      }
      if (place.reader >= 0) close(place.reader);
    }
  }
  umask(umaskBefore);
}

}  // namespace
