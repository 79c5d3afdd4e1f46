#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>

#include "app/SingleInstance.h"

using namespace vardelio;

namespace {

constexpr uid_t kNobody = 65534;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

// A launch runs on a thread of its own: it waits for the answer that this thread's event loop
// gives.
TInstanceClaim Launch(const std::string& socket, const std::string& file, uid_t owner = getuid()) {
  auto claim = std::async(std::launch::async, [=] { return ClaimInstance(socket, file, owner); });
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return claim.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30000));
  return claim.get();
}

void CloseListener(TInstanceClaim& claim) {
  if (claim.listener >= 0) ::close(claim.listener);
  claim.listener = -1;
}

class Instances : public ::testing::Test {
 protected:
  Instances() : folder(dir.path().toStdString() + "/vardelio") {
    std::filesystem::create_directory(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
  }

  // The running program: what it was handed, in order.
  std::unique_ptr<TInstanceServer> Serve(uid_t owner = getuid()) {
    auto server = std::make_unique<TInstanceServer>(ClaimInstance(socket, ""), owner);
    EXPECT_TRUE(server->Listening());
    server->TakeFiles([this](const std::string& file) { taken.push_back(file); });
    return server;
  }

  QTemporaryDir dir;
  const std::string folder;
  const std::string socket = folder + "/instance";
  std::vector<std::string> taken;
};

TEST(InstanceFolder, OnlyAFolderOfTheUsersOwnThatNoOneElseMayEnter) {
  QTemporaryDir dir;
  const std::string runtime = dir.path().toStdString() + "/run";
  const std::string shared = dir.path().toStdString() + "/tmp";
  const std::string own = runtime + "/vardelio";
  const std::string fallback = shared + "/vardelio-" + std::to_string(getuid());
  const struct {
    const char* what;
    std::function<void()> before;
    const char* runtimeFolder;
    uid_t owner;
    std::string expected;
  } cases[] = {
      {"made in the runtime folder", [] {}, "run", getuid(), own},
      {"kept", [] {}, "run", getuid(), own},
      {"closed to others", [&] { ::chmod(own.c_str(), 0755); }, "run", getuid(), own},
      {"no runtime folder", [] {}, nullptr, getuid(), fallback},
      {"a relative one", [] {}, "relative", getuid(), fallback},
      {"a link in its place",
       [&] {
         std::filesystem::remove(own);
         std::filesystem::create_directory_symlink(shared, own);
       },
       "run", getuid(), fallback},
      {"a file in its place",
       [&] {
         std::filesystem::remove(own);
         std::ofstream(own) << "x";
       },
       "run", getuid(), fallback},
      {"another user's", [] {}, "run", kNobody, ""},
  };
  std::filesystem::create_directories(runtime);
  std::filesystem::create_directories(shared);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.before();
    std::string runtimeFolder;
    if (c.runtimeFolder != nullptr) {
      runtimeFolder = std::string(c.runtimeFolder) == "run" ? runtime : c.runtimeFolder;
    }
    const std::string got = InstanceFolder(
        c.runtimeFolder == nullptr ? nullptr : runtimeFolder.c_str(), c.owner, shared);
    EXPECT_EQ(got, c.expected);
    if (!got.empty()) {
      EXPECT_EQ(ModeOf(got), S_IFDIR | 0700);
    }
  }
}

// One program per user, settings folder and display: each has a socket of its own.
TEST(InstanceSocket, OnePerSettingsFolderAndDisplay) {
  const std::string base = InstanceSocket("/run/user/0/vardelio", "/root/.config/vardelio", ":0");
  EXPECT_EQ(base.rfind("/run/user/0/vardelio/instance-", 0), 0u) << base;
  EXPECT_EQ(base.size(), std::string("/run/user/0/vardelio/instance-").size() + 16);
  EXPECT_EQ(InstanceSocket("/run/user/0/vardelio", "/root/.config/vardelio", ":0"), base);
  for (const std::string& other :
       {InstanceSocket("/run/user/0/vardelio", "/tmp/trial/vardelio", ":0"),
        InstanceSocket("/run/user/0/vardelio", "/root/.config/vardelio", ":1"),
        InstanceSocket("/run/user/0/vardelio", "/root/.config/vardelio", "wayland-0"),
        InstanceSocket("/run/user/0/vardelio", "/root/.config/vardelio:0", "")}) {
    EXPECT_NE(other, base);
  }
  EXPECT_EQ(InstanceSocket("", "/root/.config/vardelio", ":0"), "");
  EXPECT_FALSE(ClaimInstance("", "/a.vardelio").handedOver);
  EXPECT_EQ(ClaimInstance("", "/a.vardelio").listener, -1);
}

TEST_F(Instances, TheFirstListensAndTheNextHandsItsFileOverAndEnds) {
  auto server = Serve();
  EXPECT_EQ(ModeOf(socket), S_IFSOCK | 0600);
  const std::string latin1 =
      "/home/ana/N\xFA\xF1"
      "ez.vardelio";  // not UTF-8
  const std::string longest(PATH_MAX - 1, 'x');
  for (const std::string& file :
       {std::string("/a b/cliente.vardelio"), latin1, std::string(), "/" + longest.substr(1)}) {
    TInstanceClaim claim = Launch(socket, file);
    EXPECT_TRUE(claim.handedOver);
    EXPECT_EQ(claim.listener, -1);
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return taken.size() == 4; }));
  EXPECT_EQ(taken, (std::vector<std::string>{"/a b/cliente.vardelio", latin1, "",
                                             "/" + longest.substr(1)}));
  // Its end frees the place for the next program.
  server.reset();
  EXPECT_FALSE(std::filesystem::exists(socket));
  TInstanceClaim next = Launch(socket, "/b.vardelio");
  EXPECT_FALSE(next.handedOver);
  EXPECT_GE(next.listener, 0);
  CloseListener(next);
}

// The socket of a program that ended (killed, or its machine lost power) does not keep the
// next one from starting; whatever sits in the socket's place in the user's folder is replaced.
TEST_F(Instances, WhatAProgramThatEndedLeftBehindIsReplaced) {
  const std::string& path = socket;
  const struct {
    const char* what;
    std::function<void()> leave;
  } cases[] = {
      {"a socket nobody listens on",
       [&] {
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::copy(path.begin(), path.end(), address.sun_path);
         ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         ::close(fd);
       }},
      {"a listener that ended",
       [&] {
         TInstanceClaim old = ClaimInstance(socket, "");
         ASSERT_GE(old.listener, 0);
         CloseListener(old);
       }},
      {"a plain file", [&] { std::ofstream(path) << "x"; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path);
    c.leave();
    ASSERT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(path)));
    taken.clear();
    auto server = std::make_unique<TInstanceServer>(Launch(socket, "/mine.vardelio"));
    ASSERT_TRUE(server->Listening());
    server->TakeFiles([this](const std::string& file) { taken.push_back(file); });
    EXPECT_TRUE(Launch(socket, "/next.vardelio").handedOver);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !taken.empty(); }));
    EXPECT_EQ(taken, std::vector<std::string>{"/next.vardelio"});
  }
}

// The running program is another user's, or a launch is: nothing is handed either way, and
// neither side's socket is removed. The running program's side is the real kernel check, with
// the user it accepts changed, as the tests run as root.
TEST_F(Instances, NoFileCrossesBetweenUsers) {
  for (const bool serverForeign : {true, false}) {
    SCOPED_TRACE(serverForeign ? "the launch is another user's" : "the program is");
    taken.clear();
    auto server = Serve(serverForeign ? kNobody : getuid());
    TInstanceClaim claim = Launch(socket, "/secret.vardelio", serverForeign ? getuid() : kNobody);
    EXPECT_FALSE(claim.handedOver);
    EXPECT_EQ(claim.listener, -1);  // runs on its own rather than take the place
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(socket)));
    QCoreApplication::processEvents();
    EXPECT_TRUE(taken.empty());
    if (serverForeign) continue;
    // The program's own user still gets through, and only that launch's file came.
    EXPECT_TRUE(Launch(socket, "/mine.vardelio").handedOver);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !taken.empty(); }));
    EXPECT_EQ(taken, std::vector<std::string>{"/mine.vardelio"});
  }
}

// Another user's process, for real: the user's folder does not let it reach the socket.
TEST_F(Instances, AnotherUsersProcessCannotReachTheSocket) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to become another user";
  auto server = Serve();
  ::chmod(dir.path().toLocal8Bit().constData(), 0755);  // only the user's folder is closed
  const std::string& path = socket;
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(3);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::copy(path.begin(), path.end(), address.sun_path);
    const bool reached = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::_exit(reached ? 1 : errno == EACCES ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The window's answer to a file may be a box: files handed over meanwhile wait their turn and
// come in order, one at a time.
TEST_F(Instances, FilesComeOneAtATimeWhileTheWindowAsks) {
  auto server = std::make_unique<TInstanceServer>(ClaimInstance(socket, ""));
  int depth = 0;
  int deepest = 0;
  server->TakeFiles([&](const std::string& file) {
    ++depth;
    deepest = std::max(deepest, depth);
    taken.push_back(file);
    if (file == "/first") {
      // A box: its own event loop, in which two more launches are answered.
      EXPECT_TRUE(Launch(socket, "/second").handedOver);
      EXPECT_TRUE(Launch(socket, "/third").handedOver);
      QTest::qWait(0);
    }
    --depth;
  });
  EXPECT_TRUE(Launch(socket, "/first").handedOver);
  ASSERT_TRUE(QTest::qWaitFor([&] { return taken.size() == 3; }));
  EXPECT_EQ(taken, (std::vector<std::string>{"/first", "/second", "/third"}));
  EXPECT_EQ(deepest, 1);
}

// A launch while the window is still being made (a box about the port may be up) is answered
// at once; its file waits for the window.
TEST_F(Instances, ALaunchBeforeTheWindowTakesFilesIsAnsweredAndKept) {
  auto server = std::make_unique<TInstanceServer>(ClaimInstance(socket, ""));
  EXPECT_TRUE(Launch(socket, "/early.vardelio").handedOver);
  QTest::qWait(0);
  server->TakeFiles([this](const std::string& file) { taken.push_back(file); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !taken.empty(); }));
  EXPECT_EQ(taken, std::vector<std::string>{"/early.vardelio"});
}

// Once the window takes no more files (the program is ending), a launch is not told that its
// file was taken, which would end it with the file opened nowhere: it runs on its own.
TEST_F(Instances, AProgramThatTakesNoMoreFilesLetsTheNextLaunchRun) {
  auto server = Serve();
  server->TakeFiles({});
  TInstanceClaim claim = Launch(socket, "/late.vardelio");
  EXPECT_FALSE(claim.handedOver);
  EXPECT_GE(claim.listener, 0);
  QCoreApplication::processEvents();
  EXPECT_TRUE(taken.empty());
  // The ending program leaves the new one's socket in place.
  server.reset();
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(socket)));
  CloseListener(claim);
}

}  // namespace
