#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <thread>

#include "PtyPair.h"
#include "SettingsFile.h"
#include "app/SingleInstance.h"
#include "programming/ProgrammingFile.h"

using namespace vardelio;
using vardelio::test::ReadAll;

namespace {

const std::string kProgram = VARDELIO_PROGRAM;
const std::string kLatin1 =
    "N\xFA\xF1"
    "ez.vardelio";  // as an old system wrote it: not UTF-8

// The built program, started with arguments as bytes (as a shell passes them), its output in
// files and, when given, a limit on the size of the files it writes.
class TProgram {
 public:
  TProgram(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
           const std::string& folder, const std::string& output,
           std::optional<rlim_t> fileSizeLimit = std::nullopt, bool folderGone = false)
      : output_(output) {
    std::vector<std::string> argv = {kProgram};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp;
    for (const auto& [name, value] : env)
      envp.push_back(name + "=" + value);
    std::vector<char*> argp, envpp;
    for (auto& a : argv)
      argp.push_back(a.data());
    argp.push_back(nullptr);
    for (auto& e : envp)
      envpp.push_back(e.data());
    envpp.push_back(nullptr);
    const std::string out = output + ".out", err = output + ".err";
    pid_ = ::fork();
    if (pid_ == 0) {  // only calls that are safe after a fork
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 || ::chdir(folder.c_str()) != 0)
        ::_exit(126);
      if (folderGone && ::rmdir(folder.c_str()) != 0)
        ::_exit(126);  // started from a deleted folder
      if (fileSizeLimit) {
        const rlimit limit{*fileSizeLimit, *fileSizeLimit};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
      }
      ::execve(argp[0], argp.data(), envpp.data());
      ::_exit(127);
    }
  }
  ~TProgram() {
    if (!status_) Kill(SIGKILL);
  }

  bool Running() {
    if (!status_) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    }
    return !status_;
  }
  // The wait status once it has ended; nothing if it is still running after `limit`.
  std::optional<int> Ended(std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (Running() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return status_;
  }
  std::optional<int> Kill(int signal) {
    ::kill(pid_, signal);
    return Ended();
  }
  std::string Out() const { return ReadAll(output_ + ".out"); }
  std::string Errors() const { return ReadAll(output_ + ".err"); }

 private:
  pid_t pid_ = -1;
  std::string output_;
  std::optional<int> status_;
};

std::uintmax_t SizeOf(const std::string& path) {
  std::error_code missing;
  return std::filesystem::file_size(path, missing);  // -1 when missing
}

bool ExitedWith(std::optional<int> status, int code) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}
bool KilledBy(std::optional<int> status, int signal) {
  return status && WIFSIGNALED(*status) && WTERMSIG(*status) == signal;
}

// A user of their own: runtime and settings folders, a working folder, and the port on a
// pseudo-terminal.
class Program : public ::testing::Test {
 protected:
  Program() {
    std::filesystem::create_directories(Config() + "/vardelio");
    std::ofstream(Config() + "/vardelio/comporttest.ini")
        << "[ComPort1]\nPort=" << line.DevicePath() << "\n";
    env = {{"PATH", "/usr/bin:/bin"},
           {"HOME", home.path().toStdString()},
           {"XDG_RUNTIME_DIR", home.path().toStdString() + "/run"},
           {"XDG_CONFIG_HOME", Config()},
           {"QT_QPA_PLATFORM", "offscreen"},
           {"LANG", "C.UTF-8"}};
    std::filesystem::create_directories(home.path().toStdString() + "/run");
    std::filesystem::permissions(home.path().toStdString() + "/run",
                                 std::filesystem::perms::owner_all);
    std::filesystem::create_directories(Work());
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
      if (const char* options = std::getenv(name)) env[name] = options;
    }
  }

  std::string Config() const { return home.path().toStdString() + "/config"; }
  std::string Work() const { return home.path().toStdString() + "/work"; }
  std::string RecentList() const { return ReadAll(Config() + "/vardelio/recent-files"); }

  std::unique_ptr<TProgram> Start(const std::vector<std::string>& args,
                                  std::optional<rlim_t> fileSizeLimit = std::nullopt,
                                  std::string folder = {}, bool folderGone = false) {
    return std::make_unique<TProgram>(args, env, folder.empty() ? Work() : folder,
                                      home.path().toStdString() + "/" + std::to_string(++runs),
                                      fileSizeLimit, folderGone);
  }
  void WriteGood(const std::string& path, const char* subscriber = "1B2C") {
    std::ofstream(path) << ProgrammingFileText(
        {subscriber, "12,34", "#9", TTerminalBlock::tbIncendio, TTestReport::tr7Dias});
  }
  // The running program has opened the file: it heads the recent list.
  bool Opened(const std::string& path) {
    return QTest::qWaitFor([&] { return RecentList().rfind(path + "\n", 0) == 0; }, 30000);
  }

  // Where the program listens: no display, the settings in Config().
  std::string Socket() {
    return InstanceSocket(InstanceFolder(env["XDG_RUNTIME_DIR"].c_str()), Config() + "/vardelio",
                          "");
  }
  // The first program listens: from then on it is the one a start finds.
  bool Listening() {
    return QTest::qWaitFor([&] { return std::filesystem::is_socket(Socket()); }, 30000);
  }

  QTemporaryDir home;
  test::TPtyPair line;
  std::map<std::string, std::string> env;
  int runs = 0;
};

// Every start pays for the libraries the program needs: those only printing needs come with the
// print module, when first asked for.
QString NeededLibraries(const std::string& file) {
  QProcess readelf;
  readelf.start("readelf", {"-d", QString::fromStdString(file)});
  return readelf.waitForFinished(60000) ? QString::fromUtf8(readelf.readAllStandardOutput())
                                        : QString();
}

TEST(ProgramLinks, ThePrintSupportLibrariesAreNotLoadedAtStart) {
  const QString needed = NeededLibraries(kProgram);
  ASSERT_TRUE(needed.contains("libQt6Widgets")) << needed.toStdString();
  EXPECT_FALSE(needed.contains("PrintSupport")) << needed.toStdString();
}

// A shared object names the C library it runs on, though the print module calls none of it
// directly: linked as needed, it did not, which the package's checker refuses.
TEST(ProgramLinks, ThePrintModuleNamesTheCLibrary) {
  const std::string module = std::filesystem::path(kProgram).parent_path() / "libvardelio-print.so";
  const QString needed = NeededLibraries(module);
  ASSERT_TRUE(needed.contains("libQt6PrintSupport")) << needed.toStdString();
  EXPECT_TRUE(needed.contains("[libc.so.6]")) << needed.toStdString();
}

// What is answered before the window system is touched needs no display: a program that
// reached it would end on the missing one.
TEST_F(Program, ItsArgumentsAreAnsweredWithoutADisplay) {
  env["QT_QPA_PLATFORM"] = "xcb";
  env.erase("DISPLAY");
  const std::string hint = "Try 'vardelio --help' for more information.\n";
  const struct {
    std::vector<std::string> args;
    int code;
    std::string out;     // a part of it
    std::string errors;  // all of it
  } cases[] = {
      {{"--help"}, 0, "Usage: vardelio [--trace FILE] [FILE]\n", ""},
      {{"-h"}, 0, "sudo usermod -aG dialout", ""},
      {{"--version"}, 0, "vardelio 1.0\n", ""},
      {{"--bogus"}, 2, "", "vardelio: unknown option --bogus\n" + hint},
      {{"a.vardelio", "b.vardelio"}, 2, "", "vardelio: more than one file\n" + hint},
      {{"--trace"}, 2, "", "vardelio: missing file for --trace\n" + hint},
      {{kLatin1, "--trace"}, 2, "", "vardelio: missing file for --trace\n" + hint},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    auto program = Start(c.args);
    EXPECT_TRUE(ExitedWith(program->Ended(), c.code));
    EXPECT_NE(program->Out().find(c.out), std::string::npos) << program->Out();
    EXPECT_EQ(program->Errors(), c.errors);
  }
}

// One program per user: a second start, from another folder, with or without a file, hands
// it to the running window and ends; the running one opens it. A socket left by a program
// that was killed does not stop the first from starting.
TEST_F(Program, ASecondStartHandsItsFileToTheRunningWindow) {
  const std::string other = home.path().toStdString() + "/otro";
  std::filesystem::create_directories(other);
  WriteGood(Work() + "/" + kLatin1);
  WriteGood(other + "/segundo.vardelio", "FFFF");
  for (const bool leftOver : {false, true}) {
    SCOPED_TRACE(leftOver ? "a socket left behind" : "first start");
    std::filesystem::remove(Config() + "/vardelio/recent-files");
    if (leftOver) {  // as a program killed outright leaves it
      const TInstanceClaim old = ClaimInstance(Socket(), "");
      ASSERT_GE(old.listener, 0);
      ::close(old.listener);
    }
    auto first = Start({kLatin1});  // relative, and not UTF-8
    ASSERT_TRUE(Opened(Work() + "/" + kLatin1)) << RecentList();
    EXPECT_TRUE(ClaimInstance(Socket(), "").handedOver);  // in the left socket's place
    auto second = Start({"segundo.vardelio"}, std::nullopt, other);
    EXPECT_TRUE(ExitedWith(second->Ended(), 0));
    EXPECT_TRUE(Opened(other + "/segundo.vardelio")) << RecentList();
    EXPECT_EQ(RecentList(), other + "/segundo.vardelio\n" + Work() + "/" + kLatin1 + "\n");
    auto third = Start({});  // only brings the window up
    EXPECT_TRUE(ExitedWith(third->Ended(), 0));
    EXPECT_EQ(second->Out() + second->Errors() + third->Out() + third->Errors(), "");
    // A trace is not handed over: the running window's menu starts one.
    auto traced = Start({"--trace", "linea.log"});
    EXPECT_TRUE(ExitedWith(traced->Ended(), 0));
    EXPECT_NE(traced->Errors().find("already running"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Work() + "/linea.log"));
    EXPECT_TRUE(first->Running());
    EXPECT_TRUE(KilledBy(first->Kill(SIGTERM), SIGTERM));
  }
}

// A file that is not there is said so in a box; the program goes on and takes the next file.
TEST_F(Program, AMissingFileLeavesTheProgramRunning) {
  WriteGood(Work() + "/cliente.vardelio");
  auto first = Start({"/no/such/folder/x.vardelio"});
  ASSERT_TRUE(Listening());
  auto second = Start({"cliente.vardelio"});
  EXPECT_TRUE(ExitedWith(second->Ended(), 0));
  ASSERT_TRUE(Opened(Work() + "/cliente.vardelio"));
  EXPECT_EQ(RecentList(), Work() + "/cliente.vardelio\n");
  EXPECT_TRUE(first->Running());
  EXPECT_TRUE(KilledBy(first->Kill(SIGTERM), SIGTERM));
}

// A name relative to a folder that is gone names no file: it is refused, never handed to the
// running window, which would find another customer's file of that name in its own folder.
TEST_F(Program, ARelativeNameFromAFolderThatIsGoneIsRefused) {
  WriteGood(Work() + "/cliente.vardelio");
  auto first = Start({});
  ASSERT_TRUE(Listening());
  const std::string gone = home.path().toStdString() + "/borrada";
  std::filesystem::create_directories(gone);
  auto second = Start({"cliente.vardelio"}, std::nullopt, gone, true);
  EXPECT_TRUE(ExitedWith(second->Ended(), 2));
  EXPECT_EQ(second->Errors(),
            "vardelio: cliente.vardelio: the current folder no longer exists; give the file's "
            "full path\n");
  auto third = Start({});  // answered only once the first is done with what came before
  EXPECT_TRUE(ExitedWith(third->Ended(), 0));
  EXPECT_EQ(RecentList(), "");
  EXPECT_TRUE(KilledBy(first->Kill(SIGTERM), SIGTERM));
}

// The port's error is shown while the window is being made: a start meanwhile is answered
// at once, not left to wait and then start a window of its own on the same port.
TEST_F(Program, AStartWhileTheFirstShowsAPortErrorIsAnswered) {
  std::ofstream(Config() + "/vardelio/comporttest.ini") << "[ComPort1]\nPort=/dev/no-such-tty\n";
  WriteGood(Work() + "/cliente.vardelio");
  auto first = Start({});
  ASSERT_TRUE(Listening());
  auto second = Start({"cliente.vardelio"});
  EXPECT_TRUE(ExitedWith(second->Ended(), 0));
  EXPECT_TRUE(first->Running());
}

// A trace on a file that reaches the user's file size limit stops; the program is not ended
// by the limit's signal, and answers afterwards. In Spanish, the catalog's private copy cannot
// be written either: the program goes on in English.
TEST_F(Program, ATraceAtTheFileSizeLimitDoesNotEndTheProgram) {
  constexpr rlim_t kLimit = 16;  // less than the trace's first line and than a catalog
  for (const char* language : {"C.UTF-8", "es_AR.UTF-8"}) {
    SCOPED_TRACE(language);
    env["LANG"] = language;
    const std::string trace = Work() + "/linea-" + language + ".log";
    auto program = Start({"--trace", trace}, kLimit);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !program->Running() || SizeOf(trace) == kLimit; }, 30000));
    // The write past the limit follows at once; the program is still there to answer after it.
    auto later = Start({});
    EXPECT_TRUE(ExitedWith(later->Ended(), 0));
    EXPECT_TRUE(program->Running());
    EXPECT_EQ(SizeOf(trace), kLimit);
    EXPECT_TRUE(KilledBy(program->Kill(SIGTERM), SIGTERM));
  }
}

}  // namespace
