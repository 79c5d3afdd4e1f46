#pragma once
// Reading and rewriting a file that belongs to the user, without ever leaving it worse.

#include <chrono>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

namespace vardelio {

// A file that could not be read or written; what() names the file and the system's reason.
class EProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How long a read or a save waits for another program's lock on the file before it gives up
// with EProfileError (five seconds unless set).
void SetLockWait(std::chrono::milliseconds wait);

// The whole file; nothing when it does not exist. Anything but a regular file is refused
// without being opened in a way that could block, and any other failure raises
// EProfileError, so an unreadable file is never taken for an empty one. A save in progress is
// waited for (shared advisory lock), for a while. A link that another user left in a folder
// all may write (sticky, like /tmp) is not followed unless the folder is theirs, here as in a
// save. With a `limit`, no more than `limit` + 1 bytes are read: a longer text means the file
// was longer.
std::optional<std::string> ReadUserFile(
    const std::string& path, std::size_t limit = std::numeric_limits<std::size_t>::max() - 1);

// Stores edit(old content) in the file, holding an exclusive advisory lock from the read to
// the write, so two programs editing one file lose nothing (a lock not had in time is an
// error). edit may run more than once, gets "" for a missing file, which is then created
// (0666 less the umask), and must not read the file itself (it would wait for this lock).
//
// The file is replaced through a temporary and a rename, so that a reader or a crash sees the
// old file or the new one, when that loses nothing: one link, owner and group, mode, chattr
// flags, extended attributes and ACL all carried over, and a writable folder. Otherwise it is
// rewritten in place, and put back as it was if that fails. A link stays a link; its target
// is what is written. Anything but a regular file is refused, and so is a file without any
// write bit, even for root. Raises EProfileError when the file cannot be read or written.
void UpdateUserFile(const std::string& path,
                    const std::function<std::string(const std::string& old)>& edit);

}  // namespace vardelio
