#include "PortList.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QCollator>
#include <algorithm>
#include <cerrno>
#include <fstream>

#include "serial/ComError.h"

namespace vardelio {
namespace {

std::string& Root() {
  static std::string root = "/sys";
  return root;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// A serial-core port whose type reads 0 has no UART behind it.
bool IsGhost(const std::string& entry) {
  std::ifstream type(entry + "/type");
  int value = -1;
  return type >> value && value == 0;
}

void SortAsText(QStringList& names) {
  QCollator collator;  // the user's locale
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  collator.setNumericMode(false);
  std::sort(names.begin(), names.end(),
            [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
}

}  // namespace

void SetSysfsRoot(const std::string& root) {
  Root() = root.empty() ? "/sys" : root;
}

const std::string& SysfsRoot() {
  return Root();
}

void ListSerialPorts(QStringList& target) {
  const std::string folder = SysfsRoot() + "/class/tty";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) throw EComPort(23, errno);
  QStringList names;
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    const std::string path = folder + "/" + name;
    if (name.front() != '.' && Exists(path + "/device") && !IsGhost(path)) {
      names.append(QString::fromLocal8Bit(name));
    }
    errno = 0;
  }
  const int error = errno;
  closedir(dir);
  if (error != 0) throw EComPort(23, error);
  SortAsText(names);
  target = names;
}

}  // namespace vardelio
