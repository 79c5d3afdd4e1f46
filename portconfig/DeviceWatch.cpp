#include "DeviceWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <filesystem>

namespace vardelio {
namespace {

namespace fs = std::filesystem;

// Nodes made or removed, links made by udev, and the permission change udev makes once the
// node belongs to dialout (before that an open is refused).
constexpr std::uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

std::string& DevRoot() {
  static std::string root = "/dev";
  return root;
}

// The folder itself, or its nearest parent that exists.
std::string ExistingFolder(fs::path folder) {
  std::error_code error;
  while (!folder.empty() && !fs::is_directory(folder, error) && folder.has_relative_path())
    folder = folder.parent_path();
  return folder.string();
}

}  // namespace

const std::string& DevFolder() {
  return DevRoot();
}
void SetDevFolder(const std::string& folder) {
  DevRoot() = folder.empty() ? "/dev" : folder;
}

TDeviceWatch::TDeviceWatch(QObject* parent) : QObject(parent) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return;
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TDeviceWatch::Read);
}

TDeviceWatch::~TDeviceWatch() {
  if (fd_ >= 0) {
    delete notifier_;
    close(fd_);
  }
}

bool TDeviceWatch::Watch(const std::string& folder) {
  if (fd_ < 0) return false;
  folders_.push_back(folder);
  Rewatch();
  return true;
}

// Watches the deepest existing folder for each one asked for; a watch no longer needed (its
// folder has appeared below it) is dropped.
void TDeviceWatch::Rewatch() {
  std::map<std::string, int> wanted;
  for (const std::string& folder : folders_)
    wanted.emplace(ExistingFolder(folder), -1);
  for (auto it = watches_.begin(); it != watches_.end();) {
    if (wanted.count(it->second) == 0) {
      inotify_rm_watch(fd_, it->first);
      it = watches_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& [folder, unused] : wanted) {
    const int wd = inotify_add_watch(fd_, folder.c_str(), kEvents);
    if (wd >= 0) watches_[wd] = folder;  // the same folder gives the same descriptor
  }
}

void TDeviceWatch::Read() {
  alignas(inotify_event) std::array<char, 4096> buffer;
  bool any = false;
  bool foldersChanged = false;
  for (;;) {
    const ssize_t length = read(fd_, buffer.data(), buffer.size());
    if (length <= 0) break;
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
      if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
        watches_.erase(event->wd);
        foldersChanged = true;
      }
      if (event->mask & IN_ISDIR) foldersChanged = true;
      any = true;
      at += ssize_t(sizeof(inotify_event) + event->len);
    }
  }
  if (foldersChanged) Rewatch();
  if (any) emit Changed();
}

}  // namespace vardelio
