#pragma once
// A sysfs tree of our own with the given tty entries; the port list reads it while it lives.

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
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

  // A USB adapter as the kernel shows one: the tty under the adapter's interface, whose
  // device carries the maker, model and serial number (each left out when empty).
  void AddUsbAdapter(const std::string& name, const std::string& maker, const std::string& model,
                     const std::string& serial) {
    namespace fs = std::filesystem;
    const fs::path root = root_.path().toStdString();
    const fs::path usb = root / "devices" / ("usb-" + name) / "1-1";
    fs::create_directories(usb / "1-1:1.0" / name);
    std::ofstream(usb / "idVendor") << "0403\n";
    const std::pair<const char*, const std::string*> files[] = {
        {"manufacturer", &maker}, {"product", &model}, {"serial", &serial}};
    for (const auto& [file, value] : files)
      if (!value->empty()) std::ofstream(usb / file) << *value << "\n";
    fs::create_directories(root / "class" / "tty" / name);
    fs::create_directory_symlink("../../../devices/usb-" + name + "/1-1/1-1:1.0/" + name,
                                 root / "class" / "tty" / name / "device");
  }
  void Remove(const std::string& name) {
    namespace fs = std::filesystem;
    fs::remove_all(fs::path(root_.path().toStdString()) / "class" / "tty" / name);
  }
  std::string Root() const { return root_.path().toStdString(); }

 private:
  QTemporaryDir root_;
};

}  // namespace vardelio::test
