#include "SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <QScopeGuard>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace vardelio {
namespace {

constexpr char kLockSuffix[] = ".lock";
constexpr char kTaken = '1';
constexpr std::size_t kLongestMessage = PATH_MAX + 1;  // a name and its terminating NUL
constexpr std::size_t kMostWaiting = 16;               // launches the window has not read yet
constexpr int kAnswerSeconds = 5;  // a program that takes longer is hung: this one runs alone

enum class THandOver { kTaken, kNoServer, kNotTaken };

bool SocketAddress(const std::string& path, sockaddr_un* address) {
  *address = {};
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::copy(path.begin(), path.end(), address->sun_path);
  return true;
}

// The user behind the other end, as the kernel recorded it at connect or listen.
bool PeerIs(int fd, uid_t owner) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == owner;
}

bool SendAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    done += std::size_t(sent);
  }
  return true;
}

THandOver HandOver(const std::string& path, const std::string& file, uid_t owner) {
  sockaddr_un address;
  if (!SocketAddress(path, &address)) return THandOver::kNotTaken;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return THandOver::kNotTaken;
  const auto closing = qScopeGuard([fd] { ::close(fd); });
  const timeval wait{kAnswerSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    // Nothing there, or a socket whose program has ended.
    return errno == ENOENT || errno == ECONNREFUSED ? THandOver::kNoServer : THandOver::kNotTaken;
  }
  // A customer's file name goes to no one else's program.
  if (!PeerIs(fd, owner) || !SendAll(fd, file + '\0')) return THandOver::kNotTaken;
  char answer = 0;
  ssize_t got;
  do {
    got = ::recv(fd, &answer, 1, 0);
  } while (got < 0 && errno == EINTR);
  return got == 1 && answer == kTaken ? THandOver::kTaken : THandOver::kNotTaken;
}

int Listen(const std::string& path) {
  sockaddr_un address;
  if (!SocketAddress(path, &address)) return -1;
  ::unlink(path.c_str());  // left by a program that ended: nothing answers on it
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  ::fchmod(fd, 0600);  // the socket's file is made with this mode
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, int(kMostWaiting)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A folder of the owner's that no one else may enter, made if missing.
bool OwnFolder(const std::string& folder, uid_t owner) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != owner) {
    return false;
  }
  return (info.st_mode & 077) == 0 || ::chmod(folder.c_str(), 0700) == 0;
}

}  // namespace

std::string InstanceFolder(const char* runtimeFolder, uid_t owner, const std::string& shared) {
  if (runtimeFolder != nullptr && runtimeFolder[0] == '/') {
    const std::string folder = std::string(runtimeFolder) + "/vardelio";
    if (OwnFolder(folder, owner)) return folder;
  }
  const std::string folder = shared + "/vardelio-" + std::to_string(owner);
  return OwnFolder(folder, owner) ? folder : std::string();
}

std::string InstanceSocket(const std::string& folder, const std::string& settingsFolder,
                           const std::string& display) {
  if (folder.empty()) return {};
  // FNV-1a: short, and the same in every build.
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : settingsFolder + '\n' + display) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char name[32];
  std::snprintf(name, sizeof name, "/instance-%016llx", static_cast<unsigned long long>(hash));
  return folder + name;
}

TInstanceClaim ClaimInstance(const std::string& socketPath, const std::string& file, uid_t owner) {
  TInstanceClaim claim;
  if (socketPath.empty()) return claim;
  // Two launches at once: the second asks only once the first listens.
  const int lock =
      ::open((socketPath + kLockSuffix).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock < 0) return claim;
  const auto unlocking = qScopeGuard([lock] { ::close(lock); });
  while (::flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) return claim;
  }
  claim.socketPath = socketPath;
  switch (HandOver(claim.socketPath, file, owner)) {
    case THandOver::kTaken:
      claim.handedOver = true;
      break;
    case THandOver::kNoServer:
      claim.listener = Listen(claim.socketPath);
      break;
    case THandOver::kNotTaken:
      break;
  }
  return claim;
}

struct TInstanceServer::TConnection {
  int fd;
  QSocketNotifier* notifier;
  std::string received;
};

TInstanceServer::TInstanceServer(TInstanceClaim claim, uid_t owner, QObject* parent)
    : QObject(parent), listener_(claim.listener), socketPath_(claim.socketPath), owner_(owner) {
  if (listener_ < 0) return;
  struct stat info {};
  if (::stat(socketPath_.c_str(), &info) == 0) {
    device_ = info.st_dev;
    inode_ = info.st_ino;
  }
  ::fcntl(listener_, F_SETFL, ::fcntl(listener_, F_GETFL) | O_NONBLOCK);
  accepting_ = new QSocketNotifier(qintptr(listener_), QSocketNotifier::Read, this);
  connect(accepting_, &QSocketNotifier::activated, this, [this] { Accept(); });
}

TInstanceServer::~TInstanceServer() {
  StopListening();
}

void TInstanceServer::Accept() {
  for (;;) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0 && errno == EINTR) continue;
    if (fd < 0) return;
    // Anyone else is refused before a byte is read.
    if (!PeerIs(fd, owner_) || connections_.size() >= kMostWaiting) {
      ::close(fd);
      continue;
    }
    auto* connection =
        new TConnection{fd, new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this), {}};
    connections_.push_back(connection);
    connect(connection->notifier, &QSocketNotifier::activated, this,
            [this, connection] { Read(connection); });
  }
}

void TInstanceServer::Read(TConnection* connection) {
  char block[1024];
  for (;;) {
    const ssize_t got = ::recv(connection->fd, block, sizeof block, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got <= 0) return Drop(connection);  // gone before its name was complete
    connection->received.append(block, std::size_t(got));
    if (const std::size_t end = connection->received.find('\0'); end != std::string::npos) {
      pending_.push_back(connection->received.substr(0, end));
      ::send(connection->fd, &kTaken, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      Drop(connection);
      // Not from here: the window's answer may be a box, which would hold this socket's turn.
      QMetaObject::invokeMethod(this, &TInstanceServer::Deliver, Qt::QueuedConnection);
      return;
    }
    if (connection->received.size() > kLongestMessage) return Drop(connection);
  }
}

void TInstanceServer::Drop(TConnection* connection) {
  connections_.erase(std::find(connections_.begin(), connections_.end(), connection));
  connection->notifier->setEnabled(false);
  connection->notifier->deleteLater();  // its own signal may be running
  ::close(connection->fd);
  delete connection;
}

void TInstanceServer::TakeFiles(std::function<void(const std::string& file)> take) {
  if (!take) {
    // No window takes them any more: a launch told "taken" would end with its file opened
    // nowhere. It finds no one listening, and runs on its own.
    StopListening();
    take_ = nullptr;
    return;
  }
  take_ = std::move(take);
  QMetaObject::invokeMethod(this, &TInstanceServer::Deliver, Qt::QueuedConnection);
}

void TInstanceServer::StopListening() {
  while (!connections_.empty())
    Drop(connections_.front());
  if (listener_ < 0) return;
  accepting_->setEnabled(false);
  accepting_->deleteLater();
  struct stat info {};
  if (::stat(socketPath_.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_) {
    ::unlink(socketPath_.c_str());
  }
  ::close(std::exchange(listener_, -1));
}

void TInstanceServer::Deliver() {
  // One file at a time: the next waits until the window is done with the one before.
  if (delivering_ || !take_) return;
  delivering_ = true;
  const auto done = qScopeGuard([this] {
    delivering_ = false;
    if (!pending_.empty())
      QMetaObject::invokeMethod(this, &TInstanceServer::Deliver, Qt::QueuedConnection);
  });
  while (!pending_.empty()) {
    const std::string file = std::move(pending_.front());
    pending_.pop_front();
    take_(file);
  }
}

}  // namespace vardelio
