#pragma once
// Reading and rewriting a file that belongs to the user, without ever leaving it worse.

#include <chrono>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

namespace vardelio {

// A file that could not be read or written; what() names the file and the reason.
class EProfileError : public std::runtime_error {
 public:
  explicit EProfileError(const std::string& what, int code = 0)
      : std::runtime_error(what), code_(code) {}
  // The system's error code, or 0 when the reason is not one.
  int Code() const { return code_; }

 private:
  int code_;
};

// Every file the program writes (the settings file, the recent list, programming files, the
// line trace) is written by these rules, and only through CheckWrittenFile:
//  - a link that another user left in a folder all may write (sticky, like /tmp) is not
//    followed unless the folder is theirs, as the kernel's own rule for such folders;
//  - in such a folder, a file that belongs to another user (not the folder's owner) is not
//    written, even where its mode would allow it;
//  - only a regular file is written (or a pipe, where the writer takes one); anything else is
//    refused before it is opened in a way that could block or act on it;
//  - a file that holds customers' numbers is created for its owner alone, and the trace goes
//    only into a file that nobody else can read.
struct TWriteRules {
  bool pipes = false;        // a pipe with a reader may take the place of a regular file
  bool privateNew = false;   // created 0600, whatever the umask
  bool privateOnly = false;  // an existing file must be the writer's and unreadable by others
};
inline constexpr TWriteRules kSettingsRules{};
inline constexpr TWriteRules kCustomerFileRules{.privateNew = true};
inline constexpr TWriteRules kTraceRules{.pipes = true, .privateNew = true, .privateOnly = true};

// A file the rules refuse; Why() tells the window what to say.
class EFileRefused : public EProfileError {
 public:
  enum TWhy { kNotRegular, kOthersLink, kOthersFile, kOthersMayRead };
  EFileRefused(TWhy why, const std::string& what, const std::string& path)
      : EProfileError(what), why_(why), path_(path) {}
  TWhy Why() const { return why_; }
  // The file refused, once links are followed.
  const std::string& Path() const { return path_; }

 private:
  TWhy why_;
  std::string path_;
};

// Where `path` leads once its links are followed by the rules, which it checks against what is
// there. `exists` is false for a name not taken yet. `viaProc` marks a link of /proc (such as
// /proc/self/fd/N), which names an open file and not a path: it is opened through the link.
struct TWrittenFile {
  std::string path;
  bool exists = false;
  bool viaProc = false;
};
TWrittenFile CheckWrittenFile(const std::string& path, const TWriteRules& rules);

// The trace's door: opens `path` to append to, creating it by the rules, without waiting (a
// pipe with no reader is refused at once). Raises EFileRefused or EProfileError (with the
// system's code).
int OpenUserFileToAppend(const std::string& path, const TWriteRules& rules);

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
// (0666 less the umask, or by the rules), and must not read the file itself (it would wait for this
// lock).
//
// The file is replaced through a temporary and a rename, so that a reader or a crash sees the
// old file or the new one, when that loses nothing: one link, owner and group, mode, chattr
// flags, extended attributes and ACL all carried over, and a writable folder. Otherwise it is
// rewritten in place, and put back as it was if that fails. A link stays a link; its target
// is what is written. Anything but a regular file is refused, and so is a file without any
// write bit, even for root. Raises EProfileError when the file cannot be read or written.
void UpdateUserFile(const std::string& path,
                    const std::function<std::string(const std::string& old)>& edit,
                    const TWriteRules& rules = kSettingsRules);

}  // namespace vardelio
