#pragma once
// One running program per user: a later launch hands its file to the running one over a local
// socket that only this user can reach, and ends.

#include <sys/types.h>
#include <unistd.h>

#include <QObject>
#include <deque>
#include <functional>
#include <string>

class QSocketNotifier;

namespace vardelio {

// The user's own folder for the socket: $XDG_RUNTIME_DIR/vardelio, or <shared>/vardelio-<uid>
// without a usable one. Made 0700; empty when what is there is not a real folder of `owner`'s
// that no one else may enter (the program then runs on its own).
std::string InstanceFolder(const char* runtimeFolder, uid_t owner = ::getuid(),
                           const std::string& shared = "/tmp");

// The socket's path in `folder`: one program per user, settings folder and display, so that a
// trial with settings of its own, or the same user's session on another display, gets a window
// of its own.
std::string InstanceSocket(const std::string& folder, const std::string& settingsFolder,
                           const std::string& display);

struct TInstanceClaim {
  bool handedOver = false;  // a running program took the file: this launch ends
  int listener = -1;        // else the socket later launches hand to; -1: none could be made
  std::string socketPath;
};

// Hands `file` (bytes, absolute; empty: only raise the window) to the program `owner` runs,
// or, when none answers at `socketPath`, listens there for later launches. A socket left behind
// by a program that ended is replaced; a program that does not answer, or is not `owner`'s, is
// left alone and this launch runs on its own. Empty `socketPath`: runs on its own.
TInstanceClaim ClaimInstance(const std::string& socketPath, const std::string& file,
                             uid_t owner = ::getuid());

// The running program's side: takes the files later launches hand over, from `owner`'s
// processes only, and gives them one at a time to the window on the main thread. It answers
// as soon as it exists, so a launch is not kept waiting by a box the window shows while it is
// being made; what comes before the window takes files waits for it.
class TInstanceServer : public QObject {
  Q_OBJECT
 public:
  explicit TInstanceServer(TInstanceClaim claim, uid_t owner = ::getuid(),
                           QObject* parent = nullptr);
  // Removes the socket, unless another program's has taken its place.
  ~TInstanceServer() override;

  bool Listening() const { return listener_ >= 0; }
  // `take` gets a file's bytes, empty when the launch gave none. A box it shows does not let
  // the next file in before it returns. None: the program is ending, and stops listening.
  void TakeFiles(std::function<void(const std::string& file)> take);

 private:
  struct TConnection;
  void Accept();
  void Read(TConnection* connection);
  void Drop(TConnection* connection);
  void Deliver();
  void StopListening();

  int listener_ = -1;
  std::string socketPath_;
  dev_t device_ = 0;  // the socket's identity on disk, to remove only our own
  ino_t inode_ = 0;
  uid_t owner_;
  QSocketNotifier* accepting_ = nullptr;
  std::deque<TConnection*> connections_;
  std::deque<std::string> pending_;
  std::function<void(const std::string&)> take_;
  bool delivering_ = false;
};

}  // namespace vardelio
