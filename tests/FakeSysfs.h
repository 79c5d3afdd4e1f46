#pragma once
// A sysfs tree of our own with the given tty entries; the port list reads it while it lives.

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <utility>

#include "portconfig/PortList.h"

namespace vardelio::test {

class TFakeSysfs {
 public:
  static constexpr int kNoType = -1;    // a device without a serial-core type file
  static constexpr int kNoDevice = -2;  // a virtual terminal: no device behind it

  // Each entry: a tty name and its serial-core type (0: no UART behind it).
  explicit TFakeSysfs(std::initializer_list<std::pair<const char*, int>> entries) {
    namespace fs = std::filesystem;
    const fs::path tty = fs::path(root_.path().toStdString()) / "class" / "tty";
    fs::create_directories(tty);
    fs::create_directories(fs::path(root_.path().toStdString()) / "devices" / "port");
    for (const auto& [name, type] : entries) {
      fs::create_directory(tty / name);
      if (type == kNoDevice) continue;
      fs::create_directory_symlink("../../../devices/port", tty / name / "device");
      if (type != kNoType) std::ofstream(tty / name / "type") << type << "\n";
    }
    SetSysfsRoot(root_.path().toStdString());
  }
  ~TFakeSysfs() { SetSysfsRoot(""); }

 private:
  QTemporaryDir root_;
};

}  // namespace vardelio::test
