#pragma once
// Tells when device nodes or links appear, go or change hands in the folders asked for.

#include <QObject>
#include <map>
#include <string>
#include <vector>

class QSocketNotifier;

namespace vardelio {

// Through inotify: the kernel wakes the program only when a watched folder changes, so an
// idle program makes no wake-ups. Works where no udev daemon runs, since devtmpfs itself
// creates and removes the nodes. A folder that does not exist yet (/dev/serial/by-id before
// the first adapter) is watched through its nearest existing parent until it appears.
class TDeviceWatch : public QObject {
  Q_OBJECT
 public:
  explicit TDeviceWatch(QObject* parent = nullptr);
  ~TDeviceWatch() override;

  // Adds a folder to those watched; false when inotify is not available.
  bool Watch(const std::string& folder);

 signals:
  // Something in a watched folder changed; what is there now is for the listener to read.
  void Changed();

 private:
  void Read();
  void Rewatch();

  int fd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  std::vector<std::string> folders_;
  std::map<int, std::string> watches_;  // descriptor -> folder watched for it
};

// Where device nodes live: /dev unless set (tests use a folder of their own).
const std::string& DevFolder();
void SetDevFolder(const std::string& folder);

}  // namespace vardelio
