#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "FakeComPlatform.h"
#include "SettingsFile.h"
#include "portconfig/Persistence.h"

using namespace vardelio;
using vardelio::test::ReadAll;
using vardelio::test::TFakeComPlatform;

namespace {

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

unsigned Mode(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A socket file at path, as a running program leaves one.
void BindSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  close(fd);
}

// A character device (the null device's numbers), or a FIFO where devices cannot be made.
void MakeNullDevice(const std::string& path) {
  if (mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    std::cout << "no device node can be made here; a FIFO stands in for it\n";
    mkfifo(path.c_str(), 0666);
  }
}

class Persistence : public ::testing::Test {
 protected:
  Persistence() {
    qputenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit());
    SetRegistryFolder(folder.path().toStdString() + "/registry");
    port.SetName(QStringLiteral("ComPort1"));
    port.SetEvents({});
    SetLockWait(std::chrono::milliseconds(100));  // a lock never let go fails quickly
  }
  ~Persistence() override {
    SetRegistryFolder("");
    SetLockWait(std::chrono::seconds(5));
  }
  std::string Path(const char* name) const { return folder.path().toStdString() + "/" + name; }
  int Code(const std::function<void()>& action) {
    try {
      action();
    } catch (const EComPort& e) {
      return e.PortErrorCode();
    }
    return 0;
  }

  QTemporaryDir folder;
  TFakeComPlatform fake;
  TComPort port{nullptr, &fake};
};

TEST_F(Persistence, AFirstSaveWritesTheSixBasicKeysInOrder) {
  SaveSettings(port, ssIniFile, "comporttest.ini");
  EXPECT_EQ(ReadAll(Path("vardelio/comporttest.ini")),
            "[ComPort1]\nPort=COM1\nBaudRate=9600\nStopBits=1\nDataBits=8\nParity=None\n"
            "FlowControl=None\n");
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(250000);
  SaveSettings(port, ssIniFile, "comporttest.ini");
  const std::string saved = ReadAll(Path("vardelio/comporttest.ini"));
  EXPECT_NE(saved.find("BaudRate=Custom\n"), std::string::npos);
  EXPECT_NE(saved.find("CustomBaudRate=250000\n"), std::string::npos);  // added at the end
}

TEST_F(Persistence, OtherSectionsKeysAndLinesAreKept) {
  const std::string file = Path("settings.ini");
  WriteAll(file, "; kept comment\n[Other]\nPort=COM9\n\n[comport1]\nbaudrate=4800\nExtra=1\n");
  SaveSettings(port, ssIniFile, file);
  EXPECT_EQ(ReadAll(file),
            "; kept comment\n[Other]\nPort=COM9\n\n[comport1]\nBaudRate=9600\nExtra=1\n"
            "Port=COM1\nStopBits=1\nDataBits=8\nParity=None\nFlowControl=None\n");
}

TEST_F(Persistence, RestoringReadsEveryKnownFormAndKeepsWhatIsMissing) {
  const std::string file = Path("restore.ini");
  const struct {
    std::string lines;
    std::function<void(const TComPort&)> check;
  } cases[] = {
      {"BaudRate=Custom",
       [](const TComPort& p) {
         EXPECT_EQ(p.BaudRate(), brCustom);
         EXPECT_EQ(p.CustomBaudRate(), 9600);
       }},
      {"BaudRate=custom\nCustomBaudRate=$3039",
       [](const TComPort& p) { EXPECT_EQ(p.CustomBaudRate(), 12345); }},
      {"BaudRate=Custom\nCustomBaudRate=fast",
       [](const TComPort& p) { EXPECT_EQ(p.CustomBaudRate(), 9600); }},
      {"BaudRate=12345", [](const TComPort& p) { EXPECT_EQ(p.BaudRate(), br9600); }},
      {"baudrate=115200", [](const TComPort& p) { EXPECT_EQ(p.BaudRate(), br115200); }},
      {"Parity=even", [](const TComPort& p) { EXPECT_EQ(p.Parity().Bits(), prEven); }},
      {"Parity=E", [](const TComPort& p) { EXPECT_EQ(p.Parity().Bits(), prNone); }},
      {"FlowControl=Hardware",
       [](const TComPort& p) { EXPECT_EQ(p.FlowControl().FlowControl(), fcHardware); }},
      {"StopBits=2\nDataBits=7",
       [](const TComPort& p) {
         EXPECT_EQ(p.StopBits(), sbTwoStopBits);
         EXPECT_EQ(p.DataBits(), dbSeven);
         EXPECT_EQ(p.Port(), "COM1");  // missing: unchanged
       }},
      {"Port=\"/dev/ttyUSB0\"\nBaudRate=\"115200\"",
       [](const TComPort& p) {
         EXPECT_EQ(p.Port(), "/dev/ttyUSB0");
         EXPECT_EQ(p.BaudRate(), br115200);
       }},
      {"Port= \"\"COM4\" \nParity='Odd'",  // one pair only, after the blanks; single quotes stay
       [](const TComPort& p) {
         EXPECT_EQ(p.Port(), "\"COM4");
         EXPECT_EQ(p.Parity().Bits(), prNone);
       }},
      {"Port=\"\"",  // a quoted empty value is empty, not a port named by two quotes
       [](const TComPort& p) { EXPECT_EQ(p.Port(), ""); }},
      {"Port=\"COM5\nStopBits=\"",
       [](const TComPort& p) {
         EXPECT_EQ(p.Port(), "\"COM5");
         EXPECT_EQ(p.StopBits(), sbOneStopBit);
       }},
      {"[ComPort1]\rPort=COM3\rBaudRate=19200\rStopBits=2\r",  // old Mac line ends
       [](const TComPort& p) {
         EXPECT_EQ(p.Port(), "COM3");
         EXPECT_EQ(p.BaudRate(), br19200);
         EXPECT_EQ(p.StopBits(), sbTwoStopBits);
       }},
      {"[ComPort1]\r\nPort=COM6\rDataBits=7\r\n",
       [](const TComPort& p) {
         EXPECT_EQ(p.Port(), "COM6");
         EXPECT_EQ(p.DataBits(), dbSeven);
       }},
      {"Port=" + std::string(2047, 'p') + "q\nBaudRate=300",
       [](const TComPort& p) {
         EXPECT_EQ(p.Port(), std::string(2047, 'p'));
         EXPECT_EQ(p.BaudRate(), br300);
       }},
      {"Port=\"" + std::string(2046, 'p') + "qr\"",
       [](const TComPort& p) { EXPECT_EQ(p.Port(), std::string(2046, 'p') + "q"); }},
  };
  for (const auto& c : cases) {
    TComPort fresh(nullptr, &fake);
    fresh.SetName(QStringLiteral("ComPort1"));
    fresh.SetCustomBaudRate(31250);  // not the default a bad or missing custom rate takes
    SCOPED_TRACE(c.lines.substr(0, 40));
    WriteAll(file, c.lines.starts_with("[") ? c.lines : "[ComPort1]\n" + c.lines + "\n");
    RestoreSettings(fresh, ssIniFile, file);
    c.check(fresh);
  }
}

TEST_F(Persistence, EveryGroupRoundTripsAndAMissingKeyLeavesExactlyThatProperty) {
  const std::string file = Path("all.ini");
  port.PersistedGroups = {sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers};
  port.FlowControl().SetOutDSRFlow(true);
  port.FlowControl().SetXonChar('#');
  port.Parity().SetReplaceChar(' ');
  port.Timeouts().SetWriteTotalConstant(77);
  port.Buffer().SetInputSize(4096);
  port.SetDiscardNull(true);
  SaveSettings(port, ssIniFile, file);
  EXPECT_NE(ReadAll(file).find("Timeouts.ReadInterval=-1\n"), std::string::npos);
  EXPECT_NE(ReadAll(file).find("Parity.ReplaceChar=#32\n"), std::string::npos);

  TComPort other(nullptr, &fake);
  other.SetName(QStringLiteral("ComPort1"));
  other.PersistedGroups = port.PersistedGroups;
  other.FlowControl().SetOutDSRFlow(true);  // kept: its key is missing below
  std::string text = ReadAll(file);
  text.erase(text.find("FlowControl.OutDSRFlow=Yes\n"), 27);
  WriteAll(file, text);
  RestoreSettings(other, ssIniFile, file);
  EXPECT_TRUE(other.FlowControl().OutDSRFlow());
  EXPECT_EQ(other.FlowControl().XonChar(), '#');
  EXPECT_EQ(other.Parity().ReplaceChar(), ' ');
  EXPECT_EQ(other.Timeouts().WriteTotalConstant(), 77);
  EXPECT_EQ(other.Buffer().InputSize(), 4096);
  EXPECT_TRUE(other.DiscardNull());
  EXPECT_EQ(other.BatchDepth(), 0);
}

TEST_F(Persistence, ARestoreWhileConnectedReopensANewPortAndAppliesOnceAtTheEnd) {
  const std::string file = Path("reopen.ini");
  WriteAll(file, "[ComPort1]\nPort=COM3\nBaudRate=19200\nStopBits=2\n");
  port.OpenPort();
  fake.calls.clear();
  RestoreSettings(port, ssIniFile, file);
  EXPECT_EQ(fake.Names(),
            (std::vector<std::string>{"PurgeComm", "CloseLine", "OpenLine", "GetCommModemStatus",
                                      "GetCommModemStatus", "GetCommModemStatus", "SetupComm",
                                      "SetCommState", "SetCommTimeouts"}));
  EXPECT_EQ(fake.calls[2], "OpenLine(COM3)");
  EXPECT_EQ(fake.dcb.BaudRate, 19200u);
}

TEST_F(Persistence, WhatCannotBeWrittenOrAppliedIsReportedByItsCode) {
  // Root may write anywhere, but no file can replace a folder.
  std::filesystem::create_directory(Path("blocked.ini"));
  EXPECT_EQ(Code([&] { SaveSettings(port, ssIniFile, Path("blocked.ini")); }), 16);
  EXPECT_EQ(Code([&] { SaveSettings(port, ssIniFile, Path("no/such/folder/x.ini")); }), 16);
  EXPECT_EQ(EComPort(16).what(), std::string("Failed to store settings"));

  WriteAll(Path("apply.ini"), "[ComPort1]\nBaudRate=4800\n");
  port.OpenPort();
  fake.Fail("SetCommState", 5);
  EXPECT_EQ(Code([&] { RestoreSettings(port, ssIniFile, Path("apply.ini")); }), 17);
  EXPECT_EQ(port.BaudRate(), br4800);
  EXPECT_EQ(port.BatchDepth(), 0);
}

// A port typed or pasted with a line break in it would end its line in the file and write
// keys and sections of its own: it is refused, and the file stays as it was.
TEST_F(Persistence, AValueWithALineBreakIsNotWritten) {
  const std::string file = Path("typed.ini");
  for (const char* typed :
       {"/dev/ttyS0\n[Options]\nReconnectPort=Yes", "/dev/ttyS0\r[Options]\rReconnectPort=Yes",
        "/dev/ttyS0\r\nBaudRate=50"}) {
    WriteAll(file, "[ComPort1]\nPort=/dev/ttyUSB0\n");
    port.SetPort(typed);
    EXPECT_EQ(Code([&] { SaveSettings(port, ssIniFile, file); }), 16) << typed;
    EXPECT_EQ(ReadAll(file), "[ComPort1]\nPort=/dev/ttyUSB0\n") << typed;
  }
}

// The file is the user's: a save never leaves it worse than it was.
TEST_F(Persistence, AUsersFileIsNeverMadeWorse) {
  const std::string keep = "[ComPort1]\nPort=COM7\n\n[Keep]\nA=1\n";
  int held = -1;  // a lock another program keeps
  const struct {
    const char* name;
    std::function<void(const std::string& file)> prepare;
    int restoreCode;
    int saveCode;
    std::function<void(const std::string& file)> check;
  } cases[] = {
      {"a folder in its place", [](auto& f) { std::filesystem::create_directory(f); }, 17, 16,
       [](auto& f) { EXPECT_TRUE(std::filesystem::is_directory(f)); }},
      {"a link that loops", [](auto& f) { std::filesystem::create_symlink("s.ini", f); }, 17, 16,
       [](auto& f) { EXPECT_TRUE(std::filesystem::is_symlink(f)); }},
      {"no write bit (even for root)",
       [&](auto& f) {
         WriteAll(f, keep);
         chmod(f.c_str(), 0444);
       },
       0, 16,
       [&](auto& f) {
         EXPECT_EQ(ReadAll(f), keep);
         EXPECT_EQ(Mode(f), 0444u);
       }},
      {"a link to a file in another folder",
       [&](auto& f) {
         std::filesystem::create_directory(f + ".d");
         WriteAll(f + ".d/target.ini", keep);
         std::filesystem::create_symlink("s.ini.d/target.ini", f);
       },
       0, 0,
       [&](auto& f) {
         EXPECT_TRUE(std::filesystem::is_symlink(f));
         EXPECT_TRUE(ReadAll(f + ".d/target.ini").starts_with("[ComPort1]\nPort=COM7\nBaudRate"));
         EXPECT_EQ(Entries(f + ".d"), std::vector<std::string>{"target.ini"});
       }},
      {"CRLF line ends", [](auto& f) { WriteAll(f, "[Other]\r\nA=1\r\n"); }, 0, 0,
       [](auto& f) {
         const std::string text = ReadAll(f);
         EXPECT_NE(text.find("\r\n[ComPort1]\r\nPort=COM1\r\n"), std::string::npos) << text;
         for (std::size_t i = 0; (i = text.find('\n', i)) != std::string::npos; ++i)
           EXPECT_EQ(text[i - 1], '\r') << i;
       }},
      {"mixed line ends", [](auto& f) { WriteAll(f, "[Other]\nA=1\r\r\nB=2\r\n"); }, 0, 0,
       [](auto& f) {
         const std::string text = ReadAll(f);
         EXPECT_TRUE(text.starts_with("[Other]\nA=1\r\r\nB=2\r\n\n[ComPort1]\nPort=")) << text;
       }},
      {"a byte-order mark", [](auto& f) { WriteAll(f, "\xEF\xBB\xBF[ComPort1]\nPort=COM7\n"); }, 0,
       0,
       [](auto& f) {
         EXPECT_TRUE(ReadAll(f).starts_with("\xEF\xBB\xBF[ComPort1]\nPort=COM7\nBaudRate="));
         EXPECT_EQ(ReadAll(f).find("[ComPort1]", 4), std::string::npos);
       }},
      {"its own mode",
       [&](auto& f) {
         WriteAll(f, keep);
         chmod(f.c_str(), 0604);
       },
       0, 0, [](auto& f) { EXPECT_EQ(Mode(f), 0604u); }},
      {"a name at the length limit", [](auto&) {}, 0, 0, [](auto&) {}},
      // Neither read nor written, and never opened in a way that blocks.
      {"a FIFO in its place", [](auto& f) { mkfifo(f.c_str(), 0666); }, 17, 16,
       [](auto& f) { EXPECT_TRUE(std::filesystem::is_fifo(f)); }},
      {"a link to a FIFO",
       [](auto& f) {
         mkfifo((f + ".fifo").c_str(), 0666);
         std::filesystem::create_symlink("s.ini.fifo", f);
       },
       17, 16,
       [](auto& f) {
         EXPECT_TRUE(std::filesystem::is_symlink(f));
         EXPECT_TRUE(std::filesystem::is_fifo(f + ".fifo"));
       }},
      {"a socket in its place", [](auto& f) { BindSocket(f); }, 17, 16,
       [](auto& f) { EXPECT_TRUE(std::filesystem::is_socket(f)); }},
      {"a device in its place", [](auto& f) { MakeNullDevice(f); }, 17, 16,
       [](auto& f) { EXPECT_FALSE(std::filesystem::is_regular_file(f)); }},
      {"a second hard link",
       [&](auto& f) {
         WriteAll(f, keep);
         link(f.c_str(), (f + ".2").c_str());
       },
       0, 0,
       [](auto& f) {
         EXPECT_TRUE(ReadAll(f).starts_with("[ComPort1]\nPort=COM7\nBaudRate=9600\n"));
         EXPECT_EQ(ReadAll(f + ".2"), ReadAll(f));
       }},
      {"old Mac line ends", [](auto& f) { WriteAll(f, "[ComPort1]\rPort=COM7\r\r[Keep]\rA=1\r"); },
       0, 0,
       [](auto& f) {
         EXPECT_EQ(ReadAll(f),
                   "[ComPort1]\rPort=COM7\rBaudRate=9600\rStopBits=1\rDataBits=8\rParity=None\r"
                   "FlowControl=None\r\r[Keep]\rA=1\r");
       }},
      // As the kernel protects /tmp: such a link could point at any file of the saver's.
      {"a link another user left in a folder all may write",
       [&](auto& f) {
         const std::string folder = f.substr(0, f.rfind('/'));
         WriteAll(folder + "/victim", keep);
         std::filesystem::create_symlink("victim", f);
         ASSERT_EQ(lchown(f.c_str(), 4000, 4000), 0);
         ASSERT_EQ(chmod(folder.c_str(), 01777), 0);
       },
       17, 16, [&](auto& f) { EXPECT_EQ(ReadAll(f.substr(0, f.rfind('/')) + "/victim"), keep); }},
      // Waited for a while, then given up: the window must not freeze.
      {"a lock another program never lets go",
       [&](auto& f) {
         WriteAll(f, keep);
         held = open(f.c_str(), O_RDONLY | O_CLOEXEC);
         ASSERT_EQ(flock(held, LOCK_EX), 0);
       },
       17, 16,
       [&](auto& f) {
         close(held);
         EXPECT_EQ(ReadAll(f), keep);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = Path(c.name);
    std::filesystem::create_directory(folder);
    const bool longName = std::string(c.name).starts_with("a name");
    const std::string file = folder + "/" + (longName ? std::string(251, 'n') + ".ini" : "s.ini");
    c.prepare(file);
    TComPort fresh(nullptr, &fake);
    fresh.SetName(QStringLiteral("ComPort1"));
    EXPECT_EQ(Code([&] { RestoreSettings(fresh, ssIniFile, file); }), c.restoreCode);
    EXPECT_EQ(Code([&] { SaveSettings(fresh, ssIniFile, file); }), c.saveCode);
    c.check(file);
    const auto names = Entries(folder);
    for (const std::string& name : names)
      EXPECT_FALSE(name.starts_with(".vardelio-")) << name;
  }
}

TEST_F(Persistence, ANewFileTakesTheUmask) {
  const mode_t previous = umask(002);
  SaveSettings(port, ssIniFile, Path("new.ini"));
  umask(previous);
  EXPECT_EQ(Mode(Path("new.ini")), 0664u);
}

TEST_F(Persistence, ASaveRemovesTemporariesThatNoSaveHolds) {
  const std::string folder = Path("temps");
  std::filesystem::create_directory(folder);
  WriteAll(folder + "/s.ini", "[ComPort1]\n");
  WriteAll(folder + "/.vardelio-save-Stale001", "left by a killed save");
  WriteAll(folder + "/.vardelio-save-Held0001", "a save in progress");
  // Not ours: another name, another owner, not a regular file.
  WriteAll(folder + "/.vardelio-backup", "the user's own");
  WriteAll(folder + "/.vardelio-save-Stale0001", "the user's own");
  WriteAll(folder + "/.vardelio-save-Stale-01", "the user's own");
  WriteAll(folder + "/.vardelio-save-Others01", "another user's");
  ASSERT_EQ(chown((folder + "/.vardelio-save-Others01").c_str(), 4000, 4000), 0);
  ASSERT_EQ(mkfifo((folder + "/.vardelio-save-Fifo0001").c_str(), 0666), 0);
  std::filesystem::create_directory(folder + "/.vardelio-save-Folder01");
  std::filesystem::create_symlink("s.ini", folder + "/.vardelio-save-Link0001");
  const int held = open((folder + "/.vardelio-save-Held0001").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  SaveSettings(port, ssIniFile, folder + "/s.ini");
  close(held);
  EXPECT_EQ(Entries(folder),
            (std::vector<std::string>{
                ".vardelio-backup", ".vardelio-save-Fifo0001", ".vardelio-save-Folder01",
                ".vardelio-save-Held0001", ".vardelio-save-Link0001", ".vardelio-save-Others01",
                ".vardelio-save-Stale-01", ".vardelio-save-Stale0001", "s.ini"}));
}

TEST_F(Persistence, ASaveKilledHalfWayLeavesNoStrayFile) {
  const std::string folder = Path("killed");
  std::filesystem::create_directory(folder);
  const std::string file = folder + "/s.ini";
  for (int round = 0; round < 5; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i)
        WriteProfileString(file, "ComPort1", "Port", "COM" + std::to_string(i));
    }
    while (!std::filesystem::exists(file))
      usleep(1000);
    usleep(5000 + 3000 * round);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_NE(ReadAll(file).find("Port=COM"), std::string::npos);  // never half a file
    SaveSettings(port, ssIniFile, file);
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"s.ini"}) << round;
  }
}

TEST_F(Persistence, TheRegistryKeepsTypesAndUsesNoDefaults) {
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(31250);
  SaveSettings(port, ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\Example");
  const std::string key = Path("registry/HKEY_LOCAL_MACHINE/Software/Example/ComPort1");
  EXPECT_EQ(ReadAll(key + "/CustomBaudRate"), "REG_DWORD\n31250");
  EXPECT_EQ(ReadAll(key + "/Port"), "REG_SZ\nCOM1");

  TComPort restored(nullptr, &fake);
  restored.SetName(QStringLiteral("ComPort1"));
  RestoreSettings(restored, ssRegistry, "hkey_local_machine\\Software\\Example\\");
  EXPECT_EQ(restored.CustomBaudRate(), 31250);

  // A new key: empty strings take the fallbacks.
  RestoreSettings(restored, ssRegistry, "HKEY_CURRENT_USER\\Software\\New");
  EXPECT_EQ(restored.Port(), "");
  EXPECT_EQ(restored.BaudRate(), br9600);
  EXPECT_EQ(restored.FlowControl().FlowControl(), fcNone);  // fcCustom changes no switch
  EXPECT_TRUE(
      std::filesystem::is_directory(Path("registry/HKEY_CURRENT_USER/Software/New/ComPort1")));

  // Software\Example: the first part names a root, here an unknown one: current user.
  SaveSettings(port, ssRegistry, "Software\\Example");
  EXPECT_TRUE(std::filesystem::exists(Path("registry/HKEY_CURRENT_USER/Example/ComPort1/Port")));
}

TEST_F(Persistence, RegistryFailuresAreStoreAndLoadErrors) {
  EXPECT_EQ(Code([&] { SaveSettings(port, ssRegistry, "no-backslash"); }), 16);
  EXPECT_EQ(Code([&] { RestoreSettings(port, ssRegistry, "no-backslash"); }), 0);  // strings only
  EXPECT_EQ(port.Port(), "");
  port.PersistedGroups.Include(sgBuffer);  // now an integer must be read, and it is absent
  EXPECT_EQ(Code([&] { RestoreSettings(port, ssRegistry, "no-backslash"); }), 17);

  SaveSettings(port, ssRegistry, "HKEY_CURRENT_USER\\T");
  const std::string key = Path("registry/HKEY_CURRENT_USER/T/ComPort1");
  WriteAll(key + "/Buffer.InputSize", "REG_SZ\n4096");  // wrong type
  EXPECT_EQ(Code([&] { RestoreSettings(port, ssRegistry, "HKEY_CURRENT_USER\\T"); }), 17);
}

}  // namespace
